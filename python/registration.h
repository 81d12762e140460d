#pragma once

#include <pybind11/pybind11.h>

// Registration of the module's classes, called from the module body in this order.
void registerMemoryScanner(pybind11::module_& module);
void registerBitmap(pybind11::module_& module);
// Gives a registered class a __reduce__ that refuses pickling and copying at every
// protocol; copyHint tells users of the copy module what to do instead.
void refusePickling(pybind11::handle type, const char* copyHint);
// Lets a pending signal whose handler raises (Ctrl-C) cancel long core operations.
void cancelOnPendingSignals();
