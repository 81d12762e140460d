// Bitmap(indices=None): NumPy has already converted the argument to an array of
// unsigned 64-bit integers (forced cast, no copy when the type already matches).
#include <pybind11/numpy.h>

#include <cstdint>

#include "python/bitmap_adapters.h"

namespace py = pybind11;

veltrane::storage::Bitmap bitmapFromIndices(const std::optional<py::array_t<std::uint64_t>>& indices) {
  veltrane::storage::Bitmap bitmap;
  if (!indices) return bitmap;
  // Throws std::domain_error naming the actual number of dimensions.
  const auto values = indices->unchecked<1>();
  const auto count = static_cast<std::size_t>(values.shape(0));
  if (indices->strides(0) == sizeof(std::uint64_t)) {
    bitmap.addMany(count, values.data(0));
  } else {
    for (std::size_t i = 0; i < count; ++i) bitmap.add(values(i));
  }
  return bitmap;
}
