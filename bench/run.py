"""Runs every benchmark group (bench_*.py beside this file) and rewrites RESULTS.md.

    python bench/run.py [--quick] [--only bench_algebra ...] [--output PATH]
    python bench/run.py --refresh-notes   # re-copy NOTES_ON_RATIOS.md only

The closing section lists every row above 1.0 against BitMap64 or the C++ scan loop,
then includes NOTES_ON_RATIOS.md verbatim, which explains them.
"""
import argparse
import importlib
import math
import sys
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))

from harness import Context, Row  # noqa: E402


def format_seconds(seconds):
    if seconds is None:
        return "-"
    for unit, scale in (("s", 1), ("ms", 1e-3), ("µs", 1e-6)):
        if seconds >= scale:
            return f"{seconds / scale:.3g} {unit}"
    return f"{seconds / 1e-9:.3g} ns"


def format_value(value, unit):
    if unit == "s" or value is None:
        return format_seconds(value)
    return f"{value:.3g} {unit}"


def cell(text):
    """Table cell text: a pipe (as in "a | b") would end the cell."""
    return str(text).replace("|", "\\|")


def table(rows):
    lines = ["| operation | dataset | ours | peer | peer time | ratio | note |",
             "|---|---|---|---|---|---|---|"]
    for r in rows:
        ratio = "-" if r.ratio is None else f"{r.ratio:.2f}"
        lines.append(f"| {cell(r.operation)} | {cell(r.dataset)} | {format_value(r.ours, r.unit)} | {cell(r.peer)} | "
                     f"{format_value(r.theirs, r.unit)} | {ratio} | {cell(r.note)} |")
    return "\n".join(lines)


def chart(group_slug, title, rows, directory):
    rated = [r for r in rows if r.ratio is not None]
    if not rated:
        return None
    try:
        import matplotlib
        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
    except ImportError:
        return None
    labels = [f"{r.operation} [{r.dataset}] vs {r.peer}" for r in rated]
    ratios = [r.ratio for r in rated]
    fig, ax = plt.subplots(figsize=(9, 0.3 * len(rated) + 1.2))
    colours = ["tab:green" if v <= 1.0 else "tab:red" for v in ratios]
    ax.barh(range(len(rated)), ratios, color=colours)
    ax.set_xscale("log")
    ax.axvline(1.0, color="black", linewidth=0.8)
    ax.set_yticks(range(len(rated)))
    ax.set_yticklabels(labels, fontsize=7)
    ax.invert_yaxis()
    ax.set_xlabel("ratio, this library / peer (log scale; below 1 is faster or smaller)")
    ax.set_title(title)
    fig.tight_layout()
    path = directory / f"chart_{group_slug}.png"
    fig.savefig(path, dpi=90)
    plt.close(fig)
    return path.name


# Peers the targets are set against (the peer library's BitMap64, its 32-bit BitMap
# and the C++ scan loop): every ratio above 1.0 against one of these is listed in the
# closing section, followed by the hand-written explanation.
TARGET_PEERS = ("BitMap", "C++ iterate_many loop")
NOTES = HERE / "NOTES_ON_RATIOS.md"
NOTES_MARKER = "<!-- NOTES_ON_RATIOS.md follows verbatim -->"


def target_row(row):
    return row.ratio is not None and row.ratio > 1.0 and any(p in row.peer for p in TARGET_PEERS)


def closing_section(grouped):
    """The rows above 1.0 against the target peers, then NOTES_ON_RATIOS.md verbatim."""
    lines = ["## Ratios above 1.0", ""]
    above = [(group, r) for group, rows in grouped for r in rows if target_row(r)]
    if above:
        lines += [f"{len(above)} rows of this run are above 1.0 against BitMap64, BitMap or the C++ loop:", "",
                  "| group | operation | dataset | peer | ratio |", "|---|---|---|---|---|"]
        lines += [f"| {cell(group)} | {cell(r.operation)} | {cell(r.dataset)} | {cell(r.peer)} | {r.ratio:.2f} |" for group, r in above]
    else:
        lines.append("No row of this run is above 1.0 against BitMap64, BitMap or the C++ loop.")
    lines += ["", NOTES_MARKER, ""]
    if NOTES.exists():
        lines.append(NOTES.read_text().strip())
        lines.append("")
    return "\n".join(lines)


def refresh_notes(path):
    """Replaces what follows the marker in an existing results file by the current
    NOTES_ON_RATIOS.md, leaving the measured tables as they are."""
    text = Path(path).read_text()
    if NOTES_MARKER not in text:
        raise SystemExit(f"{path} has no notes marker; run the benchmarks instead")
    kept = text.split(NOTES_MARKER)[0]
    Path(path).write_text(kept + NOTES_MARKER + "\n\n" + NOTES.read_text().strip() + "\n")
    print(f"refreshed the notes in {path}")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--quick", action="store_true", help="small smoke run")
    parser.add_argument("--only", nargs="*", help="module names to run, e.g. bench_algebra")
    parser.add_argument("--output", help="default: RESULTS.md for a full set of groups, a temp file with --only")
    parser.add_argument("--refresh-notes", action="store_true",
                        help="only re-copy NOTES_ON_RATIOS.md into the existing results file")
    args = parser.parse_args()

    if args.output is None:
        args.output = "/tmp/veltrane-bench-results.md" if args.only else str(HERE / "RESULTS.md")
    if args.refresh_notes:
        return refresh_notes(args.output)
    ctx = Context(quick=args.quick)
    names = args.only or sorted(p.stem for p in HERE.glob("bench_*.py"))
    sections = []
    grouped = []
    started = time.perf_counter()
    for name in names:
        module = importlib.import_module(name)
        group_started = time.perf_counter()
        print(f"[{group_started - started:6.1f}s] {module.GROUP} ...", flush=True)
        rows = []
        for row in module.run(ctx):
            rows.append(row)
            ratio = "" if row.ratio is None else f" ratio {row.ratio:.2f}"
            print(f"    {row.operation} [{row.dataset}]: {format_value(row.ours, row.unit)}"
                  f" vs {row.peer} {format_value(row.theirs, row.unit)}{ratio}", flush=True)
        grouped.append((module.GROUP, rows))
        print(f"    ({len(rows)} rows in {time.perf_counter() - group_started:.0f}s)", flush=True)
        slug = name.replace("bench_", "")
        picture = chart(slug, module.GROUP, rows, Path(args.output).parent)
        section = f"## {module.GROUP}\n\n{table(rows)}\n"
        if picture:
            section += f"\n![{module.GROUP}]({picture})\n"
        sections.append(section)
    mode = "quick smoke run" if args.quick else "full run"
    header = ("# Benchmark results\n\nProduced by `make bench` (" + mode + "). Times are medians of repeated"
              " runs in one process; ratio = this library / peer (below 1.0 is faster).\n")
    body = header + "\n" + "\n".join(sections) + "\n" + closing_section(grouped)
    Path(args.output).write_text(body)
    print(f"wrote {args.output} in {time.perf_counter() - started:.0f}s")


if __name__ == "__main__":
    main()
