"""Cvars from the command line and the two cvar files, seen through the log.

The log.* cvars are registered only when the log becomes ready, after both
files were read, so every value given here for them travels as a pending
value; log.level_char shows which source won in the format of each line.
"""

import os

from harness import EngineTestCase

WITH_CHAR = "- [Engine] Game ID: basicgame"
WITHOUT_CHAR = "[Engine] Game ID: basicgame"


class CvarPriorityTest(EngineTestCase):
    def test_command_line_then_game_file_then_user_file(self):
        cases = [
            # (--set value, metadata/cvars.txt, user_cvars.txt, expected Game ID line)
            ("false", None, None, WITHOUT_CHAR),
            ("false", "log.level_char=true\n", None, WITH_CHAR),
            ("false", "log.level_char=true\n", "log.level_char=false\n", WITHOUT_CHAR),
            ("false", None, "log.level_char=yes-but-not-a-number\n", WITHOUT_CHAR),
            ("false", None, "log.level_char=1\n", WITH_CHAR),
            (None, "log.level_char=false\n", "log.level_char=7\n", WITH_CHAR),
        ]
        for set_value, game_file, user_file, expected in cases:
            with self.subTest(set=set_value, game_file=game_file, user_file=user_file):
                box = self.sandbox()
                box.game(files={"metadata/cvars.txt": game_file, "user_cvars.txt": user_file})
                args = ["game"] + (["--set", "log.level_char", set_value] if set_value else [])
                result = box.run_until_ready(args)
                self.assertExitStatus(result, 0)
                self.assertIn(expected, result.lines)

    def test_file_lines_are_reported_in_reading_order(self):
        box = self.sandbox()
        box.game(files={"metadata/cvars.txt": "log.timing=false\nrenderer.vsync = true\n",
                        "user_cvars.txt": "renderer.vsync=false\n"})
        result = box.run_until_ready(["game", "--set", "renderer.vsync", "1"])
        self.assertExitStatus(result, 0)
        self.assertInOrder([
            "- [Engine] Game ID: basicgame",
            "? [Engine] Loading cvars from file 'metadata/cvars.txt' ...",
            "? [Engine] File 'metadata/cvars.txt' line 1 setting cvar 'log.timing' to 'false'",
            "? [Engine] File 'metadata/cvars.txt' line 2 setting cvar 'renderer.vsync' to 'true'",
            "? [Engine] File 'metadata/cvars.txt' complete",
            "? [Engine] Loading cvars from file 'user_cvars.txt' ...",
            "? [Engine] File 'user_cvars.txt' line 1 setting cvar 'renderer.vsync' to 'false'",
            "? [Engine] File 'user_cvars.txt' complete",
            "- [Engine] Janitor is using",
        ], result.lines)

    def test_locked_metadata_cvars_are_refused(self):
        box = self.sandbox()
        box.game(files={"metadata/cvars.txt": "game_metadata.gametitle = Hacked Title\n",
                        "user_cvars.txt": "game_metadata.devid=hacker\n"})
        result = box.run_until_ready(["game", "--set", "game_metadata.gameid", "x"])
        self.assertExitStatus(result, 0)
        lines = result.lines
        for refused in ("Refusing to set locked cvar 'game_metadata.gameid' to 'x'",
                        "Refusing to set locked cvar 'game_metadata.gametitle' to 'Hacked Title'",
                        "Refusing to set locked cvar 'game_metadata.devid' to 'hacker'"):
            self.assertIn("! [Engine] " + refused, lines)
        self.assertIn("- [Engine] Game ID: basicgame", lines)
        self.assertIn("- [Engine] Game Package ID: org.fixturedev.basicgame", lines)
        self.assertTrue(os.path.isfile(box.log_path()))
        self.assertFalse(os.path.exists(box.log_path("x")))


class CvarFileFormatTest(EngineTestCase):
    LINES = [
        "# a comment = not a setting",    # 1
        "; another comment = also not",   # 2
        "   ",                            # 3
        "  log.subsystem   =   false  ",  # 4
        "=novalue",                       # 5
        "no equals sign here",            # 6
        "log.timing=",                    # 7
        "log.filter_subsystems = HTTP,  HTTPServer ",  # 8
    ]

    def test_blanks_comments_and_invalid_lines(self):
        for name, eol in (("LF", "\n"), ("CRLF", "\r\n"), ("CR", "\r")):
            with self.subTest(line_endings=name):
                box = self.sandbox()
                box.game(files={"metadata/cvars.txt": eol.join(self.LINES) + eol})
                result = box.run_until_ready(["game"])
                self.assertExitStatus(result, 0)
                lines = result.lines
                # log.subsystem is now false: "<level char> <message>".
                self.assertIn("- Game ID: basicgame", lines)
                warnings = [l for l in lines if "invalid data" in l]
                self.assertEqual(warnings, ["# metadata/cvars.txt: invalid data on line 5, ignored",
                                            "# metadata/cvars.txt: invalid data on line 6, ignored"])
                for expected in ("? File 'metadata/cvars.txt' line 4 setting cvar 'log.subsystem' to 'false'",
                                 "? File 'metadata/cvars.txt' line 7 setting cvar 'log.timing' to ''",
                                 "? File 'metadata/cvars.txt' line 8 setting cvar 'log.filter_subsystems' "
                                 "to 'HTTP,  HTTPServer'"):
                    self.assertIn(expected, lines)
                self.assertFalse([l for l in lines if "comment" in l], lines)
                self.assertEqual(len([l for l in lines if "setting cvar" in l]), 3, lines)
