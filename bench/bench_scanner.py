"""MemoryScanner.scan on streams of JSON documents, against two yardsticks on the same bytes:
the plain C++ loop over simdjson's document stream (scan_baseline, built beside the module,
same parser settings and window) and a Python loop over json.JSONDecoder.raw_decode, timed
on a smaller slice and extrapolated by length.

Streams: amazon_cellphones.ndjson repeated (newline-delimited objects) and twitter.json
repeated (one large pretty-printed document per copy), 100 MB each; the full run adds
1.5 GB of each, which crosses the 1 GiB window so the stream's worker thread indexes the
second window. Its count and covered length are checked against the sum over pieces that
each fit in one window. Generated documents stand in when the data folder is absent.

The first scan of a 1 KB input on a fresh scanner is measured in child processes, each
reporting the scan's time and how much it grew the process's virtual and resident size,
beside scan_baseline's first run on a parser whose buffers are sized for the full 1 GiB
window, as the scanner's were before they were sized to the input.
"""
import json
import os
import random
import re
import statistics
import subprocess
import sys
import tempfile
from pathlib import Path

from _veltrane_rec_extension import MemoryScanner
from harness import DATA_DIR, Row

GROUP = "JSON scanning"

MB = 1_000_000
WINDOW = 1 << 30  # the scanner's window: longer inputs are indexed in several
HERE = Path(__file__).resolve().parent
BASELINE_PEER = "C++ iterate_many loop"
PYTHON_PEER = "json raw_decode loop"
_WHITESPACE = re.compile(r"[ \t\n\r]*")
FIRST_SCAN_INPUT = b'{"a": 1} ' * 113 + b"[1, 2] "  # 1,024 bytes, 114 documents
FIRST_SCAN_RUNS = 5
_FIRST_SCAN = """
import sys, time
from _veltrane_rec_extension import MemoryScanner
def sizes():
    fields = dict(line.split(':', 1) for line in open('/proc/self/status'))
    return [int(fields[key].split()[0]) * 1024 for key in ('VmSize', 'VmRSS')]
data = open(sys.argv[1], 'rb').read()
before = sizes()
start = time.perf_counter()
scanner = MemoryScanner()
result = scanner.scan(data)
seconds = time.perf_counter() - start
after = sizes()  # while the scanner, and so its buffers, are alive
print(f'documents={result[0]} covered={result[1]} seconds={seconds}'
      f' virtual={after[0] - before[0]} resident={after[1] - before[1]}')
"""


def baseline_program():
    """The scan_baseline binary of a build tree, or None."""
    candidates = [os.environ.get("VELTRANE_SCAN_BASELINE", "")]
    candidates += [HERE.parent / "build" / "release" / "bench" / "scan_baseline"]
    for candidate in candidates:
        if candidate and Path(candidate).is_file() and os.access(candidate, os.X_OK):
            return Path(candidate)
    return None


def generated_ndjson(size=280_000, seed=11):
    rng = random.Random(seed)
    lines, total = [], 0
    while total < size:
        record = {"asin": f"B{rng.randrange(10**9):09d}", "rating": rng.randint(1, 5),
                  "title": " ".join(rng.choice(["phone", "case", "charger", "über"])
                                    for _ in range(rng.randint(2, 8))),
                  "helpful": [rng.randint(0, 99), rng.randint(0, 99)],
                  "verified": rng.random() < 0.5}
        lines.append(json.dumps(record, ensure_ascii=False).encode() + b"\n")
        total += len(lines[-1])
    return b"".join(lines)


def generated_document(size=630_000, seed=12):
    rng = random.Random(seed)
    statuses = []
    while len(statuses) * 700 < size:
        statuses.append({"id": rng.randrange(10**18), "text": "tweet " * rng.randint(1, 20),
                         "user": {"name": "ユーザー", "followers": rng.randint(0, 10**6)},
                         "entities": {"hashtags": [], "urls": [{"url": "https://t.co/x"}]}})
    return json.dumps({"statuses": statuses}, indent=2, ensure_ascii=False).encode() + b"\n"


def units():
    """(name, bytes of complete documents ending in a newline) for each stream."""
    folder = DATA_DIR / "json"
    sources = (("amazon_cellphones.ndjson", generated_ndjson),
               ("twitter.json", generated_document))
    for name, fallback in sources:
        path = folder / name
        unit = path.read_bytes() if path.is_file() else fallback()
        yield (name if path.is_file() else f"generated {name}"), unit.rstrip() + b"\n"


def python_count(data):
    """Documents in data counted by decoding each one with raw_decode."""
    text = data.decode("utf-8")
    decoder = json.JSONDecoder()
    skip = _WHITESPACE.match
    count, end = 0, len(text)
    index = skip(text, 0).end()
    while index < end:
        try:
            _, index = decoder.raw_decode(text, index)
        except json.JSONDecodeError:
            break
        count += 1
        index = skip(text, index).end()
    return count


def run_baseline(program, data, repeats):
    """(documents, covered, median seconds) of scan_baseline over data, from a temporary
    file that is removed afterwards."""
    output = with_input_file(data, lambda path: subprocess.run(
        [str(program), path, str(repeats)], check=True, capture_output=True, text=True).stdout)
    fields = dict(item.split("=") for item in output.split())
    return int(fields["documents"]), int(fields["covered"]), float(fields["seconds"])


def with_input_file(data, run):
    """run(path) with data in a temporary file that is removed afterwards."""
    handle, path = tempfile.mkstemp(prefix="veltrane-scan-", suffix=".json")
    try:
        with os.fdopen(handle, "wb") as out:
            out.write(data)
        return run(path)
    finally:
        os.unlink(path)


def first_scan_figures(command):
    """Medians of (seconds, virtual growth, resident growth) over FIRST_SCAN_RUNS fresh
    processes, each printing one line of key=value fields."""
    runs = []
    for _ in range(FIRST_SCAN_RUNS):
        output = subprocess.run(command, check=True, capture_output=True, text=True).stdout
        fields = dict(item.split("=") for item in output.split())
        assert (int(fields["documents"]), int(fields["covered"])) == (114, len(FIRST_SCAN_INPUT))
        runs.append((float(fields["seconds"]), int(fields["virtual"]), int(fields["resident"])))
    return tuple(statistics.median(column) for column in zip(*runs))


def first_scan_row(program):
    label = "1 KB input, fresh scanner"
    ours = with_input_file(FIRST_SCAN_INPUT, lambda path: first_scan_figures(
        [sys.executable, "-c", _FIRST_SCAN, path]))
    if program is None:
        return Row("first scan", label, ours[0], BASELINE_PEER, None, "scan_baseline not built")
    theirs = with_input_file(FIRST_SCAN_INPUT, lambda path: first_scan_figures(
        [str(program), path, "first"]))
    return Row("first scan", label, ours[0], f"{BASELINE_PEER}, full-window buffers", theirs[0],
               f"process growth: virtual {ours[1] / MB:,.2f} vs {theirs[1] / MB:,.0f} MB,"
               f" resident {ours[2] / MB:.2f} vs {theirs[2] / MB:.2f} MB;"
               " the peer sizes buffers as the scanner did before they fit the input")


def gigabytes_per_second(size, seconds):
    return size / seconds / 1e9


def scanned_in_pieces(scanner, view, piece):
    """Sum of (count, covered) over consecutive pieces of `piece` bytes."""
    documents = covered = 0
    for start in range(0, len(view), piece):
        count, length = scanner.scan(view[start:start + piece])
        documents, covered = documents + count, covered + length
    return documents, covered


def baseline_row(ctx, program, label, data, result, ours, notes):
    if program is None:
        return Row("scan", label, ours, BASELINE_PEER, None, "scan_baseline not built")
    documents, covered, theirs = run_baseline(program, data, ctx.repeats)
    assert (documents, covered) == result, f"{label}: scan {result}, C++ {(documents, covered)}"
    return Row("scan", label, ours, BASELINE_PEER, theirs,
               "; ".join([f"{result[0]:,} documents;"
                          f" {gigabytes_per_second(len(data), ours):.2f} vs"
                          f" {gigabytes_per_second(len(data), theirs):.2f} GB/s,"
                          f" {100 * theirs / ours:.0f}% of the C++ loop"] + notes))


def python_row(ctx, scanner, label, unit, data, ours, python_slice):
    sample = unit * max(1, python_slice // len(unit))
    assert python_count(sample) == scanner.scan(sample)[0]
    sample_seconds = ctx.time(lambda: python_count(sample), repeats=3)
    theirs = sample_seconds * len(data) / len(sample)
    return Row("scan", label, ours, PYTHON_PEER, theirs,
               f"{gigabytes_per_second(len(sample), sample_seconds):.3f} GB/s on"
               f" {len(sample) / MB:.1f} MB, extrapolated; scan {theirs / ours:.0f}x faster")


def measure(ctx, scanner, name, unit, target, python_slice, program):
    copies = -(-target // len(unit))
    data = unit * copies
    label = f"{name} x{copies:,} ({len(data) / MB:,.0f} MB)"
    result = scanner.scan(data)
    ours = ctx.time(lambda: scanner.scan(data))
    notes = []
    if len(data) > WINDOW:
        piece = max(1, (WINDOW // 2) // len(unit)) * len(unit)
        pieces = scanned_in_pieces(scanner, memoryview(data), piece)
        assert pieces == result, f"{label}: one scan {result}, pieces {pieces}"
        notes.append("crosses the 1 GiB window; equals the sum over pieces")
    yield baseline_row(ctx, program, label, data, result, ours, notes)
    yield python_row(ctx, scanner, label, unit, data, ours, python_slice)


def run(ctx):
    scanner = MemoryScanner()
    program = baseline_program()
    targets = [8 * MB] if ctx.quick else [100 * MB, 1500 * MB]
    python_slice = 1 * MB if ctx.quick else 8 * MB
    yield first_scan_row(program)
    for name, unit in units():
        for target in targets:
            yield from measure(ctx, scanner, name, unit, target, python_slice, program)
