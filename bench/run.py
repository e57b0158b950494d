#!/usr/bin/env python3
"""Times morv_conv against a bare Xerces-C SAX2 parse of the same documents.

  run.py BUILD_DIR DATA_DIR

The anchor is the bare parse linked to the distribution's shared Xerces-C
(bare_parse); when the build has the lean static Xerces-C, the same program
linked to it (bare_parse_lean) is the floor. Runs the programs alternately
(A B C A B C ...) on each document and prints the median wall-time ratios
morv_conv / bare parse and morv_conv / lean bare parse and morv_conv's peak
resident memory. Checks every table file morv_conv writes, so that a fast
wrong answer cannot pass. The machine may be shared and noisy: only ratios of
runs taken side by side are worth quoting.
"""
import os
import statistics
import struct
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import generate  # noqa: E402


def run_any(argv, timeout=None):
    """Wall seconds, exit status and peak RSS (KiB) of one run. A run still
    going after `timeout` seconds is killed (status -9)."""
    start = time.perf_counter()
    proc = subprocess.Popen(argv, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    while True:
        pid, status, usage = os.wait4(proc.pid, os.WNOHANG if timeout else 0)
        if pid:
            break
        if time.perf_counter() - start > timeout:
            proc.kill()
        time.sleep(0.005)
    seconds = time.perf_counter() - start
    proc.returncode = os.waitstatus_to_exitcode(status)
    return seconds, proc.returncode, usage.ru_maxrss


def run(argv):
    """Wall seconds and peak RSS (KiB) of one run; fails on a non-zero exit."""
    seconds, status, rss = run_any(argv)
    if status != 0:
        sys.exit(f"{' '.join(argv)} failed with status {status}")
    return seconds, rss


def check_table(path, n):
    """The table file of a generated document: its length and end entries."""
    size = os.path.getsize(path)
    if size != 4 + 4 * n:
        sys.exit(f"{path}: {size} bytes, expected {4 + 4 * n}")
    with open(path, "rb") as f:
        count, = struct.unpack("<I", f.read(4))
        first_frame, = struct.unpack("<H", f.read(2))
        f.seek(4 + 2 * (n - 1))
        last_frame, = struct.unpack("<H", f.read(2))
        first_texture, = f.read(1)
        f.seek(4 + 3 * n - 1)
        last_texture, first_palette = f.read(2)
        f.seek(4 + 4 * n - 1)
        last_palette, = f.read(1)
    got = (count, first_frame, last_frame, first_texture, last_texture, first_palette,
           last_palette)
    want = (n, generate.frame(0), generate.frame(n - 1), generate.texture(0),
            generate.texture(n - 1), generate.palette(0), generate.palette(n - 1))
    if got != want:
        sys.exit(f"{path}: entries {got}, expected {want}")


def measure(build, document, n, pairs):
    conv = os.path.join(build, "converter", "morv_conv")
    bare = os.path.join(build, "bench", "bare_parse")
    lean = os.path.join(build, "bench", "bare_parse_lean")
    has_lean = os.path.exists(lean)
    out = document + ".bin"
    ratios, lean_ratios, conv_times, bare_times, lean_times, rss = [], [], [], [], [], []
    for _ in range(pairs):
        c, m = run([conv, document, out])
        check_table(out, n)
        b, _ = run([bare, document])
        ratios.append(c / b)
        conv_times.append(c)
        bare_times.append(b)
        rss.append(m)
        if has_lean:
            f, _ = run([lean, document])
            lean_ratios.append(c / f)
            lean_times.append(f)
    os.remove(out)
    mib = os.path.getsize(document) / 2**20
    peak = max(rss) / 1024
    print(f"{os.path.basename(document)}: {mib:.1f} MiB, {n} steps, {pairs} rounds")
    print(f"  median wall time   morv_conv {statistics.median(conv_times) * 1000:8.1f} ms"
          f"   bare parse {statistics.median(bare_times) * 1000:8.1f} ms" +
          (f"   lean bare parse {statistics.median(lean_times) * 1000:8.1f} ms"
           if has_lean else ""))
    print(f"  median ratio morv_conv / bare parse: {statistics.median(ratios):.2f}")
    if has_lean:
        print(f"  median ratio morv_conv / lean bare parse: {statistics.median(lean_ratios):.2f}")
    print(f"  morv_conv peak RSS {peak:.1f} MiB = {peak / mib:.2f} x document size")
    return statistics.median(conv_times), peak


def main():
    build, data = sys.argv[1], sys.argv[2]
    os.makedirs(data, exist_ok=True)
    documents = [("typical", 1, 300, 101), ("large", 1, 6_000_000, 5), ("large", 2, 12_000_000, 3)]
    results = {}
    for kind, scale, n, pairs in documents:
        path = os.path.join(data, f"{kind}{'' if scale == 1 else f'_x{scale}'}.xml")
        if not os.path.exists(path):
            print(f"generating {path}", flush=True)
            generate.main_with([kind, path, str(scale)])
        results[(kind, scale)] = measure(build, path, n, pairs)
    (t1, m1), (t2, m2) = results[("large", 1)], results[("large", 2)]
    print(f"doubling the large document: time x {t2 / t1:.2f}, peak memory x {m2 / m1:.2f}")


if __name__ == "__main__":
    main()
