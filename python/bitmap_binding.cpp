// Registration of the Python class Bitmap. Every method converts its arguments,
// makes one core call and converts the result; methods that may change buckets or
// containers reach the core through edit(), which marks the bitmap for live iterators
// and the rank index. Names are registered in the order of the module's registration
// table; the methods where call cost dominates get direct entries (fast_calls.h).
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
#include "python/parameter_types.h"
#include "python/registration.h"
#include "python/tracked_bitmap.h"
#include "storage/allocation_hooks.h"

namespace py = pybind11;
using veltrane::storage::Bitmap;

namespace {

TrackedBitmap copyOf(const TrackedBitmap& self) { return TrackedBitmap(self); }

std::uint64_t cardinalityOf(const TrackedBitmap& self) { return self.cardinality(); }
bool isEmpty(const TrackedBitmap& self) { return self.view().isEmpty(); }
OptionalPosition firstOf(const TrackedBitmap& self) { return self.view().first(); }
OptionalPosition lastOf(const TrackedBitmap& self) { return self.view().last(); }

std::uint64_t lowerCardinality(const TrackedBitmap& self, Position position) {
  return self.lowerCardinality(position);
}
std::uint64_t upperCardinality(const TrackedBitmap& self, Position position) {
  return self.upperCardinality(position);
}
std::uint64_t nth(TrackedBitmap& self, Position ordinal) { return self.nth(ordinal); }
OptionalPosition selfOrNext(TrackedBitmap& self, Position position) { return self.selfOrNext(position); }
OptionalPosition selfOrPrevious(TrackedBitmap& self, Position position) {
  return self.selfOrPrevious(position);
}

bool contains(const TrackedBitmap& self, Position position) { return self.contains(position); }
bool all(const TrackedBitmap& self, Position startInc, Position endEx) {
  return self.view().all(startInc, endEx);
}
bool any(const TrackedBitmap& self, Position startInc, Position endEx) {
  return self.view().any(startInc, endEx);
}

void setPositions(TrackedBitmap& self, Position position, OptionalPosition endEx) {
  if (endEx) {
    self.edit().addRange(position, *endEx);
  } else {
    self.edit().add(position);
  }
}

void unsetPositions(TrackedBitmap& self, Position position, OptionalPosition endEx) {
  if (endEx) {
    self.edit().removeRange(position, *endEx);
  } else {
    self.edit().remove(position);
  }
}

// endEx None toggles the one position, 2^64 - 1 included; otherwise the range must
// be non-empty, checked before anything changes.
void flipPositions(TrackedBitmap& self, Position position, OptionalPosition endEx) {
  if (!endEx) {
    self.edit().flip(position);
    return;
  }
  if (position >= *endEx) throw std::runtime_error("Invalid range.");
  self.edit().flip(position, *endEx);
}

// A new bitmap from a non-modifying set operator; both operands stay unchanged.
template <Bitmap (Bitmap::*combine)(const Bitmap&) const>
TrackedBitmap combined(const TrackedBitmap& self, const TrackedBitmap& other) {
  return TrackedBitmap(std::invoke(combine, self.view(), other.view()));
}

// Changes self in place and returns a new object holding a copy of self, never self.
template <Bitmap& (Bitmap::*combine)(const Bitmap&)>
TrackedBitmap combinedInPlace(TrackedBitmap& self, const TrackedBitmap& other) {
  std::invoke(combine, self.edit(), other.view());
  return TrackedBitmap(self);
}

template <bool (Bitmap::*test)(const Bitmap&) const>
bool related(const TrackedBitmap& self, const TrackedBitmap& other) {
  return std::invoke(test, self.view(), other.view());
}

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
  using fast_calls::FastClass;
  py::class_<TrackedBitmap, std::unique_ptr<TrackedBitmap>> bitmap(module, "Bitmap");
  FastClass<TrackedBitmap> fast(bitmap);
  const auto other = py::arg("other");
  const auto position = py::arg("position");

  bitmap.def(py::init([](const std::optional<PositionIndices>& indices) { return TrackedBitmap(bitmapFromIndices(indices)); }), py::arg("indices") = py::none());
  fast.method<&copyOf>("copy");
  bitmap
      .def("slice",
           [](const TrackedBitmap& self, Position startInc, Position endInc) {
             return TrackedBitmap(self.view().slice(startInc, endInc));
           },
           py::arg("startInc"), py::arg("endInc"))
      .def("persisted_size",
           [](TrackedBitmap& self, bool portable, bool optimize, bool shrink) {
             // Only compaction changes containers: a plain sizing (as pickling does)
             // leaves live iterators and the rank index valid.
             if (!optimize && !shrink) return self.uncompactedPersistedSize(portable);
             return self.edit().persistedSize(portable, optimize, shrink);
           },
           py::arg("portable") = true, py::arg("optimize") = true, py::arg("shrink") = true)
      .def("write", [](const TrackedBitmap& self, const Buffer& buffer, bool portable) { return writeToBuffer(self.view(), buffer, portable); }, py::arg("buffer"), py::arg("portable") = true)
      .def_static("read", [](const Buffer& buffer, bool portable) { return readFromBuffer(buffer, portable); }, py::arg("buffer"), py::arg("portable") = true);
  fast.property<&cardinalityOf>("cardinality")
      .property<&isEmpty>("empty")
      .property<&firstOf>("first")
      .property<&lastOf>("last");
  bitmap.def_property_readonly("in_memory_size",
                               [](const TrackedBitmap& self) { return self.view().inMemorySize(); });
  fast.method<&lowerCardinality>("lower_cardinality", position)
      .method<&upperCardinality>("upper_cardinality", position)
      .method<&nth>("nth", py::arg("ordinal"))
      .method<&selfOrNext>("self_or_next", position)
      .method<&selfOrPrevious>("self_or_previous", position)
      .method<&related<&Bitmap::isSubset>>("subset_of", other)
      .method<&related<&Bitmap::isStrictSubset>>("strict_subset_of", other)
      .method<&contains>("contains", position)
      .method<&all>("all", py::arg("startInc"), py::arg("endEx"))
      .method<&any>("any", py::arg("startInc"), py::arg("endEx"))
      .lengthMethod<&cardinalityOf>("__len__")
      .containsMethod<&contains>("__contains__", position);
  bitmap
      .def("contract",
           [](TrackedBitmap& self, Position at, Position by) { self.edit().contract(at, by); },
           position, py::arg("by"))
      .def("expand",
           [](TrackedBitmap& self, Position at, Position by) { self.edit().expand(at, by); },
           position, py::arg("by"));
  fast.method<&setPositions>("set", position, py::arg("endEx") = py::none())
      .method<&unsetPositions>("unset", position, py::arg("endEx") = py::none())
      .method<&flipPositions>("flip", position, py::arg("endEx"))
      .method<&combined<&Bitmap::operator^ >>("symmetric_difference", other)
      .method<&combined<&Bitmap::operator| >>("union", other)
      .method<&combined<&Bitmap::operator& >>("intersect", other)
      .method<&combined<&Bitmap::operator- >>("difference", other)
      .operatorMethod<&combined<&Bitmap::operator| >, &PyNumberMethods::nb_or>("__or__", other)
      .operatorMethod<&combined<&Bitmap::operator& >, &PyNumberMethods::nb_and>("__and__", other)
      .operatorMethod<&combined<&Bitmap::operator- >, &PyNumberMethods::nb_subtract>("__sub__", other)
      .operatorMethod<&combined<&Bitmap::operator^ >, &PyNumberMethods::nb_xor>("__xor__", other)
      .equalityMethod<&related<&Bitmap::operator== >>("__eq__", other)
      .method<&combinedInPlace<&Bitmap::operator^= >>("inplace_symmetric_difference", other)
      .method<&combinedInPlace<&Bitmap::operator|= >>("inplace_union", other)
      .method<&combinedInPlace<&Bitmap::operator&= >>("inplace_intersect", other)
      .method<&combinedInPlace<&Bitmap::operator-= >>("inplace_difference", other)
      .operatorMethod<&combinedInPlace<&Bitmap::operator|= >, &PyNumberMethods::nb_inplace_or>("__ior__", other)
      .operatorMethod<&combinedInPlace<&Bitmap::operator&= >, &PyNumberMethods::nb_inplace_and>("__iand__", other)
      .operatorMethod<&combinedInPlace<&Bitmap::operator-= >, &PyNumberMethods::nb_inplace_subtract>("__isub__", other)
      .operatorMethod<&combinedInPlace<&Bitmap::operator^= >, &PyNumberMethods::nb_inplace_xor>("__ixor__", other);
  bitmap
      .def("__iter__", [](const TrackedBitmap& self) { return iterateBitmap(self); }, py::keep_alive<0, 1>())
      .def("index_array", [](const TrackedBitmap& self) { return indexArray(self); })
      .def("bool_array", [](const TrackedBitmap& self, bool invert, bool relative) { return boolArray(self.view(), invert, relative); }, py::arg("invert") = true, py::arg("relative") = true);
}
