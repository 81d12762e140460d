"""Bitmaps and document counts computed by two worker processes with Dask.

Starts a local cluster of two worker processes, builds one bitmap per chunk of a Dask
array of positions on the workers and combines them by a tree of unions, counts the
documents of a newline-delimited JSON file in blocks, and shows that a bitmap pickles.
Run it after `make demo` with

    .venv/bin/python examples/distributed_union.py

For a real cluster, replace LocalCluster with the address of its scheduler:
Client("tcp://scheduler:8786"). Files passed to count_documents must be readable by
every worker under the same path.
"""
import logging
import pickle
import tempfile
from pathlib import Path

import dask.array as da
from distributed import Client, LocalCluster

from veltrane_rec import Bitmap, MemoryScanner
from veltrane_rec.dask import bitmap_from, count_documents


def show(label, value):
    print(f"{label:<52} {value}")


def union_of_chunks(client):
    # Eight chunks of 250,000 positions each, spread over a few 2^32-wide buckets.
    positions = (da.arange(2_000_000, chunks=250_000, dtype="uint64") * 7919) % (5 << 32)
    union = client.compute(bitmap_from(positions, "|")).result()
    show("union of 8 chunk bitmaps: len, first, last", (len(union), union.first, union.last))
    show("equal to Bitmap(all positions) built here", union == Bitmap(positions.compute()))
    common = client.compute(bitmap_from(positions % 1000, "&")).result()
    show("intersection of 8 chunk bitmaps (positions % 1000)", len(common))
    return union


def document_count(client, folder):
    path = Path(folder) / "rows.ndjson"
    path.write_text("".join(f'{{"id": {i}, "even": {str(i % 2 == 0).lower()}}}\n' for i in range(100_000)))
    counted = client.compute(count_documents(path, blocksize=256 << 10)).result()
    show("count_documents in blocks of 256 KiB", tuple(counted))
    show("MemoryScanner().scan of the whole file here", MemoryScanner().scan(path.read_bytes()))


def main():
    with LocalCluster(n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None,
                      silence_logs=logging.ERROR) as cluster, Client(cluster) as client:
        union = union_of_chunks(client)
        with tempfile.TemporaryDirectory() as folder:
            document_count(client, folder)
    restored = pickle.loads(pickle.dumps(union))
    show("pickle round trip equal, same serialized size",
         (restored == union, restored.persisted_size() == union.persisted_size()))


if __name__ == "__main__":
    main()
