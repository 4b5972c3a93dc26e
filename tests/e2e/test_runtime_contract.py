"""The runtime's tick flow as the engine drives it: pacing, quitting, loading
app/main.rb, load and tick failures with their recovery, and speed-up."""

import os
import re
import time

from harness import (EngineTestCase, game_results, wait_for_count, wait_for_exit_time,
                     wait_for_stdout_time, write_newer)

QUIT_RE = re.compile(r"\* INFO: Quit requested \((\d+)\)\.")
PARSER_LINE_RE = re.compile(r"line \d+:\d+: ")
NOT_FOUND = "app/main.rb not found."


def count(lines, needle):
    return sum(needle in line for line in lines)


class RuntimeContractTest(EngineTestCase):
    def assertStaysQuiet(self, engine, needle, seconds=1.5):
        """No further stdout line containing needle appears within seconds."""
        before = count(engine.lines, needle)
        time.sleep(seconds)
        self.assertIsNone(engine.proc.poll(), engine.stdout + engine.stderr)
        self.assertEqual(count(engine.lines, needle), before,
                         "%r kept appearing:\n%s" % (needle, engine.stdout))

    def test_120_ticks_take_two_seconds_and_request_quit_exits_0(self):
        box = self.sandbox()
        box.game("game", "rt_pacing")
        engine = box.start(["game"])
        first = wait_for_stdout_time(engine, "R first_tick=")
        rc, ended = wait_for_exit_time(engine)
        self.assertEqual(rc, 0, engine.stdout + engine.stderr)
        self.assertEqual(game_results(engine.lines).get("first_tick"), "0")
        elapsed = ended - first
        self.assertGreaterEqual(elapsed, 1.6, "120 ticks took %.2f s" % elapsed)
        self.assertLessEqual(elapsed, 3.0, "120 ticks took %.2f s" % elapsed)
        quits = [QUIT_RE.search(l) for l in engine.lines if QUIT_RE.search(l)]
        self.assertEqual(len(quits), 1, engine.stdout)
        self.assertIn("[Engine] * INFO: Quit requested (", "\n".join(engine.lines))
        self.assertLessEqual(abs(int(quits[0].group(1)) - 120), 2, engine.stdout)

    def test_missing_main_rb_is_reported_once_and_loaded_when_written(self):
        box = self.sandbox()
        game = box.game("game", "rt_no_main")
        engine = box.start(["game"])
        engine.wait_for_stdout(NOT_FOUND)
        # Hot reload polls about once a second: several polls pass without a second report.
        self.assertStaysQuiet(engine, NOT_FOUND, 2.5)
        self.assertEqual(count(engine.lines, NOT_FOUND), 1, engine.stdout)
        self.assertEqual(game_results(engine.lines), {})

        write_newer(os.path.join(game, "app", "main.rb"),
                    'def tick args\n'
                    '  puts "R ticking=#{Kernel.tick_count}" if Kernel.tick_count == 5\n'
                    'end\n')
        engine.wait_for_stdout("R ticking=5", 15)
        self.assertEqual(count(engine.lines, NOT_FOUND), 1, engine.stdout)
        self.assertEqual(engine.stop(), 0, engine.stderr)

    def test_syntax_error_in_required_file_pauses_until_fixed(self):
        box = self.sandbox()
        game = box.game("game", "rt_syntax")
        helper = os.path.join(game, "app", "helper.rb")
        engine = box.start(["game"])
        engine.wait_for_stdout("helper=1")

        write_newer(helper, "def helper_value\n  1 +* 2\nend\n")
        engine.wait_for_stdout("Failed to load/reload", 15)
        text = engine.stdout
        self.assertRegex(text, PARSER_LINE_RE)
        self.assertIn("app/helper.rb", text[text.index("Failed to load/reload"):])
        time.sleep(0.3)
        self.assertStaysQuiet(engine, "R tick=")

        write_newer(helper, "def helper_value\n  2\nend\n", step=20)
        engine.wait_for_stdout("helper=2", 15)
        wait_for_count(engine, "helper=2", 2, 5)
        self.assertEqual(engine.stop(), 0, engine.stderr)

    def test_exception_in_tick_writes_reports_and_pauses_until_fixed(self):
        box = self.sandbox()
        game = box.game("game", "rt_raise")
        engine = box.start(["game"])
        engine.wait_for_stdout("R raising=")
        current = os.path.join(box.engine_dir, "logs", "exceptions", "current.txt")
        engine.wait_for_file(current, "boom from the fixture game", 10)

        raising = re.search(r"R raising=(\d+) global=(\d+)", engine.stdout)
        names = {"game_state_%s.txt" % raising.group(1), "game_state_%s.txt" % raising.group(2)}
        written = set(os.listdir(os.path.dirname(current)))
        self.assertTrue(names & written, "expected one of %s in %s" % (sorted(names), sorted(written)))
        report = os.path.join(os.path.dirname(current), sorted(names & written)[0])
        self.assertIn("boom from the fixture game", self.read(report))
        engine.wait_for_stdout("logs/exceptions/current.txt", 10)
        self.assertIn("logs/exceptions/game_state_", engine.stdout)

        # Paused: tick is not called again.
        self.assertStaysQuiet(engine, "R tick=")
        self.assertEqual(count(engine.lines, "R raising="), 1, engine.stdout)

        write_newer(os.path.join(game, "app", "main.rb"),
                    'def tick args\n'
                    '  puts "R resumed=#{Kernel.tick_count}" if Kernel.tick_count % 10 == 0\n'
                    'end\n')
        wait_for_count(engine, "R resumed=", 2, 15)
        self.assertEqual(count(engine.lines, "R raising="), 1, engine.stdout)
        self.assertEqual(engine.stop(), 0, engine.stderr)

    def test_speedup_runs_three_steps_per_engine_step_then_returns_to_60(self):
        box = self.sandbox()
        box.game("game", "rt_speedup")
        engine = box.start(["game"])
        t60 = wait_for_stdout_time(engine, "R mark=60")
        t360 = wait_for_stdout_time(engine, "R mark=360")
        t480 = wait_for_stdout_time(engine, "R mark=480")
        rc = engine.wait()
        self.assertEqual(rc, 0, engine.stderr)
        # 300 ticks at triple speed: 100 engine steps, about 1.7 s (5 s at normal speed).
        self.assertGreaterEqual(t360 - t60, 1.0, "fast phase took %.2f s" % (t360 - t60))
        self.assertLessEqual(t360 - t60, 2.6, "fast phase took %.2f s" % (t360 - t60))
        # Back to one tick per engine step: 120 ticks, about 2 s.
        self.assertGreaterEqual(t480 - t360, 1.6, "normal phase took %.2f s" % (t480 - t360))
        self.assertLessEqual(t480 - t360, 3.0, "normal phase took %.2f s" % (t480 - t360))
        self.assertInOrder(["R mark=60", "Simulation loop has been returned to 60 fps.", "R mark=480"],
                           engine.lines)
