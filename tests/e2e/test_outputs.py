"""A game's outputs on screen: primitives pushed in tick, read back from a screenshot.

Each fixture game draws a known scene, takes a screenshot at a chosen tick
and the test checks the pixels where every primitive must be (and the
background colour elsewhere), through the real executable and its software
renderer.
"""

import os
import time

from harness import EngineTestCase, START_TIMEOUT
from png import read_png, write_png

GREEN = (0, 200, 0, 255)
BLUE = (0, 0, 255, 255)

LANDSCAPE_SCENE = r'''
def tick args
  args.outputs.background_color = [0, 0, 255]
  args.outputs.sprites << { x: 100, y: 100, w: 50, h: 50, path: "sprites/box.png" }
  args.outputs.solids << { x: 300, y: 100, w: 100, h: 100, r: 255, g: 0, b: 0 }
  args.outputs.labels << { x: 640, y: 600, text: "MMMM", size_enum: 10 }
  args.outputs.lines << { x: 0, y: 700, x2: 1280, y2: 700, r: 255, g: 255, b: 255 }
  args.outputs.borders << { x: 500, y: 100, w: 100, h: 100, r: 255, g: 255, b: 0 }
  args.outputs.primitives << { x: 800, y: 100, x2: 900, y2: 100, x3: 850, y3: 200, r: 255, g: 0, b: 255 }
  args.outputs.primitives << [700, 300, 50, 50, 255, 128, 0].solid
  args.outputs.sprites << [1100, 100, 40, 40, "sprites/box.png"]
  args.outputs[:rt].w = 100
  args.outputs[:rt].h = 100
  args.outputs[:rt].background_color = [0, 0, 0, 255]
  args.outputs[:rt].solids << { x: 25, y: 25, w: 50, h: 50, r: 255, g: 255, b: 255 }
  args.outputs.sprites << { x: 1000, y: 400, w: 100, h: 100, path: :rt }
  # Fully transparent primitives draw nothing.
  args.outputs.solids << { x: 1150, y: 600, w: 100, h: 100, r: 255, g: 0, b: 0, a: 0 }
  args.outputs.screenshots << { x: 0, y: 0, w: 1280, h: 720, path: "shot.png" } if Kernel.tick_count == 20
end
'''

PORTRAIT_SCENE = r'''
def tick args
  args.outputs.background_color = [0, 0, 255]
  args.outputs.solids << { x: 0, y: 0, w: 100, h: 100, r: 255, g: 0, b: 0 }
  args.outputs.sprites << { x: 600, y: 1100, w: 50, h: 50, path: "sprites/box.png" }
  args.outputs.screenshots << { x: 0, y: 0, w: 720, h: 1280, path: "shot.png" } if Kernel.tick_count == 20
end
'''


class OutputsOnScreenTest(EngineTestCase):
    def shoot(self, main_rb, orientation="landscape"):
        box = self.sandbox()
        game = box.game(files={
            "app/main.rb": main_rb,
            "metadata/game_metadata.txt": "gameid=basicgame\ngametitle=Basic Fixture Game\n"
                                          "orientation=%s\n" % orientation,
        })
        os.makedirs(os.path.join(game, "sprites"))
        write_png(os.path.join(game, "sprites", "box.png"), 2, 2, lambda x, y: GREEN)
        engine = box.start()
        shot = os.path.join(game, "shot.png")
        deadline = time.monotonic() + START_TIMEOUT
        while not os.path.exists(shot) and time.monotonic() < deadline and engine.proc.poll() is None:
            time.sleep(0.05)
        rc = engine.stop()
        self.assertTrue(os.path.exists(shot), "no screenshot; exit %r\n%s\n%s" % (rc, engine.stdout, engine.stderr))
        self.assertNotIn("EXCEPTION", engine.stdout)
        return read_png(shot)

    def assertPixel(self, rows, x, y, colour, what):
        self.assertEqual(rows[y][x], colour, "%s at (%d, %d)" % (what, x, y))

    def test_landscape_scene(self):
        w, h, rows = self.shoot(LANDSCAPE_SCENE)
        self.assertEqual((w, h), (1280, 720))
        # Screen rows count from the top: game y = 720 - row.
        cases = [
            ("sprite Hash inside", 125, 595, GREEN),
            ("sprite Hash near its corner", 101, 619, GREEN),
            ("left of the sprite", 98, 595, BLUE),
            ("red solid", 350, 570, (255, 0, 0, 255)),
            ("border edge", 500, 570, (255, 255, 0, 255)),
            ("inside the border", 550, 570, BLUE),
            ("triangle", 850, 590, (255, 0, 255, 255)),
            ("array solid", 725, 395, (255, 128, 0, 255)),
            ("array sprite", 1120, 600, GREEN),
            ("render target's solid", 1050, 270, (255, 255, 255, 255)),
            ("render target's background", 1010, 310, (0, 0, 0, 255)),
            ("invisible solid", 1200, 70, BLUE),
            ("background", 1200, 400, BLUE),
        ]
        for what, x, y, colour in cases:
            with self.subTest(what):
                self.assertPixel(rows, x, y, colour, what)
        self.assertIn((255, 255, 255, 255), [rows[y][640] for y in (19, 20)], "line at game y 700")
        label = [rows[y][x] for y in range(115, 170) for x in range(640, 760)]
        self.assertTrue(any(sum(p[:3]) < 150 for p in label), "label text near (640, 600)")
        self.assertTrue(all(p == BLUE for p in (rows[140][x] for x in range(900, 990))), "right of the label")

    def test_portrait_scene(self):
        w, h, rows = self.shoot(PORTRAIT_SCENE, orientation="portrait")
        self.assertEqual((w, h), (720, 1280))
        self.assertPixel(rows, 50, 1230, (255, 0, 0, 255), "solid at the bottom left")
        self.assertPixel(rows, 625, 155, GREEN, "sprite near the top right")
        self.assertPixel(rows, 360, 640, BLUE, "background")
