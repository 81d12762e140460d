"""Reductions for pickle and the copy module, registered in copyreg's dispatch table.

The table is keyed by exact type, so instances of Python subclasses of `Bitmap` are not
covered: they reach the extension's own refusal. A subclass may carry attributes and an
`__init__` of its own that no reduction here can know how to restore, and turning it into
a plain `Bitmap` would silently drop them. A subclass that wants pickling defines its own
`__reduce__`.

A stored pickle names `bitmap_from_portable_form` and the builtins `bytes` and
`memoryview`: keep that function's name and module.
"""
import copyreg
import pickle

from _veltrane_rec_extension import Bitmap, MemoryScanner


class _PortableForm(bytearray):
    """The serialized form of a Bitmap on its way into a pickle. From protocol 5 on it
    travels as a pickle buffer, written from this memory straight into the stream (or
    handed out of band) and read back without a further copy; older protocols can only
    carry bytes."""

    def __reduce_ex__(self, protocol):
        if protocol >= 5:
            return memoryview, (pickle.PickleBuffer(self),)
        return bytes, (bytes(self),)


def bitmap_from_portable_form(form):
    """Rebuilds a pickled Bitmap from its portable serialized form (any byte buffer)."""
    return Bitmap.read(form, True)


def reduce_bitmap(bitmap):
    # Sized without compaction, so pickling leaves the containers (and any live
    # iterator) as they are and the copy's serialized form equals the original's.
    form = _PortableForm(bitmap.persisted_size(True, False, False))
    bitmap.write(form, True)
    return bitmap_from_portable_form, (form,)


def reduce_scanner(scanner):
    # A scanner holds no value, only reusable working memory: a new one is an equal copy.
    return MemoryScanner, ()


def register():
    copyreg.pickle(Bitmap, reduce_bitmap)
    copyreg.pickle(MemoryScanner, reduce_scanner)
