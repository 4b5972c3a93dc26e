"""The game test runner: `moonforge <game> --test <file>` and the automatic runs on change."""

import os
import re
import time

from harness import FIXTURES, LINE_RE, EngineTestCase, messages, run_test_file

NOTE_1 = "NOTE FOR INCONCLUSIVE TESTS: No assertion was performed in the test."
NOTE_2 = "Add assert.ok! at the end of the test if you are using your own assertions."
NO_TESTS_1 = "No tests were found. To create a test. Define a method"
NO_TESTS_2 = "that begins with test_. For example:"
SECTIONS = ("*** Passed", "*** Inconclusive", "*** Invalid", "*** Failed")

MIXED = """
def test_adds_score args, assert
  assert.equal! score_for(3, 2), 60
end

def test_nil_is_not_one args, assert
  assert.equal! nil, 1
end

def test_checks_nothing args, assert
  args.state.unused = 1
end

def test_checks_nothing_either args, assert
end

def test_calls_nil args, assert
  nil.no_such_method_here
end

def test_error_prefix_is_dropped args, assert
  raise "* ERROR: the widget broke  "
end
"""

# Every test gets its own args (also as $args and the runtime's args); the
# entity ids start again before the args are built, so every test sees the
# same ids.
FRESH = """
$seen_args = []
$first_ids = []

def check_fresh args, assert
  assert.false! $seen_args.any? { |a| a.equal?(args) }, "args reused"
  $seen_args << args
  assert.true! $args.equal?(args), "$args is not the test's args"
  assert.true! $orb.args.equal?(args), "the runtime's args is not the test's args"
  assert.true! $state.equal?(args.state), "$state is not the test's state"
  assert.nil! args.state.marker
  args.state.marker = 1
  assert.equal! args.state.entity_id, 1
  first = args.state.new_entity(:thing).entity_id
  assert.equal! args.state.new_entity(:thing).entity_id, first + 1
  $first_ids << first
  assert.equal! $first_ids.uniq.length, 1, $first_ids.inspect
end

def test_fresh_first args, assert
  check_fresh args, assert
end

def test_fresh_second args, assert
  check_fresh args, assert
end

def test_game_code args, assert
  check_fresh args, assert
  assert.equal! score_for(2, 3), 60
end
"""

SIGNATURE = """
def test_one_param args
end

def test_calls_with_wrong_arity args, assert
  score_for 1
end

def test_fine args, assert
  assert.ok!
end
"""

FOCUS = """
def focus_test_a args, assert
  assert.ok!
end

def test_b args, assert
  raise "test_b must not run"
end

def test_c args, assert
  raise "test_c must not run"
end
"""

PASS = "def test_pass args, assert\n  assert.true! 1\nend\n"
INCONCLUSIVE = "def test_nothing args, assert\nend\n"
FAIL = "def test_fail args, assert\n  assert.equal! 1, 2\nend\n"
INVALID = "def test_invalid args\nend\n"
NO_TESTS = "def helper_without_prefix args, assert\n  assert.ok!\nend\n"


def log_text(lines):
    """The log as text: the prefix of each default-format line removed, continuation lines kept."""
    out = []
    for line in lines:
        m = LINE_RE.match(line)
        out.append(m.group(3) if m else line)
    return "\n".join(out)


def summary(lines):
    """The summary's sections: header -> the messages after it up to the next header."""
    msgs = messages(lines)
    if "** Summary" not in msgs:
        return None
    sections = {}
    current = None
    for m in msgs[msgs.index("** Summary") + 1:]:
        if m in SECTIONS:
            current = sections.setdefault(m, [])
        elif current is not None:
            current.append(m)
    return sections


class TestRunnerTest(EngineTestCase):
    def run_tests(self, text, rel="tests.rb"):
        box = self.sandbox()
        return run_test_file(box, text, rel=rel)

    def assertSummary(self, result, passed=(), inconclusive=(), failed=()):
        sections = summary(result.lines)
        self.assertIsNotNone(sections, result.stdout)
        self.assertIn("%d test(s) passed." % len(passed), sections["*** Passed"], result.stdout)
        self.assertEqual(sorted(l for l in sections["*** Passed"] if l.startswith("**** ")),
                         sorted("**** :" + n for n in passed), result.stdout)
        self.assertIn("%d test(s) inconclusive." % len(inconclusive), sections["*** Inconclusive"], result.stdout)
        self.assertEqual(sorted(l for l in sections["*** Inconclusive"] if l.startswith("**** ")),
                         sorted("**** :" + n for n in inconclusive), result.stdout)
        self.assertIn("%d test(s) failed." % len(failed), sections["*** Failed"], result.stdout)
        self.assertEqual(sorted(l for l in sections["*** Failed"] if l.startswith("**** ")),
                         sorted("**** Test name: :" + n for n in failed), result.stdout)

    def test_texts_and_counts(self):
        result = self.run_tests(MIXED)
        self.assertExitStatus(result, 1)
        msgs = messages(result.lines)
        self.assertIn("--test switch found. Executing code inside of =tests.rb=.", msgs)
        self.assertEqual(msgs.count("* TEST: orb.test.start has been invoked."), 1, result.stdout)
        names = ["test_adds_score", "test_nil_is_not_one", "test_checks_nothing", "test_checks_nothing_either",
                 "test_calls_nil", "test_error_prefix_is_dropped"]
        for name in names:
            self.assertEqual(msgs.count("** Running: " + name), 1, result.stdout)
        self.assertEqual(msgs.count("Passed."), 1, result.stdout)
        self.assertEqual(msgs.count("Inconclusive."), 2, result.stdout)
        self.assertEqual(msgs.count("Failed."), 3, result.stdout)
        # Each result follows its own "Running" line.
        for name, outcome in [("test_adds_score", "Passed."), ("test_nil_is_not_one", "Failed."),
                              ("test_checks_nothing", "Inconclusive.")]:
            i = msgs.index("** Running: " + name)
            self.assertEqual(msgs[i + 1], outcome, result.stdout)

        self.assertInOrder(["** Summary", "*** Passed", "1 test(s) passed.", "*** Inconclusive", NOTE_1,
                            "2 test(s) inconclusive.", "*** Failed", "3 test(s) failed."], result.lines)
        self.assertSummary(result, passed=["test_adds_score"],
                           inconclusive=["test_checks_nothing", "test_checks_nothing_either"],
                           failed=["test_nil_is_not_one", "test_calls_nil", "test_error_prefix_is_dropped"])
        text = log_text(result.lines)
        self.assertEqual(text.count(NOTE_1), 1, result.stdout)
        self.assertEqual(text.count(NOTE_2), 1, result.stdout)

        # The failure text, then the backtrace naming the test file.
        self.assertIn("**** Test name: :test_nil_is_not_one\nactual:\n(nil)\n\ndid not equal\n\nexpected:\n1\n",
                      text)
        after = text.split("**** Test name: :test_nil_is_not_one\n", 1)[1]
        self.assertRegex(after.split("**** Test name:", 1)[0], r"tests\.rb:\d+")
        self.assertIn("**** Test name: :test_error_prefix_is_dropped\nthe widget broke\n", text)
        self.assertNotIn("* ERROR: the widget broke", text)
        self.assertRegex(text, r"\*\*\*\* Test name: :test_calls_nil\n.*no_such_method_here")

    def test_each_test_gets_fresh_args_and_entity_ids(self):
        result = self.run_tests(FRESH)
        self.assertExitStatus(result, 0)
        self.assertSummary(result, passed=["test_fresh_first", "test_fresh_second", "test_game_code"])

    def test_focus_tests_run_alone(self):
        result = self.run_tests(FOCUS)
        self.assertExitStatus(result, 0)
        msgs = messages(result.lines)
        self.assertEqual(msgs.count("** Running: focus_test_a"), 1, result.stdout)
        self.assertFalse([m for m in msgs if m.startswith("** Running: test_")], result.stdout)
        self.assertSummary(result, passed=["focus_test_a"])

    def test_wrong_signature(self):
        result = self.run_tests(SIGNATURE)
        self.assertExitStatus(result, 1)
        msgs = messages(result.lines)
        text = log_text(result.lines)
        self.assertEqual(text.count("TEST METHOD INVALID:"), 1, result.stdout)
        self.assertIn("TEST METHOD INVALID:\nI found a test method called :test_one_param. But it needs to have\n"
                      "the following method signature:\n", text)
        self.assertIn("def test_one_param args, assert", text)
        self.assertIn('"test_"', text.split("TEST METHOD INVALID:", 1)[1])
        # Neither passed nor failed; an arity error inside a test is a plain failure.
        self.assertSummary(result, passed=["test_fine"], failed=["test_calls_with_wrong_arity"])
        i = msgs.index("** Running: test_calls_with_wrong_arity")
        self.assertEqual(msgs[i + 1], "Failed.", result.stdout)
        self.assertNotIn("I found a test method called :test_calls_with_wrong_arity", text)

    def test_no_tests_found(self):
        result = self.run_tests(NO_TESTS)
        self.assertExitStatus(result, 0)
        text = log_text(result.lines)
        self.assertIn(NO_TESTS_1 + "\n" + NO_TESTS_2, text)
        self.assertRegex(text.split(NO_TESTS_2, 1)[1], r"def test_\w+ args, assert")
        self.assertFalse([m for m in messages(result.lines) if m.startswith("** Running: ")], result.stdout)
        self.assertSummary(result)

    def test_exit_status(self):
        cases = [
            ("all passed", PASS, 0),
            ("inconclusive only", INCONCLUSIVE, 0),
            ("inconclusive and passed", PASS + INCONCLUSIVE, 0),
            ("one failed", PASS + FAIL, 1),
            ("one invalid signature", PASS + INVALID, 1),
            ("no tests", NO_TESTS, 0),
        ]
        for label, text, status in cases:
            with self.subTest(label):
                result = self.run_tests(text)
                self.assertExitStatus(result, status)
                self.assertIn("** Summary", messages(result.lines), result.stdout)

    def test_unloadable_test_file_fails_the_run(self):
        cases = [
            ("missing", None, "File does not exist: tests.rb"),
            ("syntax error", "def test_a args, assert\n  assert.ok!\n", "tests.rb"),
            ("raises while loading", PASS + "raise 'broken at load time'\n", "broken at load time"),
        ]
        for label, text, needle in cases:
            with self.subTest(label):
                result = self.run_tests(text)
                self.assertExitStatus(result, 1)
                self.assertIn(needle, result.stdout)
                self.assertNotIn("* TEST: orb.test.start has been invoked.", messages(result.lines),
                                 result.stdout)

    def test_test_file_in_a_subfolder(self):
        result = self.run_tests(PASS, rel="app/tests.rb")
        self.assertExitStatus(result, 0)
        self.assertSummary(result, passed=["test_pass"])


AUTO_TESTS = """
def test_auto_gets_its_own_args args, assert
  assert.false! args.equal?($probe_first_args), "the game's args was handed to a test"
  assert.true! $args.equal?(args)
  assert.nil! args.state.ticks
  assert.equal! args.state.entity_id, 1
  # Written over the test's state; the game must never see it.
  args.state.ticks = -1000
end
"""

PROBE_RE = re.compile(r"probe: same_args=(\w+) global_args=(\w+) ticks=(-?\d+) entity_id=(\d+)$")


class AutoTestTest(EngineTestCase):
    def probes(self, engine):
        return [PROBE_RE.search(m).groups() for m in messages(engine.lines) if PROBE_RE.search(m)]

    def wait_for_count(self, engine, needle, count, timeout=30.0):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if messages(engine.lines).count(needle) >= count:
                return
            if engine.proc.poll() is not None:
                break
            time.sleep(0.1)
        self.fail("%r did not appear %d times (exit status %r)\nstdout:\n%s\nstderr:\n%s"
                  % (needle, count, engine.proc.poll(), engine.stdout, engine.stderr))

    def touch(self, path, text):
        # Modification times may have a resolution of one second: move each
        # change well past the one before.
        before = os.stat(path).st_mtime
        with open(path, "w") as f:
            f.write(text)
        later = max(before, time.time()) + 10
        os.utime(path, (later, later))

    def test_changed_test_file_runs_without_disturbing_the_game(self):
        box = self.sandbox()
        game = box.game(fixture="test_runner", files={"tests/game_tests.rb": AUTO_TESTS})
        engine = box.start(["game"])
        engine.wait_for_stdout("found and added to hotload file list.", timeout=30)
        self.assertIn("* INFO: Test =tests/game_tests.rb= found and added to hotload file list.",
                      messages(engine.lines))
        # Nothing runs before the file changes.
        engine.wait_for_stdout("probe: ", timeout=30)
        self.assertNotIn("* TEST: orb.test.start has been invoked.", messages(engine.lines))

        path = os.path.join(game, "tests", "game_tests.rb")
        for run in (1, 2):
            self.touch(path, AUTO_TESTS + "\n# change %d\n" % run)
            # The failure count is the summary's last line.
            self.wait_for_count(engine, "0 test(s) failed.", run)
            probes_before = len(self.probes(engine))
            deadline = time.monotonic() + 10
            while len(self.probes(engine)) < probes_before + 2 and time.monotonic() < deadline:
                time.sleep(0.1)

        msgs = messages(engine.lines)
        # The summary is cleared after each automatic run.
        self.assertEqual(msgs.count("1 test(s) passed."), 2, engine.stdout)
        self.assertEqual(msgs.count("**** :test_auto_gets_its_own_args"), 2, engine.stdout)
        self.assertNotIn("Failed.", msgs, engine.stdout)

        probes = self.probes(engine)
        self.assertGreaterEqual(len(probes), 4, engine.stdout)
        for same_args, global_args, _, _ in probes:
            self.assertEqual((same_args, global_args), ("true", "true"), engine.stdout)
        ticks = [int(p[2]) for p in probes]
        ids = [int(p[3]) for p in probes]
        self.assertEqual(ticks, sorted(set(ticks)), engine.stdout)
        self.assertEqual(ids, sorted(set(ids)), engine.stdout)
        self.assertEqual(engine.stop(), 0, engine.stderr)

    def test_auto_test_run_on_request(self):
        box = self.sandbox()
        main = self.read(os.path.join(FIXTURES, "test_runner", "app", "main.rb"))
        main += "\ndef boot args\n  $orb.on_tick_count(150) { $orb.auto_test_run }\nend\n"
        box.game(fixture="test_runner", files={"tests/game_tests.rb": AUTO_TESTS, "app/main.rb": main})
        engine = box.start(["game"])
        engine.wait_for_stdout("test(s) failed.", timeout=30)
        msgs = messages(engine.lines)
        self.assertInOrder(["* INFO: ~auto_test_run~ invoked (", "tests/game_tests.rb",
                            "* TEST: orb.test.start has been invoked.", "1 test(s) passed."], msgs)
        invoked = [m for m in msgs if m.startswith("* INFO: ~auto_test_run~ invoked (")]
        self.assertRegex(invoked[0], r"^\* INFO: ~auto_test_run~ invoked \(\d+\)\.$")
        self.assertEqual(engine.stop(), 0, engine.stderr)

