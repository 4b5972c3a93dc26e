"""The running engine's threads, its orderly shutdown and the crash handler."""

import signal
import time

from harness import EngineTestCase, expected_janitor_threads, thread_names


class LifecycleTest(EngineTestCase):
    def test_threads_are_named(self):
        box = self.sandbox()
        box.game()
        engine = box.start(["game"])
        engine.wait_for_stdout("Janitor is using")
        names = thread_names(engine.pid)
        self.assertEqual(names.count("simulation"), 1, names)
        janitors = sorted(n for n in names if n.startswith("janitor"))
        self.assertEqual(janitors, ["janitor%d" % i for i in range(1, expected_janitor_threads() + 1)])
        self.assertEqual(engine.stop(), 0, engine.stderr)

    def test_orderly_shutdown_on_signal(self):
        for sig in (signal.SIGTERM, signal.SIGINT):
            with self.subTest(signal=sig.name):
                box = self.sandbox()
                box.game()
                engine = box.start(["game"])
                engine.wait_for_stdout("Janitor is using")
                # Let it run a few dozen steps first.
                time.sleep(0.5)
                self.assertIsNone(engine.proc.poll(), "engine ended by itself:\n" + engine.stderr)
                rc = engine.stop(sig)
                self.assertEqual(rc, 0, engine.stderr)
                self.assertEqual(engine.lines[-1], "* [Engine] Logging shutting down")
                log = self.read(box.log_path()).splitlines()
                self.assertEqual(log[-1], "* [Engine] Logging shutting down")
                self.assertEqual(log.count("* [Engine] Logging shutting down"), 1)

    def test_segfault_signal(self):
        box = self.sandbox()
        box.game()
        engine = box.start(["game"])
        engine.wait_for_stdout("Janitor is using")
        rc = engine.stop(signal.SIGSEGV)
        self.assertEqual(rc, 1, engine.stderr)
        self.assertIn("Error: signal 11:\n", engine.stderr)
