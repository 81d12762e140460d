// Placeholder until this group is built.
#include "python/bitmap_adapters.h"
#include <stdexcept>
pybind11::array indexArray(const TrackedBitmap&) { throw std::logic_error("not built yet"); }
pybind11::array boolArray(const TrackedBitmap&, bool, bool) { throw std::logic_error("not built yet"); }
