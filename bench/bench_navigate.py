"""Rank, select and nearest-position search against pyroaring's BitMap64.

Times are per call, measured over a batch of probes. BitMap64 has no search for the
previous set position; rank followed by select stands in for it.
"""
import numpy as np
from pyroaring import BitMap64

from _veltrane_rec_extension import Bitmap
from harness import Row, same_layout

GROUP = "Rank, select, navigation"


def datasets(n, rng):
    """n positions in four dense buckets, then about n spread over 100,000 keys, with
    low parts random over the whole bucket (many containers per bucket) or over its
    first 2^16 (one container per bucket)."""
    per_bucket = n // 4
    dense = np.concatenate([
        np.sort(rng.choice(1 << 24, per_bucket, replace=False)).astype(np.uint64)
        + (np.uint64(key) << np.uint64(32)) for key in (0, 1, 2, 3)])
    yield f"{len(dense):,} in 4 dense buckets", dense, 1000
    # Rank and select walk the buckets below the answer, so fewer probes suffice.
    keys = np.arange(100_000, dtype=np.uint64)[:, None] << np.uint64(32)
    for low_span, shape in ((1 << 32, "many containers"), (1 << 16, "one container")):
        lows = rng.integers(0, low_span, size=(len(keys), max(1, n // len(keys))), dtype=np.uint64)
        spread = np.unique(lows + keys)
        yield f"{len(spread):,} over 100,000 keys, {shape} each", spread, 10


def probes_for(values, rng, count):
    """Set positions and their neighbours within the same key, so that the neighbour
    searches find the bucket they probe and insert none."""
    picked = rng.choice(values, count)
    probes = picked + rng.integers(0, 3, count).astype(np.uint64) - np.uint64(1)
    same_key = (probes >> np.uint64(32)) == (picked >> np.uint64(32))
    return [int(p) for p in probes[same_key]]


def per_call(ctx, call, arguments):
    def batch():
        for argument in arguments:
            call(argument)
    # Small batches are the slow walks; three samples of them are enough.
    # A budget keeps the slowest peer walks (seconds per batch) to one or two samples.
    return ctx.time(batch, repeats=3 if len(arguments) < 100 else None, budget=8.0) / len(arguments)


def peer_next(peer):
    def call(p):
        try:
            return peer.next_set_bit(p)
        except ValueError:
            return 0
    return call


def peer_previous(peer):
    def call(p):
        below = peer.rank(p)
        return peer[below - 1] if below else 2**64 - 1
    return call


def rank_and_select_rows(ours, peer, probes, ordinals):
    return [
        ("nth", ours.nth, ordinals, "BitMap64[i]", peer.__getitem__),
        ("lower_cardinality", ours.lower_cardinality, probes, "BitMap64.rank", peer.rank),
        ("upper_cardinality", ours.upper_cardinality, probes, "len - BitMap64.rank",
         lambda p: len(peer) - peer.rank(p)),
    ]


def run(ctx):
    rng = np.random.default_rng(3)
    n = 400_000 if ctx.quick else 10_000_000
    for dataset, values, count in datasets(n, rng):
        ours, peer = same_layout(Bitmap(values)), BitMap64(values)
        probes = probes_for(values, rng, count)
        ordinals = [int(i) for i in rng.integers(0, len(values), len(probes))]
        rows = [
            ("self_or_next", ours.self_or_next, probes, "BitMap64.next_set_bit", peer_next(peer)),
            ("self_or_previous", ours.self_or_previous, probes, "BitMap64 [rank(p) - 1]",
             peer_previous(peer)),
        ] + rank_and_select_rows(ours, peer, probes, ordinals)
        for operation, call, arguments, peer_name, peer_call in rows:
            yield Row(operation, dataset, per_call(ctx, call, arguments), peer_name,
                      per_call(ctx, peer_call, arguments))
        if "100,000 keys" in dataset:
            yield from after_an_edit(ctx, dataset, ours, peer, probes, ordinals, int(values[0]))


def after_an_edit(ctx, dataset, ours, peer, probes, ordinals, present):
    """Rank and select right after an edit (setting a position that is already set),
    which drops whatever the previous calls had read."""
    def edited(edit, call):
        def run(argument):
            edit(present)
            return call(argument)
        return run
    for operation, call, arguments, peer_name, peer_call in rank_and_select_rows(ours, peer, probes, ordinals):
        yield Row(f"set(p), then {operation}", dataset, per_call(ctx, edited(ours.set, call), arguments),
                  f"BitMap64.add(p), then {peer_name}", per_call(ctx, edited(peer.add, peer_call), arguments),
                  note="first call after an edit")
