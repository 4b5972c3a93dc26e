"""Input from a real X server: the test starts Xvfb, runs the engine in it with
a fixture game that prints what args.inputs saw, and drives it with xdotool
(mouse move, click, key presses with and without Shift, typed text).

Skipped when Xvfb or xdotool is not installed.
"""

import os
import re
import shutil
import signal
import subprocess
import time
import unittest

from harness import EngineTestCase, START_TIMEOUT

GAME = r'''
def tick args
  k = args.inputs.keyboard
  m = args.inputs.mouse
  t = Kernel.tick_count
  down = k.key_down.truthy_keys
  held = k.key_held.truthy_keys.map(&:to_s).sort.join(',')
  puts "IN #{t} down=#{down.map(&:to_s).sort.join(',')} char=#{k.key_down.char} held=#{held}" unless down.empty?
  puts "IN #{t} text=#{args.inputs.text.join}" unless args.inputs.text.empty?
  puts "IN #{t} click=#{m.click.x.to_i},#{m.click.y.to_i}" if m.click
  puts "IN #{t} up=#{m.up.x.to_i},#{m.up.y.to_i}" if m.up
  puts "IN #{t} mouse=#{m.x.to_i},#{m.y.to_i}" if t % 10 == 0
end
'''


def free_display():
    for n in range(90, 200):
        if not os.path.exists("/tmp/.X11-unix/X%d" % n) and not os.path.exists("/tmp/.X%d-lock" % n):
            return n
    raise RuntimeError("no free X display number")


@unittest.skipUnless(shutil.which("Xvfb") and shutil.which("xdotool"), "needs Xvfb and xdotool")
class X11InputTest(EngineTestCase):
    def start_x(self):
        n = free_display()
        xvfb = subprocess.Popen(["Xvfb", ":%d" % n, "-screen", "0", "1600x1000x24", "-nolisten", "tcp"],
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.addCleanup(lambda: (xvfb.send_signal(signal.SIGTERM), xvfb.wait(10)))
        deadline = time.monotonic() + 10
        while not os.path.exists("/tmp/.X11-unix/X%d" % n):
            if time.monotonic() > deadline or xvfb.poll() is not None:
                self.skipTest("Xvfb did not start")
            time.sleep(0.05)
        return ":%d" % n

    def xdotool(self, display, *args):
        return subprocess.run(["xdotool"] + list(args), env=dict(os.environ, DISPLAY=display),
                              capture_output=True, text=True, timeout=20)

    def wait_for(self, engine, pattern, timeout=START_TIMEOUT):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            found = re.findall(pattern, engine.stdout)
            if found:
                return found
            if engine.proc.poll() is not None:
                break
            time.sleep(0.05)
        self.fail("no %r in\n%s\n%s" % (pattern, engine.stdout, engine.stderr))

    def test_mouse_keys_and_text(self):
        display = self.start_x()
        box = self.sandbox()
        box.game(files={"app/main.rb": GAME})
        engine = box.start(env=box.env(DISPLAY=display, SDL_VIDEODRIVER="x11"))
        self.wait_for(engine, r"IN \d+ mouse=")
        found = self.xdotool(display, "search", "--sync", "--onlyvisible", "--name", "Basic Fixture Game")
        window = found.stdout.split()[0] if found.stdout.split() else None
        self.assertTrue(window, "game window not found: %r" % (found.stdout + found.stderr))
        self.xdotool(display, "windowfocus", "--sync", window)
        geometry = self.xdotool(display, "getwindowgeometry", window).stdout
        self.assertIn("1280x720", geometry)

        # Window pixel (640, 360) of a 1280x720 canvas is game (640, 359):
        # rows count down from the top, the game's y up from the bottom.
        self.xdotool(display, "mousemove", "--window", window, "640", "360")
        self.wait_for(engine, r"IN \d+ mouse=640,35\d")
        self.xdotool(display, "click", "1")
        clicks = self.wait_for(engine, r"IN (\d+) click=(\d+),(\d+)")
        ups = self.wait_for(engine, r"IN (\d+) up=(\d+),(\d+)")
        self.assertEqual((clicks[0][1], ups[0][1]), ("640", "640"))
        self.assertLessEqual(int(clicks[0][0]), int(ups[0][0]))

        self.xdotool(display, "key", "a")
        self.wait_for(engine, r"IN \d+ down=a,a_scancode char=a ")
        # Shift held over several ticks, b pressed meanwhile: b's tick has
        # the shifted character and shift among the held keys.
        self.xdotool(display, "keydown", "shift")
        self.wait_for(engine, r"IN \d+ down=[a-z_,]*shift[a-z_,]* ")
        time.sleep(0.2)
        self.xdotool(display, "key", "b")
        held = self.wait_for(engine, r"IN \d+ down=[a-z_,]*b[a-z_,]* char=B held=([a-z_,]*)")
        self.xdotool(display, "keyup", "shift")
        self.assertIn("shift", held[0].split(","))
        self.xdotool(display, "type", "--delay", "30", "hi")
        self.wait_for(engine, r"IN \d+ text=h")
        self.wait_for(engine, r"IN \d+ text=i")
        engine.stop()
        self.assertNotIn("EXCEPTION", engine.stdout)
