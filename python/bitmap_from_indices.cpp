// Bitmap(indices=None): the distinct positions of a one-dimensional sequence.
//
// Only numbers become positions, and each must name one: NumPy's forced cast to
// unsigned 64-bit integers would turn -1 into 2^64 - 1, NaN into 2^63, 2^64 into 0 and
// the string "-1" into 2^64 - 1. So NumPy arrays are checked in their own type first,
// each check a vectorised pass: unsigned integers and booleans need none, signed
// integers one comparison, floats (complex numbers by their real part) a range test;
// other element types are refused. Python objects (lists, tuples, ranges, object
// arrays) are converted one by one (object_positions.h). Errors raised while the
// input is read pass unchanged; only an object that NumPy cannot make a
// one-dimensional array of numbers of is an argument mismatch.
#include <pybind11/numpy.h>

#include <cstdint>
#include <optional>

#include "python/binding_internals.h"
#include "python/bitmap_adapters.h"
#include "python/object_positions.h"
#include "storage/allocation_hooks.h"
#include "storage/cancellation.h"

namespace py = pybind11;

namespace {

using Positions = py::array_t<std::uint64_t>;

constexpr std::size_t kStridedValuesBetweenChecks = std::size_t{1} << 16;

// 2^64 as a double; floats compare with it exactly.
constexpr double kPositionLimit = 18446744073709551616.0;

py::module_ numpy() { return py::module_::import("numpy"); }

// True where an element of a numeric array names no position; None when its element
// type holds positions only.
py::object misplaced(const py::array& values) {
  const char kind = values.dtype().kind();
  if (kind == 'i') return values.attr("__lt__")(0);
  if (kind != 'f' && kind != 'c') return py::none();
  const py::object real = kind == 'c' ? values.attr("real") : values;
  const py::object inRange = real.attr("__ge__")(0).attr("__and__")(real.attr("__lt__")(kPositionLimit));
  return inRange.attr("__invert__")();
}

// The index of the first true element of a bool array, or -1.
py::ssize_t firstTrue(const py::object& flags) {
  if (!flags.attr("any")().cast<bool>()) return -1;
  return flags.attr("argmax")().cast<py::ssize_t>();
}

// Refuses the first unmasked element that is no number or names no position.
void refuseMisplaced(const py::array& values, const py::object& unmasked) {
  const char kind = values.dtype().kind();
  const bool numeric = kind == 'u' || kind == 'b' || kind == 'i' || kind == 'f' || kind == 'c';
  py::object flags = numeric ? misplaced(values) : numpy().attr("ones")(values.shape(0), py::dtype::of<bool>());
  if (flags.is_none()) return;
  if (!unmasked.is_none()) flags = flags.attr("__and__")(unmasked);
  const py::ssize_t index = firstTrue(flags);
  if (index < 0) return;
  const py::object element = values.attr("__getitem__")(index);
  if (numeric) refuseNumber(static_cast<std::size_t>(index), element);
  refuseNonNumber(static_cast<std::size_t>(index), element);
}

// An array of the elements in their own type: arrays as they are, anything else as
// an array of Python objects, which keeps large ints exact. Whatever reading the
// object raises passes on.
py::array elementsOf(py::handle source) {
  if (py::isinstance<py::array>(source)) return py::reinterpret_borrow<py::array>(source);
  return numpy().attr("asarray")(source, py::dtype("O"));
}

// The elements NumPy's forced cast makes of an array of other than one dimension:
// the dimension error follows; an array it cannot cast is an argument mismatch.
std::optional<Positions> castOtherDimensions(const py::array& elements) {
  try {
    return py::reinterpret_borrow<Positions>(numpy().attr("asarray")(elements, py::dtype::of<std::uint64_t>()));
  } catch (const py::error_already_set& error) {
    if (!error.matches(PyExc_TypeError) && !error.matches(PyExc_ValueError)) throw;
    return std::nullopt;
  }
}

// Where a masked array's elements are not masked; None for other arrays.
py::object unmaskedOf(py::handle source) {
  if (binding_internals::isExactNumpyArray(source)) return py::none();
  const py::module_ masking = py::module_::import("numpy.ma");
  if (!py::isinstance(source, masking.attr("MaskedArray"))) return py::none();
  return masking.attr("getmaskarray")(source).attr("__invert__")();
}

Positions positionsOfNumbers(const py::array& values, const py::object& unmasked) {
  refuseMisplaced(values, unmasked);
  const py::object kept = unmasked.is_none() ? py::object(values) : values.attr("compressed")();
  return py::reinterpret_borrow<Positions>(kept.attr("astype")(py::dtype::of<std::uint64_t>()));
}

}  // namespace

std::optional<Positions> loadPositionIndices(py::handle source, bool convert) {
  veltrane::storage::prepareThreadForAllocationFailures();
  if (!convert && !Positions::check_(source)) return std::nullopt;
  if (binding_internals::isExactNumpyArray(source) && Positions::check_(source)) {
    return py::reinterpret_borrow<Positions>(source);
  }
  if (PyList_Check(source.ptr()) || PyTuple_Check(source.ptr()) || PyRange_Check(source.ptr())) {
    if (auto positions = positionsOfSequence(source)) return positions;
  }
  const py::array elements = elementsOf(source);
  if (elements.ndim() != 1) return castOtherDimensions(elements);
  const py::object unmasked = unmaskedOf(source);
  if (elements.dtype().kind() == 'O') return positionsOfObjects(elements, unmasked);
  return positionsOfNumbers(elements, unmasked);
}

veltrane::storage::Bitmap bitmapFromIndices(const std::optional<PositionIndices>& indices) {
  veltrane::storage::prepareThreadForAllocationFailures();
  veltrane::storage::Bitmap bitmap;
  if (!indices) return bitmap;
  const auto array = py::reinterpret_borrow<Positions>(indices->values);
  // Throws std::domain_error naming the actual number of dimensions.
  const auto values = array.unchecked<1>();
  const auto count = static_cast<std::size_t>(values.shape(0));
  if (array.strides(0) == sizeof(std::uint64_t)) {
    bitmap.addMany(count, values.data(0));
  } else {
    veltrane::storage::forEachCancellableBlock(count, kStridedValuesBetweenChecks, [&](std::size_t begin, std::size_t end) {
      for (std::size_t i = begin; i < end; ++i) bitmap.add(values(i));
    });
  }
  return bitmap;
}
