"""FFI::File and the runtime's file helpers, driven from game code in a temporary game folder."""

import os

from harness import EngineTestCase, game_results

NOTE_KEYS = "[:path, :file_size, :mod_time, :create_time, :access_time, :readonly, :file_type]"

EXPECTED = {
    "write_nested": "true",
    "read_nested": '"hello"',
    "append": "true",
    "read_appended": '"hello world"',
    "append_creates": "true",
    "write_empty_truncates": '[true, true, ""]',
    "binary_round_trip": '[true, "a\\x00b\\xff", 4]',
    "read_missing": "nil",
    "exists_file": "true",
    "exists_directory": "true",
    "exists_missing": "false",
    "mtime_file_positive": "true",
    "mtime_missing": "-1",
    "stat_keys": NOTE_KEYS,
    "stat_path": '"out/deep/er/note.txt"',
    "stat_size": "11",
    "stat_type": ":regular",
    "stat_readonly": "false",
    "stat_directory_type": ":directory",
    "stat_missing": "nil",
    "list_out": '["bin.dat", "by_append.txt", "deep", "trunc.txt"]',
    "list_app_has_main": "true",
    "write_root": "true",
    "append_root": "true",
    "delete_file": "[true, nil, false]",
    "delete_missing": '[:raised, "RuntimeError", "Error occurred in delete_file: PHYSFS_ERR_NOT_FOUND"]',
    "orb_write_file": "true",
    "orb_append_file": "true",
    "orb_read_file": '"12"',
    "orb_list_files": "true",
    "orb_stat_file": "2",
    "orb_delete_file": "[nil, false]",
    "orb_delete_missing": "nil",
}

REJECTED_PATHS = ["parent", "nested_parent", "absolute", "backslash", "nul"]
WRITE_METHODS = ["write", "append", "write_root", "append_root"]


class RuntimeFilesTest(EngineTestCase):
    def run_game(self):
        box = self.sandbox()
        game = box.game("game", "rt_files")
        engine = box.start(["game"])
        rc = engine.wait()
        self.assertEqual(rc, 0, engine.stdout + engine.stderr)
        return box, game, engine, game_results(engine.lines)

    def test_file_tables(self):
        box, game, engine, results = self.run_game()

        for name, expected in EXPECTED.items():
            with self.subTest(case=name):
                self.assertEqual(results.get(name), expected, engine.stdout)

        with self.subTest(case="game_dir"):
            # The game directory as given on the command line, or resolved to an absolute path.
            self.assertIn(results.get("game_dir"), ('"game"', '"%s"' % game))

        with self.subTest(case="write_type_error"):
            self.assertTrue(results.get("write_type_error", "").startswith('[:raised, "TypeError"'),
                            results.get("write_type_error"))

        with self.subTest(case="base_dir"):
            base = results.get("base_dir", "nil")
            self.assertTrue(base.startswith('"'), base)
            self.assertEqual(os.path.realpath(base.strip('"')), box.engine_dir)

        with self.subTest(case="files on disk"):
            self.assertEqual(self.read(os.path.join(game, "out", "deep", "er", "note.txt")), "hello world")
            with open(os.path.join(game, "out", "bin.dat"), "rb") as f:
                self.assertEqual(f.read(), b"a\0b\xff")
            self.assertEqual(os.path.getsize(os.path.join(game, "out", "trunc.txt")), 0)
            self.assertEqual(self.read(os.path.join(box.engine_dir, "root_note.txt")), "root+more")
            self.assertFalse(os.path.exists(os.path.join(game, "out", "del.txt")))
            self.assertFalse(os.path.exists(os.path.join(game, "out", "orb.txt")))

    def test_rejected_write_paths(self):
        box, game, engine, results = self.run_game()
        for label in REJECTED_PATHS:
            for method in WRITE_METHODS:
                name = "reject_%s_%s" % (method, label)
                with self.subTest(case=name):
                    self.assertEqual(results.get(name), "false", engine.stdout)
        # Nothing was written outside the game and engine folders, nor under odd names inside them.
        for path in (os.path.join(box.root, "escape.txt"), os.path.join(box.engine_dir, "escape.txt"),
                     os.path.join(game, "escape.txt"), os.path.join(game, "a\\b.txt"),
                     os.path.join(box.engine_dir, "a\\b.txt"), os.path.join(game, "mf_e2e_absolute.txt"),
                     os.path.join(box.engine_dir, "mf_e2e_absolute.txt"), os.path.join(game, "nul"),
                     os.path.join(box.engine_dir, "nul")):
            with self.subTest(path=path):
                self.assertFalse(os.path.exists(path))
        self.assertFalse(os.path.exists("/mf_e2e_absolute.txt"))
