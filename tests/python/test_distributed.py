"""veltrane_rec.dask: bitmaps per partition combined by a tree, and document counts over
blocks of files; first on Dask's synchronous scheduler, then on a LocalCluster of two
worker processes."""
import functools
import operator
import os
import re

import pytest

da = pytest.importorskip("dask.array")
db = pytest.importorskip("dask.bag")
import dask  # noqa: E402
import numpy as np  # noqa: E402

from _veltrane_rec_extension import Bitmap  # noqa: E402
from conftest import MAX, MULTI_LINE_DOCUMENT, SHAPES, SPAN, local_scan_totals, serialized  # noqa: E402
from veltrane_rec.dask import DocumentCount, bitmap_from, count_documents, partition_bitmap  # noqa: E402

OPERATORS = {"|": operator.or_, "&": operator.and_, "^": operator.xor}
TIMEOUT = 60


def chunks_of_positions(seed=11, chunks=5, size=3_000):
    """Overlapping chunks spread over a few buckets, so that all three operators matter."""
    rng = np.random.default_rng(seed)
    shared = rng.integers(0, 3 * SPAN, size=size // 3, dtype=np.uint64)
    return [np.concatenate([shared, rng.integers(0, 3 * SPAN, size=size, dtype=np.uint64)])
            for _ in range(chunks)]


def local_combination(chunks, combine):
    return functools.reduce(OPERATORS[combine], (Bitmap(chunk) for chunk in chunks))


def positions_as(kind, chunks):
    if kind == "array":
        return da.concatenate([da.from_array(chunk, chunks=len(chunk)) for chunk in chunks])
    return db.from_sequence([int(v) for chunk in chunks for v in chunk], npartitions=len(chunks))


@pytest.fixture
def synchronous():
    with dask.config.set(scheduler="sync"):
        yield


@pytest.mark.parametrize("values, error, message", [
    (np.array([1.0, 2.0]), TypeError, "integers, not float64"),
    ([3, 1.5], TypeError, "'float' object cannot be interpreted as an integer"),
    ([3, None], TypeError, "NoneType"),
    (["7"], TypeError, "'str' object"),
    (np.array([5, -2]), ValueError, "position -2 is outside"),
    ([1, 2**64], ValueError, f"position {2**64} is outside"),
    ([-1, 2**63], ValueError, "position -1 is outside"),
    (np.zeros((2, 2), dtype=np.uint64), ValueError, "one dimension, not 2"),
])
def test_a_partition_with_bad_positions_is_refused(values, error, message):
    with pytest.raises(error, match=message):
        partition_bitmap(values)


@pytest.mark.parametrize("values, expected", [
    ([], []), ([MAX, 0, MAX], [0, MAX]), ([True, 5], [1, 5]), (iter([4, 2**40]), [4, 2**40]),
    (np.array([9, 3], dtype=np.int8), [3, 9]), (np.array([2**63, 1], dtype=np.uint64), [1, 2**63]),
])
def test_a_partition_takes_every_integer_in_range(values, expected):
    assert list(partition_bitmap(values)) == expected


@pytest.mark.usefixtures("synchronous")
@pytest.mark.parametrize("combine", OPERATORS)
@pytest.mark.parametrize("kind", ["array", "bag"])
def test_partition_bitmaps_combine_as_in_one_process(kind, combine):
    chunks = chunks_of_positions()
    result = bitmap_from(positions_as(kind, chunks), combine, split_every=2).compute()
    assert result == local_combination(chunks, combine)


@pytest.mark.usefixtures("synchronous")
def test_bitmap_from_refuses_what_it_cannot_combine():
    with pytest.raises(ValueError, match="one dimension, not 2"):
        bitmap_from(da.zeros((4, 4), dtype=np.uint64))
    with pytest.raises(ValueError, match="combine must be one of"):
        bitmap_from(da.arange(4), "-")
    with pytest.raises(ValueError, match="split_every"):
        bitmap_from(da.arange(4), split_every=1)
    with pytest.raises(TypeError, match="dask.array.Array or dask.bag.Bag"):
        bitmap_from(np.arange(4))
    assert bitmap_from(db.from_sequence([], npartitions=1)).compute() == Bitmap()


@pytest.mark.usefixtures("synchronous")
@pytest.mark.parametrize("blocksize", [5, 23, 100, 4096, None])
def test_block_counts_add_up_to_whole_file_scans(document_files, blocksize):
    _, files = document_files
    totals = count_documents(files, blocksize=blocksize, split_every=3).compute()
    assert isinstance(totals, DocumentCount)
    assert totals == local_scan_totals(files)
    assert count_documents(files[0], blocksize=blocksize).compute() == local_scan_totals(files[:1])


@pytest.mark.usefixtures("synchronous")
def test_a_document_cut_by_a_block_boundary_is_refused_not_miscounted(document_files):
    write, _ = document_files
    path = write("pretty.json", '{"a": 1}\n' * 3 + MULTI_LINE_DOCUMENT * 3)
    with pytest.raises(ValueError, match=r"pretty.json: the block of bytes (\d+) to (\d+) has no complete "
                                         r"document from byte (\d+) on; a document spans lines") as refusal:
        count_documents(path, blocksize=40).compute()
    begin, end, failing = map(int, re.search(r"bytes (\d+) to (\d+) .* byte (\d+)", str(refusal.value)).groups())
    assert begin <= failing < end <= len(path.read_bytes())
    # Blocks that hold each document whole, or whole files, count exactly.
    whole = (6, 27 + 3 * len(MULTI_LINE_DOCUMENT))
    assert count_documents(path, blocksize=10_000).compute() == local_scan_totals([path]) == whole
    assert count_documents(path, blocksize=None).compute() == whole


def test_count_documents_refuses_bad_arguments(tmp_path):
    with pytest.raises(FileNotFoundError):
        count_documents(tmp_path / "absent.ndjson")
    with pytest.raises(ValueError, match="blocksize"):
        count_documents([], blocksize=0)
    assert dask.compute(count_documents([]), scheduler="sync")[0] == (0, 0)


# On two worker processes.

def on_cluster(client, work):
    return client.compute(work).result(timeout=TIMEOUT)


@pytest.mark.cluster
@pytest.mark.parametrize("combine", OPERATORS)
@pytest.mark.parametrize("kind", ["array", "bag"])
def test_cluster_results_equal_the_single_process_computation(cluster_client, kind, combine):
    chunks = chunks_of_positions(seed=12, chunks=6, size=1_000)
    result = on_cluster(cluster_client, bitmap_from(positions_as(kind, chunks), combine, split_every=3))
    assert result == local_combination(chunks, combine)


def echo_with_persisted_size(bitmap):
    """Defined at module level, so that it travels by reference: a lambda would go through
    the cluster's by-value pickling fallback, whose failed first attempt can leave unraisable
    warnings behind in the client."""
    return bitmap, bitmap.persisted_size(True, False, False)


@pytest.mark.cluster
def test_bitmaps_cross_process_boundaries_intact(cluster_client):
    worker_pids = set(cluster_client.run(os.getpid).values())
    assert len(worker_pids) == 2 and os.getpid() not in worker_pids
    for shape, make in SHAPES.items():
        original = make()
        echoed = cluster_client.submit(echo_with_persisted_size, original, pure=False)
        returned, size_on_worker = echoed.result(timeout=TIMEOUT)
        form = serialized(original, compact=False)
        assert size_on_worker == len(form), shape
        assert serialized(returned, compact=False) == form, shape


@pytest.mark.cluster
def test_cluster_document_counts_equal_whole_file_scans(cluster_client, document_files):
    write, files = document_files
    assert on_cluster(cluster_client, count_documents(files, blocksize=64)) == local_scan_totals(files)
    # A result the cluster still holds is not handed out for a file that changed since.
    path = write("changing.ndjson", "[1]\n" * 10)
    held = cluster_client.compute(count_documents(path, blocksize=8))
    assert held.result(timeout=TIMEOUT) == (10, 40)
    write("changing.ndjson", "[1]\n" * 12)
    assert on_cluster(cluster_client, count_documents(path, blocksize=8)) == (12, 48)


@pytest.mark.cluster
def test_worker_errors_arrive_as_their_local_types(cluster_client, document_files):
    write, files = document_files
    with pytest.raises(ValueError, match="position -4 is outside"):
        on_cluster(cluster_client, bitmap_from(da.from_array(np.array([1, 2, -4, 5]), chunks=2)))
    with pytest.raises(TypeError, match="'float' object cannot be interpreted as an integer"):
        on_cluster(cluster_client, bitmap_from(db.from_sequence([1, 2.5, 3], npartitions=2)))
    with pytest.raises(TypeError, match="integers, not float64"):
        on_cluster(cluster_client, bitmap_from(da.from_array(np.array([1.0, 2.0]), chunks=1)))
    pretty = write("pretty.json", MULTI_LINE_DOCUMENT * 4)
    with pytest.raises(ValueError, match="a document spans lines across a block boundary"):
        on_cluster(cluster_client, count_documents(pretty, blocksize=30))
    vanishing = write("vanishing.ndjson", '{"a": 1}\n' * 10)
    work = count_documents(vanishing, blocksize=16)
    vanishing.unlink()
    with pytest.raises(FileNotFoundError, match="vanishing.ndjson"):
        on_cluster(cluster_client, work)
