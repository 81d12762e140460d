// __iter__(): a Python iterator over the set positions in ascending order.
//
// The iterator refers into the bitmap's buckets, which any edit may rebuild or free.
// It remembers the bitmap's edit count at creation and refuses to go on once the
// count has moved, before it touches its core iterators again.
#include <pybind11/pybind11.h>

#include <cstdint>
#include <optional>
#include <stdexcept>

#include "python/bitmap_adapters.h"

namespace py = pybind11;
using veltrane::storage::Bitmap;

namespace {

class PositionIterator {
 public:
  explicit PositionIterator(const TrackedBitmap& walked)
      : bitmap(&walked),
        editsAtStart(walked.editCount()),
        current(walked.begin()),
        stop(walked.end()) {}

  // The next position, or nothing once the walk is over (for good, edits or not).
  std::optional<std::uint64_t> step() {
    if (finished) return std::nullopt;
    if (bitmap->editCount() != editsAtStart) {
      throw std::runtime_error("Bitmap changed during iteration");
    }
    // The first call reads where begin() stands; later calls advance first.
    if (firstCall) {
      firstCall = false;
    } else {
      ++current;
    }
    if (current == stop) {
      finished = true;
      return std::nullopt;
    }
    return *current;
  }

 private:
  const TrackedBitmap* bitmap;
  std::uint64_t editsAtStart;
  Bitmap::BitmapForwardIterator current;
  Bitmap::BitmapForwardIterator stop;
  bool firstCall = true;
  bool finished = false;
};

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

// The type's next slot, called directly by next(), for-loops and list(): it skips
// the generic method dispatch, which would cost more than producing the position.
// Returning null with no error set ends the iteration.
PyObject* nextSlot(PyObject* self) {
  const auto* info = py::detail::get_type_info(typeid(PositionIterator));
  auto* instance = reinterpret_cast<py::detail::instance*>(self);
  auto valueAndHolder = instance->get_value_and_holder(info, false);
  if (!valueAndHolder.holder_constructed()) {
    PyErr_SetString(PyExc_TypeError,
                    "iterator object is not initialized: its __init__ was not called");
    return nullptr;
  }
  try {
    const auto position = valueAndHolder.value_ptr<PositionIterator>()->step();
    return position ? PyLong_FromUnsignedLongLong(*position) : nullptr;
  } catch (const std::runtime_error& error) {
    PyErr_SetString(PyExc_RuntimeError, error.what());
    return nullptr;
  }
}

// Registered on first use, as a type local to this module that Python cannot
// instantiate (no constructor is defined) and that is no module attribute. The
// registered __next__ stays for explicit calls; the slot serves everything else.
void registerIteratorType() {
  if (py::detail::get_type_info(typeid(PositionIterator), false)) return;
  py::class_<PositionIterator> type(py::handle(), "iterator", py::module_local());
  type.def("__iter__", [](PositionIterator& self) -> PositionIterator& { return self; })
      .def("__next__", nextMethod);
  reinterpret_cast<PyTypeObject*>(type.ptr())->tp_iternext = nextSlot;
}

}  // namespace

// The binding ties the bitmap's lifetime to the returned object (keep_alive).
py::object iterateBitmap(const TrackedBitmap& bitmap) {
  registerIteratorType();
  return py::cast(PositionIterator(bitmap));
}
