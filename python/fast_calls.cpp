// Direct CPython entry points for the calls that Python code makes in tight loops:
// membership tests (`in`, `contains`), len() and truth tests, and single-position edits
// (`set`, `unset`). They serve the common case, plain ints passed by position, with no
// generic argument matching. Every other call (keywords, bools, NumPy scalars, wrong types, values out
// of range) is handed to the registered function, so conversions, results, errors and
// messages stay exactly those of the registration, and so do the __doc__ texts.
#include "python/fast_calls.h"

#include <Python.h>

#include <array>
#include <cstring>
#include <memory>
#include <cstdint>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>

#include "python/tracked_bitmap.h"

namespace py = pybind11;

namespace {

// The registered functions the fast entries fall back to; set once at import.
PyObject* registeredContains = nullptr;
PyObject* registeredContainsSlot = nullptr;
PyObject* registeredSet = nullptr;
PyObject* registeredUnset = nullptr;
PyObject* registeredLength = nullptr;

// The bitmap a Python Bitmap object owns, or nullptr when the object has no
// constructed value (a subclass whose __init__ skipped the base's).
TrackedBitmap* bitmapOf(PyObject* self) {
  auto* instance = reinterpret_cast<py::detail::instance*>(self);
  if (!instance->simple_layout || !instance->simple_holder_constructed) return nullptr;
  return static_cast<TrackedBitmap*>(instance->simple_value_holder[0]);
}

// An exact int in 0 .. 2^64 - 1; anything else (bool included) is left to the
// registered function's conversion.
std::optional<std::uint64_t> plainPosition(PyObject* argument) {
  if (!PyLong_CheckExact(argument)) return std::nullopt;
  const unsigned long long value = PyLong_AsUnsignedLongLong(argument);
  if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred()) {
    PyErr_Clear();
    return std::nullopt;
  }
  return value;
}

// Calls `registered` (an instance method) with self prepended to the arguments.
PyObject* callRegistered(PyObject* registered, PyObject* self, PyObject* const* args,
                         Py_ssize_t nargs, PyObject* kwnames) {
  const Py_ssize_t total = nargs + (kwnames ? PyTuple_GET_SIZE(kwnames) : 0);
  constexpr Py_ssize_t kInline = 8;
  std::array<PyObject*, kInline> inlineArgs;
  std::unique_ptr<PyObject*[]> heapArgs;
  PyObject** all = inlineArgs.data();
  if (total + 1 > kInline) {
    heapArgs.reset(new PyObject*[total + 1]);
    all = heapArgs.get();
  }
  all[0] = self;
  for (Py_ssize_t i = 0; i < total; ++i) all[i + 1] = args[i];
  return _PyObject_Vectorcall(registered, all, nargs + 1, kwnames);
}

int containsSlot(PyObject* self, PyObject* argument) {
  const TrackedBitmap* bitmap = bitmapOf(self);
  if (const auto position = plainPosition(argument); bitmap && position) {
    return bitmap->contains(*position);
  }
  PyObject* result = PyObject_CallFunctionObjArgs(registeredContainsSlot, self, argument, nullptr);
  if (result == nullptr) return -1;
  const int truth = PyObject_IsTrue(result);
  Py_DECREF(result);
  return truth;
}

// len() and the truth test. Anything unusual (an unconstructed object, a count beyond
// Py_ssize_t, a full bitmap) takes the registered __len__ and the interpreter's own
// conversion of its result, so errors and messages stay the same.
Py_ssize_t lengthSlot(PyObject* self) {
  if (const TrackedBitmap* bitmap = bitmapOf(self)) {
    try {
      const std::uint64_t count = bitmap->cardinality();
      if (count <= static_cast<std::uint64_t>(PY_SSIZE_T_MAX)) return static_cast<Py_ssize_t>(count);
    } catch (const std::exception&) {
    }
  }
  PyObject* result = PyObject_CallFunctionObjArgs(registeredLength, self, nullptr);
  if (result == nullptr) return -1;
  const Py_ssize_t length = PyNumber_AsSsize_t(result, PyExc_OverflowError);
  Py_DECREF(result);
  return length;
}

PyObject* fastContains(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                       PyObject* kwnames) {
  const TrackedBitmap* bitmap = bitmapOf(self);
  if (bitmap && nargs == 1 && kwnames == nullptr) {
    if (const auto position = plainPosition(args[0])) {
      return PyBool_FromLong(bitmap->contains(*position));
    }
  }
  return callRegistered(registeredContains, self, args, nargs, kwnames);
}

// set/unset with one plain position, or two plain positions, or a position and None.
template <void (veltrane::storage::Bitmap::*one)(std::uint64_t),
          void (veltrane::storage::Bitmap::*range)(std::uint64_t, std::uint64_t),
          PyObject** registered>
PyObject* fastEdit(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  TrackedBitmap* bitmap = bitmapOf(self);
  if (bitmap && kwnames == nullptr && (nargs == 1 || nargs == 2)) {
    const auto position = plainPosition(args[0]);
    const bool single = nargs == 1 || args[1] == Py_None;
    const auto endEx = single ? std::nullopt : plainPosition(args[1]);
    if (position && (single || endEx)) {
      try {
        if (single) {
          (bitmap->edited().*one)(*position);
        } else {
          (bitmap->edited().*range)(*position, *endEx);
        }
      } catch (const std::bad_alloc& error) {
        PyErr_SetString(PyExc_MemoryError, error.what());
        return nullptr;
      }
      Py_RETURN_NONE;
    }
  }
  return callRegistered(*registered, self, args, nargs, kwnames);
}

// Replaces the class attribute `name` by a method running `entry`; returns the
// registered function it replaces (a new reference) for the fall-back path.
PyObject* replaceMethod(py::handle type, const char* name, PyCFunction entry) {
  py::object registered = type.attr("__dict__")[name];
  // The method table must outlive the type, which lives until interpreter shutdown.
  const std::string doc = py::str(registered.attr("__doc__"));
  auto* definition = new PyMethodDef{name, entry, METH_FASTCALL | METH_KEYWORDS, strdup(doc.c_str())};
  py::object descriptor = py::reinterpret_steal<py::object>(
      PyDescr_NewMethod(reinterpret_cast<PyTypeObject*>(type.ptr()), definition));
  if (!descriptor) throw py::error_already_set();
  type.attr(name) = descriptor;
  return registered.release().ptr();
}

template <typename Entry>
PyCFunction asCFunction(Entry entry) {
  return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(entry));
}

}  // namespace

void installFastCalls(py::handle bitmapType) {
  using veltrane::storage::Bitmap;
  registeredContains = replaceMethod(bitmapType, "contains", asCFunction(fastContains));
  registeredSet = replaceMethod(
      bitmapType, "set", asCFunction(fastEdit<&Bitmap::add, &Bitmap::addRange, &registeredSet>));
  registeredUnset = replaceMethod(
      bitmapType, "unset",
      asCFunction(fastEdit<&Bitmap::remove, &Bitmap::removeRange, &registeredUnset>));
  // `in`, len() and the truth test go through the type's slots; __contains__ and
  // __len__ themselves stay the registered methods.
  auto* type = reinterpret_cast<PyTypeObject*>(bitmapType.ptr());
  registeredLength = py::object(bitmapType.attr("__dict__")["__len__"]).release().ptr();
  type->tp_as_sequence->sq_length = lengthSlot;
  type->tp_as_mapping->mp_length = lengthSlot;
  registeredContainsSlot = py::object(bitmapType.attr("__dict__")["__contains__"]).release().ptr();
  type->tp_as_sequence->sq_contains = containsSlot;
}
