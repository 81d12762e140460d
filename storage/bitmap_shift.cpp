// Placeholder until this group is built.
#include "storage/bitmap.h"
#include <stdexcept>
namespace veltrane::storage {
void Bitmap::expand(std::uint64_t, std::uint64_t) { throw std::logic_error("not built yet"); }
void Bitmap::contract(std::uint64_t, std::uint64_t) { throw std::logic_error("not built yet"); }
}
