#pragma once

#include <pybind11/pybind11.h>

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

// pybind11 hands a method the raw, unconstructed storage of an object made by
// Bitmap.__new__ without __init__; refuse such an object instead of reading garbage.
template <>
class type_caster<TrackedBitmap> : public type_caster_base<TrackedBitmap> {
 public:
  bool load(handle source, bool convert) {
    const type_info* info = get_type_info(typeid(TrackedBitmap));
    if (info != nullptr && PyObject_TypeCheck(source.ptr(), info->type)) {
      auto* object = reinterpret_cast<instance*>(source.ptr());
      if (!object->get_value_and_holder(info, false).holder_constructed()) {
        throw type_error("Bitmap object is not initialized: its __init__ was not called");
      }
    }
    return type_caster_base<TrackedBitmap>::load(source, convert);
  }
};

}  // namespace pybind11::detail
