// Placeholder until this group is built.
#include "storage/bitmap.h"
#include <stdexcept>
namespace veltrane::storage {
void Bitmap::flip(std::uint64_t, std::uint64_t) { throw std::logic_error("not built yet"); }
void Bitmap::flip(std::uint64_t) { throw std::logic_error("not built yet"); }
bool Bitmap::all(std::uint64_t, std::uint64_t) const { throw std::logic_error("not built yet"); }
bool Bitmap::any(std::uint64_t, std::uint64_t) const { throw std::logic_error("not built yet"); }
Bitmap Bitmap::slice(std::uint64_t, std::uint64_t) const { throw std::logic_error("not built yet"); }
}
