"""Serialized form: sizing + writing into a caller's buffer and reading back, against
pyroaring's BitMap64 serialize/deserialize on the same real datasets (one key per set)."""
import numpy as np
from pyroaring import BitMap64

from _veltrane_rec_extension import Bitmap
from harness import ROARING_DATASETS, Row

GROUP = "Persistence"


def megabytes_per_second(size, seconds):
    return size / seconds / 1e6 if seconds > 0 else float("inf")


def write_form(bitmap, portable, compact=True):
    size = bitmap.persisted_size(portable, optimize=compact, shrink=compact)
    buffer = bytearray(size)
    bitmap.write(buffer, portable)
    return buffer


def optimize_and_serialize(peer):
    peer.run_optimize()
    return peer.serialize()


def run(ctx):
    for name in ROARING_DATASETS:
        values = np.concatenate(ctx.roaring_sets(name))
        ours, peer = Bitmap(values), BitMap64(values)
        # Both sides hold run-optimized containers before anything is timed.
        ours.persisted_size()
        peer_bytes = optimize_and_serialize(peer)
        peer_write = ctx.time(peer.serialize)
        peer_optimize_write = ctx.time(lambda: optimize_and_serialize(peer))
        peer_read = ctx.time(lambda: BitMap64.deserialize(peer_bytes))
        dataset = f"{name} ({len(values):,} positions)"

        for portable in (True, False):
            form = bytes(write_form(ours, portable))
            assert Bitmap.read(form, portable).cardinality == len(peer)
            variant = "portable" if portable else "native"
            ours_write = ctx.time(lambda: write_form(ours, portable))
            ours_plain_write = ctx.time(lambda: write_form(ours, portable, compact=False))
            ours_read = ctx.time(lambda: Bitmap.read(form, portable))

            def note(ours_seconds, peer_seconds):
                return (f"{len(form):,} B at {megabytes_per_second(len(form), ours_seconds):,.0f} MB/s;"
                        f" peer {len(peer_bytes):,} B at"
                        f" {megabytes_per_second(len(peer_bytes), peer_seconds):,.0f} MB/s")

            yield Row(f"persisted_size() + write ({variant})", dataset, ours_write,
                      "run_optimize + serialize", peer_optimize_write,
                      note(ours_write, peer_optimize_write))
            yield Row(f"persisted_size(no optimize, no shrink) + write ({variant})", dataset,
                      ours_plain_write, "serialize", peer_write, note(ours_plain_write, peer_write))
            yield Row(f"read ({variant})", dataset, ours_read,
                      "deserialize", peer_read, note(ours_read, peer_read))
            yield Row(f"round trip ({variant})", dataset, ours_write + ours_read,
                      "run_optimize + serialize + deserialize", peer_optimize_write + peer_read,
                      note(ours_write + ours_read, peer_optimize_write + peer_read))
