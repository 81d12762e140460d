// The module entry: the interpreter version test and the module object come from
// PYBIND11_MODULE; the body registers MemoryScanner, then Bitmap.
#include <pybind11/pybind11.h>

#include "python/registration.h"

PYBIND11_MODULE(_veltrane_rec_extension, module) {
  registerMemoryScanner(module);
  refusePickling(module.attr("MemoryScanner"), "make a new one with MemoryScanner()");
  registerBitmap(module);
  refusePickling(module.attr("Bitmap"), "use its .copy() method");
}
