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
#include <string>

#include "python/bitmap_adapters.h"
#include "python/fast_calls.h"
#include "python/parameter_types.h"
#include "python/registration.h"
#include "python/tracked_bitmap.h"
#include "storage/allocation_hooks.h"

namespace py = pybind11;
using veltrane::storage::Bitmap;
using veltrane::storage::IndexedBitmap;

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

// A test or count of self and other; `reversed` asks it of other and self.
template <auto query, bool reversed = false>
auto related(const TrackedBitmap& self, const TrackedBitmap& other) {
  return reversed ? std::invoke(query, other.view(), self.view()) : std::invoke(query, self.view(), other.view());
}

// A count of self and other that uses what both have learnt since their last edits.
template <auto count>
auto counted(const TrackedBitmap& self, const TrackedBitmap& other) {
  return std::invoke(count, self, other);
}

// repr() and str(): the class name of self (a subclass shows its own) and at most 33
// positions.
std::string abbreviatedText(const py::object& self) {
  const std::string name = py::str(py::type::handle_of(self).attr("__name__"));
  return self.cast<const TrackedBitmap&>().view().abbreviatedText(name);
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
  const char* const unionDoc = "A new bitmap with the positions in self or other.";
  const char* const intersectionDoc = "A new bitmap with the positions in both self and other.";
  const char* const differenceDoc = "A new bitmap with the positions of self that are not in other.";
  const char* const symmetricDifferenceDoc = "A new bitmap with the positions in exactly one of self and other.";
  const char* const inPlaceDoc = "Changes self; returns a new bitmap holding a copy of the result.";
  const char* const containsDoc = "True when position is set.";
  const char* const textDoc = "Bitmap([...]) with every position up to 32 of them, else the first 16 and the count.";

  bitmap.def(py::init([](const std::optional<PositionIndices>& indices) { return TrackedBitmap(bitmapFromIndices(indices)); }),
             "Holds the distinct values of indices, converted to a one-dimensional uint64 array.", py::arg("indices") = py::none());
  fast.method<&copyOf>("copy", "An independent copy.");
  bitmap
      .def("slice",
           [](const TrackedBitmap& self, Position startInc, Position endInc) {
             return TrackedBitmap(self.view().slice(startInc, endInc));
           },
           "A new bitmap with the positions p of self with startInc <= p < endInc (the second bound is excluded).",
           py::arg("startInc"), py::arg("endInc"))
      .def("persisted_size",
           [](TrackedBitmap& self, bool portable, bool optimize, bool shrink) {
             // Only compaction changes containers: a plain sizing (as pickling does)
             // leaves live iterators and the rank index valid.
             if (!optimize && !shrink) return self.uncompactedPersistedSize(portable);
             return self.edit().persistedSize(portable, optimize, shrink);
           },
           "The byte length of the serialized form; optimize and shrink compact the storage first.",
           py::arg("portable") = true, py::arg("optimize") = true, py::arg("shrink") = true)
      .def("write", [](const TrackedBitmap& self, const Buffer& buffer, bool portable) { return writeToBuffer(self.view(), buffer, portable); },
           "Writes the serialized form into a writable buffer of persisted_size() bytes; returns that size.",
           py::arg("buffer"), py::arg("portable") = true)
      .def_static("read", [](const Buffer& buffer, bool portable) { return readFromBuffer(buffer, portable); },
                  "Rebuilds a bitmap from the serialized form that write() produced.", py::arg("buffer"), py::arg("portable") = true);
  fast.property<&cardinalityOf>("cardinality", "The number of positions, also beyond what len() accepts.")
      .property<&isEmpty>("empty", "True when no position is set.")
      .property<&firstOf>("first", "The smallest position, or None when empty.")
      .property<&lastOf>("last", "The largest position, or None when empty.");
  bitmap.def_property_readonly("in_memory_size", [](const TrackedBitmap& self) { return self.view().inMemorySize(); },
                               "The number of compressed containers held in memory.");
  fast.method<&lowerCardinality>("lower_cardinality", "The number of positions below position.", position)
      .method<&upperCardinality>("upper_cardinality", "The number of positions above position.", position)
      .method<&nth>("nth", "The position with the given 0-based rank.", py::arg("ordinal"))
      .method<&selfOrNext>("self_or_next", "position if set, else the next larger set position; 0 when there is none.", position)
      .method<&selfOrPrevious>("self_or_previous",
                               "position if set, else the next smaller set position; 2**64 - 1 when there is none.", position)
      .method<&related<&Bitmap::isSubset>>("subset_of", "True when every position of self is in other.", other)
      .method<&related<&Bitmap::isStrictSubset>>("strict_subset_of", "True when self is a subset of other and differs from it.", other)
      .method<&contains>("contains", containsDoc, position)
      .method<&all>("all", "True when every position of the half-open range is set.", py::arg("startInc"), py::arg("endEx"))
      .method<&any>("any", "True when some position of the half-open range is set.", py::arg("startInc"), py::arg("endEx"))
      .lengthMethod<&cardinalityOf>("__len__", "The number of positions; OverflowError beyond 2**63 - 1, where the cardinality property still answers.")
      .containsMethod<&contains>("__contains__", containsDoc, position);
  bitmap
      .def("contract",
           [](TrackedBitmap& self, Position at, Position by) { self.edit().contract(at, by); },
           "Removes the by positions ending at position and moves every higher position down by by.", position, py::arg("by"))
      .def("expand",
           [](TrackedBitmap& self, Position at, Position by) { self.edit().expand(at, by); },
           "Moves every position from position up by by, leaving a gap of by unset positions.", position, py::arg("by"));
  fast.method<&setPositions>("set", "Sets position, or the half-open range [position, endEx) when endEx is given.", position,
                             py::arg("endEx") = py::none())
      .method<&unsetPositions>("unset", "Unsets position, or the half-open range [position, endEx) when endEx is given.",
                               position, py::arg("endEx") = py::none())
      .method<&flipPositions>("flip", "Toggles position (endEx None) or every position of [position, endEx).", position,
                              py::arg("endEx"))
      .method<&combined<&Bitmap::operator^ >>("symmetric_difference", symmetricDifferenceDoc, other)
      .method<&combined<&Bitmap::operator| >>("union", unionDoc, other)
      .method<&combined<&Bitmap::operator& >>("intersect", intersectionDoc, other)
      .method<&combined<&Bitmap::operator- >>("difference", differenceDoc, other)
      .operatorMethod<&combined<&Bitmap::operator| >, &PyNumberMethods::nb_or>("__or__", unionDoc, other)
      .operatorMethod<&combined<&Bitmap::operator& >, &PyNumberMethods::nb_and>("__and__", intersectionDoc, other)
      .operatorMethod<&combined<&Bitmap::operator- >, &PyNumberMethods::nb_subtract>("__sub__", differenceDoc, other)
      .operatorMethod<&combined<&Bitmap::operator^ >, &PyNumberMethods::nb_xor>("__xor__", symmetricDifferenceDoc, other)
      .equalityMethod<&related<&Bitmap::operator== >>("__eq__", "Equal positions; comparing with anything but a Bitmap raises TypeError.", other)
      .method<&combinedInPlace<&Bitmap::operator^= >>("inplace_symmetric_difference", inPlaceDoc, other)
      .method<&combinedInPlace<&Bitmap::operator|= >>("inplace_union", inPlaceDoc, other)
      .method<&combinedInPlace<&Bitmap::operator&= >>("inplace_intersect", inPlaceDoc, other)
      .method<&combinedInPlace<&Bitmap::operator-= >>("inplace_difference", inPlaceDoc, other)
      .operatorMethod<&combinedInPlace<&Bitmap::operator|= >, &PyNumberMethods::nb_inplace_or>("__ior__", inPlaceDoc, other)
      .operatorMethod<&combinedInPlace<&Bitmap::operator&= >, &PyNumberMethods::nb_inplace_and>("__iand__", inPlaceDoc, other)
      .operatorMethod<&combinedInPlace<&Bitmap::operator-= >, &PyNumberMethods::nb_inplace_subtract>("__isub__", inPlaceDoc, other)
      .operatorMethod<&combinedInPlace<&Bitmap::operator^= >, &PyNumberMethods::nb_inplace_xor>("__ixor__", inPlaceDoc, other);
  bitmap
      .def("__iter__", [](const TrackedBitmap& self) { return iterateBitmap(self); },
           "Iterates the positions in ascending order.", py::keep_alive<0, 1>())
      .def("index_array", [](const TrackedBitmap& self) { return indexArray(self); }, "The positions in ascending order.")
      .def("bool_array", [](const TrackedBitmap& self, bool invert, bool relative) { return boolArray(self.view(), invert, relative); },
           "One element per position from first (relative) or 0 up to last: whether it is set, negated when invert.",
           py::arg("invert") = true, py::arg("relative") = true);

  bitmap
      .def("to_roaring64", [](const TrackedBitmap& self) { return roaring64Bytes(self.view()); },
           "The portable 64-bit Roaring form that other Roaring libraries read; buckets without positions are left out.")
      .def_static("from_roaring64", &readRoaring64,
                  "Rebuilds a bitmap from the portable 64-bit Roaring form; damaged or inconsistent bytes raise ValueError.",
                  py::arg("buffer"))
      .def_static("union_all", &unionAll, "The union of an iterable of bitmaps, made in one pass per key; Bitmap() for none.",
                  py::arg("bitmaps"))
      .def_static("intersect_all", &intersectAll,
                  "The intersection of an iterable of bitmaps, made in one pass per key; ValueError for none.", py::arg("bitmaps"))
      .def("__repr__", &abbreviatedText, textDoc)
      .def("__str__", &abbreviatedText, textDoc);
  fast.method<&related<&Bitmap::intersectionCardinality>>("intersection_cardinality",
                                                          "len(self & other), counted without building it.", other)
      .method<&counted<&IndexedBitmap::unionCardinality>>("union_cardinality", "len(self | other), counted without building it.", other)
      .method<&counted<&IndexedBitmap::differenceCardinality>>("difference_cardinality",
                                                        "len(self - other), counted without building it.", other)
      .method<&counted<&IndexedBitmap::symmetricDifferenceCardinality>>("symmetric_difference_cardinality",
                                                                 "len(self ^ other), counted without building it.", other)
      .method<&counted<&IndexedBitmap::jaccardIndex>>("jaccard_index",
                                               "len(self & other) / len(self | other), counted without building either; nan when both are empty.",
                                               other)
      .method<&related<&Bitmap::isDisjoint>>("isdisjoint", "True when no position is in both self and other.", other)
      .orderingMethod<&related<&Bitmap::isSubset>, Py_LE>("__le__", "True when every position of self is in other.", other)
      .orderingMethod<&related<&Bitmap::isStrictSubset>, Py_LT>("__lt__", "True when self is a subset of other and differs from it.", other)
      .orderingMethod<&related<&Bitmap::isSubset, true>, Py_GE>("__ge__", "True when every position of other is in self.", other)
      .orderingMethod<&related<&Bitmap::isStrictSubset, true>, Py_GT>("__gt__",
                                                                      "True when other is a subset of self and differs from it.", other);
}
