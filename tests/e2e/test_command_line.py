"""Command-line parsing and where the game directory comes from."""

import os
import re

from harness import EngineTestCase

ARGV_WARNING = re.compile(r"WARNING: ARGV is too long\. The following argument will not be sent over: (.*)\.$")


class CommandLineTest(EngineTestCase):
    def test_second_positional_argument_is_ignored(self):
        box = self.sandbox()
        game = box.game()
        result = box.run_until_ready(["game", "no-such-other-game"])
        self.assertExitStatus(result, 0)
        self.assertGameDir(result.lines, "game", game)
        self.assertIn("- [Engine] Game ID: basicgame", result.lines)

    def test_default_game_directory_is_mygame(self):
        box = self.sandbox()
        box.game("mygame")
        result = box.run_until_ready([])
        self.assertExitStatus(result, 0)
        game_dir = [l for l in result.lines if l.startswith("- [Engine] Game Dir: ")]
        self.assertEqual(len(game_dir), 1, result.stdout)
        self.assertTrue(game_dir[0].endswith("/mygame"), game_dir[0])
        self.assertTrue(game_dir[0][len("- [Engine] Game Dir: "):].startswith(box.engine_dir), game_dir[0])
        self.assertIn("- [Engine] Game ID: basicgame", result.lines)

    def test_relative_game_directory_is_found_next_to_the_executable(self):
        # In development the engine changes into its own folder before it
        # mounts the game directory.
        box = self.sandbox()
        box.game()
        run_dir = box.path("run")
        os.makedirs(run_dir)
        result = box.run_until_ready(["game"], cwd=run_dir, exe="../engine/moonforge")
        self.assertExitStatus(result, 0)
        self.assertIn("- [Engine] Game ID: basicgame", result.lines)
        self.assertTrue(os.path.isfile(box.log_path()))
        self.assertEqual(os.listdir(run_dir), [])

    def test_set_argument_counts(self):
        cases = [
            # A value that begins with "-" is still taken as the value.
            (["game", "--set", "log.subsystem", "--windowed"], "- Game ID: basicgame"),
            # Too few arguments after set: nothing is set and the parse ends.
            (["game", "--set", "log.subsystem"], "- [Engine] Game ID: basicgame"),
            (["game", "--set"], "- [Engine] Game ID: basicgame"),
            # (--no-tick is left out: with it the failing --eval quits with
            # status 1, racing the test's own stop.)
            (["game", "--set", "log.level_char", "false", "--eval", "--windowed"],
             "[Engine] Game ID: basicgame"),
        ]
        for args, expected in cases:
            with self.subTest(args=args):
                box = self.sandbox()
                box.game()
                result = box.run_until_ready(args)
                self.assertExitStatus(result, 0)
                self.assertIn(expected, result.lines)

    def test_overlong_command_line_warns_per_skipped_argument(self):
        # "./moonforge" and "game" with their separators count 17; an argument
        # of 1005 characters brings the count to exactly 1022, which still fits.
        for length, skipped_long in ((1005, False), (1006, True)):
            with self.subTest(length=length):
                box = self.sandbox()
                box.game()
                long_arg = "a" * length
                result = box.run_until_ready(["game", long_arg, "bb", "c"])
                self.assertExitStatus(result, 0)
                warned = [m.group(1) for m in map(ARGV_WARNING.search, result.stderr.splitlines()) if m]
                self.assertEqual(warned, ([long_arg] if skipped_long else []) + ["bb", "c"])
