#!/usr/bin/env python3
"""Start-up, shutdown and idle CPU benchmark of the moonforge executable.

Usage: python3 bench/startup.py [path/to/moonforge] [--runs N] [--idle-seconds S]

Runs the engine with the dummy SDL video and audio drivers on the "basic"
test fixture, from a temporary copy of the executable (it writes its logs
next to itself). Measures, in one run of this script:
  - exec to the first presented frame, using the first line on stdout as the
    proxy (the first simulation step publishes the log right after the first
    frame was presented), median of N runs;
  - SIGTERM to process exit, median of N runs;
  - idle CPU use of a running engine over S seconds, total and per thread,
    as percentages of one core, from /proc/<pid>/task/*/stat.
"""

import argparse
import os
import select
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time

REPO = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
FIXTURE = os.path.join(REPO, "tests", "fixtures", "basic")
FIRST_FRAME_GOAL_MS = 150.0
IDLE_GOAL_PERCENT = 15.0
TIMEOUT = 30.0


class Setup:
    def __init__(self, binary):
        self.root = os.path.realpath(tempfile.mkdtemp(prefix="mf-bench-"))
        self.dir = os.path.join(self.root, "engine")
        os.makedirs(self.dir)
        shutil.copy2(binary, os.path.join(self.dir, "moonforge"))
        font = os.path.join(os.path.dirname(binary), "font.ttf")
        if os.path.exists(font):
            shutil.copy2(font, os.path.join(self.dir, "font.ttf"))
        shutil.copytree(FIXTURE, os.path.join(self.dir, "game"))
        for d in ("home", "xdg"):
            os.makedirs(os.path.join(self.root, d))
        self.env = dict(os.environ)
        for key in ("DISPLAY", "WAYLAND_DISPLAY"):
            self.env.pop(key, None)
        self.env.update(SDL_VIDEODRIVER="dummy", SDL_AUDIODRIVER="dummy",
                        HOME=os.path.join(self.root, "home"), XDG_DATA_HOME=os.path.join(self.root, "xdg"))

    def start(self):
        t0 = time.perf_counter()
        proc = subprocess.Popen(["./moonforge", "game"], cwd=self.dir, env=self.env, stdin=subprocess.DEVNULL,
                                stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        return proc, t0

    def cleanup(self):
        shutil.rmtree(self.root, ignore_errors=True)


def read_until(proc, needle, deadline, buf):
    """Reads stdout until a complete line containing needle; returns (time the first line ended, buf)."""
    first_line_at = None
    fd = proc.stdout.fileno()
    while True:
        if first_line_at is None and b"\n" in buf:
            first_line_at = time.perf_counter()
        if needle in buf and buf.rfind(b"\n") > buf.find(needle):
            return first_line_at, buf
        left = deadline - time.perf_counter()
        if left <= 0:
            raise RuntimeError("timed out waiting for %r; got %r" % (needle, buf[-500:]))
        ready, _, _ = select.select([fd], [], [], left)
        if ready:
            chunk = os.read(fd, 65536)
            if not chunk:
                raise RuntimeError("engine exited (status %r) before %r; got %r" % (proc.wait(), needle, buf[-500:]))
            buf += chunk


def stop(proc):
    t = time.perf_counter()
    proc.send_signal(signal.SIGTERM)
    # Keep draining stdout so a full pipe cannot stall the shutdown.
    fd = proc.stdout.fileno()
    deadline = t + TIMEOUT
    while proc.poll() is None:
        if time.perf_counter() > deadline:
            proc.kill()
            proc.wait()
            raise RuntimeError("engine did not exit within %.0f s of SIGTERM" % TIMEOUT)
        ready, _, _ = select.select([fd], [], [], 0.001)
        if ready and not os.read(fd, 65536):
            proc.wait()
    elapsed = time.perf_counter() - t
    proc.stdout.close()
    return elapsed, proc.returncode


def thread_times(pid):
    """{tid: (name, utime + stime in clock ticks)} of the process's threads."""
    out = {}
    task_dir = "/proc/%d/task" % pid
    for tid in os.listdir(task_dir):
        try:
            with open(os.path.join(task_dir, tid, "stat")) as f:
                stat = f.read()
        except OSError:
            continue
        name = stat[stat.index("(") + 1:stat.rindex(")")]
        fields = stat[stat.rindex(")") + 2:].split()
        # fields[0] is field 3 (state); utime and stime are fields 14 and 15.
        out[int(tid)] = (name, int(fields[11]) + int(fields[12]))
    return out


def measure_idle(setup, seconds):
    proc, _ = setup.start()
    try:
        read_until(proc, b"Janitor is using", time.perf_counter() + TIMEOUT, b"")
        time.sleep(1.0)
        before = thread_times(proc.pid)
        t0 = time.monotonic()
        # Drain stdout meanwhile (the engine logs little when idle).
        end = t0 + seconds
        fd = proc.stdout.fileno()
        while time.monotonic() < end:
            ready, _, _ = select.select([fd], [], [], max(0.0, end - time.monotonic()))
            if ready:
                os.read(fd, 65536)
        after = thread_times(proc.pid)
        wall = time.monotonic() - t0
    finally:
        stop(proc)
    hz = os.sysconf("SC_CLK_TCK")
    rows = []
    for tid in sorted(set(before) | set(after)):
        name = (after.get(tid) or before.get(tid))[0]
        used = after.get(tid, (name, 0))[1] - before.get(tid, (name, 0))[1]
        if tid not in after:
            used = 0
        label = "%s (main, render)" % name if tid == proc.pid else name
        rows.append((label, 100.0 * used / hz / wall))
    return wall, rows


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("binary", nargs="?", default=os.path.join(REPO, "build", "moonforge"))
    parser.add_argument("--runs", type=int, default=20)
    parser.add_argument("--idle-seconds", type=float, default=5.0)
    opts = parser.parse_args()
    binary = os.path.abspath(opts.binary)
    if not os.path.isfile(binary):
        sys.exit("no executable at %s" % binary)

    setup = Setup(binary)
    try:
        starts, stops = [], []
        for _ in range(opts.runs):
            proc, t0 = setup.start()
            try:
                first_line_at, _ = read_until(proc, b"Janitor is using", t0 + TIMEOUT, b"")
            except Exception:
                proc.kill()
                proc.wait()
                raise
            starts.append(first_line_at - t0)
            time.sleep(0.2)
            elapsed, rc = stop(proc)
            if rc != 0:
                raise RuntimeError("engine exited with status %d after SIGTERM" % rc)
            stops.append(elapsed)
        wall, rows = measure_idle(setup, opts.idle_seconds)
    finally:
        setup.cleanup()

    def ms(values):
        return "median %7.1f ms  (min %.1f, max %.1f)" % (statistics.median(values) * 1000,
                                                          min(values) * 1000, max(values) * 1000)

    first_frame = statistics.median(starts) * 1000
    total = sum(p for _, p in rows)
    print("moonforge start-up benchmark: %s" % binary)
    print("SDL_VIDEODRIVER=dummy, SDL_AUDIODRIVER=dummy, %d runs, %d cores" % (opts.runs, os.cpu_count()))
    print()
    print("exec -> first frame (first stdout line): %s  goal < %.0f ms  ratio %.2f"
          % (ms(starts), FIRST_FRAME_GOAL_MS, first_frame / FIRST_FRAME_GOAL_MS))
    print("SIGTERM -> exit:                         %s" % ms(stops))
    print()
    print("idle CPU over %.1f s, %% of one core: total %.1f%%  goal < %.0f%%  ratio %.2f"
          % (wall, total, IDLE_GOAL_PERCENT, total / IDLE_GOAL_PERCENT))
    for label, percent in rows:
        print("  %-24s %6.1f%%" % (label, percent))


if __name__ == "__main__":
    main()
