#!/usr/bin/env python3
"""Bunnymark: the cost of moving N sprites in Ruby and packing them into the scene.

Copies the bench/bunnymark game into a temporary folder, writes its 32 x 32
bunny image there, and runs the bench_outputs program (built by CMake beside
the engine) on it with the dummy video driver and the software renderer.
bench_outputs builds the script host like the engine does and runs the
simulation step by step for Hash sprites, attr_sprite objects, Arrays and
Hashes kept in static_sprites; see bench/README.md for the columns.

    python3 bench/bunnymark.py [path/to/bench_outputs] [--counts 1000,5000,10000,20000]
                               [--modes hash,object,array,hash_static] [--warmup 30] [--steps 60]
                               [--search-steps 30] [--draw-ms 300] [--no-search] [--search-clock cpu|wall]
                               [--screenshot out.png] [--verbose]
"""
import argparse
import os
import resource
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(HERE)
GAME = os.path.join(HERE, "bunnymark")
sys.path.insert(0, os.path.join(REPO, "tests", "e2e"))
from png import write_png  # noqa: E402


def bunny_pixel(x, y):
    """A brown bunny, two ears and a pink nose, outlined, on a transparent ground (y from the top)."""
    def inside(grow):
        body = (x - 16) ** 2 + (y - 21) ** 2 <= (10 + grow) ** 2
        ears = 2 - grow <= y < 14 and (abs(x - 11) <= 2 + grow or abs(x - 21) <= 2 + grow)
        return body or ears
    if (x - 16) ** 2 + (y - 22) ** 2 <= 2:
        return (255, 110, 150, 255)
    if inside(0):
        return (196, 150, 106, 255)
    if inside(1):
        return (70, 45, 30, 255)
    return (0, 0, 0, 0)


def cpu_jiffies():
    """(busy, steal) clock ticks of the whole machine from /proc/stat, or None."""
    try:
        with open("/proc/stat") as f:
            fields = [int(v) for v in f.readline().split()[1:]]
    except (OSError, ValueError):
        return None
    idle = fields[3] + (fields[4] if len(fields) > 4 else 0)
    steal = fields[7] if len(fields) > 7 else 0
    return sum(fields[:8]) - idle - steal, steal


def children_cpu_seconds():
    usage = resource.getrusage(resource.RUSAGE_CHILDREN)
    return usage.ru_utime + usage.ru_stime


def load_average():
    """The 1, 5 and 15 minute load averages, or "?" where /proc has none."""
    try:
        with open("/proc/loadavg") as f:
            return " ".join(f.read().split()[:3])
    except OSError:
        return "?"


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("binary", nargs="?", default=os.path.join(REPO, "build", "bench_outputs"))
    parser.add_argument("--counts", default="1000,5000,10000,20000", help="N of the fixed cases")
    parser.add_argument("--modes", default="hash,object,array,hash_static")
    parser.add_argument("--warmup", type=int, default=30, help="untimed steps before every case")
    parser.add_argument("--steps", type=int, default=60, help="timed steps of every fixed case")
    parser.add_argument("--search-steps", type=int, default=30, help="timed steps of every search probe")
    parser.add_argument("--draw-ms", type=float, default=300.0, help="shortest timed drawing per case")
    parser.add_argument("--no-search", action="store_true", help="skip the search for the largest N")
    parser.add_argument("--search-clock", choices=("cpu", "wall"), default="cpu",
                        help="what the search compares with 16.7 ms: the step's thread CPU time or its wall time")
    parser.add_argument("--screenshot", help="write the drawn 10,000 Hash sprite frame to this PNG")
    parser.add_argument("--verbose", action="store_true", help="print every search probe")
    args = parser.parse_args()
    binary = os.path.abspath(args.binary)
    if not os.access(binary, os.X_OK):
        print("bench_outputs not found at %s (build the bench_outputs target)" % binary)
        return 1

    with tempfile.TemporaryDirectory(prefix="mf_bunnymark_") as root:
        game = os.path.join(root, "bunnymark")
        shutil.copytree(GAME, game)
        os.makedirs(os.path.join(game, "sprites"), exist_ok=True)
        write_png(os.path.join(game, "sprites", "bunny.png"), 32, 32, bunny_pixel)
        write_dir = os.path.join(root, "write")
        os.makedirs(write_dir)

        env = dict(os.environ)
        for key in ("DISPLAY", "WAYLAND_DISPLAY", "SDL_RENDER_DRIVER"):
            env.pop(key, None)
        env["SDL_VIDEODRIVER"] = "dummy"
        env["SDL_AUDIODRIVER"] = "dummy"
        env["HOME"] = root
        env["XDG_DATA_HOME"] = root

        cmd = [binary, game, write_dir, "--counts", args.counts, "--modes", args.modes,
               "--warmup", str(args.warmup), "--steps", str(args.steps),
               "--search-steps", str(args.search_steps), "--draw-ms", str(args.draw_ms),
               "--search-clock", args.search_clock]
        if args.no_search:
            cmd.append("--no-search")
        if args.verbose:
            cmd.append("--verbose")
        if args.screenshot:
            cmd += ["--screenshot", os.path.abspath(args.screenshot)]
        print("== bunnymark, software renderer, dummy video driver ==")
        print("load average before: %s (%d CPUs)" % (load_average(), os.cpu_count() or 0))
        sys.stdout.flush()
        before, ours_before, t0 = cpu_jiffies(), children_cpu_seconds(), time.monotonic()
        result = subprocess.run(cmd, env=env, cwd=root, stderr=subprocess.PIPE, text=True, timeout=3600)
        after, ours, seconds = cpu_jiffies(), children_cpu_seconds() - ours_before, time.monotonic() - t0
        print("load average after: %s" % load_average())
        if before and after and seconds > 0:
            # What the rest of the machine did meanwhile: busy time of all
            # CPUs less the benchmark's own, as a share of one CPU.
            hz = os.sysconf("SC_CLK_TCK")
            others = max(0.0, (after[0] - before[0]) / hz - ours)
            print("during the run: other processes %.0f%% of one CPU, steal %.1f%%, benchmark %.0f%% (%.0f s)"
                  % (100 * others / seconds, 100 * (after[1] - before[1]) / hz / seconds, 100 * ours / seconds,
                     seconds))
        if result.returncode != 0:
            sys.stdout.write(result.stderr)
            print("bench_outputs exited with status %d" % result.returncode)
            return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
