#!/usr/bin/env python3
"""Writes benchmark documents.

  generate.py typical OUT.xml [SCALE [ENCODING]]   about 300 frames, full head and body
  generate.py large OUT.xml [SCALE [ENCODING]]     three lists of SCALE x 6,000,000 values
  generate.py million OUT.xml [SCALE [ENCODING]]   three lists of SCALE x 1,000,000 values

Both carry a Japanese title and declare their encoding: Shift_JIS unless
ENCODING says UTF-8. The large document's
expected table file is summarised by check_table() in run.py: its length and
its first and last entries follow from the same formulas as below.
"""
import sys


def frame(i):
    return (i * 7) % 60001


def texture(i):
    return (i * 13) % 256


def palette(i):
    return (i * 5) % 16


def head(encoding):
    return f"""<?xml version="1.0" encoding="{encoding}"?>
<anm_document version="1.0.0">
  <head>
    <create user="bench" host="BENCH-01" date="2026-12-07T09:00:00" source="bench_scene.mb"/>
    <title>ベンチマーク用 テクスチャパターン</title>
    <comment>性能測定のための文書</comment>
    <generator name="pattern_export" version="2.4.1"/>
  </head>
  <body>
""".encode("cp932" if encoding == "Shift_JIS" else "utf-8")


def body_start(n, images, palettes):
    parts = [f'    <tex_pattern_info frame_size="{n}" tool_start_frame="0" tool_end_frame="{n - 1}" '
             f'compress_material="on" material_size="2 1"/>\n',
             f'    <tex_pattern_list_data image_size="{images}" palette_size="{palettes}">\n']
    parts += [f'      <image_name index="{i}" name="tex_{i:02d}"/>\n' for i in range(images)]
    parts += [f'      <palette_name index="{i}" name="pal_{i:02d}"/>\n' for i in range(palettes)]
    parts.append("    </tex_pattern_list_data>\n    <tex_pattern_data>\n")
    return "".join(parts).encode("ascii")


def tail(n):
    return f"""    </tex_pattern_data>
    <tex_pattern_anm_array size="2">
      <tex_pattern_anm index="0" material_name="mat_a" data_size="{n}" data_head="0"/>
      <tex_pattern_anm index="1" material_name="mat_b" data_size="{n}" data_head="0"/>
    </tex_pattern_anm_array>
  </body>
</anm_document>
""".encode("ascii")


def write_list(out, name, n, value, per_line=20):
    out.write(f'      <{name} size="{n}">\n'.encode("ascii"))
    chunk = []
    for start in range(0, n, per_line):
        chunk.append(" ".join(str(value(i)) for i in range(start, min(n, start + per_line))))
        if len(chunk) == 5000:
            out.write(("\n".join(chunk) + "\n").encode("ascii"))
            chunk = []
    if chunk:
        out.write(("\n".join(chunk) + "\n").encode("ascii"))
    out.write(f"      </{name}>\n".encode("ascii"))


def main():
    main_with(sys.argv[1:])


def main_with(args):
    kind, path = args[0], args[1]
    scale = int(args[2]) if len(args) > 2 else 1
    encoding = args[3] if len(args) > 3 else "Shift_JIS"
    n = 300 if kind == "typical" else {"large": 6_000_000, "million": 1_000_000}[kind] * scale
    with open(path, "wb") as out:
        out.write(head(encoding))
        out.write(body_start(n, 12 if kind == "typical" else 3, 4))
        write_list(out, "frame_idx", n, frame)
        write_list(out, "image_idx", n, texture)
        write_list(out, "palette_idx", n, palette)
        out.write(tail(n))


if __name__ == "__main__":
    main()
