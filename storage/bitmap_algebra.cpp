// Placeholder until this group is built.
#include "storage/bitmap.h"
#include <stdexcept>
namespace veltrane::storage {
Bitmap& Bitmap::operator&=(const Bitmap&) { throw std::logic_error("not built yet"); }
Bitmap& Bitmap::operator-=(const Bitmap&) { throw std::logic_error("not built yet"); }
Bitmap& Bitmap::operator|=(const Bitmap&) { throw std::logic_error("not built yet"); }
Bitmap& Bitmap::operator^=(const Bitmap&) { throw std::logic_error("not built yet"); }
Bitmap Bitmap::operator&(const Bitmap&) const { throw std::logic_error("not built yet"); }
Bitmap Bitmap::operator-(const Bitmap&) const { throw std::logic_error("not built yet"); }
Bitmap Bitmap::operator|(const Bitmap&) const { throw std::logic_error("not built yet"); }
Bitmap Bitmap::operator^(const Bitmap&) const { throw std::logic_error("not built yet"); }
bool Bitmap::operator==(const Bitmap&) const { throw std::logic_error("not built yet"); }
bool Bitmap::isSubset(const Bitmap&) const { throw std::logic_error("not built yet"); }
bool Bitmap::isStrictSubset(const Bitmap&) const { throw std::logic_error("not built yet"); }
bool Bitmap::hasSharedPositionsWith(const Bitmap&) const { throw std::logic_error("not built yet"); }
}
