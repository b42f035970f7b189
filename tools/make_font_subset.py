#!/usr/bin/python3
"""Writes the panel's own font: a subset of Noto Sans Mono CJK SC (Debian
package fonts-noto-cjk) holding every character the program shows.

The characters are those inside string literals of the C++ sources under
panel/, acquisition/, history/, recording/, review/, plot/, channels/, rules/, export/ and
data/ (folders that
do not exist are skipped), printable ASCII, and the ones listed in
font_subset_extra.txt beside this script. Hints and metrics are kept, so text renders exactly as
with the system face. The subset gets its own family name.

    tools/make_font_subset.py            # writes panel/fonts/<file> and LICENSE
    tools/make_font_subset.py --check F  # exit 1 if font F lacks a character

Runs with Debian's python3 and python3-fonttools.
"""
import argparse
import pathlib
import re
import sys
import unicodedata

from fontTools import subset
from fontTools.ttLib import TTCollection, TTFont, newTable

ROOT = pathlib.Path(__file__).resolve().parent.parent
SOURCE_DIRS = ("panel", "acquisition", "history", "recording", "review", "plot", "channels", "data", "rules", "export")
SOURCE_SUFFIXES = {".cpp", ".cc", ".cxx", ".h", ".hpp"}
EXTRA_FILE = pathlib.Path(__file__).resolve().parent / "font_subset_extra.txt"

BASE_TTC = pathlib.Path("/usr/share/fonts/opentype/noto/NotoSansCJK-Regular.ttc")
BASE_FAMILY = "Noto Sans Mono CJK SC"
# Not "Noto" (Google's trademark) nor "Source" (the licence's Reserved Font Name).
FAMILY = "Adpanel Mono"
POSTSCRIPT_NAME = "AdpanelMono-Regular"
OUTPUT = ROOT / "panel" / "fonts" / (POSTSCRIPT_NAME + ".otf")
LICENCE_OUTPUT = OUTPUT.parent / "LICENSE"
DEBIAN_COPYRIGHT = pathlib.Path("/usr/share/doc/fonts-noto-cjk/copyright")
RESERVED_NAME = "Source"

# One C++ token at a time, so that quotes inside comments, character
# literals and digit separators (1'000) never start a string.
TOKEN = re.compile(
    r"""//[^\n]*
      | /\*.*?\*/
      | (?:u8|[uUL])?R"(?P<delim>[^()\\\s]{0,16})\((?P<raw>.*?)\)(?P=delim)"
      | (?:u8|[uUL])?"(?P<str>(?:\\.|[^"\\\n])*)"
      | (?:u8|[uUL])?'(?:\\.|[^'\\\n])*'
      | \.?[0-9](?:[eEpP][+-]|'[0-9A-Za-z_]|[0-9A-Za-z_.])*
      | [A-Za-z_][A-Za-z0-9_]*
      | .""",
    re.DOTALL | re.VERBOSE,
)
ESCAPE = re.compile(r"\\(u[0-9A-Fa-f]{4}|U[0-9A-Fa-f]{8}|x[0-9A-Fa-f]+|[0-7]{1,3}|.)", re.DOTALL)
SIMPLE_ESCAPES = {"n": "\n", "t": "\t", "r": "\r", "a": "\a", "b": "\b", "f": "\f", "v": "\v"}


def unescape(body):
    def one(m):
        e = m.group(1)
        if e[0] in "uUx":
            return chr(int(e[1:], 16))
        if e[0] in "01234567":
            return chr(int(e, 8))
        return SIMPLE_ESCAPES.get(e, e)

    return ESCAPE.sub(one, body)


def shown(text):
    """The characters of text that can be drawn (no controls or format marks)."""
    return {c for c in text if not unicodedata.category(c).startswith("C")}


def literal_chars(root):
    """{character: first 'file:line' using it} over every string literal."""
    where = {}
    for folder in SOURCE_DIRS:
        base = root / folder
        if not base.is_dir():
            continue
        for path in sorted(base.rglob("*")):
            if path.suffix not in SOURCE_SUFFIXES or not path.is_file():
                continue
            text = path.read_text(encoding="utf-8")
            for m in TOKEN.finditer(text):
                if m.group("raw") is not None:
                    chars = shown(m.group("raw"))
                elif m.group("str") is not None:
                    chars = shown(unescape(m.group("str")))
                else:
                    continue
                line = text.count("\n", 0, m.start()) + 1
                for c in chars:
                    where.setdefault(c, f"{path.relative_to(root)}:{line}")
    return where


def required_chars(root):
    where = literal_chars(root)
    for c in map(chr, range(0x20, 0x7F)):
        where.setdefault(c, "printable ASCII")
    for line in EXTRA_FILE.read_text(encoding="utf-8").splitlines():
        if not line.startswith("#"):
            for c in shown(line) - {" "}:
                where.setdefault(c, EXTRA_FILE.name)
    return where


def english_name(font, name_id):
    rec = font["name"].getName(name_id, 3, 1, 0x409)
    return rec.toUnicode() if rec else None


def open_base():
    """The Mono SC face of the collection, found by its family name."""
    for index, face in enumerate(TTCollection(str(BASE_TTC), lazy=True).fonts):
        if english_name(face, 1) == BASE_FAMILY:
            return TTFont(str(BASE_TTC), fontNumber=index, lazy=False)
    sys.exit(f"error: no face named {BASE_FAMILY!r} in {BASE_TTC}")


def missing_from(font, where):
    cmap = font.getBestCmap()
    return sorted((c for c in where if ord(c) not in cmap), key=ord)


def rename(font, base_version):
    """Only English names, all new: a localised name kept from the base face
    would make fontconfig list the subset under the system family too."""
    copyright_text = english_name(font, 0)
    licence = english_name(font, 13)
    licence_url = english_name(font, 14)
    table = newTable("name")
    table.names = []
    names = {
        0: copyright_text,
        1: FAMILY,
        2: "Regular",
        3: f"{base_version};{POSTSCRIPT_NAME}",
        4: f"{FAMILY} Regular",
        5: base_version,
        6: POSTSCRIPT_NAME,
        10: f"Subset of {BASE_FAMILY} holding the characters of the adcard panel; "
            "a Modified Version under the SIL Open Font License 1.1.",
        13: licence,
        14: licence_url,
    }
    for name_id, text in names.items():
        if text:
            table.setName(text, name_id, 3, 1, 0x409)
    font["name"] = table
    cff = font["CFF "].cff
    cff.fontNames = [POSTSCRIPT_NAME]
    top = cff.topDictIndex[0]
    top.FullName = f"{FAMILY} Regular"
    top.FamilyName = FAMILY
    if hasattr(top, "CIDFontName"):
        top.CIDFontName = POSTSCRIPT_NAME


def licence_text(copyright_text):
    """The OFL as Debian ships it with the face, under the face's own notice."""
    lines = DEBIAN_COPYRIGHT.read_text(encoding="utf-8").splitlines()
    start = lines.index("License: SIL-1.1", lines.index("License: SIL-1.1") + 1)
    body = []
    for line in lines[start + 1:]:
        if not line.startswith(" "):
            break
        body.append("" if line == " ." else line[1:])
    return (f"{FAMILY} ({OUTPUT.name}) is a Modified Version of {BASE_FAMILY}, made by\n"
            f"tools/make_font_subset.py from Debian's fonts-noto-cjk: a subset of its glyphs,\n"
            f"renamed. It is licensed under the SIL Open Font License 1.1 below.\n\n"
            f"{copyright_text.rstrip('.')}, with Reserved Font Name '{RESERVED_NAME}'.\n\n"
            + "\n".join(body).rstrip() + "\n")


def make(where):
    font = open_base()
    lacking = missing_from(font, where)
    if lacking:
        listing = "\n".join(f"  U+{ord(c):04X} {c}  ({where[c]})" for c in lacking)
        sys.exit(f"error: {BASE_FAMILY} has no glyph for:\n{listing}")
    base_version = english_name(font, 5)
    copyright_text = english_name(font, 0)
    options = subset.Options()
    # The default feature list holds every feature a shaper applies unasked.
    options.hinting = True
    options.notdef_outline = True
    options.name_IDs = ["*"]
    options.name_languages = ["*"]
    subsetter = subset.Subsetter(options)
    subsetter.populate(unicodes=[ord(c) for c in where])
    subsetter.subset(font)
    rename(font, base_version)
    font.recalcTimestamp = False  # the same sources give the same file
    OUTPUT.parent.mkdir(parents=True, exist_ok=True)
    font.save(str(OUTPUT))
    LICENCE_OUTPUT.write_text(licence_text(copyright_text), encoding="utf-8")
    print(f"{OUTPUT.relative_to(ROOT)}: {len(where)} characters, {OUTPUT.stat().st_size} bytes")


def check(font_path, where):
    lacking = missing_from(TTFont(str(font_path)), where)
    for c in lacking:
        print(f"U+{ord(c):04X} {c}  used at {where[c]} is not in {font_path}", file=sys.stderr)
    if lacking:
        print("run tools/make_font_subset.py and commit the new font", file=sys.stderr)
        return 1
    print(f"{font_path}: all {len(where)} characters present")
    return 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--check", metavar="FONT", type=pathlib.Path,
                        help="only check that FONT has every character; exit 1 if not")
    parser.add_argument("--root", type=pathlib.Path, default=ROOT,
                        help="the project's root (default: this script's parent folder)")
    args = parser.parse_args()
    where = required_chars(args.root.resolve())
    if args.check:
        return check(args.check, where)
    make(where)
    return 0


if __name__ == "__main__":
    sys.exit(main())
