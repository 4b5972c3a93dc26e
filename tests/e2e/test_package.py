"""A single-file build: the executable with the game appended as a ZIP archive."""

import os
import shutil
import stat
import subprocess
import zipfile

from harness import SOURCE, EngineTestCase

PACKAGE_SCRIPT = os.path.join(SOURCE, "scripts", "package.sh")


class PackageTest(EngineTestCase):
    def build_package(self, box):
        self.assertTrue(os.path.isfile(PACKAGE_SCRIPT), "missing " + PACKAGE_SCRIPT)
        game = box.game("mygame", parent=box.path("src"))
        os.makedirs(box.path("pkg"))
        output = box.path("pkg", "mygame")
        done = subprocess.run(["bash", PACKAGE_SCRIPT, box.exe, game, output], cwd=box.root,
                              stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=300)
        self.assertEqual(done.returncode, 0, "package.sh failed:\n%s\n%s" % (done.stdout, done.stderr))
        self.assertTrue(os.path.isfile(output))
        return output

    def test_package_layout(self):
        box = self.sandbox()
        output = self.build_package(box)
        self.assertTrue(os.stat(output).st_mode & stat.S_IXUSR, "package is not executable")
        with open(output, "rb") as f:
            self.assertEqual(f.read(4), b"\x7fELF")
        with zipfile.ZipFile(output) as archive:
            names = archive.namelist()
            self.assertEqual(archive.testzip(), None)
            main_rb = archive.read("app/main.rb")
        for name in ("app/main.rb", "metadata/game_metadata.txt", "font.ttf"):
            self.assertIn(name, names)
        self.assertFalse([n for n in names if n.startswith(("/", "mygame/", "src/"))], names)
        with open(os.path.join(box.path("src", "mygame"), "app", "main.rb"), "rb") as f:
            self.assertEqual(main_rb, f.read())
        readelf = shutil.which("readelf")
        if readelf:
            sections = subprocess.run([readelf, "-S", "-W", output], capture_output=True, text=True,
                                      timeout=60).stdout
            self.assertNotIn(".symtab", sections, "package executable is not stripped")

    def test_package_runs_from_another_directory(self):
        box = self.sandbox()
        self.build_package(box)
        shutil.rmtree(box.path("src"))
        elsewhere = box.path("x")
        os.makedirs(elsewhere)
        result = box.run_until_ready([], cwd=elsewhere, exe="../pkg/mygame")
        self.assertExitStatus(result, 0)
        self.assertIn("- [Engine] Game ID: basicgame", result.lines)
        self.assertIn("- [Engine] Game Title: Basic Fixture Game", result.lines)
        # No font.ttf beside the package: the engine read the one in the archive.
        self.assertNotIn("font.ttf", os.listdir(box.path("pkg")))
        self.assertTrue(os.path.isfile(box.path("pkg", "logs", "basicgame.log")))
        self.assertEqual(os.listdir(elsewhere), [])

    def test_game_directory_hides_archive_files(self):
        box = self.sandbox()
        self.build_package(box)
        override = box.game("override", fixture=None, parent=box.root, files={
            "metadata/game_metadata.txt":
                "devid=otherdev\ndevtitle=Other Dev\ngameid=overridegame\ngametitle=Override\nversion=9\n"})
        elsewhere = box.path("x")
        os.makedirs(elsewhere)
        result = box.run_until_ready([override], cwd=elsewhere, exe="../pkg/mygame")
        self.assertExitStatus(result, 0)
        self.assertIn("- [Engine] Game Dir: " + override, result.lines)
        self.assertIn("- [Engine] Game ID: overridegame", result.lines)
        self.assertIn("- [Engine] Game Package ID: org.otherdev.overridegame", result.lines)
        self.assertTrue(os.path.isfile(box.path("pkg", "logs", "overridegame.log")))
