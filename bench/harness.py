"""Shared timing and data for the benchmarks in this folder.

Each bench_<group>.py module defines GROUP (a title) and run(ctx), a generator of
Row objects; run.py collects them into RESULTS.md. Times are medians of repeated
runs, in seconds per call, measured for both libraries in the same process.
"""
import os
import statistics
import time
import zipfile
from dataclasses import dataclass
from pathlib import Path
from typing import Callable, Dict, List, Optional

import numpy as np

DATA_DIR = Path(os.environ.get("VELTRANE_DATA", Path(__file__).resolve().parents[2] / "shared" / "data"))
ROARING_DATASETS = ("census1881", "uscensus2000", "wikileaks-noquotes")


@dataclass
class Row:
    operation: str
    dataset: str
    ours: float
    peer: str
    theirs: Optional[float]
    note: str = ""
    unit: str = "s"  # "s": seconds per call; "B/position": bytes of memory per position

    @property
    def ratio(self) -> Optional[float]:
        if self.theirs is None or self.theirs <= 0:
            return None
        return self.ours / self.theirs


class Context:
    """What a benchmark module receives: the run mode, a timer and the datasets."""

    def __init__(self, quick: bool = False, clock: Callable[[], float] = time.perf_counter):
        self.quick = quick
        self.clock = clock
        self.repeats = 3 if quick else 7
        self._sets: Dict[str, List[np.ndarray]] = {}

    def time(self, fn: Callable[[], object], repeats: Optional[int] = None, min_seconds: float = 0.02,
             budget: Optional[float] = None) -> float:
        """Median seconds per call of fn. Fast calls are batched so that each sample
        lasts at least min_seconds. With a budget (seconds), a call so slow that the
        repeats would overrun it is sampled fewer times, at least once after the
        untimed first call (a first call pays for fresh memory pages and would
        overstate the calls that allocate most)."""
        start = self.clock()
        fn()
        once = self.clock() - start
        number = max(1, int(min_seconds / once)) if once > 0 else 1000
        repeats = repeats or self.repeats
        samples = []
        if budget is not None and once * repeats > budget:
            repeats = max(1, int(budget / once))
        for _ in range(repeats):
            start = self.clock()
            for _ in range(number):
                fn()
            samples.append((self.clock() - start) / number)
        return statistics.median(samples)

    def roaring_sets(self, name: str) -> List[np.ndarray]:
        """The sets of one real dataset as sorted uint64 arrays, set i moved to key i
        (values + i << 32), so that many-bucket shapes are measured too. Generated
        sets of a similar shape stand in when the data is absent."""
        if name not in self._sets:
            self._sets[name] = _load_roaring_sets(name, self.quick)
        return self._sets[name]

    def generated(self, shape: str, n: int, seed: int = 7) -> np.ndarray:
        """n distinct sorted uint64 positions: 'dense' runs, 'sparse' uniform over
        64 bits, or 'clustered' groups around a few hundred centres."""
        rng = np.random.default_rng(seed)
        if shape == "dense":
            starts = np.sort(rng.choice(1 << 34, size=max(1, n // 4096), replace=False)).astype(np.uint64)
            values = (starts[:, None] + np.arange(4096, dtype=np.uint64)[None, :]).ravel()[:n]
        elif shape == "sparse":
            values = rng.integers(0, 2**64 - 1, size=n, dtype=np.uint64, endpoint=True)
        elif shape == "clustered":
            centres = rng.integers(0, 2**48, size=256, dtype=np.uint64)
            offsets = rng.integers(0, 1 << 24, size=n, dtype=np.uint64)
            values = centres[rng.integers(0, 256, size=n)] + offsets
        else:
            raise ValueError(f"unknown shape {shape!r}")
        return np.unique(values)


def same_layout(bitmap):
    """The Bitmap after run-optimizing its containers, as BitMap64(array) does to what it
    builds (its optimize=True default): operations are then compared on the same
    container layout (run containers where they are smaller) on both sides."""
    bitmap.persisted_size(optimize=True, shrink=False)
    return bitmap


def _load_roaring_sets(name: str, quick: bool) -> List[np.ndarray]:
    archive = DATA_DIR / "roaring" / f"{name}.zip"
    limit = 20 if quick else 200
    if not archive.exists():
        rng = np.random.default_rng(len(name))
        return [
            np.unique(rng.integers(0, 1 << 24, size=5000, dtype=np.uint64)) + (np.uint64(i) << np.uint64(32))
            for i in range(limit)
        ]
    sets = []
    with zipfile.ZipFile(archive) as zf:
        members = sorted(m for m in zf.namelist() if m.endswith(".txt"))[:limit]
        for i, member in enumerate(members):
            text = zf.read(member).decode().strip()
            values = np.array([int(v) for v in text.split(",") if v], dtype=np.uint64)
            sets.append(values + (np.uint64(i) << np.uint64(32)))
    return sets
