#pragma once

#include <pybind11/pybind11.h>

#include "python/constructed_caster.h"

#include <cstdint>
#include <utility>

#include "storage/bitmap.h"

// The value a Python Bitmap object owns: the core bitmap plus a count of the edits
// made through Python. Iterators compare the count with the one they started from,
// so an edit between two __next__ calls is detected before any stale storage is read.
class TrackedBitmap : public veltrane::storage::Bitmap {
 public:
  TrackedBitmap() = default;
  explicit TrackedBitmap(Bitmap&& value) noexcept : Bitmap(std::move(value)) {}
  TrackedBitmap(const TrackedBitmap& other) : Bitmap(other) {}
  TrackedBitmap(TrackedBitmap&& other) noexcept : Bitmap(std::move(other)) {}

  std::uint64_t editCount() const noexcept { return edits; }
  // Called before every operation that may change buckets or containers.
  Bitmap& edited() noexcept {
    ++edits;
    return *this;
  }

 private:
  std::uint64_t edits = 0;
};

namespace pybind11::detail {

template <>
class type_caster<TrackedBitmap> : public ConstructedOnlyCaster<TrackedBitmap> {};

}  // namespace pybind11::detail
