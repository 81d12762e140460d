#pragma once

#include <pybind11/pybind11.h>

#include "python/constructed_caster.h"

#include <cstdint>
#include <utility>

#include "storage/indexed_bitmap.h"

// The value a Python Bitmap object owns: the core bitmap with its query caches
// (storage/indexed_bitmap.h) and a count of the edits made through Python. Iterators
// compare the count with the one they started from, so an edit between two __next__
// calls is detected before any stale storage is read.
class TrackedBitmap : public veltrane::storage::IndexedBitmap {
 public:
  using Bitmap = veltrane::storage::Bitmap;
  using IndexedBitmap::IndexedBitmap;
  TrackedBitmap(const TrackedBitmap& other) : IndexedBitmap(other) {}
  // The source is left empty, which its live iterators must notice.
  TrackedBitmap(TrackedBitmap&& other) noexcept : IndexedBitmap(std::move(other)) { ++other.edits; }
  TrackedBitmap& operator=(const TrackedBitmap&) = delete;
  TrackedBitmap& operator=(TrackedBitmap&&) = delete;

  Bitmap& edit() noexcept {
    ++edits;
    return IndexedBitmap::edit();
  }
  std::uint64_t editCount() const noexcept { return edits; }

 private:
  std::uint64_t edits = 0;
};

namespace pybind11::detail {

template <>
class type_caster<TrackedBitmap> : public ConstructedOnlyCaster<TrackedBitmap> {};

}  // namespace pybind11::detail
