#!/usr/bin/env bash
# Runs the Linux converter and the Windows one (under Wine) over the same
# documents and compares, for each, the exit status, the table file's bytes
# (or that neither wrote one) and the standard output's bytes, the Windows
# side's CR LF taken as LF; and holds both to the statuses and tables that
# tests/data/expected.tsv gives for the documents it names:
#   scripts/compare-windows.sh
# The documents: every one in tests/data/, examples/ and fuzz/regressions/,
# the benchmark's typical document at several sizes in every encoding, and
# variants of all of these with bytes, attributes and lines changed (from a
# fixed seed, so every run compares the same ones). Both converters run in
# a folder of their own with the same relative paths, so that messages name
# the same files. Needs build/ (the Linux converter is built if missing) and
# build-windows/ built. Exits non-zero when any document differs, listing
# them; the documents of the run stay in build-windows/compare/.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
linux=$root/build/converter/morv_conv
windows=$root/build-windows/converter/morv_conv.exe
fail() {
  echo "compare-windows: $*" >&2
  exit 1
}
[[ -f $windows ]] || fail "no $windows: build build-windows/ first"
if [[ ! -x $linux ]]; then
  [[ -f build/CMakeCache.txt ]] || cmake --preset default >/dev/null
  cmake --build build --target morv_conv -j2 >/dev/null
fi

work=$root/build-windows/compare
rm -rf "$work"
mkdir -p "$work/docs"
python3 - "$root" "$work/docs" <<'PYTHON'
import os, random, re, shutil, subprocess, sys

root, docs = sys.argv[1], sys.argv[2]
sys.path.insert(0, os.path.join(root, "tests", "data"))
from generate import euc_jp, iso_2022_jp  # noqa: E402

bases = {}
for folder in ("tests/data", "examples", "fuzz/regressions"):
    for name in sorted(os.listdir(os.path.join(root, folder))):
        path = os.path.join(root, folder, name)
        if os.path.isfile(path) and not name.endswith((".bin", ".py", ".tsv")):
            with open(path, "rb") as f:
                bases[folder.replace("/", "-") + "-" + name] = f.read()

# The benchmark's typical document at several sizes, in every encoding.
for scale in (1, 3, 10):
    path = os.path.join(docs, "typical.tmp")
    subprocess.run([sys.executable, os.path.join(root, "bench", "generate.py"), "typical", path,
                    str(scale)], check=True)
    with open(path, "rb") as f:
        sjis = f.read()
    os.remove(path)
    text = sjis.decode("cp932")
    bases[f"typical-{scale}-sjis.xml"] = sjis
    bases[f"typical-{scale}-utf8.xml"] = text.replace('"Shift_JIS"', '"UTF-8"').encode("utf-8")
    bases[f"typical-{scale}-utf16.xml"] = text.replace('"Shift_JIS"', '"UTF-16"').encode("utf-16")
    bases[f"typical-{scale}-eucjp.xml"] = euc_jp(text.replace('"Shift_JIS"', '"EUC-JP"'))
    bases[f"typical-{scale}-iso2022jp.xml"] = iso_2022_jp(
        text.replace('"Shift_JIS"', '"ISO-2022-JP"'))

random.seed(20261208)
names = ["Shift_JIS", "SJIS", "CP932", "windows-31j", "MS_Kanji", "x-sjis", "csShiftJIS",
         "shift-jis", "MS932", "EUC-JP", "eucJP", "ujis", "x-euc-jp", "ISO-2022-JP", "csISO2022JP",
         "UTF-8", "utf8", "UTF-16", "ISO-8859-1", "x-unknown"]
odd_bytes = [0x80, 0xA0, 0xFD, 0xFF, 0x1A, 0x1C, 0x7F, 0x81, 0x85, 0x8E, 0x8F, 0xEB, 0xEF, 0xFC,
             0x00, 0x0D, 0x3C, 0x26, 0x1B, 0x0E]


def mutate(data):
    kind = random.randrange(7)
    if kind == 0 and data:  # bytes replaced, often by bytes at the edges of the encodings
        data = bytearray(data)
        for _ in range(random.randint(1, 3)):
            at = random.randrange(len(data))
            data[at] = random.choice(odd_bytes) if random.random() < 0.7 else random.randrange(256)
        return bytes(data)
    if kind == 1:  # a number in an attribute changed
        numbers = list(re.finditer(rb'="(-?\d+)"', data))
        if numbers:
            m = random.choice(numbers)
            value = int(m.group(1))
            new = random.choice([value + 1, value - 1, 0, -1, 2**31, 2**32 + value, 65536])
            return data[:m.start(1)] + str(new).encode() + data[m.end(1):]
    if kind == 2:  # a line dropped
        lines = data.split(b"\n")
        if len(lines) > 2:
            del lines[random.randrange(len(lines))]
            return b"\n".join(lines)
    if kind == 3 and data:  # truncated
        return data[:random.randrange(len(data))]
    if kind == 4:  # another encoding declared
        return re.sub(rb'encoding="[^"]*"', b'encoding="' + random.choice(names).encode() + b'"',
                      data, count=1)
    if kind == 5:  # a pair of bytes in the title
        pair = bytes([random.choice([0x81, 0x85, 0x87, 0xEB, 0xEF, 0xFC, 0xA4, 0x8E, 0x8F]),
                      random.randrange(0x30, 0x100)])
        return data.replace(b"<title>", b"<title>" + pair, 1)
    # a number in a list changed
    numbers = list(re.finditer(rb"(?<=[ \n>])\d+(?=[ \n<])", data[:200000]))
    if numbers:
        m = random.choice(numbers)
        new = random.choice([b"-1", b"65536", b"99999999999", b"1e3", b"0x10", b"+3", b""])
        return data[:m.start()] + new + data[m.end():]
    return data + b"<extra/>"


for name, data in sorted(bases.items()):
    with open(os.path.join(docs, name), "wb") as f:
        f.write(data)
small = [(n, d) for n, d in sorted(bases.items()) if len(d) < 2_000_000]
for i in range(320):
    name, data = small[i % len(small)]
    for _ in range(random.choice([1, 1, 2])):
        data = mutate(data)
    with open(os.path.join(docs, f"variant-{i:03d}-{name}"), "wb") as f:
        f.write(data)
PYTHON

mapfile -t documents < <(cd "$work/docs" && ls)
for side in linux windows; do
  mkdir -p "$work/$side/out" "$work/$side/stdout" "$work/$side/status"
  ln -s ../docs "$work/$side/docs"
done

# Linux.
(
  cd "$work/linux"
  for doc in "${documents[@]}"; do
    status=0
    "$linux" "docs/$doc" "out/$doc.bin" >"stdout/$doc" 2>/dev/null || status=$?
    echo "$status" >"status/$doc"
  done
)

# Windows: one batch file, one Wine start.
run_windows() {
  (
    cd "$work/windows"
    {
      echo "@echo off"
      for doc in "$@"; do
        echo "morv_conv.exe docs/$doc out/$doc.bin >stdout\\$doc 2>nul"
        echo "echo %ERRORLEVEL% >status\\$doc"
      done
    } >run.bat
    # The batch's own status says nothing: each document's is in its file.
    "$root/scripts/wine-run.sh" "$root/build-windows/wine-prefix" cmd /c run.bat >/dev/null || true
  )
}
cp "$windows" "$work/windows/morv_conv.exe"
run_windows "${documents[@]}"
# The converter ends with 0 or 1. Any other status (cmd's 9009, "could not
# start the program", has been seen under load) or none at all means the
# program did not run to its end: such a document runs once more, from a clean
# slate, and only its second result is compared.
mapfile -t again < <(
  cd "$work/windows"
  for doc in "${documents[@]}"; do
    status=$(tr -d ' \r\n' <"status/$doc" 2>/dev/null || true)
    [[ $status == 0 || $status == 1 ]] || echo "$doc"
  done
)
if ((${#again[@]})); then
  echo "compare-windows: ${#again[@]} document(s) run again, the program not having run to its end:" \
    "${again[*]}"
  for doc in "${again[@]}"; do
    rm -f "$work/windows/status/$doc" "$work/windows/stdout/$doc" "$work/windows/out/$doc.bin"
  done
  run_windows "${again[@]}"
fi

python3 - "$root" "$work" "${documents[@]}" <<'PYTHON'
import os, sys

root, work, documents = sys.argv[1], sys.argv[2], sys.argv[3:]


def read(*parts):
    path = os.path.join(work, *parts)
    if not os.path.exists(path):
        return None
    with open(path, "rb") as f:
        return f.read()


differ = []
statuses = {}
for doc in documents:
    linux = (read("linux", "status", doc).strip(), read("linux", "out", doc + ".bin"),
             read("linux", "stdout", doc))
    status = read("windows", "status", doc)
    out = read("windows", "stdout", doc)
    windows = (status.strip() if status is not None else None,
               read("windows", "out", doc + ".bin"),
               out.replace(b"\r\n", b"\n") if out is not None else None)
    statuses[linux[0]] = statuses.get(linux[0], 0) + 1
    what = [name for name, a, b in zip(("status", "table", "stdout"), linux, windows) if a != b]
    if what:
        differ.append(f"  {doc}: {', '.join(what)} (Linux {linux[0].decode()}, "
                      f"Windows {windows[0].decode() if windows[0] is not None else 'none'})")
summary = ", ".join(f"{n} with status {s.decode()}" for s, n in sorted(statuses.items()))
print(f"compare-windows: {len(documents)} documents compared ({summary}); "
      f"{len(differ)} differ")
for line in differ:
    print(line)

# The end-to-end tests' expectations (the documents that are files; a
# document's name here is its path with "-" for "/"): each side gives the
# status and the table, or no table, that the row gives.
wrong, checked = [], 0
with open(os.path.join(root, "tests", "data", "expected.tsv"), encoding="utf-8") as f:
    rows = [line.rstrip("\r\n").split("\t") for line in f if line.strip() and line[0] != "#"]
for _, document, table, status, _ in rows:
    if not os.path.isfile(os.path.join(root, document)):
        continue
    doc = document.replace("/", "-")
    if doc not in documents:
        wrong.append(f"  {document}: not among the documents compared")
        continue
    checked += 1
    want = (status.encode(), None)
    if table != "-":
        with open(os.path.join(root, table), "rb") as f:
            want = (status.encode(), f.read())
    for side in ("linux", "windows"):
        got = read(side, "status", doc)
        got = (got.strip() if got is not None else None, read(side, "out", doc + ".bin"))
        if got != want:
            shown = got[0].decode() if got[0] is not None else "none"
            wrong.append(f"  {document} on {side}: status {shown}, "
                         f"{'the expected table' if got[1] == want[1] else 'another table'}")
print(f"compare-windows: {checked} documents of tests/data/expected.tsv checked on both sides; "
      f"{len(wrong)} wrong")
for line in wrong:
    print(line)
sys.exit(1 if differ or wrong else 0)
PYTHON
