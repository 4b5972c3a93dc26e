"""Start-up failures that can be provoked from outside the process.

Each ends with the failure text on stderr and exit status 1, and the log
entries written before the failure are still flushed to stdout. None of
them gets as far as the write directory, so no log file may appear.
"""

import os
import re

from harness import EngineTestCase, startup_failure_text

SWITCH_FIRST = ("The game directory must be provided as the first argument to "
                "./moonforge if you want to use switches.")
LAST_LINE = "* [Engine] Logging shutting down"


class StartupFailureTest(EngineTestCase):
    def assertLogFlushed(self, box, result):
        lines = result.lines
        self.assertTrue(lines, "nothing was flushed to stdout\nstderr:\n%s" % result.stderr)
        self.assertRegex(lines[0], r"^\* \[Engine\] Log started at \d+/\d+/\d+ \d+:\d+:\d+$")
        self.assertIn("* [Engine] Moonforge Orbkit", lines)
        self.assertIn("* [Engine]   Version: 6.24", lines)
        self.assertEqual(lines[-1], LAST_LINE)
        # The game's identity is logged only after the metadata is read.
        self.assertFalse([l for l in lines if "Game ID:" in l])
        self.assertFalse(os.path.exists(os.path.join(box.engine_dir, "logs")),
                         "a log folder was written before the write directory was set")

    def test_switch_before_game_directory(self):
        for args in (["--fullscreen", "game"], ["-windowed"], ["--set", "renderer.vsync", "false", "game"]):
            with self.subTest(args=args):
                box = self.sandbox()
                box.game()
                result = box.run(args)
                self.assertExitStatus(result, 1)
                self.assertEqual(result.stderr, startup_failure_text(SWITCH_FIRST))
                self.assertLogFlushed(box, result)

    def test_missing_game_directory(self):
        box = self.sandbox()
        missing = box.path("no-such-game")
        for arg in ("no-such-game", missing):
            with self.subTest(arg=arg):
                result = box.run([arg])
                self.assertExitStatus(result, 1)
                self.assertRegex(result.stderr, r"\A\n\nStartup failure!:\nCouldn't mount '%s' directory: [^\n]+\n\n\Z"
                                 % re.escape(arg))
                self.assertLogFlushed(box, result)

    def test_long_failure_message_is_cut(self):
        box = self.sandbox()
        arg = "a" * 150 + "/" + "b" * 150
        result = box.run([arg])
        self.assertExitStatus(result, 1)
        prefix = "\n\nStartup failure!:\n"
        self.assertTrue(result.stderr.startswith(prefix) and result.stderr.endswith("\n\n"), repr(result.stderr))
        message = result.stderr[len(prefix):-2]
        self.assertEqual(len(message), 255, repr(message))
        self.assertTrue(message.startswith("Couldn't mount '" + arg[:200]), repr(message))

    def test_video_driver_failure(self):
        box = self.sandbox()
        box.game()
        result = box.run(["game"], env=box.env(SDL_VIDEODRIVER="bogus"))
        self.assertExitStatus(result, 1)
        self.assertRegex(result.stderr, r"\A\n\nStartup failure!:\nSDL_Init\(SDL_INIT_VIDEO\) failed: [^\n]+\n\n\Z")
        self.assertLogFlushed(box, result)

    def test_store_publishing_keys_in_metadata(self):
        steam = ["Steam publishing details in game_metadata.txt line %d!",
                 "This info must be in steam_metadata.txt or they will be published with your game!",
                 "Quitting now so you know to FIX THIS RIGHT NOW."]
        itch = ["itch.io publishing details in game_metadata.txt line %d!",
                "This info must be in itchio_metadata.txt or they will be published with your game!",
                "Quitting now so you know to FIX THIS RIGHT NOW."]
        cases = [
            ("steam.appid=1", 3, steam),
            ("Steam.Depot = 77", 3, steam),
            ("itchio.url=https://example.invalid/x", 3, itch),
            ("ITCHIO.user=someone", 3, itch),
        ]
        for line, number, expected in cases:
            with self.subTest(line=line):
                box = self.sandbox()
                box.game(files={"metadata/game_metadata.txt":
                                "devid=storedev\n# a comment\n%s\ngameid=storegame\n"
                                "devtitle=Store Dev\ngametitle=Store Game\nversion=1\n" % line})
                result = box.run(["game"])
                self.assertExitStatus(result, 1)
                self.assertNotIn("Startup failure!", result.stderr)
                wanted = [expected[0] % number] + expected[1:]
                # (Opening the log file fails after these: there is no write directory yet.)
                errors = [l[len("! [Engine] "):] for l in result.lines if l.startswith("! [Engine] ")]
                self.assertEqual(errors[:3], wanted, result.stdout)
                self.assertLogFlushed(box, result)
