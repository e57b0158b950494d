#!/usr/bin/env python3
"""Times morv_conv on hostile documents beside a bare Xerces-C parse.

  hostile.py BUILD_DIR DATA_DIR

Each document must be decided (converted or refused) within 1 s + 0.1 s per
MiB of input and within 64 MiB + 3 times the input of peak memory in all,
the converter's own included. Prints, per
document, the median of 3 runs of each program (a bare parse still going
after 10 s is stopped: it has no defence against entity bombs), morv_conv's
status and its peak resident memory, measured through the tests' rss_probe
so that this script's own pages do not count, and whether both bars hold.
"""
import os
import random
import statistics
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from run import run_any  # noqa: E402

ONE_STEP = ("<d><frame_idx size='1'>7</frame_idx><image_idx size='1'>1</image_idx>"
            "<palette_idx size='1'>2</palette_idx></d>")


def document(doctype, body, title="t"):
    return (f"<?xml version='1.0'?>{doctype}<r><head><title>{title}</title></head>"
            f"<body>{body}</body></r>").encode("utf-8")


def documents():
    """Name and a function that makes the document, one at a time (some are
    128 MiB)."""
    bomb = "<!DOCTYPE r [<!ENTITY e0 'lol'>" + "".join(
        f"<!ENTITY e{i} '{f'&e{i - 1};' * 10}'>" for i in range(1, 11)) + "]>"
    big = "<!DOCTYPE r [<!ENTITY e '" + "a" * 100_000 + "'>]>"
    numbers = "<!DOCTYPE r [<!ENTITY e '" + "1 " * 50_000 + "'>]>"
    names = "<!DOCTYPE r [<!ENTITY e '" + "<image_name/>" * 5000 + "'>]>"
    kilo = "<!ENTITY e '" + "x" * 1000 + "'>"
    default = kilo + "<!ATTLIST a v CDATA '" + "&e;" * 40_000 + "'>"
    default_name = kilo + "<!ATTLIST image_name name CDATA '" + "&e;" * 40_000 + "'>"
    chain = "<!ENTITY e0 'x'>" + "".join(f"<!ENTITY e{i} '&e{i - 1};'>" for i in range(1, 49_990))
    bindings = " ".join(f"xmlns:p{i}='u{i}'" for i in range(100_000))
    sizes = "".join(f"<frame_idx size='{1_000_001 + i}'/>" for i in range(10_000))
    namespace = "<!ENTITY b '" + "u" * (1 << 20) + "'><!ATTLIST x xmlns:p CDATA '&b;'>"
    declared = "".join(f" a{i} CDATA #IMPLIED" for i in range(50_000))
    declared_256 = "".join(f" a{i} CDATA #IMPLIED" for i in range(256))
    kanji = "<!ATTLIST image_name name CDATA '" + "\u3042" * 120 + "'>"
    # One 1 MiB file (written beside the documents by main) under 4,096
    # spellings of its path.
    spellings = [("." + "/" * (i // 64 + 1) + "./" * (i % 64) + "e.ent") for i in range(4096)]
    spelled = "".join(f"<!ENTITY e{i} SYSTEM '{p}'>" for i, p in enumerate(spellings))
    filler = b"c" * (128 << 20)
    # Records filling the memory budget nearly, then an attribute value of
    # 8,000 kB from an entity: the model, the parser and the copies share it.
    full_model = ("<!DOCTYPE r [<!ENTITY e '" + "x" * 1000 + "'>]>",
                  "<x a='" + "&e;" * 8000 + "'/>" + ONE_STEP)
    body = b"<r><body>" + ONE_STEP.encode("ascii")
    return [
        ("tiny", lambda: document("", ONE_STEP)),
        ("entity_bomb", lambda: document(bomb, "<x>&e10;</x>" + ONE_STEP)),
        ("quadratic_unread", lambda: document(big, "<x>" + "&e;" * 5000 + "</x>" + ONE_STEP)),
        ("quadratic_title", lambda: document(big, ONE_STEP, "&e;" * 10_000)),
        ("quadratic_names", lambda: document(names, "<tex_pattern_list_data>" + "&e;" * 5000 +
                                             "</tex_pattern_list_data>" + ONE_STEP)),
        ("quadratic_list", lambda: document(numbers, "<d><frame_idx size='3'>" + "&e;" * 5000 +
                                            "</frame_idx></d>")),
        ("quadratic_list_max", lambda: document(numbers, "<d><frame_idx size='2147483647'>" +
                                                "&e;" * 5000 + "</frame_idx></d>")),
        ("default_attribute", lambda: document("<!DOCTYPE r [" + default + "]>",
                                               "<a/>" * 200 + ONE_STEP)),
        ("default_name", lambda: document("<!DOCTYPE r [" + default_name + "]>",
                                          "<tex_pattern_list_data>" + "<image_name/>" * 200 +
                                          "</tex_pattern_list_data>" + ONE_STEP)),
        ("entity_chain", lambda: document("<!DOCTYPE r [" + chain + "]>",
                                          "<x>&e49989;</x>" + ONE_STEP)),
        ("namespace_default", lambda: document("<!DOCTYPE r [" + namespace + "]>",
                                               "<x/>" * 20_000 + ONE_STEP)),
        ("spelled_entity", lambda: document("<!DOCTYPE r [" + spelled + "]>", "<x>" + "".join(
            f"&e{i};" for i in range(4096)) + "</x>" + ONE_STEP)),
        ("declared_50k", lambda: document("<!DOCTYPE r [<!ATTLIST x" + declared + ">]>",
                                          "<x/>" * 10_000 + ONE_STEP)),
        ("declared_256", lambda: document("<!DOCTYPE r [<!ATTLIST x" + declared_256 + ">]>",
                                          "<x/>" * 2_500_000 + ONE_STEP)),
        ("kept_default_names", lambda: document("<!DOCTYPE r [" + kanji + "]>",
                                                "<tex_pattern_list_data>" +
                                                "<image_name/>" * 400_000 +
                                                "</tex_pattern_list_data>" + ONE_STEP)),
        ("kept_plain_names", lambda: document("", "<tex_pattern_list_data>" +
                                              "<image_name/>" * 2_000_000 +
                                              "</tex_pattern_list_data>" + ONE_STEP)),
        ("full_image_names", lambda: document(full_model[0], "<tex_pattern_list_data>" +
                                              "<image_name/>" * 2_400_000 +
                                              "</tex_pattern_list_data>" + full_model[1])),
        ("full_pattern_records", lambda: document(full_model[0], "<tex_pattern_anm_array>" +
                                                  "<tex_pattern_anm/>" * 1_500_000 +
                                                  "</tex_pattern_anm_array>" + full_model[1])),
        ("deep_then_flat", lambda: document("", "<a>" * 9997 + "<b/>" * 2_500_000 +
                                            "</a>" * 9997 + ONE_STEP)),
        ("deepest_then_flat", lambda: document("", "<a>" * 253 + "<b/>" * 2_500_000 +
                                               "</a>" * 253 + ONE_STEP)),
        ("namespaces", lambda: ("<r " + bindings + "><body>" + "<a/>" * 1_000_000 + ONE_STEP +
                                "</body></r>").encode("ascii")),
        ("growing_sizes", lambda: document("", "<d><frame_idx size='1000000'>" +
                                           "123456 " * 1_000_000 + "</frame_idx>" + sizes +
                                           "</d>")),
        ("token_10mb", lambda: document("", "<d><frame_idx size='1'>" + "9" * (10 << 20) +
                                        "</frame_idx><image_idx size='1'>1</image_idx>"
                                        "<palette_idx size='1'>2</palette_idx></d>")),
        ("huge_size", lambda: document("", "<d><frame_idx size='2000000000'/></d>")),
        ("nested_100k", lambda: document("", "<a>" * 100_000 + "</a>" * 100_000 + ONE_STEP)),
        ("random_10mb", lambda: random.Random(20261207).randbytes(10 << 20)),
        ("comment_128mb", lambda: body + b"</body></r><!--" + filler + b"-->"),
        ("pi_128mb", lambda: body + b"</body></r><?pi " + filler + b"?>"),
        ("cdata_128mb", lambda: body + b"<x><![CDATA[" + filler + b"]]></x></body></r>"),
        ("attribute_128mb", lambda: body + b"<x a='" + filler + b"'/></body></r>"),
        ("whitespace_128mb", lambda: body + b"</body></r>" + b" " * len(filler)),
    ]


def main():
    build, data = sys.argv[1], sys.argv[2]
    os.makedirs(data, exist_ok=True)
    conv = os.path.join(build, "converter", "morv_conv")
    bare = os.path.join(build, "bench", "bare_parse")
    out = os.path.join(data, "hostile.bin")
    probe = os.path.join(build, "tests", "rss_probe")
    report = os.path.join(data, "hostile.rss")
    print(f"{'document':20} {'MiB':>6} {'morv_conv':>10} {'target':>8} {'bare':>10} {'status':>6} "
          f"{'peak RSS':>10} {'target':>10}")
    with open(os.path.join(data, "e.ent"), "wb") as f:
        f.write(b"e" * (1 << 20))
    for name, make in documents():
        path = os.path.join(data, f"hostile_{name}.xml")
        with open(path, "wb") as f:
            f.write(make())
        mib = os.path.getsize(path) / 2**20
        conv_runs, peaks = [], []
        for _ in range(3):
            conv_runs.append(run_any([probe, report, conv, path, out], timeout=30))
            with open(report) as f:
                peaks.append(int(f.read()))
        bare_runs = [run_any([bare, path], timeout=10) for _ in range(3)]
        rss = max(peaks) / 1024
        seconds = statistics.median(r[0] for r in conv_runs)
        target = 1 + 0.1 * mib
        memory_bar = 64 + 3 * mib
        verdict = "ok" if seconds <= target and rss <= memory_bar else "OVER"
        print(f"{name:20} {mib:6.1f} {seconds * 1000:8.0f}ms {target:7.1f}s "
              f"{statistics.median(r[0] for r in bare_runs) * 1000:8.0f}ms "
              f"{conv_runs[0][1]:6d} {rss:7.1f}MiB {memory_bar:7.1f}MiB {verdict}")
        os.remove(path)
    os.remove(report)


if __name__ == "__main__":
    main()
