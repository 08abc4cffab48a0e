#!/usr/bin/env python3
"""Writes source/foundation/kvnet_codepage_tables.cpp: the byte -> UTF-16 tables of the
single-byte code pages that kvnet_codepage.cpp converts without iconv.

The build never runs this script. Rerun it by hand from the repository root after changing it,
then commit the script and the file it wrote together:

    python3 tools/gen_codepages.py

It needs only Python 3's standard library. The tables come from Python's own codecs, adjusted to
behave like the Windows converters of the same code page numbers:

  * every byte decodes to one character and no two bytes decode to the same one, so any byte
    string survives a decode/encode round trip;
  * a byte the codec leaves undefined becomes, as on Windows, the C1 control of the same value
    when it lies in 0x80..0x9F and that control is not used elsewhere in the page; any other
    undefined byte becomes a private-use character, U+F700 + byte (Windows also reads such
    bytes as private-use characters, not always these ones);
  * where Windows maps a byte differently from Python's codec, Windows wins (OVERRIDES below).

Bytes 0x00..0x7F are ASCII in every page. The DOS pages' 0x7F (and 0x01..0x1F) decode to the
ASCII controls, as Windows converts them when not asked for the display glyphs (U+2302 and
friends), and as Python's codecs already have them.

The script refuses to write anything when a table breaks one of these rules, or when bytes
0x00..0x7F are not plain ASCII (the converter relies on that for its ASCII fast path).
"""

import codecs
import pathlib
import sys

# (code page, Python codec, description), in code page order.
PAGES = [
    (437, "cp437", "DOS United States"),
    (737, "cp737", "DOS Greek"),
    (850, "cp850", "DOS Western European"),
    (852, "cp852", "DOS Central European"),
    (855, "cp855", "DOS Cyrillic"),
    (857, "cp857", "DOS Turkish"),
    (860, "cp860", "DOS Portuguese"),
    (861, "cp861", "DOS Icelandic"),
    (862, "cp862", "DOS Hebrew"),
    (863, "cp863", "DOS Canadian French"),
    (864, "cp864", "DOS Arabic"),
    (865, "cp865", "DOS Nordic"),
    (866, "cp866", "DOS Russian"),
    (869, "cp869", "DOS Modern Greek"),
    (874, "cp874", "Thai"),
    (1250, "cp1250", "Windows Central European"),
    (1251, "cp1251", "Windows Cyrillic"),
    (1252, "cp1252", "Windows Western European"),
    (1253, "cp1253", "Windows Greek"),
    (1254, "cp1254", "Windows Turkish"),
    (1255, "cp1255", "Windows Hebrew"),
    (1256, "cp1256", "Windows Arabic"),
    (1257, "cp1257", "Windows Baltic"),
    (1258, "cp1258", "Windows Vietnamese"),
    (10000, "mac_roman", "Mac Roman"),
    (10006, "mac_greek", "Mac Greek"),
    (10007, "mac_cyrillic", "Mac Cyrillic"),
    (10029, "mac_latin2", "Mac Central European"),
    (28591, "latin_1", "ISO-8859-1 Latin 1"),
    (28592, "iso8859_2", "ISO-8859-2 Latin 2"),
    (28593, "iso8859_3", "ISO-8859-3 Latin 3"),
    (28594, "iso8859_4", "ISO-8859-4 Baltic"),
    (28595, "iso8859_5", "ISO-8859-5 Cyrillic"),
    (28596, "iso8859_6", "ISO-8859-6 Arabic"),
    (28597, "iso8859_7", "ISO-8859-7 Greek"),
    (28598, "iso8859_8", "ISO-8859-8 Hebrew"),
    (28599, "iso8859_9", "ISO-8859-9 Turkish"),
]

# Bytes whose Windows mapping differs from Python's codec: {code page: {byte: UTF-16 unit}}.
OVERRIDES = {
    # Python's cp864 reads 0x25 as U+066A ARABIC PERCENT SIGN; the Windows page keeps the ASCII
    # '%' there, like every other page.
    864: {0x25: 0x0025},
    # The Windows page has U+05BA HEBREW POINT HOLAM HASER FOR VAV at 0xCA, which Python's cp1255
    # leaves undefined.
    1255: {0xCA: 0x05BA},
    # Python's mac_cyrillic is the later Mac table with U+0490 at 0xA2 and the euro sign at 0xFF.
    # The Windows page 10007 keeps the older assignments, U+00A2 CENT SIGN and U+00A4 CURRENCY
    # SIGN, as glibc's CP10007 (MS-MAC-CYRILLIC) has them; both keep Python's U+0491 at 0xB6.
    10007: {0xA2: 0x00A2, 0xFF: 0x00A4},
}

# Base of the private-use characters that stand for undefined bytes outside 0x80..0x9F.
PRIVATE_USE_BASE = 0xF700

REPOSITORY = pathlib.Path(__file__).resolve().parent.parent
OUTPUT = REPOSITORY / "source/foundation/kvnet_codepage_tables.cpp"


def build_table(code_page, codec):
    """Returns the 256 UTF-16 units of a code page, or raises ValueError."""
    codecs.lookup(codec)  # raises LookupError for a misspelt codec
    table = [None] * 256
    for byte in range(256):
        try:
            text = bytes([byte]).decode(codec)
        except UnicodeDecodeError:
            continue
        if len(text) != 1 or ord(text) > 0xFFFF:
            raise ValueError(f"{code_page}: byte {byte:02X} decodes to {text!r}")
        table[byte] = ord(text)
    for byte, unit in OVERRIDES.get(code_page, {}).items():
        table[byte] = unit

    used = {unit for unit in table if unit is not None}
    for byte in range(256):
        if table[byte] is not None:
            continue
        if 0x80 <= byte <= 0x9F and byte not in used:
            unit = byte
        else:
            unit = PRIVATE_USE_BASE + byte
        if unit in used:
            raise ValueError(f"{code_page}: no free character for undefined byte {byte:02X}")
        table[byte] = unit
        used.add(unit)

    if len(set(table)) != 256:
        raise ValueError(f"{code_page}: two bytes decode to the same character")
    if table[:0x80] != list(range(0x80)):
        raise ValueError(f"{code_page}: bytes 00..7F are not ASCII")
    if any(0xD800 <= unit <= 0xDFFF for unit in table):
        raise ValueError(f"{code_page}: a byte decodes to a surrogate")
    return table


def format_table(code_page, codec, description, table):
    lines = [f"// {code_page}: {description} (Python codec {codec})."]
    overrides = OVERRIDES.get(code_page, {})
    if overrides:
        changed = ", ".join(f"{byte:02X}" for byte in sorted(overrides))
        lines.append(f"// Follows the Windows page at {changed}, where the codec differs.")
    lines.append(f"constexpr char16_t kCp{code_page}[256] = {{")
    for row in range(0, 256, 8):
        units = ", ".join(f"0x{unit:04X}" for unit in table[row : row + 8])
        lines.append(f"    {units},  // {row:02X}")
    lines.append("};")
    return "\n".join(lines)


def main():
    if [page[0] for page in PAGES] != sorted(page[0] for page in PAGES):
        raise ValueError("PAGES must be sorted by code page")
    tables = "\n\n".join(
        format_table(code_page, codec, description, build_table(code_page, codec))
        for code_page, codec, description in PAGES
    )
    entries = [(f"{{{code_page}, kCp{code_page}}},", text) for code_page, _, text in PAGES]
    width = max(len(entry) for entry, _ in entries)
    entries = "\n".join(f"    {entry:<{width}}  // {description}" for entry, description in entries)

    text = f"""\
// Generated by tools/gen_codepages.py from Python's codecs; do not edit by hand.
// To change a table, change the script and run from the repository root:
//   python3 tools/gen_codepages.py
//
// One table per single-byte code page: the UTF-16 unit of each byte 00..FF. Bytes the page leaves
// undefined read as the C1 control of the same value (80..9F) or as U+F700 + byte, so every
// table is one-to-one.

#include "foundation/kvnet_codepage_tables.h"

namespace kvnet {{

namespace {{

{tables}

constexpr TSingleByteTable kTables[] = {{
{entries}
}};

}}  // namespace

std::span<const TSingleByteTable> SingleByteTables() {{
  return kTables;
}}

}}  // namespace kvnet
"""
    OUTPUT.write_text(text, encoding="utf-8", newline="\n")
    print(f"wrote {OUTPUT} ({len(PAGES)} code pages)")


if __name__ == "__main__":
    try:
        main()
    except (ValueError, LookupError) as error:
        sys.exit(f"gen_codepages.py: {error}")
