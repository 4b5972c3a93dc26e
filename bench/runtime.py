#!/usr/bin/env python3
"""Cost of the Ruby runtime's engine step and of reloading a 500-line file.

Usage: python3 bench/runtime.py [path/to/moonforge]

Runs the engine once on the "rt_bench" test fixture (dummy SDL drivers, a
temporary copy of the executable). At tick 30 the fixture game calls the
runtime's __sdl_tick__ in a loop with millisecond values 16 apart (each call
runs the whole tick flow; the game's own tick returns at once), then queues a
generated 500-line file and loads it with reload_requested_ruby_files_synchronously,
both in batches timed with Time.now inside the engine, prints the timings and
quits. This script reports microseconds per step and per reload.
"""

import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile

REPO = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
FIXTURE = os.path.join(REPO, "tests", "fixtures", "rt_bench")
STEP_GOAL_US = 50.0
TIMEOUT = 120.0
LINES = 500


def bench_file_text():
    """500 lines of ordinary game code: 99 small methods and one line that marks the load."""
    out = []
    for i in range(99):
        out += ["def bench_method_%d(a, b)" % i,
                "  c = a + b * %d" % i,
                "  d = [c, a, b].max - %d" % i,
                "  { value: d, name: \"m%d\" }" % i,
                "end"]
    out.append("$bench_500_loaded = ($bench_500_loaded || 0) + 1")
    out += ["# padding"] * (LINES - len(out))
    assert len(out) == LINES
    return "\n".join(out) + "\n"


def run(binary):
    root = os.path.realpath(tempfile.mkdtemp(prefix="mf-bench-rt-"))
    try:
        engine_dir = os.path.join(root, "engine")
        os.makedirs(engine_dir)
        shutil.copy2(binary, os.path.join(engine_dir, "moonforge"))
        font = os.path.join(os.path.dirname(binary), "font.ttf")
        if os.path.exists(font):
            shutil.copy2(font, os.path.join(engine_dir, "font.ttf"))
        game = os.path.join(engine_dir, "game")
        shutil.copytree(FIXTURE, game)
        with open(os.path.join(game, "app", "bench_500.rb"), "w") as f:
            f.write(bench_file_text())
        env = dict(os.environ)
        for key in ("DISPLAY", "WAYLAND_DISPLAY"):
            env.pop(key, None)
        for d in ("home", "xdg"):
            os.makedirs(os.path.join(root, d))
        env.update(SDL_VIDEODRIVER="dummy", SDL_AUDIODRIVER="dummy",
                   HOME=os.path.join(root, "home"), XDG_DATA_HOME=os.path.join(root, "xdg"))
        proc = subprocess.run(["./moonforge", "game"], cwd=engine_dir, env=env, stdin=subprocess.DEVNULL,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=TIMEOUT)
        return proc.returncode, proc.stdout.decode("utf-8", "replace"), proc.stderr.decode("utf-8", "replace")
    finally:
        shutil.rmtree(root, ignore_errors=True)


def ints(text):
    return [int(x) for x in re.findall(r"-?\d+", text)]


def main():
    binary = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(REPO, "build", "moonforge"))
    if not os.path.isfile(binary):
        sys.exit("moonforge executable not found at %s" % binary)
    rc, out, err = run(binary)
    error = re.search(r"R bench_error=(.*)", out)
    steps = re.search(r"R step_batches=\[([^\]]*)\] steps_per_batch=(\d+) simulated=(-?\d+)", out)
    reloads = re.search(r"R reload_batches=\[([^\]]*)\] queue_batches=\[([^\]]*)\] "
                        r"reloads_per_batch=(\d+) loaded=(\S*)", out)
    if error or not steps or not reloads:
        sys.stderr.write("benchmark did not complete (exit status %r)\n%s\n--- stdout ---\n%s\n--- stderr ---\n%s\n"
                         % (rc, error.group(1) if error else "", out[-6000:], err[-3000:]))
        sys.exit(1)

    per_batch = int(steps.group(2))
    step_us = [us / per_batch for us in ints(steps.group(1))]
    per_reload = int(reloads.group(3))
    reload_us = [us / per_reload for us in ints(reloads.group(1))]
    queue_us = [us / per_reload for us in ints(reloads.group(2))]
    step_median = statistics.median(step_us)
    simulated = int(steps.group(3))

    print("Runtime benchmark (%s)" % binary)
    print("  empty engine step:        median %8.1f us  min %8.1f us  (%d batches of %d steps)"
          % (step_median, min(step_us), len(step_us), per_batch))
    if simulated != per_batch * len(step_us):
        print("  WARNING: %d simulation steps ran for %d calls" % (simulated, per_batch * len(step_us)))
    print("                            goal   %8.1f us  ratio %.2f" % (STEP_GOAL_US, step_median / STEP_GOAL_US))
    print("  reload of a %d-line file: median %8.1f us  min %8.1f us  (%d batches of %d reloads, file loaded %s times)"
          % (LINES, statistics.median(reload_us), min(reload_us), len(reload_us), per_reload, reloads.group(4)))
    print("  queueing it for reload:   median %8.1f us  min %8.1f us"
          % (statistics.median(queue_us), min(queue_us)))
    if rc != 0:
        print("  (engine exit status %d)" % rc)


if __name__ == "__main__":
    main()
