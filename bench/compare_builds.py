"""Times a handful of rows, our side only, with two builds of the module side by side:
each build in its own environment, one process per build and round, alternating (the
order flips every round). Times are processor time of the process (all its threads), which
others' work on a shared machine disturbs less than elapsed time; each row's best over the
rounds is printed, with the ratio of the second build to the first.

    python bench/compare_builds.py PYTHON_BASE PYTHON_OTHER [--rounds 5]

PYTHON_* are interpreters of environments with the module, NumPy and pyroaring installed,
for example .venv/bin/python (`make install`) and one where a dist/ wheel is installed.
"""
import argparse
import json
import subprocess
import sys
import time
from pathlib import Path

import numpy as np

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))

from harness import Context  # noqa: E402

MB = 1_000_000


def algebra_rows(ctx):
    import operator
    from bench_algebra import LAYOUTS, new_result
    from _veltrane_rec_extension import Bitmap
    from harness import same_layout
    for name, layout in (("census1881", "64K blocks over keys"), ("wikileaks-noquotes", "one key")):
        arrange = dict(LAYOUTS)[layout]
        bitmaps = [same_layout(Bitmap(arrange(values))) for values in ctx.roaring_sets(name)]
        pairs = list(zip(bitmaps, bitmaps[1:]))
        for label, op in (("a | b", operator.or_), ("a & b", operator.and_)):
            yield f"{label}, {name}, {layout}", ctx.time(lambda: new_result(op)(pairs))


def index_array_rows(ctx):
    from bench_arrays import datasets
    from _veltrane_rec_extension import Bitmap
    from harness import same_layout
    for dataset, values in datasets(1_000_000, np.random.default_rng(9)).items():
        bitmap = same_layout(Bitmap(values))
        yield f"index_array, {dataset}", ctx.time(bitmap.index_array)


def read_rows(ctx):
    from bench_persist import write_form
    from _veltrane_rec_extension import Bitmap
    for name in ("census1881", "wikileaks-noquotes"):
        form = bytes(write_form(Bitmap(np.concatenate(ctx.roaring_sets(name))), True))
        yield f"read (portable), {name}", ctx.time(lambda: Bitmap.read(form, True))


def scan_rows(ctx):
    from bench_scanner import units
    from _veltrane_rec_extension import MemoryScanner
    scanner = MemoryScanner()
    for name, unit in units():
        data = unit * -(-100 * MB // len(unit))
        yield f"scan, {name} (100 MB)", ctx.time(lambda: scanner.scan(data))


def measure():
    ctx = Context(clock=time.process_time)
    rows = {}
    for group in (algebra_rows, index_array_rows, read_rows, scan_rows):
        rows.update(group(ctx))
    print(json.dumps(rows))


def run_build(python):
    out = subprocess.run([python, __file__, "--measure"], check=True, capture_output=True, text=True)
    return json.loads(out.stdout)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("pythons", nargs="*")
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--measure", action="store_true", help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.measure:
        return measure()
    base, other = args.pythons
    samples = {base: [], other: []}
    for round_ in range(args.rounds):
        for python in ((base, other) if round_ % 2 == 0 else (other, base)):
            samples[python].append(run_build(python))
    print(f"| row | {base} | {other} | ratio |\n|---|---|---|---|")
    for row in samples[base][0]:
        times = [min(s[row] for s in samples[p]) for p in (base, other)]
        label = row.replace("|", "\\|")
        print(f"| {label} | {times[0] * 1e3:.3f} ms | {times[1] * 1e3:.3f} ms | {times[1] / times[0]:.3f} |")


if __name__ == "__main__":
    main()
