"""Work spread over Dask worker processes (veltrane_rec.dask): one worker against two on
the same work, and what moving bitmaps between processes costs.

- the union of 32 bitmaps of 10^6 positions each (random, below 2^30), every bitmap
  built on a worker from a chunk of positions generated there, then combined by a tree
  of unions;
- the document count of about 1 GB of newline-delimited JSON (the shared
  amazon_cellphones.ndjson repeated, or generated rows when it is absent), written
  under /tmp for the run and removed afterwards, scanned in 64 MiB blocks;
- pickling a bitmap of 10^7 positions (dumps + loads) against sizing, writing into a
  fresh bytearray and reading back.

The ratio of a speed-up row is the two-worker time over the one-worker time (0.5 would
be a perfect 2x); on a 2-core machine shared with other work it is bounded by what the
other processes leave free.
"""
import itertools
import logging
import os
import pickle
import tempfile
import time
from pathlib import Path

import numpy as np

from harness import DATA_DIR, Row
from veltrane_rec import Bitmap

GROUP = "Distributed"

SOURCE = DATA_DIR / "json" / "amazon_cellphones.ndjson"
BLOCKSIZE = 64 << 20
# Ids of up to a billion documents: about 60 positions per container. (Spread over 2^36,
# each position sits in a container of its own, and building, copying and pickling the
# partition bitmaps is then per-container work that hides everything else.)
SPREAD = 1 << 30


def ndjson_file(folder, target_bytes):
    """The shared file repeated up to about target_bytes, or generated rows."""
    if SOURCE.exists():
        unit = SOURCE.read_bytes()
        if not unit.endswith(b"\n"):
            unit += b"\n"
    else:
        unit = b"".join(b'{"id": %d, "title": "item %d", "stars": %d}\n' % (i, i, i % 5) for i in range(5000))
    path = Path(folder) / "documents.ndjson"
    with open(path, "wb") as out:
        for _ in range(max(1, target_bytes // len(unit))):
            out.write(unit)
    return path


def timed(work, repeats):
    """Median seconds of work() over repeats runs, after one untimed warm-up run."""
    work()
    samples = []
    for _ in range(repeats):
        start = time.perf_counter()
        work()
        samples.append(time.perf_counter() - start)
    return float(np.median(samples))


def on_workers(count, works, repeats):
    """Median times of each work on a LocalCluster of `count` single-threaded workers."""
    from distributed import Client, LocalCluster
    with LocalCluster(n_workers=count, threads_per_worker=1, processes=True, dashboard_address=None,
                      silence_logs=logging.ERROR) as cluster, Client(cluster) as client:
        client.wait_for_workers(count)
        return [timed(lambda: client.compute(work()).result(), repeats) for work in works]


def pickling_seconds(bitmap, ctx):
    return ctx.time(lambda: pickle.loads(pickle.dumps(bitmap, 5)), repeats=3)


def run(ctx):
    import dask.array as da
    from veltrane_rec.dask import bitmap_from, count_documents, partition_bitmap

    count, size = (8, 10**6) if ctx.quick else (32, 10**6)
    target = (100 << 20) if ctx.quick else (1 << 30)
    repeats = 2 if ctx.quick else 3

    seeds = itertools.count()

    def union():
        # A new seed each run: the same graph again could be answered from results the
        # cluster still holds from the previous run.
        positions = da.random.RandomState(next(seeds)).randint(0, SPREAD, size=count * size, chunks=size)
        return bitmap_from(positions, "|")

    with tempfile.TemporaryDirectory(dir="/tmp") as folder:
        path = ndjson_file(folder, target)
        megabytes = os.path.getsize(path) / 1e6

        def scan():
            return count_documents(path, blocksize=BLOCKSIZE)

        one = on_workers(1, [union, scan], repeats)
        two = on_workers(2, [union, scan], repeats)

    chunk = np.random.default_rng(5).integers(0, SPREAD, size=size, dtype=np.uint64)
    result = Bitmap(np.concatenate([chunk + np.uint64(i) for i in range(count)]))
    moved = count * pickling_seconds(partition_bitmap(chunk), ctx) + pickling_seconds(result, ctx)
    rows = [("union of partition bitmaps", f"{count} x {size:,} random positions < 2^30",
             f"pickling the {count} partition bitmaps and the result (dumps + loads, in-process) "
             f"takes {moved * 1e3:.0f} ms"),
            ("count_documents", f"{megabytes:,.0f} MB ndjson in 64 MiB blocks",
             f"{megabytes / two[1]:,.0f} MB/s on 2 workers; only (count, covered) pairs are pickled")]
    for (operation, dataset, detail), on_two, on_one in zip(rows, two, one):
        yield Row(f"{operation}, 2 workers", dataset, on_two, "1 worker", on_one,
                  f"speed-up {on_one / on_two:.2f}x; {detail}")

    for shape in ("clustered", "dense"):
        b = Bitmap(ctx.generated(shape, 10**6 if ctx.quick else 10**7))
        form_size = b.persisted_size(True, False, False)

        def write_and_read():
            buffer = bytearray(b.persisted_size(True, False, False))
            b.write(buffer)
            return Bitmap.read(buffer)

        def out_of_band():
            buffers = []
            return pickle.loads(pickle.dumps(b, 5, buffer_callback=buffers.append), buffers=buffers)

        plain = ctx.time(write_and_read, budget=5)
        ways = {"protocol 4": lambda: pickle.loads(pickle.dumps(b, 4)),
                "protocol 5": lambda: pickle.loads(pickle.dumps(b, 5)),
                "protocol 5, buffers out of band": out_of_band}
        for way, round_trip in ways.items():
            yield Row(f"pickle.dumps + loads, {way}", f"{shape}, {len(b):,} positions",
                      ctx.time(round_trip, budget=5), "persisted_size + write + read", plain,
                      f"{form_size:,} B serialized form")
