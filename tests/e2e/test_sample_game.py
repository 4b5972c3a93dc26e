"""The sample game (samples/mygame) runs headless without exceptions, and its
images are exactly what scripts/make_sample_art.py draws.
"""

import os
import re
import shutil
import subprocess
import sys
import tempfile

from harness import SOURCE, EngineTestCase, game_results, wait_for_count
from png import read_png

SAMPLE = os.path.join(SOURCE, "samples", "mygame")
SPRITES = os.path.join(SAMPLE, "sprites")
ART_SCRIPT = os.path.join(SOURCE, "scripts", "make_sample_art.py")
UPTIME = "mygame has been running for "


class SampleGameTest(EngineTestCase):
    def start_sample(self, extra_metadata="", args=(), files=None):
        box = self.sandbox()
        game = os.path.join(box.engine_dir, "mygame")
        shutil.copytree(SAMPLE, game, ignore=shutil.ignore_patterns("logs", "tmp"))
        for rel, text in (files or {}).items():
            box.write(os.path.join(game, rel), text)
        if extra_metadata:
            with open(os.path.join(game, "metadata", "game_metadata.txt"), "a") as f:
                f.write("\n" + extra_metadata + "\n")
        return box.start(["mygame"] + list(args))

    def assertNoExceptions(self, engine):
        text = engine.stdout + engine.stderr
        self.assertNotIn("* EXCEPTION", text, text)
        self.assertNotIn("* ERROR", text, text)

    def test_runs_for_a_few_seconds_without_exceptions(self):
        engine = self.start_sample()
        # The uptime line comes once a second, from tick 0 on: four lines
        # mean three seconds of ticks.
        wait_for_count(engine, UPTIME, 4)
        self.assertEqual(engine.stop(), 0, engine.stderr)
        self.assertNoExceptions(engine)
        lines = [l for l in engine.lines if UPTIME in l]
        self.assertIn(UPTIME + "1 s (tick 0)", lines[0])
        self.assertIn(UPTIME + "4 s (tick 180)", lines[3])

    def test_hd_mode_finds_the_ship_twin(self):
        probe = 'info = $orb.get_texture_atlas("sprites")["sprites/ship.png"] || {}\n' \
                'puts "R atlas=#{$orb.get_texture_atlas("sprites").keys.inspect}"\n' \
                'puts "R ship200=#{info["texture_200"].inspect} #{info["texture_200_scale_enum"].inspect}"\n'
        engine = self.start_sample("hd=true", ["--debug_texture_atlases", "--eval", "probe.rb"],
                                   {"probe.rb": probe})
        wait_for_count(engine, UPTIME, 2)
        self.assertEqual(engine.stop(), 0, engine.stderr)
        self.assertNoExceptions(engine)
        results = game_results(engine.lines)
        self.assertEqual(results.get("atlas"), '["sprites/ship.png"]', engine.stdout)
        self.assertEqual(results.get("ship200"), '"sprites/ship@200.png" 200', engine.stdout)
        self.assertInOrder(["* DETERMINING TEXTURE ATLASES - Begin: ",
                            "* DETERMINING TEXTURE ATLASES - Search Directory: sprites",
                            "* DETERMINING TEXTURE ATLASES - End: "], engine.lines)

    def test_every_image_the_game_names_exists(self):
        with open(os.path.join(SAMPLE, "app", "main.rb"), encoding="utf-8") as f:
            named = set(re.findall(r'"(sprites/[^"]+)"', f.read()))
        self.assertTrue(named)
        for rel in sorted(named):
            self.assertTrue(os.path.isfile(os.path.join(SAMPLE, rel)), rel)
        # The HD twin is the same picture at twice the resolution; the ship
        # has transparent surroundings, the deck tile none.
        w, h, ship = read_png(os.path.join(SPRITES, "ship.png"))
        w2, h2, _ = read_png(os.path.join(SPRITES, "ship@200.png"))
        self.assertEqual((w2, h2), (2 * w, 2 * h))
        self.assertEqual(ship[0][0][3], 0)
        self.assertEqual(ship[h // 2][w // 2][3], 255)
        _, _, tile = read_png(os.path.join(SPRITES, "tile.png"))
        self.assertTrue(all(px[3] == 255 for row in tile for px in row))

    def test_art_script_reproduces_the_committed_images(self):
        out = tempfile.mkdtemp(prefix="mf-art-")
        self.addCleanup(shutil.rmtree, out, True)
        subprocess.run([sys.executable, ART_SCRIPT, out], check=True, timeout=120,
                       stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        drawn = sorted(n for n in os.listdir(out) if n.endswith(".png"))
        committed = sorted(n for n in os.listdir(SPRITES) if n.endswith(".png"))
        self.assertEqual(drawn, committed)
        for name in drawn:
            with open(os.path.join(out, name), "rb") as a, open(os.path.join(SPRITES, name), "rb") as b:
                self.assertTrue(a.read() == b.read(), name + " differs from a fresh drawing")
