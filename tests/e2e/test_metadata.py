"""metadata/game_metadata.txt as the engine reports it in the game identity lines."""

import os

from harness import EngineTestCase

FULL = "devid=fulldev\ndevtitle=Full Dev\ngameid=fullgame\ngametitle=Full Game\nversion=2\n"
MISSING_FIELDS = "! [Engine] Metadata file does not have all required fields!"
DEFAULT_TITLE = "Update metadata/game_metadata.txt in your mygame directory to change this title."


def identity(gameid, title, version, package, devid, devtitle):
    return {"Game ID": gameid, "Game Title": title, "Game Version": version,
            "Game Package ID": package, "Game Developer ID": devid, "Game Developer Title": devtitle}


class MetadataTest(EngineTestCase):
    def reported(self, lines):
        found = {}
        for line in lines:
            if line.startswith("- [Engine] Game "):
                key, _, value = line[len("- [Engine] "):].partition(": ")
                found[key] = value
        return found

    def test_identity_from_metadata(self):
        cases = [
            ("only gameid and gametitle", "gameid=onlytwo\ngametitle=Two Keys\n",
             identity("onlytwo", "Two Keys", "1.0", "org.moonforge.onlytwo", "moonforge", "Moonforge LLC"),
             [MISSING_FIELDS]),
            ("keys in any case", "DevID=CaseDev\nDEVTITLE=Case Dev\nGameId=casegame\nGameTitle=My Game\nVERSION=2.5\n",
             identity("casegame", "My Game", "2.5", "org.CaseDev.casegame", "CaseDev", "Case Dev"),
             []),
            ("explicit package id and blanks", FULL + "  packageid  =  com.example.game  \n  gametitle =  Spaced  Title \n",
             identity("fullgame", "Spaced  Title", "2", "com.example.game", "fulldev", "Full Dev"),
             []),
            ("invalid lines and unknown keys", FULL + "deployment=true\nno equals here\n=x\nFancy = 1\n\n# note\n",
             identity("fullgame", "Full Game", "2", "org.fulldev.fullgame", "fulldev", "Full Dev"),
             ["# [Engine] Unknown game metadata key 'deployment', ignoring",
              "# [Engine] Invalid metadata on line 7, ignored",
              "# [Engine] Invalid metadata on line 8, ignored",
              "# [Engine] Unknown game metadata key 'Fancy', ignoring"]),
            ("Windows line endings", FULL.replace("\n", "\r\n") + "oops\r\n",
             identity("fullgame", "Full Game", "2", "org.fulldev.fullgame", "fulldev", "Full Dev"),
             ["# [Engine] Invalid metadata on line 6, ignored"]),
            ("empty file", "",
             identity("hello-SDL", DEFAULT_TITLE, "1.0", "org.moonforge.hello-SDL", "moonforge", "Moonforge LLC"),
             [MISSING_FIELDS]),
            # Without a file nothing is derived: the package id stays empty.
            ("no file", None,
             identity("hello-SDL", DEFAULT_TITLE, "1.0", "", "moonforge", "Moonforge LLC"),
             []),
        ]
        for name, text, expected, problems in cases:
            with self.subTest(name):
                box = self.sandbox()
                box.game(files={"metadata/game_metadata.txt": text})
                result = box.run_until_ready(["game"])
                self.assertExitStatus(result, 0)
                lines = result.lines
                got = self.reported(lines)
                self.assertEqual({k: got.get(k) for k in expected}, expected, result.stdout)
                self.assertIn("- [Engine] Production Build: no", lines)
                reported_problems = [l for l in lines if l.startswith(("# [Engine] Unknown game metadata",
                                                                       "# [Engine] Invalid metadata",
                                                                       MISSING_FIELDS))]
                self.assertEqual(reported_problems, problems)
                self.assertTrue(os.path.isfile(box.log_path(expected["Game ID"])),
                                os.listdir(os.path.join(box.engine_dir, "logs")))

    def test_remote_hotload_marker(self):
        box = self.sandbox()
        box.game(files={"metadata/moonforge_remote_hotload": "\n"})
        result = box.run_until_ready(["game"])
        self.assertExitStatus(result, 0)
        self.assertIn("- [Engine] Remote Hotload: yes", result.lines)
        self.assertIn("- [Engine] Production Build: no", result.lines)

    def test_orientations_start(self):
        for orientation in ("portrait", "landscape,portrait", "portrait,landscape", "sideways"):
            with self.subTest(orientation=orientation):
                box = self.sandbox()
                box.game(files={"metadata/game_metadata.txt": FULL + "orientation=%s\n" % orientation})
                result = box.run_until_ready(["game"])
                self.assertExitStatus(result, 0)
                self.assertIn("- [Engine] Game ID: fullgame", result.lines)
                self.assertFalse([l for l in result.lines if "Unknown game metadata key" in l])
