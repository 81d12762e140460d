// Registration of the Python class Bitmap. Every method converts its arguments,
// makes one core call and converts the result; methods that may change buckets or
// containers mark the bitmap as edited first, so live iterators notice. Names are
// registered in the order of the module's registration table.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>

#include "python/bitmap_adapters.h"
#include "python/fast_calls.h"
#include "python/registration.h"
#include "python/tracked_bitmap.h"
#include "storage/allocation_hooks.h"

namespace py = pybind11;
using veltrane::storage::Bitmap;

namespace {

using Position = std::uint64_t;
using OptionalPosition = std::optional<std::uint64_t>;

// A new bitmap from a non-modifying set operator; both operands stay unchanged.
// (Stateless lambdas rather than function pointers: pybind11 stores a function
// pointer inside its record, which GCC reports as type punning.)
template <Bitmap (Bitmap::*combine)(const Bitmap&) const>
constexpr auto combined = [](const TrackedBitmap& self, const TrackedBitmap& other) {
  return TrackedBitmap(std::invoke(combine, self, other));
};

// Changes self in place and returns a new object holding a copy of self, never self.
template <Bitmap& (Bitmap::*combine)(const Bitmap&)>
constexpr auto combinedInPlace = [](TrackedBitmap& self, const TrackedBitmap& other) {
  std::invoke(combine, self.edited(), other);
  return TrackedBitmap(self);
};

// The one dispatcher behind subset_of and strict_subset_of.
template <bool (Bitmap::*test)(const Bitmap&) const>
constexpr auto related = [](const TrackedBitmap& self, const TrackedBitmap& other) {
  return std::invoke(test, self, other);
};

constexpr auto setPositions = [](TrackedBitmap& self, Position position, OptionalPosition endEx) {
  if (endEx) {
    self.edited().addRange(position, *endEx);
  } else {
    self.edited().add(position);
  }
};

constexpr auto unsetPositions = [](TrackedBitmap& self, Position position, OptionalPosition endEx) {
  if (endEx) {
    self.edited().removeRange(position, *endEx);
  } else {
    self.edited().remove(position);
  }
};

// endEx None toggles the one position, 2^64 - 1 included; otherwise the range must
// be non-empty, checked before anything changes.
constexpr auto flipPositions = [](TrackedBitmap& self, Position position, OptionalPosition endEx) {
  if (!endEx) {
    self.edited().flip(position);
    return;
  }
  if (position >= *endEx) throw std::runtime_error("Invalid range.");
  self.edited().flip(position, *endEx);
};

}  // namespace

void registerBitmap(py::module_& module) {
  // A bucket copy that ran out of memory keeps its fixed message but is reported as
  // the MemoryError it is.
  py::register_exception_translator([](std::exception_ptr thrown) {
    try {
      if (thrown) std::rethrow_exception(thrown);
    } catch (const veltrane::storage::BucketCopyFailure& failure) {
      PyErr_SetString(PyExc_MemoryError, failure.what());
    }
  });
  py::class_<TrackedBitmap, std::unique_ptr<TrackedBitmap>> bitmap(module, "Bitmap");
  const auto other = py::arg("other");

  bitmap
      .def(py::init([](const std::optional<PositionIndices>& indices) { return bitmapFromIndices(indices); }), py::arg("indices") = py::none())
      .def("copy", [](const TrackedBitmap& self) { return TrackedBitmap(self); })
      .def("slice",
           [](const TrackedBitmap& self, Position startInc, Position endInc) {
             return TrackedBitmap(self.slice(startInc, endInc));
           },
           py::arg("startInc"), py::arg("endInc"))
      .def("persisted_size",
           [](TrackedBitmap& self, bool portable, bool optimize, bool shrink) {
             return self.edited().persistedSize(portable, optimize, shrink);
           },
           py::arg("portable") = true, py::arg("optimize") = true, py::arg("shrink") = true)
      .def("write", [](const TrackedBitmap& self, const py::buffer& buffer, bool portable) { return writeToBuffer(self, buffer, portable); }, py::arg("buffer"), py::arg("portable") = true)
      .def_static("read", [](const py::buffer& buffer, bool portable) { return readFromBuffer(buffer, portable); }, py::arg("buffer"), py::arg("portable") = true)
      .def_property_readonly("cardinality",
                             [](const TrackedBitmap& self) { return self.cardinality(); })
      .def_property_readonly("empty", [](const TrackedBitmap& self) { return self.isEmpty(); })
      .def_property_readonly("first", [](const TrackedBitmap& self) { return self.first(); })
      .def_property_readonly("last", [](const TrackedBitmap& self) { return self.last(); })
      .def_property_readonly("in_memory_size",
                             [](const TrackedBitmap& self) { return self.inMemorySize(); })
      .def("lower_cardinality",
           [](const TrackedBitmap& self, Position position) {
             return self.lowerCardinality(position);
           },
           py::arg("position"))
      .def("upper_cardinality",
           [](const TrackedBitmap& self, Position position) {
             return self.upperCardinality(position);
           },
           py::arg("position"))
      .def("nth", [](TrackedBitmap& self, Position ordinal) { return self.nth(ordinal); },
           py::arg("ordinal"))
      .def("self_or_next",
           [](TrackedBitmap& self, Position position) {
             return self.edited().selfOrNext(position);
           },
           py::arg("position"))
      .def("self_or_previous",
           [](TrackedBitmap& self, Position position) {
             return self.edited().selfOrPrevious(position);
           },
           py::arg("position"))
      .def("subset_of", related<&Bitmap::isSubset>, other)
      .def("strict_subset_of", related<&Bitmap::isStrictSubset>, other)
      .def("contains",
           [](const TrackedBitmap& self, Position position) { return self.contains(position); },
           py::arg("position"))
      .def("all",
           [](const TrackedBitmap& self, Position startInc, Position endEx) {
             return self.all(startInc, endEx);
           },
           py::arg("startInc"), py::arg("endEx"))
      .def("any",
           [](const TrackedBitmap& self, Position startInc, Position endEx) {
             return self.any(startInc, endEx);
           },
           py::arg("startInc"), py::arg("endEx"))
      .def("__len__", [](const TrackedBitmap& self) { return self.cardinality(); })
      .def("__contains__",
           [](const TrackedBitmap& self, Position position) { return self.contains(position); },
           py::arg("position"))
      .def("contract",
           [](TrackedBitmap& self, Position position, Position by) {
             self.edited().contract(position, by);
           },
           py::arg("position"), py::arg("by"))
      .def("expand",
           [](TrackedBitmap& self, Position position, Position by) {
             self.edited().expand(position, by);
           },
           py::arg("position"), py::arg("by"))
      .def("set", setPositions, py::arg("position"), py::arg("endEx") = py::none())
      .def("unset", unsetPositions, py::arg("position"), py::arg("endEx") = py::none())
      .def("flip", flipPositions, py::arg("position"), py::arg("endEx"))
      .def("symmetric_difference", combined<&Bitmap::operator^>, other)
      .def("union", combined<&Bitmap::operator|>, other)
      .def("intersect", combined<&Bitmap::operator&>, other)
      .def("difference", combined<&Bitmap::operator- >, other)
      .def("__or__", combined<&Bitmap::operator|>, other)
      .def("__and__", combined<&Bitmap::operator&>, other)
      .def("__sub__", combined<&Bitmap::operator- >, other)
      .def("__xor__", combined<&Bitmap::operator^>, other)
      .def("__eq__", related<&Bitmap::operator==>, other)
      .def("inplace_symmetric_difference", combinedInPlace<&Bitmap::operator^=>, other)
      .def("inplace_union", combinedInPlace<&Bitmap::operator|=>, other)
      .def("inplace_intersect", combinedInPlace<&Bitmap::operator&=>, other)
      .def("inplace_difference", combinedInPlace<&Bitmap::operator-=>, other)
      .def("__ior__", combinedInPlace<&Bitmap::operator|=>, other)
      .def("__iand__", combinedInPlace<&Bitmap::operator&=>, other)
      .def("__isub__", combinedInPlace<&Bitmap::operator-=>, other)
      .def("__ixor__", combinedInPlace<&Bitmap::operator^=>, other)
      .def("__iter__", [](const TrackedBitmap& self) { return iterateBitmap(self); }, py::keep_alive<0, 1>())
      .def("index_array", [](const TrackedBitmap& self) { return indexArray(self); })
      .def("bool_array", [](const TrackedBitmap& self, bool invert, bool relative) { return boolArray(self, invert, relative); }, py::arg("invert") = true, py::arg("relative") = true);
  installFastCalls(bitmap);
}
