#!/usr/bin/env python3
"""Times morv_conv against a bare Xerces-C SAX2 parse of the same documents.

  run.py BUILD_DIR DATA_DIR

The anchor is the bare parse linked to the distribution's shared Xerces-C
with its own Shift_JIS decoder (bare_parse): what a user would run instead.
Two floors show where the converter's own work begins: the same program
linked to the lean static Xerces-C (bare_parse_lean), and that one decoding
Shift_JIS with the reader's decoder too (bare_parse_fast). Runs the programs
in turn (A B C D A B C D ...) on each document and prints, for each, the
median wall and CPU (user + system) time, morv_conv's median ratios to each
of them and its peak resident memory. On the typical document it also
counts the instructions one run of each executes, whole process from the
dynamic loader on (valgrind's callgrind, when installed): a figure that
noise does not move. Checks every table file morv_conv writes, so that a
fast wrong answer cannot pass. The machine may be shared and noisy: only
ratios of runs taken side by side are worth quoting.
"""
import os
import re
import shutil
import statistics
import struct
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import generate  # noqa: E402


def run_any(argv, timeout=None):
    """Wall seconds, exit status, peak RSS (KiB) and CPU seconds (user +
    system) of one run. A run still going after `timeout` seconds is killed
    (status -9)."""
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
    return seconds, proc.returncode, usage.ru_maxrss, usage.ru_utime + usage.ru_stime


def run(argv):
    """Wall seconds, CPU seconds and peak RSS (KiB) of one run; fails on a
    non-zero exit."""
    seconds, status, rss, cpu = run_any(argv)
    if status != 0:
        sys.exit(f"{' '.join(argv)} failed with status {status}")
    return seconds, cpu, rss


def instructions(argv):
    """Instructions one run of `argv` executes, the whole process counted
    (callgrind), or None without valgrind; fails on a non-zero exit."""
    valgrind = shutil.which("valgrind")
    if valgrind is None:
        return None
    with tempfile.TemporaryDirectory() as tmp:
        proc = subprocess.run([valgrind, "--tool=callgrind",
                               f"--callgrind-out-file={os.path.join(tmp, 'callgrind.out')}"]
                              + argv, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                              text=True, check=False)
    if proc.returncode != 0:
        sys.exit(f"callgrind {' '.join(argv)} failed with status {proc.returncode}")
    found = re.search(r"Collected : (\d+)", proc.stderr)
    if not found:
        sys.exit(f"callgrind {' '.join(argv)}: no instruction count in its report")
    return int(found.group(1))


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


PROGRAMS = [("bare parse", "bare_parse"), ("lean bare parse", "bare_parse_lean"),
            ("lean bare parse, fast decoder", "bare_parse_fast")]


def measure(build, document, n, rounds, count_instructions=False):
    """Times morv_conv and every bare parse the build has on one document,
    and counts their instructions if asked; returns morv_conv's median wall
    time, peak memory (MiB), its median wall and CPU ratios to the anchor and
    its instructions per run (None when not counted)."""
    conv = os.path.join(build, "converter", "morv_conv")
    others = [(name, os.path.join(build, "bench", program)) for name, program in PROGRAMS
              if os.path.exists(os.path.join(build, "bench", program))]
    out = document + ".bin"
    times = {name: ([], []) for name in ["morv_conv"] + [name for name, _ in others]}
    ratios = {name: ([], []) for name, _ in others}
    rss = []
    for _ in range(rounds):
        wall, cpu, peak = run([conv, document, out])
        check_table(out, n)
        times["morv_conv"][0].append(wall)
        times["morv_conv"][1].append(cpu)
        rss.append(peak)
        for name, program in others:
            other_wall, other_cpu, _ = run([program, document])
            times[name][0].append(other_wall)
            times[name][1].append(other_cpu)
            ratios[name][0].append(wall / other_wall)
            ratios[name][1].append(cpu / max(other_cpu, 1e-6))
    counts = {}
    if count_instructions:
        counts["morv_conv"] = instructions([conv, document, out])
        check_table(out, n)
        for name, program in others:
            counts[name] = instructions([program, document])
    os.remove(out)
    mib = os.path.getsize(document) / 2**20
    peak = max(rss) / 1024
    med = statistics.median
    print(f"{os.path.basename(document)}: {mib:.1f} MiB, {n} steps, {rounds} rounds")
    for name, (walls, cpus) in times.items():
        line = f"  {name:30} wall {med(walls) * 1000:8.1f} ms  CPU {med(cpus) * 1000:8.1f} ms"
        if name in ratios:
            line += (f"   morv_conv / this: wall {med(ratios[name][0]):.2f}"
                     f"  CPU {med(ratios[name][1]):.2f}")
        print(line)
    print(f"  morv_conv peak RSS {peak:.1f} MiB = {peak / mib:.2f} x document size")
    if count_instructions and counts["morv_conv"] is None:
        print("  instructions: not counted (valgrind is not installed)")
    elif count_instructions:
        print("  instructions per run (callgrind, whole process):")
        for name, count in counts.items():
            print(f"    {name:28} {count / 1e6:8.2f} M")
    anchor = ratios.get("bare parse", ([0], [0]))
    return (med(times["morv_conv"][0]), peak, med(anchor[0]), med(anchor[1]),
            counts.get("morv_conv"))


def main():
    build, data = sys.argv[1], sys.argv[2]
    os.makedirs(data, exist_ok=True)
    documents = [("typical", 1, "Shift_JIS", 300, 101),
                 ("large", 1, "Shift_JIS", 6_000_000, 9),
                 ("large", 1, "UTF-8", 6_000_000, 9),
                 ("large", 2, "Shift_JIS", 12_000_000, 5)]
    results = {}
    for kind, scale, encoding, n, rounds in documents:
        name = kind + ("" if scale == 1 else f"_x{scale}") + \
            ("" if encoding == "Shift_JIS" else "_utf8")
        path = os.path.join(data, name + ".xml")
        if not os.path.exists(path):
            print(f"generating {path}", flush=True)
            generate.main_with([kind, path, str(scale), encoding])
        results[name] = measure(build, path, n, rounds, count_instructions=kind == "typical")
    (t1, m1, _, _, _), (t2, m2, _, _, _) = results["large"], results["large_x2"]
    print(f"doubling the large document: time x {t2 / t1:.2f}, peak memory x {m2 / m1:.2f}")
    print("targets against the anchor (median wall / CPU ratio):")
    for name, wall_bar, cpu_bar in [("typical", 0.18, None), ("large", 0.75, 1.0),
                                    ("large_utf8", 1.4, None)]:
        _, _, wall, cpu, _ = results[name]
        verdict = "ok" if wall <= wall_bar and (cpu_bar is None or cpu <= cpu_bar) else "MISSED"
        bars = f"wall <= {wall_bar}" + ("" if cpu_bar is None else f", CPU <= {cpu_bar}")
        print(f"  {name:12} wall {wall:.2f}  CPU {cpu:.2f}   ({bars}) {verdict}")
    count = results["typical"][4]
    if count is not None:
        bar = 4_000_000
        verdict = "ok" if count <= bar else "MISSED"
        print(f"  {'typical':12} {count / 1e6:.2f} M instructions per conversion "
              f"(<= {bar / 1e6:.0f} M) {verdict}")


if __name__ == "__main__":
    main()
