// Bitmap(indices=None): the distinct positions of a one-dimensional sequence.
//
// NumPy's forced cast to unsigned 64-bit integers turns -1 into 2^64 - 1, NaN into
// 2^63 and 2^64 into 0, so the elements are checked in their own type first: unsigned
// integers need no check, signed integers one comparison, other types (floats, complex
// numbers by their real part, Python objects) a range test, each a vectorised NumPy
// pass.
#include <pybind11/numpy.h>

#include <cstdint>
#include <string>

#include "python/binding_internals.h"
#include "python/bitmap_adapters.h"

namespace py = pybind11;

namespace {

using Positions = py::array_t<std::uint64_t>;

// 2^64 as a double; Python compares ints with it exactly.
constexpr double kPositionLimit = 18446744073709551616.0;

// True where an element names no position; None when the element type cannot hold
// such an element or its elements cannot be compared (the cast then decides).
py::object misplaced(const py::array& values) {
  const char kind = values.dtype().kind();
  if (kind == 'i') return values.attr("__lt__")(0);
  if (kind != 'f' && kind != 'c' && kind != 'O') return py::none();
  const py::object comparable = kind == 'c' ? values.attr("real") : values;
  try {
    const py::object inRange =
        comparable.attr("__ge__")(0).attr("__and__")(comparable.attr("__lt__")(kPositionLimit));
    return inRange.attr("__invert__")();
  } catch (const py::error_already_set& error) {
    if (!error.matches(PyExc_TypeError)) throw;
    return py::none();
  }
}

// Refuses the first element, unmasked when `mask` is given, that names no position.
void refuseMisplaced(const py::array& values, const py::object& mask) {
  py::object flags = misplaced(values);
  if (flags.is_none()) return;
  if (!mask.is_none()) flags = flags.attr("__and__")(mask.attr("__invert__")());
  if (!flags.attr("any")().cast<bool>()) return;
  const auto index = flags.attr("argmax")().cast<py::ssize_t>();
  // NumPy scalars are shown as the Python numbers they hold; object arrays hold those.
  py::object element = values.attr("__getitem__")(index);
  if (py::hasattr(element, "item")) element = element.attr("item")();
  const std::string value = py::str(element);
  throw py::value_error("indices[" + std::to_string(index) + "] is " + value +
                        ", which is no position: positions run from 0 to 18446744073709551615");
}

// The elements in their own type, or null when NumPy cannot make an array of them: an
// array as it is; anything else (lists, tuples) as Python objects, which keeps large
// ints exact where a common NumPy type would round them. The cast reuses this array.
py::object elementsOf(py::handle source) {
  if (py::isinstance<py::array>(source)) return py::reinterpret_borrow<py::object>(source);
  try {
    return py::module_::import("numpy").attr("asarray")(source, py::dtype("O"));
  } catch (const py::error_already_set& error) {
    if (error.matches(PyExc_ImportError)) throw;
    return py::object();
  }
}

py::object maskedArrayType() { return py::module_::import("numpy.ma").attr("MaskedArray"); }

// True where a masked array's element is masked, for every element.
py::object maskOf(py::handle masked) {
  return py::module_::import("numpy.ma").attr("getmaskarray")(masked);
}

}  // namespace

std::optional<Positions> loadPositionIndices(py::handle source, bool convert) {
  if (!convert && !Positions::check_(source)) return std::nullopt;
  if (binding_internals::isExactNumpyArray(source) && Positions::check_(source)) {
    return py::reinterpret_borrow<Positions>(source);
  }
  const py::object elements = elementsOf(source);
  py::object toCast = elements ? elements : py::reinterpret_borrow<py::object>(source);
  const auto values = py::reinterpret_borrow<py::array>(elements);
  if (elements && values.ndim() == 1) {
    const bool masked = !binding_internals::isExactNumpyArray(source) && py::isinstance(source, maskedArrayType());
    refuseMisplaced(values, masked ? maskOf(source) : py::object(py::none()));
    if (masked) toCast = source.attr("compressed")();
  }
  Positions positions = Positions::ensure(toCast);
  if (!positions) return std::nullopt;
  return positions;
}

veltrane::storage::Bitmap bitmapFromIndices(const std::optional<PositionIndices>& indices) {
  veltrane::storage::Bitmap bitmap;
  if (!indices) return bitmap;
  const auto array = py::reinterpret_borrow<Positions>(indices->values);
  // Throws std::domain_error naming the actual number of dimensions.
  const auto values = array.unchecked<1>();
  const auto count = static_cast<std::size_t>(values.shape(0));
  if (array.strides(0) == sizeof(std::uint64_t)) {
    bitmap.addMany(count, values.data(0));
  } else {
    for (std::size_t i = 0; i < count; ++i) bitmap.add(values(i));
  }
  return bitmap;
}
