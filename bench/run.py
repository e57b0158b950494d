#!/usr/bin/env python3
"""Times morv_conv against a bare Xerces-C SAX2 parse of the same documents.

  run.py BUILD_DIR DATA_DIR [--write FILE]
  run.py BUILD_DIR DATA_DIR --compare OTHER_MORV_CONV

With --write, the results also replace this machine's table in FILE
(docs/PERFORMANCE.md): one dated table per machine, named by its processor
and number of CPUs. With --compare, morv_conv and another build of it run in
turn on the typical and the large document, and the medians of their wall
and CPU times are compared: how a change is measured side by side.

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
fast wrong answer cannot pass. Last, it times morv_dump printing a table of
a million steps as JSON against morv_conv writing that table, and checks
the JSON. The machine may be shared and noisy: only ratios of runs taken
side by side are worth quoting.
"""
import json
import os
import re
import shutil
import statistics
import struct
import subprocess
import sys
import tempfile
import time
from datetime import date

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
    # The converter's own peak memory, through the tests' probe where the
    # build has it: a child's peak counts the pages of this script it was
    # forked from.
    probe = os.path.join(build, "tests", "rss_probe")
    report = document + ".rss"
    probed = [probe, report] if os.path.exists(probe) else []
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
    if probed:
        # One more run, not timed: the probe's own start would count.
        run(probed + [conv, document, out])
        with open(report, encoding="ascii") as f:
            rss = [int(f.read())]
        os.remove(report)
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
    lean = ratios.get("lean bare parse", ([0], [0]))
    if count_instructions and counts["morv_conv"] is None:
        print("  instructions: not counted (valgrind is not installed)")
    elif count_instructions:
        print("  instructions per run (callgrind, whole process):")
        for name, count in counts.items():
            print(f"    {name:28} {count / 1e6:8.2f} M")
    anchor = ratios.get("bare parse", ([0], [0]))
    return {"wall": med(times["morv_conv"][0]), "peak": peak, "mib": mib, "rounds": rounds,
            "anchor_wall": med(anchor[0]), "anchor_cpu": med(anchor[1]),
            "lean_wall": med(lean[0]), "instructions": counts.get("morv_conv"),
            "anchor_instructions": counts.get("bare parse")}


def compare(build, other, document, n, rounds):
    """The medians of this build's morv_conv against another's, run in turn
    on one document."""
    programs = [os.path.join(build, "converter", "morv_conv"), other]
    walls, cpus = ([], []), ([], [])
    out = document + ".bin"
    for _ in range(rounds):
        for i, program in enumerate(programs):
            wall, cpu, _ = run([program, document, out])
            check_table(out, n)
            walls[i].append(wall)
            cpus[i].append(cpu)
    os.remove(out)
    med = statistics.median
    print(f"{os.path.basename(document)}: {rounds} rounds; this build / the other: "
          f"wall {med(walls[0]) * 1000:.2f} / {med(walls[1]) * 1000:.2f} ms = "
          f"{med(walls[0]) / med(walls[1]):.3f}, CPU {med(cpus[0]) * 1000:.2f} / "
          f"{med(cpus[1]) * 1000:.2f} ms = {med(cpus[0]) / max(med(cpus[1]), 1e-9):.3f}")


def machine():
    """The processor and the number of CPUs of this machine."""
    model = "unknown processor"
    with open("/proc/cpuinfo", encoding="utf-8") as f:
        for line in f:
            if line.startswith("model name"):
                model = " ".join(line.split(":", 1)[1].split())
                break
    return f"{model}, {os.cpu_count()} CPUs"


PERFORMANCE_HEAD = """# Performance

Written by `bench/run.sh` (`bench/run.py --write`); do not edit by hand.
Each table is one run on one machine: `morv_conv` and bare Xerces-C SAX2 parses
of the same document (the anchor linked to the distribution's shared Xerces-C,
the lean floor to the project's static one) run in turn, and the table gives
the medians of their wall and CPU times as ratios, `morv_conv`'s peak resident
memory, and on the typical document the instructions one whole process
executes (callgrind).
"""


def write_table(path, results):
    """Replaces this machine's table in `path` by today's; the other
    machines' tables stay."""
    heading = f"## {machine()}"
    rows = ["| Document | Size | Rounds | morv_conv wall | / bare parse, wall (CPU) "
            "| / lean floor | Peak memory | Instructions (bare parse) |",
            "|---|---|---|---|---|---|---|---|"]
    names = {"typical": "typical, Shift_JIS", "large": "large, Shift_JIS",
             "large_utf8": "large, UTF-8", "large_x2": "twice as large, Shift_JIS"}
    for name, label in names.items():
        r = results[name]
        count = "" if r["instructions"] is None else \
            f"{r['instructions'] / 1e6:.2f} M ({r['anchor_instructions'] / 1e6:.1f} M)"
        size = f"{r['mib']:.1f} MiB" if r["mib"] >= 1 else f"{r['mib'] * 1024:.1f} kB"
        rows.append(f"| {label} | {size} | {r['rounds']} | {r['wall'] * 1000:.1f} ms "
                    f"| {r['anchor_wall']:.2f} ({r['anchor_cpu']:.2f}) | {r['lean_wall']:.2f} "
                    f"| {r['peak']:.1f} MiB | {count} |")
    table = f"{heading}\n\nMeasured {date.today().isoformat()}.\n\n" + "\n".join(rows) + "\n"
    text = open(path, encoding="utf-8").read() if os.path.exists(path) else ""
    kept = [section.rstrip("\n") + "\n" for section in re.split(r"(?m)^(?=## )", text)
            if section.startswith("## ") and not section.startswith(heading + "\n")]
    with open(path, "w", encoding="utf-8") as f:
        f.write("\n".join([PERFORMANCE_HEAD] + kept + [table]))


def document_path(data, kind, scale, encoding, n):
    """The benchmark document, generated the first time."""
    name = kind + ("" if scale == 1 else f"_x{scale}") + \
        ("" if encoding == "Shift_JIS" else "_utf8")
    path = os.path.join(data, name + ".xml")
    if not os.path.exists(path):
        print(f"generating {path}", flush=True)
        generate.main_with([kind, path, str(scale), encoding])
    return name, path


def measure_dump(build, document, n, rounds):
    """Times morv_dump printing the document's table as JSON against
    morv_conv writing that table, in turn; checks the table and, once, the
    JSON. Prints the medians and their ratio."""
    conv = os.path.join(build, "converter", "morv_conv")
    dump = os.path.join(build, "converter", "dump", "morv_dump")
    table = document + ".bin"
    conv_walls, dump_walls = [], []
    for _ in range(rounds):
        conv_walls.append(run([conv, document, table])[0])
        check_table(table, n)
        dump_walls.append(run([dump, "--format", "json", table])[0])
    printed = json.loads(subprocess.run([dump, "--format", "json", table], stdout=subprocess.PIPE,
                                        check=True).stdout)
    steps = printed["steps"]
    for i in (0, n // 2, n - 1):
        want = {"frame": generate.frame(i), "texture": generate.texture(i),
                "palette": generate.palette(i)}
        if steps[i] != want:
            sys.exit(f"morv_dump: step {i} is {steps[i]}, expected {want}")
    if printed["count"] != n or len(steps) != n:
        sys.exit(f"morv_dump: {printed['count']} steps printed, {len(steps)} listed, expected {n}")
    os.remove(table)
    med = statistics.median
    print(f"{os.path.basename(document)}'s table as JSON: {n} steps, {4 + 4 * n} bytes, "
          f"{rounds} rounds")
    print(f"  {'morv_conv writing the table':30} wall {med(conv_walls) * 1000:8.1f} ms")
    print(f"  {'morv_dump --format json':30} wall {med(dump_walls) * 1000:8.1f} ms")
    print(f"  morv_dump / morv_conv: wall {med(dump_walls) / med(conv_walls):.2f}")


def main():
    args = sys.argv[1:]
    build, data = args[0], args[1]
    option = args[2] if len(args) > 2 else None
    os.makedirs(data, exist_ok=True)
    if option == "--compare":
        for kind, n, rounds in [("typical", 300, 1001), ("large", 6_000_000, 15)]:
            _, path = document_path(data, kind, 1, "Shift_JIS", n)
            compare(build, args[3], path, n, rounds)
        return
    documents = [("typical", 1, "Shift_JIS", 300, 101),
                 ("large", 1, "Shift_JIS", 6_000_000, 9),
                 ("large", 1, "UTF-8", 6_000_000, 9),
                 ("large", 2, "Shift_JIS", 12_000_000, 5)]
    results = {}
    for kind, scale, encoding, n, rounds in documents:
        name, path = document_path(data, kind, scale, encoding, n)
        results[name] = measure(build, path, n, rounds, count_instructions=kind == "typical")
    r1, r2 = results["large"], results["large_x2"]
    print(f"doubling the large document: time x {r2['wall'] / r1['wall']:.2f}, "
          f"peak memory x {r2['peak'] / r1['peak']:.2f}")
    if option == "--write":
        write_table(args[3], results)
        print(f"wrote this machine's table in {args[3]}")

    _, million = document_path(data, "million", 1, "Shift_JIS", 1_000_000)
    measure_dump(build, million, 1_000_000, 9)


if __name__ == "__main__":
    main()
