// Placeholder until this group is built.
#include "storage/bitmap.h"
#include <stdexcept>
namespace veltrane::storage {
using It = Bitmap::BitmapForwardIterator;
It::BitmapForwardIterator(const Bitmap&, bool) { throw std::logic_error("not built yet"); }
std::uint64_t It::operator*() const { throw std::logic_error("not built yet"); }
It& It::operator++() { throw std::logic_error("not built yet"); }
It It::operator++(int) { throw std::logic_error("not built yet"); }
It& It::operator--() { throw std::logic_error("not built yet"); }
It It::operator--(int) { throw std::logic_error("not built yet"); }
bool It::operator==(const It&) const { throw std::logic_error("not built yet"); }
bool It::operator!=(const It&) const { throw std::logic_error("not built yet"); }
bool It::operator<(const It&) const { throw std::logic_error("not built yet"); }
bool It::operator<=(const It&) const { throw std::logic_error("not built yet"); }
bool It::operator>(const It&) const { throw std::logic_error("not built yet"); }
bool It::operator>=(const It&) const { throw std::logic_error("not built yet"); }
}
