// index_array() and bool_array(invert, relative): new NumPy arrays filled in bulk
// from the buckets, with no Python object made per position.
#include <pybind11/numpy.h>

#include <cstdint>
#include <cstring>
#include <stdexcept>

#include "python/bitmap_adapters.h"

namespace py = pybind11;

namespace {

// Lengths of 2^63 and more reach NumPy as negative sizes, which it refuses with its
// own error; so does any length it cannot allocate.
py::ssize_t asArrayLength(std::uint64_t length) { return static_cast<py::ssize_t>(length); }

}  // namespace

py::array indexArray(const veltrane::storage::Bitmap& bitmap) {
  py::array_t<std::uint64_t> positions(asArrayLength(bitmap.cardinality()));
  bitmap.copyPositionsTo(positions.mutable_data());
  return std::move(positions);
}

// The mask covers offset .. last(). Its length last() - offset + 1 is 2^64 when the
// span covers every position, which no 64-bit length can express: that is refused
// before anything is allocated.
py::array boolArray(const veltrane::storage::Bitmap& bitmap, bool invert, bool relative) {
  if (bitmap.cardinality() == 0) return py::array_t<bool>(0);
  const std::uint64_t offset = relative ? *bitmap.first() : 0;
  const std::uint64_t span = *bitmap.last() - offset;
  if (span == ~std::uint64_t{0}) {
    throw std::length_error("bool_array length 18446744073709551616 is too large for an array");
  }
  py::array_t<bool> mask(asArrayLength(span + 1));
  auto* bytes = reinterpret_cast<std::uint8_t*>(mask.mutable_data());
  std::memset(bytes, invert ? 1 : 0, span + 1);
  bitmap.markPositionsIn(bytes, offset, invert);
  return std::move(mask);
}
