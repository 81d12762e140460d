// Placeholder until this group is built.
#include "storage/bitmap.h"
#include <stdexcept>
namespace veltrane::storage {
std::uint64_t Bitmap::lowerCardinality(std::uint64_t) const { throw std::logic_error("not built yet"); }
std::uint64_t Bitmap::upperCardinality(std::uint64_t) const { throw std::logic_error("not built yet"); }
std::uint64_t Bitmap::nth(std::uint64_t) { throw std::logic_error("not built yet"); }
std::optional<std::uint64_t> Bitmap::selfOrNext(std::uint64_t) { throw std::logic_error("not built yet"); }
std::optional<std::uint64_t> Bitmap::selfOrPrevious(std::uint64_t) { throw std::logic_error("not built yet"); }
Bitmap::BitmapForwardIterator Bitmap::begin() const { throw std::logic_error("not built yet"); }
Bitmap::BitmapForwardIterator Bitmap::end() const { throw std::logic_error("not built yet"); }
void Bitmap::copyPositionsTo(std::uint64_t*) const { throw std::logic_error("not built yet"); }
void Bitmap::markPositionsIn(std::uint8_t*, std::uint64_t, bool) const { throw std::logic_error("not built yet"); }
}
