// Placeholder until this group is built.
#include "python/bitmap_adapters.h"
#include <stdexcept>
std::uint64_t writeToBuffer(const TrackedBitmap&, const pybind11::buffer&, bool) { throw std::logic_error("not built yet"); }
TrackedBitmap readFromBuffer(const pybind11::buffer&, bool) { throw std::logic_error("not built yet"); }
