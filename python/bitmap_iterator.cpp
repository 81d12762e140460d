// __iter__(): a Python iterator over the set positions in ascending order.
//
// The iterator reads positions in blocks through the core's BlockReader and hands them
// out one by one. It refers into the bitmap's buckets, which any edit may rebuild or
// free: it remembers the bitmap's edit count at creation and refuses to go on once the
// count has moved, on every step, before it touches the buckets or its block again. A neighbour query that only adds
// an empty bucket is no edit: a map insertion moves and frees nothing.
#include <pybind11/pybind11.h>

#include <array>
#include <cstdint>
#include <optional>
#include <stdexcept>

#include "python/bitmap_adapters.h"
#include "python/fast_calls.h"
#include "storage/block_reader.h"
#include "storage/cancellation.h"

namespace py = pybind11;

namespace {

// 2^16 positions, a few milliseconds of handing them out.
constexpr std::uint32_t kRefillsBetweenChecks = 256;

class PositionIterator {
 public:
  explicit PositionIterator(const TrackedBitmap& walked)
      : bitmap(&walked), editsAtStart(walked.editCount()), reader(walked.view()) {}

  // The next position, or nothing once the walk is over (for good, edits or not).
  std::optional<std::uint64_t> step() {
    if (finished) return std::nullopt;
    if (bitmap->editCount() != editsAtStart) {
      throw std::runtime_error("Bitmap changed during iteration");
    }
    if (handedOut == filled) {
      // A cancellation comes first, before anything moves, so the iteration can go on.
      countdown.passed();
      filled = reader.read(block.data(), block.size(), high);
      handedOut = 0;
      if (filled == 0) {
        finished = true;
        return std::nullopt;
      }
    }
    return high | block[handedOut++];
  }

 private:
  const TrackedBitmap* bitmap;
  std::uint64_t editsAtStart;
  veltrane::storage::BlockReader reader;
  std::array<std::uint32_t, 256> block{};
  std::size_t filled = 0;
  std::size_t handedOut = 0;
  std::uint64_t high = 0;
  bool finished = false;
  // list(b) takes the positions without returning to the interpreter in between.
  veltrane::storage::CancellationCountdown countdown{kRefillsBetweenChecks};
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
