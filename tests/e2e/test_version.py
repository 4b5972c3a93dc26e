"""The version switch answers before anything is initialised."""

import os

from harness import EngineTestCase, VERSION


class VersionTest(EngineTestCase):
    def test_version_switch_anywhere(self):
        cases = [
            ["version"],
            ["-version"],
            ["--version"],
            ["game", "--version"],
            # Checked before the command line is parsed, so the switch-first
            # rule and a missing game directory do not matter.
            ["--fullscreen", "--version"],
            ["no-such-game", "--set", "log.level", "spam", "---version"],
        ]
        for args in cases:
            with self.subTest(args=args):
                box = self.sandbox()
                box.game()
                result = box.run(args)
                self.assertExitStatus(result, 0)
                self.assertEqual(result.stdout, VERSION + "\n")
                self.assertNotIn("Startup failure", result.stderr)
                self.assertFalse(os.path.exists(os.path.join(box.engine_dir, "logs")),
                                 "version created a logs folder")
                self.assertEqual(os.listdir(box.xdg), [])
