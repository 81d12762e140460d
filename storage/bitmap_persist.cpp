// Placeholder until this group is built.
#include "storage/bitmap.h"
#include <stdexcept>
namespace veltrane::storage {
std::uint64_t Bitmap::persistedSize(bool, bool, bool) { throw std::logic_error("not built yet"); }
char* Bitmap::write(char*, bool) const { throw std::logic_error("not built yet"); }
char* Bitmap::write(char*, std::size_t, bool) const { throw std::logic_error("not built yet"); }
Bitmap Bitmap::read(const char*, bool) { throw std::logic_error("not built yet"); }
Bitmap Bitmap::read(const char*, std::size_t, bool) { throw std::logic_error("not built yet"); }
std::uint64_t Bitmap::inMemorySize() const { throw std::logic_error("not built yet"); }
std::string Bitmap::toString() const { throw std::logic_error("not built yet"); }
}
