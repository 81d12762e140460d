// Placeholder until this group is built.
#include "python/bitmap_adapters.h"
#include <stdexcept>
pybind11::object iterateBitmap(const TrackedBitmap&) { throw std::logic_error("not built yet"); }
