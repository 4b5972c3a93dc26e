"""Game state through the real executable: nil punning over several ticks,
and saving and loading args.state across two runs of the engine.

The fixture games print their answers as "R name=<inspect>" lines; warnings
and errors are read from stdout, where multi-line log messages keep their
line breaks.
"""

import glob
import os
import unittest

from harness import EngineTestCase, game_results

FIRST_USE = "* Warning: Method invoked on nil."
THRASH = "* WARNING: Method invocation on a nil value detected."
LIMIT_ERROR = "* ERROR:\nThe method ~+~ was invoked on ~score~ within args.state, but ~score~ has\n"


def line_index(lines, needle, start=0):
    for i in range(start, len(lines)):
        if needle in lines[i]:
            return i
    return -1


class NilPunningTest(EngineTestCase):
    def test_warnings_then_error_over_ticks(self):
        box = self.sandbox()
        box.game(fixture="state_punning")
        engine = box.start()
        engine.wait_for_stdout("* EXCEPTION: * ERROR:")
        engine.wait_for_stdout("Game state and exception will be written to")
        engine.stop()
        out = engine.stdout
        lines = out.splitlines()
        results = game_results(lines)

        # One use per tick; every use leaves score nil.
        for t in range(1, 6):
            self.assertEqual(results.get("use%d" % t), "nil", out)
        self.assertNotIn("use6", results, "the sixth use raises out of tick")
        self.assertEqual(out.count(FIRST_USE), 1, out)
        self.assertEqual(out.count(THRASH), 1, out)
        self.assertEqual(out.count(LIMIT_ERROR), 1, out)

        first = line_index(lines, FIRST_USE)
        use1 = line_index(lines, "R use1=")
        use3 = line_index(lines, "R use3=")
        thrash = line_index(lines, THRASH)
        use4 = line_index(lines, "R use4=")
        use5 = line_index(lines, "R use5=")
        error = line_index(lines, "* EXCEPTION: * ERROR:")
        self.assertTrue(0 <= first < use1, out)
        self.assertTrue(use3 < thrash < use4, "the thrash warning comes with the fourth use\n" + out)
        self.assertTrue(use5 < error, out)
        self.assertIn("value of nil (the invocation of ~+~ was suppressed). Consider setting\n"
                      "a default value for ~score~ to avoid null reference exceptions later on.\"\n"
                      "** app/main.rb:", out)
        self.assertIn("member: [+]\nattribute: [score].\nSet a default value for this property.", out)
        self.assertIn(":__thrash_count__=>{:+=>6}", out)

        # The other paths, on the first ticks.
        self.assertEqual(results.get("a_class"), "ORB::OpenEntity", out)
        self.assertEqual(results.get("a_name"), ":a")
        self.assertEqual(results.get("a_b"), "1")
        self.assertTrue(results.get("indexor", "").startswith(
            '"* ERROR: Access using ~[] (array indexor)~ on uninitialized Entities is disallowed.\\n'), out)
        self.assertEqual(results.get("disable_nil_punning!"),
                         '"* ERROR: Can\'t call disable_nil_punning inside tick.\\n"', out)
        self.assertEqual(results.get("enable_nil_punning!"),
                         '"* ERROR: Can\'t call ~enable_nil_punning~ inside tick.\\n"', out)


class SavedStateTest(EngineTestCase):
    def run_mode(self, box, game, mode, timeout=30):
        box.write(os.path.join(game, "mode.txt"), mode)
        result = box.run(["game"], timeout=timeout)
        self.assertExitStatus(result, 0)
        return result, game_results(result.lines)

    def require_literal_loader(self, results):
        if results.get("codegen") != "true":
            self.skipTest("this build has no ORB::Codegen.eval_hash")

    def test_save_then_load_in_a_new_run(self):
        box = self.sandbox()
        game = box.game(fixture="state_save")
        result, results = self.run_mode(box, game, "save")
        self.assertEqual(results.get("saved_tick"), "30", result.stdout)
        saved = os.path.join(game, "game_state.txt")
        stamped = glob.glob(os.path.join(game, "game_state_*.txt"))
        self.assertTrue(os.path.isfile(saved), result.stdout)
        self.assertEqual(len(stamped), 1, os.listdir(game))
        text = self.read(saved)
        self.assertEqual(self.read(stamped[0]), text)
        self.assertIn("State with length of %d saved to file game_state.txt." % len(text), result.stdout)
        # Whole-file writes leave nothing but the files themselves.
        self.assertEqual(sorted(n for n in os.listdir(game) if n not in ("app", "metadata", "logs")),
                         sorted(["game_state.txt", os.path.basename(stamped[0]), "mode.txt"]))
        self.assertIn(":tick_count=>30", text)
        self.assertIn(':name=>"Ann \\"the\\" \\#{brave} \\\\ end"', text)
        self.assertNotIn("__thrash_count__", text)

        result, results = self.run_mode(box, game, "load")
        self.require_literal_loader(results)
        out = result.stdout
        self.assertEqual(results.get("tick_count"), "30", out)
        self.assertEqual(results.get("next_tick"), "31 31", "the game continues from the loaded tick\n" + out)
        self.assertEqual(results.get("state_class"), "ORB::OpenEntity", out)
        self.assertEqual(results.get("name"), '"Ann \\"the\\" \\#{brave} \\\\ end"', out)
        self.assertEqual(results.get("hp"), "-3")
        self.assertEqual(results.get("pos"), "{:x=>-1.5, :y=>0.25, :z=>-0.0}")
        self.assertEqual(results.get("bag"), "[:sword, [-1, 2]]")
        self.assertEqual(results.get("bag_shared"), "true")
        self.assertEqual(results.get("enemies"), '[["ORB::OpenEntity", :enemy, -7], ["ORB::OpenEntity", :enemy, 2]]')
        self.assertEqual(results.get("boss_strict"), "true true")
        self.assertEqual(results.get("boss"), "[50, [:crown]]")
        self.assertEqual(results.get("boss_shared"), "true")
        self.assertEqual(results.get("boss_unknown"),
                         '"The *strict* entity with name :boss doesn\'t have the property mana. When converting\\n"')
        self.assertEqual(results.get("ratio"), "-12.5")

    def test_corrupt_and_code_carrying_files_do_not_load(self):
        box = self.sandbox()
        game = box.game(fixture="state_save")
        saved = os.path.join(game, "game_state.txt")
        for text, expected in (
                ("{:a=>1, :b=>", '"Failed to eval: {:a=>1, :b=>. * EXCEPTION: Invalid hash.'),
                ('{:a=>system("touch ran_from_save")}', '"Failed to eval: {:a=>system(\\"touch ran_from_save\\")}. '
                                                        '* EXCEPTION: ~ORB::Codegen.eval_hash~ failed.'),
                ("{:a=>`touch ran_from_save`}", '"Failed to eval: {:a=>`touch ran_from_save`}. '),
                ("{:a=>$ran_from_save = 1}", '"Failed to eval: {:a=>$ran_from_save = 1}. ')):
            with self.subTest(text):
                box.write(saved, text)
                result, results = self.run_mode(box, game, "corrupt")
                self.require_literal_loader(results)
                value = results.get("load", "")
                self.assertTrue(value.startswith(expected), result.stdout)
                self.assertTrue(value.endswith('.\\nSerialization data may be corrupt."'), value)
                self.assertFalse(os.path.exists(os.path.join(game, "ran_from_save")))
                self.assertFalse(os.path.exists(os.path.join(box.engine_dir, "ran_from_save")))

    def test_unsaveable_state_keeps_the_previous_file(self):
        box = self.sandbox()
        game = box.game(fixture="state_save")
        saved = os.path.join(game, "game_state.txt")
        box.write(saved, "{:score=>1}")
        result, _ = self.run_mode(box, game, "refuse")
        out = result.stdout
        self.assertIn("The state was not saved to game_state_", out)
        self.assertIn("  args.state.player.tool (an object of class Object)\n", out)
        self.assertIn("  args.state.speed (Infinity: not a finite number)\n", out)
        self.assertEqual(self.read(saved), "{:score=>1}")
        self.assertEqual(glob.glob(os.path.join(game, "game_state_*.txt")), [])

    def test_large_state_sets_the_flag_and_warns(self):
        box = self.sandbox()
        game = box.game(fixture="state_save")
        result, results = self.run_mode(box, game, "large")
        self.assertEqual(results.get("too_large"), "true", result.stdout)
        self.assertIn("* WARNING:\nThe serialization result of orb.serialize_state was larger than 20,000 characters. It's\n",
                      result.stdout)
        self.assertGreater(len(self.read(os.path.join(game, "game_state.txt"))), 25000)


if __name__ == "__main__":
    unittest.main()
