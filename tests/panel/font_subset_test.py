#!/usr/bin/python3
"""The font subset script's reading of C++ sources, and its check of a font
against the characters the sources use. Usage: font_subset_test.py SCRIPT FONT"""
import contextlib
import importlib.util
import io
import pathlib
import sys
import tempfile
import unittest

SCRIPT, FONT = map(pathlib.Path, sys.argv[1:3])
found = importlib.util.spec_from_file_location("make_font_subset", SCRIPT)
subset = importlib.util.module_from_spec(found)
found.loader.exec_module(subset)

# (row, C++ source, characters that must be found, characters that must not)
CASES = [
    ("plain_and_qstringliteral", 'f("通道"); QStringLiteral("停");', "通道停", ""),
    ("comments_ignored", '// "鑫" here\n/* "森" */ f("开");', "开", "鑫森"),
    ("char_literal_quote_and_digit_separator", "c = '\"'; n = 1'000; f(\"位\");", "位", ""),
    ("raw_string_with_quotes", 'R"x(a "值" )x";', "值", ""),
    ("u8_prefix_and_escapes", r'u8"\u9611\x41\"\n区";', "\u9611A\"区", "\n"),
    ("two_literals_on_one_line", 'a("输") + b("出");', "输出", ""),
]


def scan(files):
    with tempfile.TemporaryDirectory() as d:
        root = pathlib.Path(d)
        for name, text in files.items():
            (root / name).parent.mkdir(parents=True, exist_ok=True)
            (root / name).write_text(text, encoding="utf-8")
        return subset.literal_chars(root)


class Literals(unittest.TestCase):
    def test_cases(self):
        for row, source, found, absent in CASES:
            with self.subTest(row):
                chars = scan({"panel/a.cpp": source})
                self.assertLessEqual(set(found), set(chars))
                self.assertFalse(set(absent) & set(chars))

    def test_every_source_folder_and_suffix_but_no_other(self):
        chars = scan({"history/a.h": '"史"', "recording/b.cpp": '"录"', "acquisition/c.hpp": '"采"',
                      "driver/d.cpp": '"驱"', "panel/e.txt": '"文"'})
        self.assertEqual(set(chars), set("史录采"))


class Check(unittest.TestCase):
    def run_check(self, root):
        with contextlib.redirect_stdout(io.StringIO()), contextlib.redirect_stderr(io.StringIO()) as err:
            return subset.check(FONT, subset.required_chars(root)), err.getvalue()

    def test_a_character_the_font_lacks_is_named_with_its_place(self):
        with tempfile.TemporaryDirectory() as d:
            (pathlib.Path(d) / "panel").mkdir()
            (pathlib.Path(d) / "panel" / "x.cpp").write_text('\n\nf("通鑫");\n', encoding="utf-8")
            status, err = self.run_check(pathlib.Path(d))
        self.assertEqual(status, 1)
        self.assertIn("U+946B", err)
        self.assertIn("panel/x.cpp:3", err)
        self.assertNotIn("U+901A", err)

    def test_the_committed_font_has_the_extra_characters(self):
        with tempfile.TemporaryDirectory() as d:
            self.assertEqual(self.run_check(pathlib.Path(d))[0], 0)

    def test_the_face_keeps_its_own_name_apart_from_the_system_face(self):
        from fontTools.ttLib import TTFont
        names = {n.toUnicode() for n in TTFont(str(FONT))["name"].names}
        self.assertIn(subset.FAMILY, names)
        self.assertFalse([n for n in names if "Noto Sans" in n and "Subset of" not in n], names)
        self.assertFalse([n for n in names if subset.RESERVED_NAME in n], names)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
