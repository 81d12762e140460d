// The module entry: the interpreter version test and the module object come from
// PYBIND11_MODULE; the body prepares the importing thread for allocation failures,
// lets Ctrl-C cancel long operations, then registers MemoryScanner and Bitmap.
#include <pybind11/pybind11.h>

#include "python/registration.h"
#include "storage/allocation_hooks.h"

PYBIND11_MODULE(_veltrane_rec_extension, module) {
  veltrane::storage::prepareThreadForAllocationFailures();
  cancelOnPendingSignals();
  registerMemoryScanner(module);
  refusePickling(module.attr("MemoryScanner"), "make a new one with MemoryScanner()");
  registerBitmap(module);
  refusePickling(module.attr("Bitmap"), "use its .copy() method");
}
