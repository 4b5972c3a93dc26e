"""The log file, its header and the game identity, in development and production."""

import os
import re

from harness import BASIC, EngineTestCase, expected_janitor_threads

# The lines that follow "Game Dir".
IDENTITY = [
    "Game ID: basicgame",
    "Game Title: Basic Fixture Game",
    "Game Version: 0.3",
    "Game Package ID: org.fixturedev.basicgame",
    "Game Developer ID: fixturedev",
    "Game Developer Title: Fixture Developer",
]
HARMLESS_CVARS = "renderer.background_sleep = 50\n"


class LogFileTest(EngineTestCase):
    def check_header(self, lines):
        self.assertGreaterEqual(len(lines), 7, lines)
        self.assertRegex(lines[0], r"^\* \[Engine\] Log started at \d{4}/\d{1,2}/\d{1,2} \d{1,2}:\d{1,2}:\d{1,2}$")
        self.assertEqual(lines[1], "* [Engine] Moonforge Orbkit")
        self.assertEqual(lines[2], "* [Engine]   Version: 6.24")
        self.assertRegex(lines[3], r"^\* \[Engine\]   GIT Hash: [0-9a-f]{40}$")
        self.assertRegex(lines[4], r"^\* \[Engine\]   Build Date: \S.*$")
        self.assertEqual(lines[5], "* [Engine] Platform: Linux")
        self.assertEqual(lines[6].rstrip(), "* [Engine]")

    def test_development_run(self):
        box = self.sandbox()
        box.game(files={"metadata/cvars.txt": HARMLESS_CVARS})
        result = box.run_until_ready(["game"])
        self.assertExitStatus(result, 0)
        log_path = box.log_path()
        self.assertTrue(os.path.isfile(log_path), os.listdir(box.engine_dir))
        lines = self.read(log_path).splitlines()
        self.check_header(lines)

        start = next(i for i, l in enumerate(lines) if "Process Working Directory:" in l)
        cwd_line = lines[start]
        self.assertTrue(cwd_line.startswith("- [Engine] Process Working Directory: "), cwd_line)
        self.assertEqual(cwd_line.split(": ", 1)[1].rstrip("/"), box.engine_dir)
        self.assertTrue(lines[start + 1].startswith("- [Engine] Game Dir: "), lines[start + 1])
        self.assertGameDir(lines, "game", os.path.join(box.engine_dir, "game"))
        identity = ["- [Engine] " + m for m in IDENTITY + ["Production Build: no", "Remote Hotload: no"]]
        self.assertEqual(lines[start + 2:start + 2 + len(identity)], identity)

        self.assertIn("- [Engine] Janitor is using %d threads." % expected_janitor_threads(), lines)
        self.assertIn("? [Engine] Loading cvars from file 'metadata/cvars.txt' ...", lines)
        self.assertEqual(lines[-1], "* [Engine] Logging shutting down")
        # Development default: the same lines also reach stdout (not a terminal: no colour).
        self.assertEqual(result.lines, lines)

    def test_production(self):
        # The switch keeps the working directory, so a relative game directory is
        # found from where the engine was started; with the marker file the engine
        # still changes into its own folder first.
        cases = [
            ("switch", ["game", "--production"], False),
            ("marker file", ["game"], True),
        ]
        for name, args, marker in cases:
            with self.subTest(name):
                box = self.sandbox()
                run_dir = box.path("run")
                os.makedirs(run_dir)
                files = {"metadata/cvars.txt": HARMLESS_CVARS}
                if marker:
                    files["metadata/moonforge_production_build"] = "\n"
                game = box.game(files=files, parent=box.engine_dir if marker else run_dir)
                pref_log = os.path.join(box.pref_dir(), "logs", BASIC["gameid"] + ".log")

                engine = box.start(args, cwd=run_dir, exe="../engine/moonforge")
                engine.wait_for_file(pref_log, "Janitor is using")
                rc = engine.stop()
                self.assertEqual(rc, 0, engine.stderr)

                lines = self.read(pref_log).splitlines()
                self.check_header(lines)
                self.assertFalse([l for l in lines if "Process Working Directory" in l])
                self.assertGameDir(lines, "game", game)
                identity = ["- [Engine] " + m for m in IDENTITY + ["Production Build: yes", "Remote Hotload: no"]]
                start = lines.index(identity[0])
                self.assertTrue(lines[start - 1].startswith("- [Engine] Game Dir: "), lines[start - 1])
                self.assertEqual(lines[start:start + len(identity)], identity)
                # Production logs at info level by default.
                self.assertFalse([l for l in lines if l.startswith("? ")], lines)
                self.assertEqual(lines[-1], "* [Engine] Logging shutting down")

                self.assertFalse([l for l in engine.lines if "[Engine]" in l], engine.stdout)
                self.assertFalse(os.path.exists(os.path.join(box.engine_dir, "logs")))
                self.assertFalse(os.path.exists(os.path.join(run_dir, "logs")))

    def test_log_filename(self):
        cases = [
            ("custom.log", ("logs", "custom.log")),
            ("records/run.log", ("records", "run.log")),
        ]
        for value, where in cases:
            with self.subTest(value=value):
                box = self.sandbox()
                box.game(files={"user_cvars.txt": "log.filename=%s\n" % value})
                os.makedirs(os.path.join(box.engine_dir, "records"))
                result = box.run_until_ready(["game"])
                self.assertExitStatus(result, 0)
                path = os.path.join(box.engine_dir, *where)
                self.assertTrue(os.path.isfile(path), "no log at %s" % path)
                self.assertIn("Game ID: basicgame", self.read(path))
                self.assertFalse(os.path.exists(box.log_path()))


class LogFormatTest(EngineTestCase):
    def game_id_line(self, lines):
        found = [l for l in lines if "Game ID: " in l]
        self.assertEqual(len(found), 1, lines)
        return found[0]

    def test_line_format_cvars(self):
        cases = [
            ([], "- [Engine] Game ID: basicgame"),
            (["--set", "log.level_char", "false"], "[Engine] Game ID: basicgame"),
            (["--set", "log.subsystem", "0"], "- Game ID: basicgame"),
            (["--set", "log.subsystem", "false", "--set", "log.level_char", "FALSE"], "Game ID: basicgame"),
            (["--set", "log.timing", "TRUE"], re.compile(r"^- \d{6,} \[Engine\] Game ID: basicgame$")),
        ]
        for extra, expected in cases:
            with self.subTest(args=extra):
                box = self.sandbox()
                box.game()
                result = box.run_until_ready(["game"] + extra)
                self.assertExitStatus(result, 0)
                for lines in (result.lines, self.read(box.log_path()).splitlines()):
                    line = self.game_id_line(lines)
                    if isinstance(expected, str):
                        self.assertEqual(line, expected)
                    else:
                        self.assertRegex(line, expected)

    def test_stdout_colour(self):
        box = self.sandbox()
        box.game()
        result = box.run_until_ready(["game", "--set", "log.stdout_color", "true",
                                      "--set", "game_metadata.gameid", "other"])
        self.assertExitStatus(result, 0)
        out = result.lines
        self.assertIn("\x1b[37m- [Engine] Game ID: basicgame\x1b[m", out)
        self.assertIn("\x1b[31m! [Engine] Refusing to set locked cvar 'game_metadata.gameid' to 'other'\x1b[m", out)
        self.assertIn("\x1b[36m* [Engine] Logging shutting down\x1b[m", out)
        # The file never gets escape sequences.
        text = self.read(box.log_path())
        self.assertNotIn("\x1b", text)
        self.assertIn("\n- [Engine] Game ID: basicgame\n", text)

    def test_stdout_off(self):
        box = self.sandbox()
        box.game()
        engine = box.start(["game", "--set", "log.stdout", "false"])
        engine.wait_for_file(box.log_path(), "Janitor is using")
        self.assertEqual(engine.stop(), 0, engine.stderr)
        self.assertEqual(engine.stdout, "")
        self.assertTrue(self.read(box.log_path()).endswith("Logging shutting down\n"))

    def test_level_filter(self):
        box = self.sandbox()
        box.game(files={"metadata/cvars.txt": HARMLESS_CVARS})
        engine = box.start(["game", "--set", "log.level", "warn"])
        engine.wait_for_stdout("Log started at")
        self.assertEqual(engine.stop(), 0, engine.stderr)
        for lines in (engine.lines, self.read(box.log_path()).splitlines()):
            # Info and debug entries written before the level was known are dropped too.
            self.assertFalse([l for l in lines if l.startswith(("- ", "? ", ". "))], lines)
            self.assertEqual(lines[1], "* [Engine] Moonforge Orbkit")
            self.assertEqual(lines[-1], "* [Engine] Logging shutting down")

    def test_spam_level_and_subsystem_filter(self):
        cases = [
            ([], True),
            (["--set", "log.filter_subsystems", "  render , HTTP"], False),
        ]
        for extra, render_shown in cases:
            with self.subTest(args=extra):
                box = self.sandbox()
                box.game()
                engine = box.start(["game", "--set", "log.level", "spam"] + extra)
                engine.wait_for_stdout("Simulation fps: ")
                self.assertEqual(engine.stop(), 0, engine.stderr)
                lines = engine.lines
                self.assertTrue([l for l in lines if re.match(r"^\. \[Engine\] Simulation fps: \d+$", l)], lines)
                render = [l for l in lines if "[Render]" in l]
                if render_shown:
                    self.assertTrue([l for l in render if re.match(r"^\. \[Render\] Render fps: \d+$", l)], lines)
                else:
                    self.assertEqual(render, [])

    def test_unknown_level_falls_back(self):
        box = self.sandbox()
        box.game(files={"metadata/cvars.txt": HARMLESS_CVARS})
        result = box.run_until_ready(["game", "--set", "log.level", "Info"])
        self.assertExitStatus(result, 0)
        self.assertIn("! [Engine] Cvar log.level value 'Info' is unknown. Defaulting to 'debug'.", result.lines)
        self.assertIn("? [Engine] Loading cvars from file 'metadata/cvars.txt' ...", result.lines)
