"""Window, cursor and display commands of a running game, through the real executable.

The fixture game runs one command at tick 5; windowevent_size_changed is
wrapped to print the window size the engine reports (in HD mode that is the
real window), and screenshots show what reached the canvas.
"""

import os
import re
import time

from harness import EngineTestCase, START_TIMEOUT
from png import read_png, write_png

PROBE = r'''
module SizeProbe
  def windowevent_size_changed(*a)
    puts "window size: #{a[2]}x#{a[3]} scale #{a[9]}"
    super
  end
end
ORB::Runtime.prepend(SizeProbe)
'''

GAME = PROBE + r'''
def tick args
  args.outputs.background_color = [0, 0, 255]
  %(draw)s
  if Kernel.tick_count == 5
    %(command)s
  end
  args.outputs.screenshots << { x: 0, y: 0, w: args.grid.w, h: args.grid.h, path: "shot.png" } if Kernel.tick_count == 20
end
'''


def metadata(hd):
    return ("gameid=basicgame\ngametitle=Basic Fixture Game\norientation=landscape\n"
            "hd=%s\nhd_max_scale=0\n" % ("true" if hd else "false"))


class WindowCommandsTest(EngineTestCase):
    def run_game(self, command, draw="", hd=True, images=None, wait_for_shot=True):
        box = self.sandbox()
        game = box.game(files={"app/main.rb": GAME % {"command": command, "draw": draw},
                               "metadata/game_metadata.txt": metadata(hd)})
        for rel, (w, h, colour) in (images or {}).items():
            os.makedirs(os.path.dirname(os.path.join(game, rel)), exist_ok=True)
            write_png(os.path.join(game, rel), w, h, lambda x, y, c=colour: c)
        engine = box.start()
        shot = os.path.join(game, "shot.png")
        deadline = time.monotonic() + START_TIMEOUT
        while wait_for_shot and not os.path.exists(shot) and time.monotonic() < deadline \
                and engine.proc.poll() is None:
            time.sleep(0.05)
        engine.stop()
        self.assertNotIn("EXCEPTION", engine.stdout)
        if wait_for_shot:
            self.assertTrue(os.path.exists(shot), "no screenshot\n" + engine.stdout)
        sizes = re.findall(r"window size: (\d+)x(\d+) scale (\d+)", engine.stdout)
        return [(int(w), int(h), int(s)) for w, h, s in sizes], (read_png(shot) if wait_for_shot else None)

    def test_window_scale_and_size(self):
        cases = [
            ("$orb.set_window_scale(1.3)", (1600, 900)),
            ("$orb.set_window_scale(5)", (5120, 2880)),
            ("$orb.set_window_scale(0.2)", (128, 72)),
            ("$orb.set_window_scale(2, 4, 3)", (2560, 1920)),
            ("$orb.ffi_draw.set_window_scale(0.0 / 0.0)", (1280, 720)),
            ("$orb.set_window_size(800, 600)", (800, 600)),
            ("$orb.ffi_draw.set_window_size(0, nil)", (1280, 720)),
        ]
        for command, size in cases:
            with self.subTest(command):
                sizes, _ = self.run_game(command)
                self.assertTrue(sizes, "no size report")
                self.assertEqual(sizes[-1][:2], size)

    def test_hd_twin_drawn_at_render_scale_two(self):
        images = {"sprites/hero.png": (2, 2, (0, 255, 0, 255)), "sprites/hero@200.png": (4, 4, (255, 0, 0, 255))}
        draw = 'args.outputs.sprites << { x: 100, y: 100, w: 100, h: 100, path: "sprites/hero.png" }'
        for command, scale, colour in [("$orb.set_window_scale(1)", 100, (0, 255, 0, 255)),
                                       ("$orb.set_window_scale(2)", 200, (255, 0, 0, 255))]:
            with self.subTest(command):
                sizes, (w, h, rows) = self.run_game(command, draw=draw, images=images)
                self.assertEqual(sizes[-1][2], scale)
                # The screenshot is taken at output resolution.
                f = scale // 100
                self.assertEqual((w, h), (1280 * f, 720 * f))
                self.assertEqual(rows[(720 - 150) * f][150 * f], colour)
                self.assertEqual(rows[(720 - 250) * f][150 * f], (0, 0, 255, 255))

    def test_toggle_orientation_gives_a_portrait_canvas(self):
        sizes, (w, h, rows) = self.run_game("$orb.ffi_draw.toggle_orientation", hd=False,
                                            draw="args.outputs.solids << { x: 0, y: 0, w: 50, h: 50, r: 255 }")
        self.assertEqual((w, h), (720, 1280))
        self.assertEqual(rows[1280 - 25][25], (255, 0, 0, 255))

    def test_uploaded_pixel_array_draws_as_a_sprite(self):
        # Two columns: red on the left, green on the right (pixels are 0xAABBGGRR).
        command = "$orb.ffi_draw.upload_pixel_array('px', 2, 1, [0xFF0000FF, 0xFF00FF00])"
        draw = "args.outputs.sprites << { x: 100, y: 100, w: 100, h: 100, path: 'px' } if Kernel.tick_count > 5"
        _, (w, h, rows) = self.run_game(command, draw=draw, hd=False)
        self.assertEqual(rows[720 - 150][125], (255, 0, 0, 255))
        self.assertEqual(rows[720 - 150][175], (0, 255, 0, 255))

    def test_centred_origin_puts_zero_in_the_middle(self):
        box = self.sandbox()
        game = box.game(files={"app/main.rb": r'''
def tick args
  args.grid.origin_center! if Kernel.tick_count == 5
  args.outputs.background_color = [0, 0, 255]
  args.outputs.solids << { x: 0, y: 0, w: 10, h: 10, r: 255, g: 0, b: 0 } if Kernel.tick_count > 5
  if Kernel.tick_count == 20
    args.outputs.screenshots << { x: args.grid.left, y: args.grid.bottom, w: 1280, h: 720, path: "shot.png" }
  end
end
''', "metadata/game_metadata.txt": metadata(False)})
        engine = box.start()
        shot = os.path.join(game, "shot.png")
        deadline = time.monotonic() + START_TIMEOUT
        while not os.path.exists(shot) and time.monotonic() < deadline and engine.proc.poll() is None:
            time.sleep(0.05)
        engine.stop()
        self.assertNotIn("EXCEPTION", engine.stdout)
        w, h, rows = read_png(shot)
        self.assertEqual((w, h), (1280, 720))
        self.assertEqual(rows[355][645], (255, 0, 0, 255))
        self.assertEqual(rows[365][645], (0, 0, 255, 255))
        self.assertEqual(rows[715][5], (0, 0, 255, 255))
