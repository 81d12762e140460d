#pragma once

#include <pybind11/pybind11.h>

// Gives the registered Bitmap class direct entry points for `in`, len(), truth tests,
// and `contains`, `set` and `unset` with plain int arguments; all other calls keep the
// registered behaviour.
void installFastCalls(pybind11::handle bitmapType);
