"""Runs the Ruby-level tests of the runtime library (tests/runtime/*_tests.rb) through the executable.

Each file is copied into a fixture game at the same place as in the repository
(tests/runtime/<file>) and run with `moonforge game --test tests/runtime/<file>`;
every file must exit 0 with a summary that has no failure and no invalid test.
"""

import glob
import os

from harness import SOURCE, EngineTestCase, messages, run_test_file

RUNTIME_TESTS = sorted(glob.glob(os.path.join(SOURCE, "tests", "runtime", "*_tests.rb")))


class RuntimeLibraryTest(EngineTestCase):
    def test_files_are_present(self):
        self.assertTrue(RUNTIME_TESTS, "no tests/runtime/*_tests.rb files found under " + SOURCE)

    def test_runtime_library(self):
        for path in RUNTIME_TESTS:
            name = os.path.basename(path)
            with self.subTest(name):
                with open(path, encoding="utf-8") as f:
                    text = f.read()
                box = self.sandbox()
                result = run_test_file(box, text, rel="tests/runtime/" + name)
                msgs = messages(result.lines)
                report = "%s: exit status %r\nstdout:\n%s\nstderr:\n%s" % (
                    name, result.returncode, result.stdout, result.stderr)
                self.assertIn("** Summary", msgs, report)
                # Tests of the runner itself log results of their own; the
                # file's verdict is the last summary.
                last = msgs[len(msgs) - 1 - msgs[::-1].index("** Summary"):]
                self.assertIn("0 test(s) failed.", last, report)
                self.assertNotIn("*** Invalid", last, report)
                passed = [m for m in last if m.endswith(" test(s) passed.")]
                self.assertTrue(passed and passed[0] != "0 test(s) passed.", report)
                self.assertEqual(result.returncode, 0, report)
