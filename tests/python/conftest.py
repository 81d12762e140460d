import logging
import os
import pickle
import re
import resource
import subprocess
import sys
import textwrap
from pathlib import Path
from unittest import mock

import numpy as np
import pytest
from hypothesis import HealthCheck, settings
from hypothesis import strategies as st

import _veltrane_rec_extension as ext

SPAN = 1 << 32
MAX = (1 << 64) - 1

# --- hypothesis strategies of every property test -----------------------------------------
# Positions crowd around bucket boundaries and the extremes, where the bucket splitting
# and carrying is most likely to go wrong. VELTRANE_SOAK=1 selects a long profile.
ANCHORS = [0, 1, 100, SPAN - 1, SPAN, SPAN + 1, 2 * SPAN, 7 * SPAN + 5, MAX - SPAN, MAX - SPAN + 3, MAX]
positions = st.one_of(
    st.builds(lambda anchor, offset: min(MAX, max(0, anchor + offset)), st.sampled_from(ANCHORS), st.integers(-4, 4)),
    st.integers(0, MAX),
)
position_sets = st.sets(positions, max_size=24)
lengths = st.one_of(st.integers(0, 12), st.just(64))
wide_lengths = st.one_of(lengths, st.integers(0, 600), st.sampled_from([SPAN, 5 * SPAN, MAX]))
shifts = st.one_of(st.integers(0, 10), st.sampled_from([SPAN - 3, SPAN - 1, SPAN, SPAN + 1, 3 * SPAN + 7]))

for name, examples, steps in (("ci", 60, 25), ("soak", 5000, 60)):
    settings.register_profile(name, max_examples=examples, stateful_step_count=steps, deadline=None,
                              suppress_health_check=[HealthCheck.too_slow, HealthCheck.function_scoped_fixture])
settings.load_profile("soak" if os.environ.get("VELTRANE_SOAK") else "ci")


def pytest_configure(config):
    config.addinivalue_line("markers", "cluster: starts a distributed.LocalCluster of worker processes")


@pytest.fixture
def Bitmap():
    return ext.Bitmap


# Run first in every child interpreter of run_child: address_space() tells how many
# bytes of address space the child has mapped, and bounded(limit, call) runs call()
# with the address space capped at `limit` bytes and returns what it raised, or None.
CHILD_PRELUDE = """
import resource

def address_space():
    with open("/proc/self/status") as status:
        return next(int(line.split()[1]) * 1024 for line in status if line.startswith("VmSize:"))

def bounded(limit, call):
    soft, hard = resource.getrlimit(resource.RLIMIT_AS)
    resource.setrlimit(resource.RLIMIT_AS, (limit, hard))
    try:
        call()
        return None
    except Exception as error:
        return error
    finally:
        resource.setrlimit(resource.RLIMIT_AS, (soft, hard))
"""


def run_child(code, *arguments, address_space=None, stack=None):
    """Runs CHILD_PRELUDE and then `code` in a child interpreter with one thread per math
    library. `address_space` and `stack` limit the whole child, from its start, to that many
    bytes; glibc sizes the stacks of new threads by the stack limit."""
    def apply_limits():
        for kind, value in ((resource.RLIMIT_AS, address_space), (resource.RLIMIT_STACK, stack)):
            if value is not None:
                resource.setrlimit(kind, (value, value))

    environment = dict(os.environ, OPENBLAS_NUM_THREADS="1", OMP_NUM_THREADS="1")
    return subprocess.run([sys.executable, "-c", CHILD_PRELUDE + textwrap.dedent(code), *map(str, arguments)],
                          capture_output=True, text=True, env=environment, preexec_fn=apply_limits,
                          timeout=600)


@pytest.fixture
def run_limited():
    """run_child; skipped in the sanitizer run, whose shadow memory needs far more address
    space than any such limit allows."""
    if "libasan" in os.environ.get("LD_PRELOAD", ""):
        pytest.skip("AddressSanitizer cannot run under an address-space limit")
    return run_child


def serialized(bitmap, portable=True, compact=True):
    buffer = bytearray(bitmap.persisted_size(portable, optimize=compact, shrink=compact))
    assert bitmap.write(buffer, portable) == len(buffer)
    return bytes(buffer)


def of(*positions):
    return ext.Bitmap(np.array(positions, dtype=np.uint64))


def check_rank_and_neighbours(bitmap, model, p):
    """Rank and neighbour queries at p against a set of positions."""
    assert bitmap.lower_cardinality(p) == sum(q < p for q in model)
    assert bitmap.upper_cardinality(p) == sum(q > p for q in model)
    assert bitmap.self_or_next(p) == min((q for q in model if q >= p), default=0)
    assert bitmap.self_or_previous(p) == max((q for q in model if q <= p), default=MAX)


def holds(bitmap, positions):
    """True when the bitmap holds exactly `positions` (read without iteration)."""
    return len(bitmap) == len(positions) and all(p in bitmap for p in positions)


def single_bucket():
    return of(1, 2, 3)


def many_buckets():
    rng = np.random.default_rng(3)
    values = np.unique(rng.integers(0, 40 * SPAN, size=20_000, dtype=np.uint64))
    b = ext.Bitmap(values)
    b.set(7 * SPAN + 100, 7 * SPAN + 300_000)
    b.set(MAX)
    return b


def empty_bucket_laden():
    b = of(2 * SPAN, 5 * SPAN + 8, 9 * SPAN)
    b.unset(2 * SPAN)
    b.unset(9 * SPAN)
    b.unset(20 * SPAN, 23 * SPAN)
    return b


def mixed_containers():
    """Array, bitmap and run containers side by side, never compacted."""
    rng = np.random.default_rng(5)
    b = ext.Bitmap(rng.integers(0, 1 << 16, size=10_000, dtype=np.uint64))
    b.set(3 << 16, 9 << 16)
    b.set(SPAN + 7)
    return b


SHAPES = {"default": ext.Bitmap, "single bucket": single_bucket, "many buckets": many_buckets,
          "empty-bucket laden": empty_bucket_laden, "mixed containers": mixed_containers}


def pickled(protocol):
    def write(bitmap):
        import veltrane_rec  # noqa: F401  (registers the reduction)
        return pickle.dumps(bitmap, protocol)
    return write


# Serialized forms that an earlier build wrote (scripts/stored_forms.py), kept to prove
# that every later build reads them the same: form -> (write(bitmap), read(bytes)).
STORED_SHAPES = ("empty-bucket laden", "mixed containers")
STORED_FORMS = {
    "native": (lambda b: serialized(b, False, compact=False), lambda data: ext.Bitmap.read(data, False)),
    "portable": (lambda b: serialized(b, True, compact=False), lambda data: ext.Bitmap.read(data, True)),
    "roaring64": (ext.Bitmap.to_roaring64, ext.Bitmap.from_roaring64),
    "pickle2": (pickled(2), pickle.loads),
    "pickle5": (pickled(5), pickle.loads),
}


def stored_form_path(shape, form):
    return Path(__file__).resolve().parents[1] / "data" / "stored_forms" / f"{shape.replace(' ', '_')}.{form}"


@pytest.fixture(scope="module")
def cluster_client():
    """A client of a LocalCluster with two single-threaded worker processes; every
    call made through it is bounded by the timeouts below. The nanny sets its workers'
    allocator settings (MALLOC_TRIM_THRESHOLD_, ...) in this process's environment;
    they are dropped afterwards, so that later child interpreters start as before."""
    distributed = pytest.importorskip("distributed")
    with mock.patch.dict(os.environ), distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  dashboard_address=None, memory_limit="2GiB",
                                  silence_logs=logging.ERROR, timeout="60s") as cluster, \
            distributed.Client(cluster, timeout="60s") as client:
        client.wait_for_workers(2, timeout=60)
        yield client


def local_scan_totals(paths):
    """What scanning each file whole in this process gives, summed over the files."""
    totals = [ext.MemoryScanner().scan(open(path, "rb").read()) for path in paths]
    return tuple(sum(column) for column in zip(*totals))


@pytest.fixture
def document_files(tmp_path):
    """Newline-delimited JSON files of several layouts, and a helper that writes more."""
    def write(name, text):
        path = tmp_path / name
        path.write_bytes(text.encode())
        return path

    rows = "".join(f'{{"id": {i}, "tags": ["t{i % 7}"], "text": "{"x" * (i % 50)}"}}\n' for i in range(150))
    files = [
        write("rows.ndjson", rows),
        write("packed.ndjson", '[1] {"a": 2} "s" 3\n' * 50 + "\n\n  \n" + "{}\n" * 30),
        write("incomplete_tail.ndjson", '{"a": 1}\n' * 40 + '{"open": [1, 2'),
        write("empty.ndjson", ""),
    ]
    return write, files


# A pretty-printed document spans lines; blocks that end at a line feed inside it cut it.
MULTI_LINE_DOCUMENT = '{\n  "id": 1,\n  "tags": [\n    "a",\n    "b"\n  ]\n}\n'


class SubBitmap(ext.Bitmap):
    """A subclass with nothing of its own: calls on its instances always take the
    registered functions, never the direct entries, so they show what the direct
    entries must give."""


def outcome(call):
    """What a call gives, comparable across objects: a Bitmap result as its positions,
    an exception as its type and message with object addresses and subclass names
    (also those that start the repr of an argument) taken out."""
    try:
        result = call()
    except Exception as error:  # noqa: BLE001 - the exception is the outcome
        message = re.sub(r"<[\w.]+ object at 0x[0-9a-f]+>", "<object>", str(error))
        message = message.replace("SubBitmap([", "Bitmap([")  # in the repr of an argument
        return type(error), message.replace("SubBitmap", "_veltrane_rec_extension.Bitmap")
    if isinstance(result, ext.Bitmap):
        return type(result), result.index_array().tolist()
    return type(result), result
