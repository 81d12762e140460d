"""Compressed 64-bit bitmaps and a JSON document scanner, ready to leave the process.

Re-exports the classes of the extension module and registers, through copyreg,
pickling for them, so that `pickle`, `copy.copy`, `copy.deepcopy`, `multiprocessing`
and cluster engines can move them between processes. A `Bitmap` travels as its
portable serialized form: positions and buckets come back exactly. `veltrane_rec.dask`
(optional, `pip install .[dask]`) spreads bitmap building and document counting over
a Dask cluster.
"""
from _veltrane_rec_extension import Bitmap, MemoryScanner

from veltrane_rec import _pickling

_pickling.register()

__version__ = "0.2.0"

__all__ = ["Bitmap", "MemoryScanner"]
