#!/usr/bin/env python3
"""Writes the documents of the end-to-end tests, the table files they must
produce and what morv_conv must make of each (expected.tsv), and what
morv_dump must print for tables (dump/). The table files and the printed
forms are written here independently of the programs; the timelines
(dump/*.svg) are morv_dump's own, checked by eye when their layout changes.

Run from this folder: python3 generate.py
"""
import json
import struct


def table(frames, textures, palettes):
    return (struct.pack("<I", len(frames))
            + b"".join(struct.pack("<H", f & 0xFFFF) for f in frames)
            + bytes(t & 0xFF for t in textures)
            + bytes(p & 0xFF for p in palettes))


def jis_x0208(sjis):
    """The JIS X 0208 row and column of a Shift_JIS pair."""
    lead, trail = sjis
    row = (lead - (0x80 if lead <= 0x9F else 0xC0)) * 2 - 1
    if trail >= 0x9F:
        return row + 1, trail - 0x9E
    return row, trail - (0x3F if trail <= 0x7E else 0x40)


def euc_jp(text):
    """`text` in EUC-JP as the tool chain writes it: the JIS X 0208 rows of
    its Shift_JIS (row 13 and the IBM extensions included), half-width
    katakana after 0x8E."""
    out = bytearray()
    for char in text:
        sjis = char.encode("cp932")
        if len(sjis) == 1:
            out += sjis if sjis[0] < 0x80 else b"\x8e" + sjis
            continue
        row, column = jis_x0208(sjis)
        out += bytes([row + 0xA0, column + 0xA0])
    return bytes(out)


def iso_2022_jp(text):
    """`text` (without half-width katakana) in ISO-2022-JP: the JIS X 0208
    rows as in euc_jp after ESC $ B, ASCII after ESC ( B, which each line
    and the text end in."""
    out, kanji = bytearray(), False
    for char in text:
        sjis = char.encode("cp932")
        if (len(sjis) == 2) != kanji:
            kanji = not kanji
            out += b"\x1b$B" if kanji else b"\x1b(B"
        out += bytes(b + 0x20 for b in jis_x0208(sjis)) if kanji else sjis
    return bytes(out) + (b"\x1b(B" if kanji else b"")


def document(body, title="テスト", encoding="Shift_JIS"):
    return f"""<?xml version="1.0" encoding="{encoding}"?>
<anm_document version="1.0.0">
  <head>
    <create user="tester" host="host01" date="2026-12-01" source="test.mb"/>
    <title>{title}</title>
    <generator name="pattern_export" version="2.4.1"/>
  </head>
  <body>
{body}
  </body>
</anm_document>
"""


def lists(frames, textures, palettes, sizes=None):
    fs, ts, ps = sizes or (len(frames), len(textures), len(palettes))
    join = lambda values: " ".join(str(v) for v in values)
    return f"""    <tex_pattern_data>
      <frame_idx size="{fs}">{join(frames)}</frame_idx>
      <image_idx size="{ts}">{join(textures)}</image_idx>
      <palette_idx size="{ps}">{join(palettes)}</palette_idx>
    </tex_pattern_data>"""


def write(name, data):
    with open(name, "wb") as f:
        f.write(data)


# The rows of expected.tsv, in the order the documents are written.
EXPECTED = []


def expect(what, document, table=None, message="-"):
    """A row of expected.tsv: `document` converts to `table`, or is refused
    with the message named `message` (the test maps the name to the
    converter's text). Names of files here, or paths in the source tree."""
    path = lambda name: name if "/" in name else "tests/data/" + name
    refused = table is None
    EXPECTED.append((what, path(document), "-" if refused else path(table),
                     "1" if refused else "0", message))


def write_expected():
    head = """# What morv_conv must make of each end-to-end document (written by
# generate.py): the table file it converts to and status 0, or "-", status 1
# and the name of the message it is refused with (read-failed or
# convert-failed, as msg::ByName in tests/TestSupport.cpp reads them). Paths
# are in the source tree; fields are separated by tabs.
# name\tdocument\ttable\tstatus\tmessage
"""
    write("expected.tsv", (head + "".join("\t".join(row) + "\n" for row in EXPECTED))
          .encode("utf-8"))


def unpack(data):
    """The frames, textures and palettes of a table file."""
    n, = struct.unpack_from("<I", data)
    return (list(struct.unpack_from(f"<{n}H", data, 4)), list(data[4 + 2 * n:4 + 3 * n]),
            list(data[4 + 3 * n:]))


def write_dumps(name, frames, textures, palettes):
    """dump/<name>.txt, .csv and .json: the table as morv_dump prints it."""
    n = len(frames)
    steps = list(zip(range(n), frames, textures, palettes))
    width = max(4, len(str(n - 1)))
    text = f"count {n}\n" + "step".rjust(width) + " frame texture palette\n" + "".join(
        f"{i:>{width}} {f:>5} {t:>7} {p:>7}\n" for i, f, t, p in steps)
    csv = "step,frame,texture,palette\n" + "".join(f"{i},{f},{t},{p}\n" for i, f, t, p in steps)
    rows = ",".join(f'\n  {{"frame": {f}, "texture": {t}, "palette": {p}}}'
                    for _, f, t, p in steps)
    js = f'{{"count": {n}, "steps": [{rows}' + ("\n]}\n" if n else "]}\n")
    assert json.loads(js) == {"count": n, "steps": [
        {"frame": f, "texture": t, "palette": p} for _, f, t, p in steps]}
    write(f"dump/{name}.txt", text.encode("ascii"))
    write(f"dump/{name}.csv", csv.encode("ascii"))
    write(f"dump/{name}.json", js.encode("ascii"))


def main():
    # The 12-byte example.
    write("two_steps.xml", document(lists([0, 30], [1, 2], [0, 0])).encode("cp932"))
    write("two_steps.bin", table([0, 30], [1, 2], [0, 0]))
    expect("two steps", "two_steps.xml", "two_steps.bin")

    # No entries: the count alone.
    write("size_zero.xml", document(lists([], [3, 4], [5], sizes=(0, 2, 1))).encode("cp932"))
    write("size_zero.bin", table([], [], []))
    expect("size zero", "size_zero.xml", "size_zero.bin")

    # Lists longer than frame_idx.size: only the first entries count.
    write("longer_lists.xml",
          document(lists([10, 20], [1, 2, 3, 4], [7, 8, 9])).encode("cp932"))
    write("longer_lists.bin", table([10, 20], [1, 2], [7, 8]))
    expect("longer lists", "longer_lists.xml", "longer_lists.bin")

    # Values wider than their tables are cut, never clamped.
    write("truncation.xml",
          document(lists([65536, 65541, -1, 3000000000], [300, 256, -1, 5],
                         [44, -2, 255, 0])).encode("cp932"))
    write("truncation.bin", table([0, 5, 0xFFFF, 0x7FFFFFFF], [44, 0, 0xFF, 5],
                                  [44, 0xFE, 255, 0]))
    expect("truncation", "truncation.xml", "truncation.bin")

    # No body: nothing to convert, a table of no entries.
    write("no_body.xml", document("").replace("<body>", "<nobody>")
          .replace("</body>", "</nobody>").encode("cp932"))
    write("no_body.bin", table([], [], []))
    expect("no body", "no_body.xml", "no_body.bin")

    # One content in three encodings, with a Japanese title and names.
    full_body = """    <tex_pattern_info frame_size="40" tool_start_frame="0" tool_end_frame="39" compress_material="on" material_size="2 1"/>
    <tex_pattern_list_data image_size="2" palette_size="1">
      <image_name index="0" name="目_開"/>
      <image_name index="1" name="目_閉"/>
      <palette_name index="0" name="肌"/>
    </tex_pattern_list_data>
""" + lists([0, 10, 20, 30, 35], [0, 1, 0, 1, 0], [0, 0, 0, 0, 0]) + """
    <tex_pattern_anm_array size="1">
      <tex_pattern_anm index="0" material_name="顔" data_size="5" data_head="0"/>
    </tex_pattern_anm_array>"""
    expected = table([0, 10, 20, 30, 35], [0, 1, 0, 1, 0], [0, 0, 0, 0, 0])
    title = "まばたき～①"
    write("encoding_sjis.xml", document(full_body, title, "Shift_JIS").encode("cp932"))
    write("encoding_utf8.xml", document(full_body, title, "UTF-8").encode("utf-8"))
    write("encoding_utf16.xml", document(full_body, title, "UTF-16").encode("utf-16"))
    write("encoding_eucjp.xml", euc_jp(document(full_body, title, "EUC-JP")))
    # With CR LF line ends, as Windows tools write them.
    write("encoding_iso2022jp.xml",
          iso_2022_jp(document(full_body, title, "ISO-2022-JP").replace("\n", "\r\n")))
    write("encoding.bin", expected)
    for what, name in (("Shift_JIS", "sjis"), ("UTF-8", "utf8"), ("UTF-16", "utf16"),
                       ("EUC-JP", "eucjp"), ("ISO-2022-JP", "iso2022jp")):
        expect(what, f"encoding_{name}.xml", "encoding.bin")
    # The example, converted to its table as the README shows.
    expect("the blink example", "examples/blink.xml", "examples/blink.expected.bin")

    # Documents the converter refuses.
    write("short_list.xml",
          document(lists([0, 10, 20], [1, 2], [0, 0, 0])).encode("cp932"))
    write("count_mismatch.xml",
          document(lists([0, 10], [1, 2], [0, 0], sizes=(3, 2, 2))).encode("cp932"))
    write("size_minus_one.xml",
          document('    <d><frame_idx size="-1"></frame_idx></d>').encode("cp932"))
    write("huge_size.xml",
          document('    <d><frame_idx size="2000000000"/></d>').encode("cp932"))
    whole = document(lists([0, 30], [1, 2], [0, 0])).encode("cp932")
    write("truncated.xml", whole[: len(whole) * 2 // 3])
    expect("a short list", "short_list.xml", message="convert-failed")
    expect("a size of minus one", "size_minus_one.xml", message="convert-failed")
    expect("a huge size", "huge_size.xml", message="convert-failed")
    expect("a count mismatch", "count_mismatch.xml", message="read-failed")
    expect("a truncated document", "truncated.xml", message="read-failed")
    # No document at all: a missing file, a directory.
    expect("a missing file", "missing.xml", message="read-failed")
    expect("a directory", "tests/data", message="read-failed")
    write_expected()

    # What morv_dump prints for the example's table and for no entries.
    with open("../../examples/blink.expected.bin", "rb") as f:
        write_dumps("blink", *unpack(f.read()))
    write_dumps("empty", [], [], [])
    # Frames that do not increase: the timeline places the steps by index.
    write("dump/unordered.bin", table([30, 10, 10, 20], [1, 1, 2, 2], [0, 3, 3, 0]))


if __name__ == "__main__":
    main()
