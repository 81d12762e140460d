"""MemoryScanner: counting concatenated JSON documents in Python buffers."""
import array
import mmap
import re

import numpy as np
import pytest

from _veltrane_rec_extension import MemoryScanner

MISMATCH = re.escape("scan(): incompatible function arguments. ")


@pytest.fixture(scope="module")
def scanner():
    return MemoryScanner()


@pytest.mark.parametrize("data, expected", [
    (b"", (0, 0)),
    (b" \n\t\r ", (0, 5)),
    (b'{"a": [1, {"b": null}]}', (1, 23)),
    (b'{"a": 1}\n[2]\n"three"\n4 true', (5, 27)),
    (b'{"a": 1} [2] {"open": ', (2, 13)),
    (b'[1] [2, {"x": "unclosed', (1, 4)),
    (b'[1] "last"', (2, 10)),
    (b'"\xff" [1]', (1, 0)),  # invalid UTF-8: the walk ends on its first step
    (b"[" * 5000 + b"]" * 5000, (1, 10000)),
], ids=["empty", "whitespace", "one", "several", "incomplete-tail", "unclosed-string-tail", "string-last",
        "invalid-utf8", "deep"])
def test_counts_documents_and_covered_bytes(scanner, data, expected):
    assert scanner.scan(data) == expected


@pytest.mark.parametrize("wrap", [
    bytes, bytearray, memoryview, lambda data: np.frombuffer(data, dtype=np.uint8),
    lambda data: array.array("B", data), lambda data: memoryview(b"xx" + data)[2:],
], ids=["bytes", "bytearray", "memoryview", "numpy-uint8", "array", "offset-view"])
def test_accepts_contiguous_one_byte_buffers(scanner, wrap):
    assert scanner.scan(wrap(b'{"a": 1} [2] {"b"')) == (2, 13)


def test_reads_nothing_past_the_end_of_a_view(scanner):
    # The byte after the view is a colon that would make the last string an object key.
    assert scanner.scan(memoryview(b'[1] "abc":1')[:9]) == (2, 9)


def test_string_ending_at_a_page_boundary(scanner):
    with mmap.mmap(-1, mmap.PAGESIZE) as page:
        page.write(b" " * (mmap.PAGESIZE - 5) + b'"abc"')
        assert scanner.scan(page) == (1, mmap.PAGESIZE)


@pytest.mark.parametrize("wide", [
    np.zeros(4, dtype=np.uint16), array.array("i", [1, 2]), memoryview(b"[1] [2] ").cast("H"),
], ids=["numpy-uint16", "array-int", "memoryview-cast"])
def test_refuses_items_wider_than_a_byte(scanner, wide):
    with pytest.raises(RuntimeError, match="^Item size should be 1$"):
        scanner.scan(wide)


@pytest.mark.parametrize("step", [-1, 2])
def test_refuses_non_contiguous_views(scanner, step):
    with pytest.raises(BufferError):
        scanner.scan(memoryview(b"[1] [2] [3]")[::step])


@pytest.mark.parametrize("argument", [7, None, "[1]", [1]])
def test_refuses_objects_without_the_buffer_protocol(scanner, argument):
    with pytest.raises(TypeError, match=MISMATCH):
        scanner.scan(argument)


@pytest.mark.parametrize("call", [lambda s: s.scan(), lambda s: s.scan(b"", b""), lambda s: s.scan(buffer=b"[1]")],
                         ids=["missing", "extra", "keyword"])
def test_takes_exactly_one_positional_argument(scanner, call):
    with pytest.raises(TypeError, match=MISMATCH):
        call(scanner)


def test_repeated_scans_and_a_second_scanner_agree(scanner):
    data = b'{"id": 1, "tags": ["x", "y"]}\n' * 100_000 + b'{"id": '
    first = scanner.scan(data)
    assert first == (100_000, 3_000_000)
    assert scanner.scan(b'"\xff"') == (1, 0)
    assert scanner.scan(data) == first
    assert MemoryScanner().scan(data) == first


def test_a_scanner_made_without_init_is_refused_not_used():
    orphan = MemoryScanner.__new__(MemoryScanner)
    with pytest.raises(TypeError, match="not initialized"):
        orphan.scan(b"[1]")


GIB = 1 << 30


def test_scans_fit_in_two_gibibytes_of_address_space(run_limited):
    result = run_limited("""
        from _veltrane_rec_extension import MemoryScanner
        cases = [(b'[1]', (1, 3)), (b'{"a": 1} [2] {"open": ', (2, 13)), (b'  ', (0, 2)),
                 (b'"s" \\xff', (2, 4)), (b'1 \\xff', (2, 2)), (b'"a" "b\\xff"', (2, 6)),
                 (b'{"k": "v"}\\n' * 100_000, (100_000, 1_100_000))]
        reused = MemoryScanner()
        for data, expected in cases + cases[::-1]:
            assert MemoryScanner().scan(data) == expected, (data[:20], expected)
            assert reused.scan(data) == expected, (data[:20], expected)
        scanners = [MemoryScanner() for _ in range(50)]
        assert [s.scan(b'[1] "two" 3') for s in scanners] == [(3, 11)] * 50
        print("ok")
        """, address_space=2 * GIB)
    assert result.stdout == "ok\n", result.stderr


def test_working_memory_that_cannot_be_allocated_raises_memory_error(run_limited):
    # 160 MB of input needs buffers for a 256 MiB window, about 1.5 GB; 512 MiB are left.
    result = run_limited("""
        import resource
        from _veltrane_rec_extension import MemoryScanner
        data = b'[1] ' * 40_000_000
        used = int(next(l for l in open('/proc/self/status') if l.startswith('VmSize')).split()[1])
        resource.setrlimit(resource.RLIMIT_AS, (used * 1024 + (512 << 20),) * 2)
        scanner = MemoryScanner()
        try:
            print(scanner.scan(data))
        except MemoryError as error:
            print(error)
        print(scanner.scan(b'[1] [2]'))
        """)
    assert re.fullmatch(r"scan needs about \d{10} bytes of working memory and could not "
                        r"allocate them\n\(2, 7\)\n", result.stdout), result.stdout + result.stderr


@pytest.mark.parametrize(
    "address_space, stack, expected",
    [
        # The address space holds the input and the buffers of both parsers, but not a thread
        # stack the size of this stack limit (glibc's default for new threads): the worker
        # thread cannot start, and the calling thread walks every window.
        (16 * GIB, 40 * GIB, r"\(1074000, 1075074000\)"),
        # Room for the input and the scanner's buffers, not for those of the worker.
        (10 * GIB, None, r"scan needs about \d{11} bytes of working memory and could not "
                         r"allocate them"),
    ],
    ids=["thread-cannot-start", "worker-buffers-cannot-be-allocated"],
)
def test_an_input_past_one_window_under_limits(run_limited, address_space, stack, expected):
    # Past 1 GiB the next window is indexed by a worker thread with a parser of its own.
    result = run_limited("""
        from _veltrane_rec_extension import MemoryScanner
        data = (b'"' + b'a' * 998 + b'" ') * 1_074_000
        try:
            print(MemoryScanner().scan(data))
        except MemoryError as error:
            print(error)
        """, address_space=address_space, stack=stack)
    assert result.returncode == 0, result.stderr
    assert re.fullmatch(expected + "\n", result.stdout), result.stdout


def test_documents_after_a_window_of_whitespace_are_counted(run_limited):
    result = run_limited("""
        from _veltrane_rec_extension import MemoryScanner
        data = bytearray(b' ') * (2**31 + 11)
        data[:4], data[-7:] = b'[1] ', b'[2] [3]'
        print(MemoryScanner().scan(data))
        """)
    assert result.stdout == "(3, 2147483659)\n", result.stderr


def test_a_lone_string_after_backslashes_that_end_the_first_window(run_limited):
    # 1,024 string documents of 1 MiB fill the first window, the last one followed by the
    # scalar document uu\\\ (u, u and three backslashes) that ends it. The quote that opens
    # the next window opens a string, the last document, right before an inaccessible page.
    result = run_limited(r"""
        import ctypes, mmap
        from _veltrane_rec_extension import MemoryScanner
        piece, window, page = 1 << 20, 1 << 30, mmap.PAGESIZE
        size = -(-(window + 2) // page) * page
        memory = mmap.mmap(-1, size + page)
        address = ctypes.addressof(ctypes.c_char.from_buffer(memory))
        assert ctypes.CDLL(None).mprotect(ctypes.c_void_p(address + size), page, 0) == 0
        start = size - window - 2
        document = b'"' + b'a' * (piece - 3) + b'" '
        for offset in range(start, start + window - piece, piece):
            memory[offset:offset + piece] = document
        memory[start + window - piece:size] = b'"' + b'a' * (piece - 8) + b'" uu\\\\\\""'
        print(MemoryScanner().scan(memoryview(memory)[start:size]))
        """)
    assert result.stdout == "(1026, 1073741826)\n", result.stderr
