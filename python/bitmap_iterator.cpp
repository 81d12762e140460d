// __iter__(): a Python iterator over the set positions in ascending order.
//
// The iterator reads the low parts of one bucket at a time in blocks (CRoaring's bulk
// read) and hands them out one by one, which costs less per position than stepping a
// CRoaring iterator per call (bench_arrays, list(b) rows). It refers into the
// bitmap's buckets, which any edit may rebuild or free: it remembers the bitmap's edit
// count at creation and refuses to go on once the count has moved, on every step,
// before it touches the buckets or its block again. A neighbour query that only adds
// an empty bucket is no edit: a map insertion moves and frees nothing.
#include <pybind11/pybind11.h>

#include <array>
#include <cstdint>
#include <optional>
#include <stdexcept>

#include "python/bitmap_adapters.h"
#include "python/bucket_lows.h"
#include "python/fast_calls.h"

namespace py = pybind11;

namespace {

class PositionIterator {
 public:
  explicit PositionIterator(const TrackedBitmap& walked)
      : bitmap(&walked),
        editsAtStart(walked.editCount()),
        bucket(walked.view().bucketMap().begin()),
        stop(walked.view().bucketMap().end()) {}

  // The next position, or nothing once the walk is over (for good, edits or not).
  std::optional<std::uint64_t> step() {
    if (finished) return std::nullopt;
    if (bitmap->editCount() != editsAtStart) {
      throw std::runtime_error("Bitmap changed during iteration");
    }
    if (handedOut == filled && !refill()) {
      finished = true;
      return std::nullopt;
    }
    return keyBits | block[handedOut++];
  }

 private:
  using Buckets = veltrane::storage::Bitmap::Buckets;

  // Reads the next block of low parts, moving on over exhausted and empty buckets;
  // false when no bucket is left.
  bool refill() {
    while (bucket != stop) {
      if (!lowsStarted) {
        roaring_iterator_init(lowsOf(*bucket), &lows);
        lowsStarted = true;
      }
      filled = roaring_uint32_iterator_read(&lows, block.data(), static_cast<std::uint32_t>(block.size()));
      handedOut = 0;
      if (filled > 0) {
        keyBits = std::uint64_t{bucket->first} << 32;
        return true;
      }
      ++bucket;
      lowsStarted = false;
    }
    return false;
  }

  const TrackedBitmap* bitmap;
  std::uint64_t editsAtStart;
  Buckets::const_iterator bucket;
  Buckets::const_iterator stop;
  roaring_uint32_iterator_t lows{};
  bool lowsStarted = false;
  std::array<std::uint32_t, 256> block{};
  std::size_t filled = 0;
  std::size_t handedOut = 0;
  std::uint64_t keyBits = 0;
  bool finished = false;
};

std::optional<std::uint64_t> nextPosition(PositionIterator& iterator) { return iterator.step(); }

std::uint64_t nextMethod(PositionIterator& iterator) {
  if (const auto position = iterator.step()) return *position;
  throw py::stop_iteration();
}

}  // namespace

namespace pybind11::detail {
template <>
class type_caster<PositionIterator> : public ConstructedOnlyCaster<PositionIterator> {};
}  // namespace pybind11::detail

namespace {

// Registered on first use, as a type local to this module that Python cannot
// instantiate (no constructor is defined) and that is no module attribute. The
// registered __next__ stays for explicit calls; the next slot serves next(),
// for-loops and list() without the generic method dispatch.
void registerIteratorType() {
  if (binding_internals::registeredType<PositionIterator>() != nullptr) return;
  py::class_<PositionIterator, std::unique_ptr<PositionIterator>> type(py::handle(), "iterator",
                                                                       py::module_local());
  type.def("__iter__", [](PositionIterator& self) -> PositionIterator& { return self; })
      .def("__next__", nextMethod);
  fast_calls::FastClass<PositionIterator>(type).nextSlot<&nextPosition>();
}

}  // namespace

// The binding ties the bitmap's lifetime to the returned object (keep_alive).
py::object iterateBitmap(const TrackedBitmap& bitmap) {
  registerIteratorType();
  return py::cast(PositionIterator(bitmap));
}
