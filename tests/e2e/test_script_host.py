"""The script host seen from a game: the interpreter's division, the default
tick, the runtime object's constructor arguments, reboots, the native reload
method and the protection of every engine call into the runtime."""

import os
import re
import time

from harness import EngineTestCase, game_messages, game_results, mrbc_compile

PARSER_LINE_RE = re.compile(r"^line \d+:\d+: .+$")


class ScriptHostTest(EngineTestCase):
    def run_to_exit(self, fixture, args=("game",), env=None, files=None, box=None):
        box = box or self.sandbox()
        box.game("game", fixture, files=files)
        engine = box.start(list(args), env=env)
        rc = engine.wait()
        self.assertEqual(rc, 0, engine.stdout + engine.stderr)
        return box, engine, game_results(engine.lines)

    def assertResults(self, results, expected, output):
        for name, value in expected.items():
            with self.subTest(case=name):
                self.assertEqual(results.get(name), value, output)

    def test_integer_division_gives_a_float(self):
        _, engine, results = self.run_to_exit("host_division")
        self.assertResults(results, {
            "folded": "3.5",
            "vm": "3.5",
            "send": "3.5",
            "zero_by_zero_nan": "true",
            "one_by_zero": "Infinity",
            "float_by_zero": "-Infinity",
            "div": "3",
            "modulo": "1",
            "divmod": "[3, 1]",
            "idiv": "3",
            "eval": "[3.5, true, 3]",
            "eval_vm": "4.5",
            "runtime_w_half": "640.0",
        }, engine.stdout)

    def test_game_without_tick_runs_and_quits_on_sigterm(self):
        box = self.sandbox()
        box.game("game", "host_no_tick")
        engine = box.start(["game"])
        engine.wait_for_stdout("R reached_tick=")
        time.sleep(0.5)
        self.assertIsNone(engine.proc.poll(), engine.stdout + engine.stderr)
        self.assertEqual(engine.stop(), 0, engine.stderr)
        results = game_results(engine.lines)
        self.assertEqual(results.get("loaded"), "true")
        self.assertEqual(results.get("booted"), "true")
        self.assertEqual(results.get("reached_tick"), "60")
        errors = [l for l in engine.lines if l.startswith("! ")]
        self.assertEqual(errors, [], engine.stdout)
        self.assertFalse(os.path.exists(os.path.join(box.engine_dir, "logs", "exceptions")))

    def test_runtime_receives_the_constructor_arguments(self):
        landscape = {
            "platform": '"Linux"',
            "production": "false",
            "vrmode": "0",
            "logical_width": "1280",
            "logical_height": "720",
            "argv": '"./moonforge game "',
            "binary_path": '"./moonforge"',
            "y_offset": "-43.0",
            "orientation": ":landscape",
            "remote_hotload_enabled": "false",
            "a11y_enabled": "false",
            "same_runtime": "true",
        }
        portrait_metadata = ("devid=fixturedev\ndevtitle=Fixture Developer\ngameid=host-ctor\n"
                             "gametitle=Fixture host_ctor\nversion=1.0\norientation=portrait\nvrmode=2\n")
        cases = [
            ("landscape", {}, None, {}),
            ("portrait", {"metadata/game_metadata.txt": portrait_metadata}, None,
             {"logical_width": "720", "logical_height": "1280", "orientation": ":portrait", "vrmode": "2"}),
            ("remote hotload marker", {"metadata/moonforge_remote_hotload": ""}, None,
             {"remote_hotload_enabled": "true"}),
            ("steam deck hint", {}, {"SteamDeck": "1"}, {"platform": '"Steam Deck"'}),
            ("switches", {}, None, {"argv": '"./moonforge game --set log.level_char true "'}),
        ]
        for name, files, env, changes in cases:
            with self.subTest(case=name):
                box = self.sandbox()
                args = ["game", "--set", "log.level_char", "true"] if name == "switches" else ["game"]
                _, engine, results = self.run_to_exit("host_ctor", args=args, files=files,
                                                      env=box.env(**env) if env else None, box=box)
                expected = dict(landscape, **changes)
                self.assertEqual({k: results.get(k) for k in expected}, expected, engine.stdout)

    def test_reboot_builds_a_new_interpreter(self):
        box, engine, results = self.run_to_exit("host_reboot")
        self.assertEqual(results.get("before_global"), ":before")
        self.assertEqual(results.get("before_cvar"), "true")
        self.assertResults(results, {
            "after_global": "nil",
            "after_cvar": "true",
            "after_cvar_class": '"ORB::Cvar"',
            "after_runtime": '"ORB::Runtime"',
            "after_cvar_count": results.get("before_cvar_count"),
        }, engine.stdout)
        self.assertEqual(len(game_messages(engine.lines, "R before_global=")), 1, engine.stdout)
        self.assertEqual(len(game_messages(engine.lines, "R after_global=")), 1, engine.stdout)
        self.assertGreater(int(results.get("before_cvar_count", "0")), 10)

    def test_reload_lists_load_source_and_bytecode(self):
        box = self.sandbox()
        game = box.game("game", "host_reload")
        mrbc_compile(os.path.join(game, "bytecode", "compiled_source.rb"), os.path.join(game, "app", "compiled.rbc"))
        mrbc_compile(os.path.join(game, "bytecode", "upper_source.rb"), os.path.join(game, "app", "upper.RBC"))
        engine = box.start(["game"])
        rc = engine.wait()
        self.assertEqual(rc, 0, engine.stdout + engine.stderr)
        results = game_results(engine.lines)
        output = engine.stdout

        self.assertResults(results, {
            "source_and_bytecode.error_class": "nil",
            "source_and_bytecode.load_order": "[:source_a, :compiled]",
            "source_and_bytecode.completes": "1",
            "source_and_bytecode.left": "[]",
            "source_and_bytecode.source_answer": "3.5",
            "source_and_bytecode.compiled_answer": "[3.5, true]",
            "source_and_bytecode.compiled_method": ":from_bytecode",
            "upper_case_extension.error_class": "nil",
            "upper_case_extension.load_order": "[:upper]",
            "upper_case_extension.completes": "1",
            # The first file raises: nothing after it is loaded, the rest stays in the list,
            # and the runtime still hears that the reload is over.
            "two_errors.error_class": '"RuntimeError"',
            "two_errors.load_order": "[]",
            "two_errors.left": '["app/after_error.rb"]',
            "two_errors.completes": "1",
            # Missing and unreadable paths are skipped without a word.
            "missing_and_directory.error_class": "nil",
            "missing_and_directory.load_order": "[:source_b]",
            "missing_and_directory.completes": "1",
            "missing_and_directory.left": "[]",
            "symbol_path.load_order": "[:source_b]",
        }, output)

        with self.subTest(case="two_errors.message"):
            message = results.get("two_errors.error_message", "nil")
            self.assertTrue(message.startswith('"'), message)
            lines = [l for l in message.strip('"').split("\\n") if l]
            self.assertEqual(len(lines), 2, message)
            for line in lines:
                self.assertRegex(line, PARSER_LINE_RE)

        with self.subTest(case="failure logged with path and source"):
            both = engine.stdout + engine.stderr
            self.assertIn("* Failed to load/reload app/two_errors.rb", both)
            after = both[both.index("* Failed to load/reload app/two_errors.rb"):]
            self.assertIn("c = 4 +* 5", after)
            self.assertNotIn("Failed to load/reload app/missing.rb", both)
            self.assertNotIn("Failed to load/reload app\n", both)

    def test_exceptions_from_engine_calls_are_logged_and_cleared(self):
        _, engine, results = self.run_to_exit("host_protected")
        self.assertEqual(results.get("survived"), "[]", engine.stdout)
        for name in ["current_fps", "reboot_requested", "__sdl_tick__", "quit_requested?",
                     "new_log_entry", "__tick_count__", "__global_tick_count__"]:
            with self.subTest(method=name):
                found = [l for l in engine.lines if "raise-once %s" % name in l]
                self.assertTrue(found, engine.stdout)
                self.assertTrue(found[0].startswith("! [Game] "), found[0])
