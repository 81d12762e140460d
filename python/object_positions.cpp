// Bitmap(indices) for elements that are Python objects: lists, tuples, ranges and
// object arrays. Each element is converted on its own, so an int keeps every bit (a
// common NumPy type would first round large ones to a float) and only numbers pass.
#include "python/object_positions.h"

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>

#include "storage/cancellation.h"

namespace py = pybind11;

namespace {

// 2^64, exactly, as a double.
constexpr double kPositionLimit = 18446744073709551616.0;
// Some milliseconds of converting.
constexpr std::size_t kElementsBetweenChecks = std::size_t{1} << 16;

// What counts as a number: numbers.Number and NumPy's bool, but not NumPy's time
// types, of which timedelta64 registers as an integer.
struct NumberTypes {
  py::module_ numpy = py::module_::import("numpy");
  py::object number = py::module_::import("numbers").attr("Number");
  py::object numpyBool = numpy.attr("bool_");
  py::object datetime = numpy.attr("datetime64");
  py::object timedelta = numpy.attr("timedelta64");

  bool isNumber(py::handle element) const {
    if (py::isinstance(element, datetime) || py::isinstance(element, timedelta)) return false;
    return py::isinstance(element, number) || py::isinstance(element, numpyBool);
  }
};

std::optional<std::uint64_t> fromInt(PyObject* value) {
  const unsigned long long position = PyLong_AsUnsignedLongLong(value);
  if (position == static_cast<unsigned long long>(-1) && PyErr_Occurred()) {
    if (!PyErr_ExceptionMatches(PyExc_OverflowError)) throw py::error_already_set();
    PyErr_Clear();
    return std::nullopt;
  }
  return position;
}

// Cut toward zero; NaN fails the comparisons.
std::optional<std::uint64_t> fromReal(double value) {
  if (!(value >= 0.0 && value < kPositionLimit)) return std::nullopt;
  return static_cast<std::uint64_t>(value);
}

double asDouble(PyObject* value) {
  const double converted = PyFloat_AsDouble(value);
  if (converted == -1.0 && PyErr_Occurred()) throw py::error_already_set();
  return converted;
}

struct Converted {
  bool number;
  std::optional<std::uint64_t> position;
};

// The interpreter's own ints, floats and complex numbers (and their subclasses) first,
// by its cheapest checks.
Converted convert(py::handle element, const NumberTypes& types) {
  PyObject* item = element.ptr();
  if (PyLong_Check(item)) return {true, fromInt(item)};
  if (PyFloat_Check(item)) return {true, fromReal(PyFloat_AS_DOUBLE(item))};
  if (PyComplex_Check(item)) return {true, fromReal(PyComplex_RealAsDouble(item))};
  if (!types.isNumber(element)) return {false, std::nullopt};
  if (py::isinstance(element, types.numpyBool)) return {true, element.cast<bool>() ? 1u : 0u};
  if (PyIndex_Check(item)) {
    const py::object index = py::reinterpret_steal<py::object>(PyNumber_Index(item));
    if (!index) throw py::error_already_set();
    return {true, fromInt(index.ptr())};
  }
  return {true, fromReal(asDouble(item))};
}

}  // namespace

std::string elementText(py::handle element, bool asNumber) {
  if (!asNumber) return py::repr(element);
  py::object shown = py::reinterpret_borrow<py::object>(element);
  if (py::hasattr(shown, "item")) shown = shown.attr("item")();
  return py::str(shown);
}

void refuseNumber(std::size_t index, py::handle element) {
  throw py::value_error("indices[" + std::to_string(index) + "] is " + elementText(element, true) +
                        ", which is no position: positions run from 0 to 18446744073709551615");
}

void refuseNonNumber(std::size_t index, py::handle element) {
  throw py::type_error("indices[" + std::to_string(index) + "] is " + elementText(element, false) +
                       ", which is not a number");
}

namespace {

// Writes the positions of the elements begin .. end, as itemAt(i) gives them, where
// keep (when given) is true, to `out`, which has room for `room` of them. Returns how
// many were written, or nothing when `nestedMeansNothing` and an element is a
// sequence.
template <typename ItemAt>
std::optional<std::size_t> writePositions(std::size_t begin, std::size_t end, ItemAt&& itemAt,
                                          const bool* keep, std::uint64_t* out, std::size_t room,
                                          bool nestedMeansNothing, const NumberTypes& types) {
  std::size_t written = 0;
  for (std::size_t i = begin; i < end; ++i) {
    if (keep != nullptr && !keep[i]) continue;
    const py::object element = itemAt(i);
    const Converted converted = convert(element, types);
    if (!converted.number) {
      const bool nested = PySequence_Check(element.ptr()) && !PyUnicode_Check(element.ptr()) &&
                          !PyBytes_Check(element.ptr());
      if (nested && nestedMeansNothing) return std::nullopt;
      refuseNonNumber(i, element);
    }
    if (!converted.position) refuseNumber(i, element);
    if (written == room) throw std::runtime_error("indices changed while they were read");
    out[written++] = *converted.position;
  }
  return written;
}

// Held, since an element's own conversion may replace it in its container.
py::object held(PyObject* item) { return py::reinterpret_borrow<py::object>(item); }

}  // namespace

py::array_t<std::uint64_t> positionsOfObjects(const py::array& objects, const py::object& unmasked) {
  const NumberTypes types;
  const py::array items = types.numpy.attr("ascontiguousarray")(objects);
  const auto* elements = static_cast<PyObject* const*>(items.data());
  const auto count = static_cast<std::size_t>(items.shape(0));
  const bool* keep = nullptr;
  py::array keepFlags;
  std::size_t kept = count;
  if (!unmasked.is_none()) {
    keepFlags = types.numpy.attr("ascontiguousarray")(unmasked, py::dtype::of<bool>());
    keep = static_cast<const bool*>(keepFlags.data());
    kept = types.numpy.attr("count_nonzero")(keepFlags).cast<std::size_t>();
  }
  py::array_t<std::uint64_t> positions(static_cast<py::ssize_t>(kept));
  std::uint64_t* out = positions.mutable_data();
  std::size_t written = 0;
  veltrane::storage::forEachCancellableBlock(count, kElementsBetweenChecks, [&](std::size_t begin, std::size_t end) {
    written += *writePositions(begin, end, [&](std::size_t i) { return held(elements[i]); }, keep,
                               out + written, kept - written, false, types);
  });
  if (written != kept) throw std::runtime_error("indices changed while they were read");
  return positions;
}

// A list's elements are read where they are, its length checked at every one (an
// element's conversion may change the list); a range is read a slice at a time, so
// that its ints are never all made at once.
std::optional<py::array_t<std::uint64_t>> positionsOfSequence(py::handle sequence) {
  const NumberTypes types;
  PyObject* container = sequence.ptr();
  const auto count = static_cast<std::size_t>(py::len(sequence));
  py::array_t<std::uint64_t> positions(static_cast<py::ssize_t>(count));
  std::uint64_t* out = positions.mutable_data();
  bool nested = false;
  veltrane::storage::forEachCancellableBlock(count, kElementsBetweenChecks, [&](std::size_t begin, std::size_t end) {
    if (nested) return;
    const auto from = static_cast<py::ssize_t>(begin);
    py::object slice;
    if (PyRange_Check(container)) slice = py::tuple(sequence[py::slice(from, static_cast<py::ssize_t>(end), 1)]);
    const auto itemAt = [&](std::size_t i) {
      if (slice) return held(PyTuple_GET_ITEM(slice.ptr(), static_cast<py::ssize_t>(i) - from));
      if (PyTuple_Check(container)) return held(PyTuple_GET_ITEM(container, static_cast<py::ssize_t>(i)));
      if (static_cast<std::size_t>(PyList_GET_SIZE(container)) != count) {
        throw std::runtime_error("indices changed while they were read");
      }
      return held(PyList_GET_ITEM(container, static_cast<py::ssize_t>(i)));
    };
    nested = !writePositions(begin, end, itemAt, nullptr, out + begin, end - begin, true, types);
  });
  if (nested) return std::nullopt;
  return positions;
}
