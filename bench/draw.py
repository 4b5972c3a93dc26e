#!/usr/bin/env python3
"""Draw benchmark runner.

Runs the bench_draw program (built by CMake beside the engine) once on the
software renderer with the dummy video driver and, when Xvfb is installed,
once more on the OpenGL renderer inside a private Xvfb server. bench_draw
prints one line per case; see bench/README.md for the columns.

    python3 bench/draw.py [path/to/bench_draw] [--min-ms 500] [--no-xvfb]
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
FONT = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf"


def run(binary, env, min_ms):
    result = subprocess.run([binary, FONT, str(min_ms)], env=env, capture_output=True, text=True, timeout=3600)
    sys.stdout.write(result.stdout)
    if result.returncode != 0:
        sys.stdout.write(result.stderr)
        print("bench_draw exited with status %d" % result.returncode)
    return result.returncode == 0


def base_env(home):
    env = dict(os.environ)
    env.pop("DISPLAY", None)
    env["SDL_AUDIODRIVER"] = "dummy"
    env["HOME"] = home
    env["XDG_DATA_HOME"] = home
    return env


def start_xvfb():
    """A private Xvfb on the first free display number, or (None, None)."""
    xvfb = shutil.which("Xvfb")
    if not xvfb:
        return None, None
    for number in range(90, 140):
        if os.path.exists("/tmp/.X%d-lock" % number) or os.path.exists("/tmp/.X11-unix/X%d" % number):
            continue
        proc = subprocess.Popen([xvfb, ":%d" % number, "-screen", "0", "1920x1080x24", "-nolisten", "tcp"],
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        for _ in range(50):
            if os.path.exists("/tmp/.X11-unix/X%d" % number):
                return proc, ":%d" % number
            if proc.poll() is not None:
                break
            time.sleep(0.1)
        if proc.poll() is None:
            proc.terminate()
            proc.wait()
    return None, None


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("binary", nargs="?", default=os.path.join(HERE, "..", "build", "bench_draw"))
    parser.add_argument("--min-ms", type=float, default=500.0, help="shortest timed run per case")
    parser.add_argument("--no-xvfb", action="store_true", help="skip the OpenGL run under Xvfb")
    args = parser.parse_args()
    binary = os.path.abspath(args.binary)
    if not os.access(binary, os.X_OK):
        print("bench_draw not found at %s (build the bench_draw target)" % binary)
        return 1

    ok = True
    with tempfile.TemporaryDirectory(prefix="mf_draw_bench_home_") as home:
        env = base_env(home)
        env["SDL_VIDEODRIVER"] = "dummy"
        print("== software renderer, dummy video driver ==")
        ok = run(binary, env, args.min_ms) and ok

        if not args.no_xvfb:
            proc, display = start_xvfb()
            if not proc:
                print("\n(Xvfb not available: OpenGL run skipped)")
            else:
                try:
                    env = base_env(home)
                    env["SDL_VIDEODRIVER"] = "x11"
                    env["SDL_RENDER_DRIVER"] = "opengl"
                    env["DISPLAY"] = display
                    print("\n== OpenGL renderer under Xvfb %s ==" % display)
                    ok = run(binary, env, args.min_ms) and ok
                finally:
                    proc.terminate()
                    proc.wait()
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
