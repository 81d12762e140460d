// index_array() and bool_array(invert, relative): new NumPy arrays filled in bulk
// from the buckets, with no Python object made per position.
#include <pybind11/numpy.h>

#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>

#include "python/bitmap_adapters.h"
#include "storage/cancellation.h"

namespace py = pybind11;

namespace {

constexpr auto kLargestArrayLength = static_cast<std::uint64_t>(PY_SSIZE_T_MAX);
// The mask is filled in pieces with cancellation checks between them (for masks of
// gigabytes); a piece takes some tens of milliseconds.
constexpr std::size_t kBytesPerFill = std::size_t{1} << 26;

// An array length NumPy can hold. Longer ones (NumPy's lengths are signed) are refused
// here, naming the length; `length` is the text of lengths beyond 64 bits. A length
// NumPy can hold but not allocate fails with NumPy's MemoryError.
py::ssize_t asArrayLength(std::uint64_t length, const char* method, const std::string& text) {
  if (length > kLargestArrayLength) {
    throw std::length_error(std::string(method) + " length " + text + " is too large for an array");
  }
  return static_cast<py::ssize_t>(length);
}

py::ssize_t asArrayLength(std::uint64_t length, const char* method) {
  return asArrayLength(length, method, std::to_string(length));
}

}  // namespace

py::array indexArray(const TrackedBitmap& bitmap) {
  py::array_t<std::uint64_t> positions(asArrayLength(bitmap.cardinality(), "index_array"));
  bitmap.view().copyPositionsTo(positions.mutable_data());
  return std::move(positions);
}

// The mask covers offset .. last(). Its length last() - offset + 1 is 2^64 when the
// span covers every position, which no 64-bit length can express. Lengths NumPy
// cannot hold are refused before anything is allocated.
py::array boolArray(const veltrane::storage::Bitmap& bitmap, bool invert, bool relative) {
  if (bitmap.isEmpty()) return py::array_t<bool>(0);
  const std::uint64_t offset = relative ? *bitmap.first() : 0;
  const std::uint64_t span = *bitmap.last() - offset;
  const py::ssize_t length = span == ~std::uint64_t{0}
                                 ? asArrayLength(span, "bool_array", "18446744073709551616")
                                 : asArrayLength(span + 1, "bool_array");
  py::array_t<bool> mask(length);
  auto* bytes = reinterpret_cast<std::uint8_t*>(mask.mutable_data());
  veltrane::storage::forEachCancellableBlock(span + 1, kBytesPerFill, [&](std::size_t begin, std::size_t end) {
    std::memset(bytes + begin, invert ? 1 : 0, end - begin);
  });
  bitmap.markPositionsIn(bytes, offset, invert);
  return std::move(mask);
}
