#pragma once

// Every read of pybind11's private structures and every patch of a type's CPython
// slots or class attributes made by this module lives here. It follows the instance
// layout and exception translation of the pybind11 3.0 series (internals version 11);
// another series fails to compile here rather than misread memory.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <Python.h>

#include <array>
#include <cstring>
#include <memory>
#include <string>
#include <typeinfo>
#include <utility>

#ifdef __GLIBCXX__
#include <cxxabi.h>
#endif

static_assert(PYBIND11_VERSION_MAJOR == 3 && PYBIND11_VERSION_MINOR == 0,
              "binding_internals.h follows pybind11 3.0: check its reads of instance and "
              "exception translation against the new release before changing the pin");
static_assert(PYBIND11_INTERNALS_VERSION == 11, "binding_internals.h follows pybind11 internals version 11");

namespace binding_internals {

namespace py = pybind11;

// The Python type registered for T, or nullptr before it is registered.
template <typename T>
PyTypeObject* registeredType() {
  const auto* info = py::detail::get_type_info(typeid(T));
  return info == nullptr ? nullptr : info->type;
}

// True for an object whose type is numpy.ndarray itself, not a subclass.
inline bool isExactNumpyArray(py::handle object) {
  return Py_TYPE(object.ptr()) == py::detail::npy_api::get().PyArray_Type_;
}

// The T owned by `object`, an instance of T's registered type or of a subclass, or
// nullptr when the object was made without running __init__.
template <typename T>
T* constructedValue(PyObject* object) {
  auto* instance = reinterpret_cast<py::detail::instance*>(object);
  if (instance->simple_layout) {
    return instance->simple_holder_constructed ? static_cast<T*>(instance->simple_value_holder[0])
                                               : nullptr;
  }
  const auto* info = py::detail::get_type_info(typeid(T));
  auto valueAndHolder = instance->get_value_and_holder(info, false);
  if (valueAndHolder.inst == nullptr || !valueAndHolder.holder_constructed()) return nullptr;
  return valueAndHolder.template value_ptr<T>();
}

// Sets the Python error for the exception being handled exactly as pybind11's own
// dispatcher does: a captured Python error is restored, anything else goes through the
// registered translators, module-local ones first. Call only inside a catch block.
inline void translateActiveException() {
  try {
    throw;
  } catch (py::error_already_set& error) {
    error.restore();
#ifdef __GLIBCXX__
  } catch (abi::__forced_unwind&) {
    throw;
#endif
  } catch (...) {
    py::detail::try_translate_exceptions();
  }
}

// Calls `callable` (a function taken from the class dict) with `self` in front of the
// vectorcall arguments.
inline PyObject* callWithSelf(PyObject* callable, PyObject* self, PyObject* const* args,
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
#if PY_VERSION_HEX < 0x03090000
  return _PyObject_Vectorcall(callable, all, nargs + 1, kwnames);
#else
  return PyObject_Vectorcall(callable, all, nargs + 1, kwnames);
#endif
}

// A method table entry that lives until interpreter shutdown, as the type does.
inline PyMethodDef* permanentDefinition(const char* name, PyCFunction entry, int flags,
                                        const py::handle& documented) {
  const std::string doc = py::str(documented.attr("__doc__"));
  return new PyMethodDef{name, entry, flags, strdup(doc.c_str())};
}

// Replaces the class attribute `name` by a method descriptor running `entry`; returns
// the registered function it replaces (a new reference), with the same __doc__.
inline PyObject* replaceMethod(py::handle type, const char* name, _PyCFunctionFastWithKeywords entry) {
  py::object registered = type.attr("__dict__")[name];
  auto* definition = permanentDefinition(name, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(entry)),
                                         METH_FASTCALL | METH_KEYWORDS, registered);
  py::object descriptor = py::reinterpret_steal<py::object>(
      PyDescr_NewMethod(reinterpret_cast<PyTypeObject*>(type.ptr()), definition));
  if (!descriptor) throw py::error_already_set();
  type.attr(name) = descriptor;
  return registered.release().ptr();
}

// Replaces the read-only property `name` by a property of the same __doc__ whose
// getter is `entry` (one argument, the instance); returns the registered getter.
inline PyObject* replaceGetter(py::handle type, const char* name, PyCFunction entry) {
  py::object property = type.attr("__dict__")[name];
  py::object registered = property.attr("fget");
  py::object getter = py::reinterpret_steal<py::object>(
      PyCFunction_New(permanentDefinition(name, entry, METH_O, registered), nullptr));
  if (!getter) throw py::error_already_set();
  type.attr(name) = py::module_::import("builtins")
                        .attr("property")(getter, py::none(), py::none(), property.attr("__doc__"));
  return registered.release().ptr();
}

inline PyTypeObject* typeObject(py::handle type) {
  return reinterpret_cast<PyTypeObject*>(type.ptr());
}

// Slot patches. Each puts `entry` in place; those that return something return what the
// slot held before (the interpreter's forwarder to the registered dunder method), for
// the fall-back path.
inline void patchNumberSlot(py::handle type, binaryfunc PyNumberMethods::*slot, binaryfunc entry) {
  typeObject(type)->tp_as_number->*slot = entry;
}

inline richcmpfunc patchRichCompare(py::handle type, richcmpfunc entry) {
  return std::exchange(typeObject(type)->tp_richcompare, entry);
}

inline objobjproc patchContains(py::handle type, objobjproc entry) {
  return std::exchange(typeObject(type)->tp_as_sequence->sq_contains, entry);
}

// len() and the truth test (the type defines no __bool__, so both read the length).
inline lenfunc patchLength(py::handle type, lenfunc entry) {
  typeObject(type)->tp_as_mapping->mp_length = entry;
  return std::exchange(typeObject(type)->tp_as_sequence->sq_length, entry);
}

inline void patchIterNext(py::handle type, iternextfunc entry) { typeObject(type)->tp_iternext = entry; }

}  // namespace binding_internals
