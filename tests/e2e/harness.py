"""Shared helpers for the end-to-end tests of the moonforge executable.

Every test gets a Sandbox: a fresh temporary folder holding a real copy of
the executable and font.ttf (the engine changes into its own directory and
writes its logs there), the fixture games it needs, and private HOME and
XDG_DATA_HOME folders. Engines run with the dummy SDL drivers and without
DISPLAY, so a start-up failure never waits on a message box, and every wait
has a timeout so a hung engine fails the test instead of the CI run.
"""

import os
import re
import shutil
import signal
import subprocess
import tempfile
import threading
import time
import unittest

SOURCE = os.path.abspath(os.environ.get("MOONFORGE_SOURCE")
                         or os.path.join(os.path.dirname(__file__), "..", ".."))
BIN = os.path.abspath(os.environ.get("MOONFORGE_BIN")
                      or os.path.join(SOURCE, "build", "moonforge"))
FIXTURES = os.path.join(SOURCE, "tests", "fixtures")
VERSION = "6.24"

# Generous: CI machines may be busy building other targets at the same time.
START_TIMEOUT = 30.0
STOP_TIMEOUT = 20.0
QUICK_TIMEOUT = 20.0

# Identity of the "basic" fixture (tests/fixtures/basic/metadata).
BASIC = {
    "devid": "fixturedev",
    "devtitle": "Fixture Developer",
    "gameid": "basicgame",
    "gametitle": "Basic Fixture Game",
    "version": "0.3",
}

LINE_RE = re.compile(r"^(.) \[([^\]]*)\] (.*)$")


def startup_failure_text(message):
    return "\n\nStartup failure!:\n%s\n\n" % message


def parse_line(line):
    """Splits a default-format log line into (level char, subsystem, message), or None."""
    m = LINE_RE.match(line)
    return (m.group(1), m.group(2), m.group(3)) if m else None


def messages(lines, subsystem=None):
    """Messages of the default-format log lines, optionally of one subsystem."""
    out = []
    for line in lines:
        parsed = parse_line(line)
        if parsed and (subsystem is None or parsed[1] == subsystem):
            out.append(parsed[2])
    return out


def expected_janitor_threads():
    cores = os.sysconf("SC_NPROCESSORS_ONLN")
    if cores <= 4:
        return 1
    return min(cores - 3, 4)


def thread_names(pid):
    names = []
    try:
        for tid in os.listdir("/proc/%d/task" % pid):
            try:
                with open("/proc/%d/task/%s/comm" % (pid, tid)) as f:
                    names.append(f.read().strip())
            except OSError:
                pass
    except OSError:
        pass
    return names


class Engine:
    """A running moonforge process whose stdout and stderr are collected line by line."""

    def __init__(self, argv, cwd, env):
        self.argv = argv
        self.proc = subprocess.Popen(argv, cwd=cwd, env=env, stdin=subprocess.DEVNULL,
                                     stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                     start_new_session=True)
        self.pid = self.proc.pid
        self.started_at = time.monotonic()
        self._cond = threading.Condition()
        self._out = []
        self._err = []
        self._readers = [
            threading.Thread(target=self._pump, args=(self.proc.stdout, self._out), daemon=True),
            threading.Thread(target=self._pump, args=(self.proc.stderr, self._err), daemon=True),
        ]
        for t in self._readers:
            t.start()

    def _pump(self, pipe, sink):
        for raw in iter(pipe.readline, b""):
            with self._cond:
                sink.append(raw.decode("utf-8", "replace"))
                self._cond.notify_all()
        pipe.close()

    @property
    def stdout(self):
        with self._cond:
            return "".join(self._out)

    @property
    def stderr(self):
        with self._cond:
            return "".join(self._err)

    @property
    def lines(self):
        return self.stdout.splitlines()

    def wait_for_stdout(self, needle, timeout=START_TIMEOUT):
        """Waits until a stdout line contains needle; fails with what was seen otherwise."""
        deadline = time.monotonic() + timeout
        with self._cond:
            while True:
                if any(needle in line for line in self._out):
                    return
                if self.proc.poll() is not None and not any(t.is_alive() for t in self._readers):
                    break
                left = deadline - time.monotonic()
                if left <= 0:
                    break
                self._cond.wait(min(left, 0.1))
        raise AssertionError("%r never appeared on stdout of %r (exit status %r)\nstdout:\n%s\nstderr:\n%s"
                             % (needle, self.argv, self.proc.poll(), self.stdout, self.stderr))

    def wait_for_file(self, path, needle, timeout=START_TIMEOUT):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            try:
                with open(path, encoding="utf-8", errors="replace") as f:
                    if needle in f.read():
                        return
            except OSError:
                pass
            if self.proc.poll() is not None:
                break
            time.sleep(0.05)
        raise AssertionError("%r never appeared in %s (exit status %r)\nstdout:\n%s\nstderr:\n%s"
                             % (needle, path, self.proc.poll(), self.stdout, self.stderr))

    def wait(self, timeout=STOP_TIMEOUT):
        """Waits for the process to end by itself; returns its exit status."""
        try:
            rc = self.proc.wait(timeout)
        except subprocess.TimeoutExpired:
            self.kill()
            raise AssertionError("%r did not exit within %.0f s\nstdout:\n%s\nstderr:\n%s"
                                 % (self.argv, timeout, self.stdout, self.stderr))
        for t in self._readers:
            t.join(5)
        return rc

    def stop(self, sig=signal.SIGTERM, timeout=STOP_TIMEOUT):
        """Sends sig and waits for the exit; returns the exit status."""
        if self.proc.poll() is None:
            os.kill(self.pid, sig)
        return self.wait(timeout)

    def kill(self):
        if self.proc.poll() is None:
            try:
                os.killpg(self.pid, signal.SIGKILL)
            except OSError:
                pass
            try:
                self.proc.wait(5)
            except subprocess.TimeoutExpired:
                pass


class Result:
    def __init__(self, returncode, stdout, stderr):
        self.returncode = returncode
        self.stdout = stdout
        self.stderr = stderr

    @property
    def lines(self):
        return self.stdout.splitlines()


class Sandbox:
    """A temporary install: <root>/engine holds moonforge, font.ttf and the games."""

    def __init__(self, test):
        if not os.path.isfile(BIN):
            test.fail("moonforge executable not found at %s (set MOONFORGE_BIN)" % BIN)
        self.test = test
        self.root = os.path.realpath(tempfile.mkdtemp(prefix="mf-e2e-"))
        self.engine_dir = os.path.join(self.root, "engine")
        self.home = os.path.join(self.root, "home")
        self.xdg = os.path.join(self.root, "xdg")
        for d in (self.engine_dir, self.home, self.xdg):
            os.makedirs(d)
        self.exe = os.path.join(self.engine_dir, "moonforge")
        shutil.copy2(BIN, self.exe)
        font = os.path.join(os.path.dirname(BIN), "font.ttf")
        if os.path.exists(font):
            shutil.copy2(font, os.path.join(self.engine_dir, "font.ttf"))
        self.engines = []
        test.addCleanup(self.cleanup)

    def cleanup(self):
        for e in self.engines:
            e.kill()
        shutil.rmtree(self.root, ignore_errors=True)

    def path(self, *parts):
        return os.path.join(self.root, *parts)

    def game(self, name="game", fixture="basic", files=None, parent=None):
        """Copies a fixture game to <parent or engine dir>/<name>, then writes files over it.

        files maps relative paths to text (written as is) or None (deleted).
        Returns the game's absolute path.
        """
        dest = os.path.join(parent or self.engine_dir, name)
        if fixture:
            shutil.copytree(os.path.join(FIXTURES, fixture), dest)
        else:
            os.makedirs(dest, exist_ok=True)
        for rel, text in (files or {}).items():
            self.write(os.path.join(dest, rel), text)
        return dest

    @staticmethod
    def write(path, text):
        if text is None:
            if os.path.exists(path):
                os.remove(path)
            return
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "w", newline="") as f:
            f.write(text)

    def env(self, **overrides):
        env = dict(os.environ)
        for key in ("DISPLAY", "WAYLAND_DISPLAY", "MOONFORGE_BIN", "MOONFORGE_SOURCE"):
            env.pop(key, None)
        env.update(SDL_VIDEODRIVER="dummy", SDL_AUDIODRIVER="dummy",
                   HOME=self.home, XDG_DATA_HOME=self.xdg)
        for key, value in overrides.items():
            if value is None:
                env.pop(key, None)
            else:
                env[key] = value
        return env

    def _argv(self, args, exe):
        return [exe or "./moonforge"] + list(args)

    def start(self, args=("game",), cwd=None, exe=None, env=None):
        """Starts the engine (by default ./moonforge from the engine folder)."""
        engine = Engine(self._argv(args, exe), cwd or self.engine_dir, env or self.env())
        self.engines.append(engine)
        return engine

    def run(self, args=("game",), cwd=None, exe=None, env=None, timeout=QUICK_TIMEOUT):
        """Runs the engine to its own exit (for runs that end by themselves)."""
        engine = self.start(args, cwd, exe, env)
        rc = engine.wait(timeout)
        return Result(rc, engine.stdout, engine.stderr)

    def run_until_ready(self, args=("game",), cwd=None, exe=None, env=None, sig=signal.SIGTERM):
        """Starts the engine, waits until start-up has completed, stops it with sig."""
        engine = self.start(args, cwd, exe, env)
        engine.wait_for_stdout("Janitor is using")
        rc = engine.stop(sig)
        return Result(rc, engine.stdout, engine.stderr)

    def log_path(self, gameid=BASIC["gameid"]):
        return os.path.join(self.engine_dir, "logs", gameid + ".log")

    def pref_dir(self, gametitle=BASIC["gametitle"]):
        # PhysFS 3.0 on Linux: $XDG_DATA_HOME/<game title>/ (the developer title is not used).
        return os.path.join(self.xdg, gametitle)


class EngineTestCase(unittest.TestCase):
    maxDiff = None

    def sandbox(self):
        return Sandbox(self)

    def assertExitStatus(self, result, expected):
        self.assertEqual(result.returncode, expected,
                         "exit status %r, expected %r\nstdout:\n%s\nstderr:\n%s"
                         % (result.returncode, expected, result.stdout, result.stderr))

    def assertInOrder(self, needles, haystack_lines):
        """Each needle matches (as a substring) a later line than the previous needle."""
        pos = 0
        for needle in needles:
            for i in range(pos, len(haystack_lines)):
                if needle in haystack_lines[i]:
                    pos = i + 1
                    break
            else:
                self.fail("%r not found after line %d in:\n%s" % (needle, pos, "\n".join(haystack_lines)))

    def assertGameDir(self, lines, given, directory):
        """The "Game Dir" line names the game directory as given or by its absolute path."""
        found = [l.split("Game Dir: ", 1)[1] for l in lines if "Game Dir: " in l]
        self.assertEqual(len(found), 1, "\n".join(lines))
        self.assertIn(found[0], (given, os.path.realpath(directory)))

    @staticmethod
    def read(path):
        with open(path, encoding="utf-8", errors="replace") as f:
            return f.read()


# Test-runner runs: a test file inside a copy of a fixture game, run through
# `moonforge <game> --test <file>` to the engine's own exit.

TEST_RUN_TIMEOUT = 60.0


def run_test_file(box, test_text, rel="tests.rb", fixture="test_runner", name="game", files=None,
                  timeout=TEST_RUN_TIMEOUT):
    """Writes test_text to <game>/<rel> (rel is relative to the game directory) and runs its tests."""
    all_files = dict(files or {})
    all_files[rel] = test_text
    box.game(name, fixture=fixture, files=all_files)
    return box.run([name, "--test", rel], timeout=timeout)



# ---------------------------------------------------------------------------
# Helpers for tests that run Ruby game code and read its answers back.

RESULT_PREFIX = "R "


def game_results(lines, prefix=RESULT_PREFIX):
    """Answers the game printed with `puts "R name=#{value.inspect}"`, as {name: inspected value}.

    Only info lines of the "Game" subsystem count; a later answer of the same
    name replaces an earlier one.
    """
    out = {}
    for line in lines:
        parsed = parse_line(line)
        if not parsed or parsed[1] != "Game" or not parsed[2].startswith(prefix):
            continue
        name, sep, value = parsed[2][len(prefix):].partition("=")
        if sep:
            out[name] = value
    return out


def game_messages(lines, needle):
    """Messages of "Game" log lines that contain needle."""
    return [m for m in messages(lines, "Game") if needle in m]


def wait_for_stdout_time(engine, needle, timeout=START_TIMEOUT):
    """Waits like Engine.wait_for_stdout and answers the monotonic time it returned at."""
    engine.wait_for_stdout(needle, timeout)
    return time.monotonic()


def wait_for_exit_time(engine, timeout=STOP_TIMEOUT):
    """Waits for the engine to exit by itself; answers (exit status, monotonic time of the exit)."""
    try:
        engine.proc.wait(timeout)
    except subprocess.TimeoutExpired:
        pass
    at = time.monotonic()
    return engine.wait(5), at


def wait_for_count(engine, needle, count, timeout=START_TIMEOUT):
    """Waits until at least count stdout lines contain needle."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if sum(needle in line for line in engine.lines) >= count:
            return
        if engine.proc.poll() is not None:
            break
        time.sleep(0.05)
    raise AssertionError("%r seen fewer than %d times (exit status %r)\nstdout:\n%s\nstderr:\n%s"
                         % (needle, count, engine.proc.poll(), engine.stdout, engine.stderr))


def write_newer(path, text, step=10):
    """Writes a file and moves its modification time at least step seconds past the old one.

    Hot reload compares whole-second modification times, so a rewrite within
    the same second as the last load would go unnoticed without this.
    """
    old = os.stat(path).st_mtime if os.path.exists(path) else time.time()
    Sandbox.write(path, text)
    stamp = max(old, time.time()) + step
    os.utime(path, (stamp, stamp))


_MRUBY_DIR = []


def mruby_dir():
    """Prefix of the patched mruby build the executable was built with."""
    if _MRUBY_DIR:
        return _MRUBY_DIR[0]
    prefix = os.environ.get("MOONFORGE_MRUBY_DIR")
    if not prefix:
        cache = os.path.join(os.path.dirname(BIN), "CMakeCache.txt")
        try:
            with open(cache) as f:
                for line in f:
                    if line.startswith("MOONFORGE_MRUBY_DIR:"):
                        prefix = line.split("=", 1)[1].strip()
                        break
        except OSError:
            pass
    if not prefix:
        out = subprocess.run(["bash", os.path.join(SOURCE, "scripts", "build_mruby.sh")],
                             stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, check=True,
                             timeout=1800).stdout.decode()
        prefix = out.strip().splitlines()[-1]
    _MRUBY_DIR.append(prefix)
    return prefix


def mrbc_compile(source_path, output_path):
    """Compiles a Ruby file to bytecode with the patched mrbc."""
    subprocess.run([os.path.join(mruby_dir(), "bin", "mrbc"), "-o", output_path, source_path],
                   check=True, timeout=60, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
