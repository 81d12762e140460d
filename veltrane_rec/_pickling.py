"""Reductions for pickle and the copy module, registered in copyreg's dispatch table.

The table is keyed by exact type, so instances of Python subclasses of `Bitmap` are not
covered: they reach the extension's own refusal. A subclass may carry attributes and an
`__init__` of its own that no reduction here can know how to restore, and turning it into
a plain `Bitmap` would silently drop them. A subclass that wants pickling defines its own
`__reduce__`.

The names of the functions that rebuild an object are part of every stored pickle:
keep them.
"""
import copyreg

from _veltrane_rec_extension import Bitmap, MemoryScanner


def bitmap_from_portable_form(form):
    """Rebuilds a pickled Bitmap from its portable serialized form."""
    return Bitmap.read(form, True)


def reduce_bitmap(bitmap):
    # Sized without compaction, so pickling leaves the containers (and any live
    # iterator) as they are and the copy's serialized form equals the original's.
    buffer = bytearray(bitmap.persisted_size(True, False, False))
    bitmap.write(buffer, True)
    return bitmap_from_portable_form, (bytes(buffer),)


def reduce_scanner(scanner):
    # A scanner holds no value, only reusable working memory: a new one is an equal copy.
    return MemoryScanner, ()


def register():
    copyreg.pickle(Bitmap, reduce_bitmap)
    copyreg.pickle(MemoryScanner, reduce_scanner)
