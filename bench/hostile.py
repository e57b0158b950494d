#!/usr/bin/env python3
"""Times morv_conv on hostile documents beside a bare Xerces-C parse.

  hostile.py BUILD_DIR DATA_DIR

Each document must be decided (converted or refused) within a second and
within 64 MiB above the converter's own start-up footprint. Prints, per
document, the median of 5 runs of each program (a bare parse still going
after 10 s is stopped: it has no defence against entity bombs), morv_conv's
status and its peak resident memory, measured through the tests' rss_probe
so that this script's own pages do not count.
"""
import os
import random
import statistics
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from run import run_any  # noqa: E402

ONE_STEP = ("<d><frame_idx size='1'>7</frame_idx><image_idx size='1'>1</image_idx>"
            "<palette_idx size='1'>2</palette_idx></d>")


def document(doctype, body):
    return (f"<?xml version='1.0'?>{doctype}<r><head><title>t</title></head>"
            f"<body>{body}</body></r>").encode("ascii")


def documents():
    bomb = "<!DOCTYPE r [<!ENTITY e0 'lol'>" + "".join(
        f"<!ENTITY e{i} '{f'&e{i - 1};' * 10}'>" for i in range(1, 11)) + "]>"
    big = "<!DOCTYPE r [<!ENTITY e '" + "a" * 100_000 + "'>]>"
    numbers = "<!DOCTYPE r [<!ENTITY e '" + "1 " * 50_000 + "'>]>"
    rnd = random.Random(20261207)
    return {
        "tiny": document("", ONE_STEP),
        "entity_bomb": document(bomb, "<x>&e10;</x>" + ONE_STEP),
        "quadratic_unread": document(big, "<x>" + "&e;" * 5000 + "</x>" + ONE_STEP),
        "quadratic_list": document(numbers, "<d><frame_idx size='3'>" + "&e;" * 5000 +
                                   "</frame_idx></d>"),
        "token_10mb": document("", "<d><frame_idx size='1'>" + "9" * (10 << 20) +
                               "</frame_idx><image_idx size='1'>1</image_idx>"
                               "<palette_idx size='1'>2</palette_idx></d>"),
        "huge_size": document("", "<d><frame_idx size='2000000000'/></d>"),
        "nested_100k": document("", "<a>" * 100_000 + "</a>" * 100_000 + ONE_STEP),
        "random_10mb": rnd.randbytes(10 << 20),
    }


def main():
    build, data = sys.argv[1], sys.argv[2]
    os.makedirs(data, exist_ok=True)
    conv = os.path.join(build, "converter", "morv_conv")
    bare = os.path.join(build, "bench", "bare_parse")
    out = os.path.join(data, "hostile.bin")
    probe = os.path.join(build, "tests", "rss_probe")
    report = os.path.join(data, "hostile.rss")
    print(f"{'document':18} {'morv_conv':>10} {'bare':>10} {'status':>6} {'peak RSS':>10}")
    baseline = None
    for name, content in documents().items():
        path = os.path.join(data, f"hostile_{name}.xml")
        with open(path, "wb") as f:
            f.write(content)
        conv_runs, peaks = [], []
        for _ in range(5):
            conv_runs.append(run_any([probe, report, conv, path, out], timeout=10))
            with open(report) as f:
                peaks.append(int(f.read()))
        bare_runs = [run_any([bare, path], timeout=10) for _ in range(5)]
        rss = max(peaks) / 1024
        baseline = baseline or rss
        print(f"{name:18} {statistics.median(r[0] for r in conv_runs) * 1000:8.0f}ms "
              f"{statistics.median(r[0] for r in bare_runs) * 1000:8.0f}ms "
              f"{conv_runs[0][1]:6d} {rss:7.1f}MiB (+{rss - baseline:.1f})")
        os.remove(path)
    os.remove(report)


if __name__ == "__main__":
    main()
