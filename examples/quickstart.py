"""The typical use of the module, end to end, printing what each step did."""
import numpy as np

from veltrane_rec import Bitmap, MemoryScanner


def show(label, value):
    print(f"{label:<46} {value}")


b = Bitmap(np.array([7, 3, 2**32 + 5], dtype=np.uint64))
show("b = Bitmap([7, 3, 2**32 + 5])", b.index_array().tolist())

b.set(100, 200)
show("b.set(100, 200); len(b)", len(b))

other = Bitmap(np.arange(150, 260, 10, dtype=np.uint64))
c = b | other
show("c = b | other; len(c)", len(c))
show("c.lower_cardinality(150), c.nth(0)", (c.lower_cardinality(150), c.nth(0)))

c.expand(150, 10)
show("c.expand(150, 10); 150 in c, 160 in c", (150 in c, 160 in c))
show("c.self_or_next(150)", c.self_or_next(150))

n = c.persisted_size()
buffer = bytearray(n)
written = c.write(buffer)
show("c.persisted_size(), c.write(buffer)", (n, written))

d = Bitmap.read(buffer)
show("d = Bitmap.read(buffer); d == c", d == c)
show("d.index_array()[:5], last", (d.index_array()[:5].tolist(), d.last))
show("d.slice(100, 120) as list", list(d.slice(100, 120)))
show("d.any(2**32, 2**33), d.all(100, 150)", (d.any(2**32, 2**33), d.all(100, 150)))

documents = b'{"a": 1} [1, 2, 3] "text" {"b": {"c": null}} {"incomplete": '
show("MemoryScanner().scan(documents)", MemoryScanner().scan(documents))
