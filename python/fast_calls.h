#pragma once

// One body per method, serving two paths. FastClass::method<body>(name, args...)
// registers `body` with pybind11, which gives the method its conversions, argument-
// mismatch messages and __doc__, and then puts a direct CPython entry in front of it.
// The entry decodes the common calls itself (positional exact ints, None where the
// parameter is optional, exact instances of the class whose __init__ ran) and hands
// every other call, unchanged, to the registered function. Exceptions from the body
// go through pybind11's own translation, so both paths raise the same.
//
// Slots (`in`, len() and truth tests, the comparisons, the number operators) work the same way:
// the dunder method is registered, then the slot is patched to decode directly and to
// fall back to what it held before.
#include <pybind11/pybind11.h>

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>

#include "python/binding_internals.h"
#include "python/parameter_types.h"
#include "storage/allocation_hooks.h"

namespace fast_calls {

namespace py = pybind11;
namespace internals = binding_internals;

// The exact registered type of T, set when FastClass<T> is made; subclasses of it
// always take the registered path.
template <typename T>
inline PyTypeObject* exactType = nullptr;

// How one positional Python argument becomes a C++ argument on the direct path.
// decode() returns false for anything it does not handle; missing() gives the value
// of an argument left out (false when it may not be left out).
template <typename T>
struct Argument {
  static_assert(sizeof(T) == 0, "no direct decoding for this parameter type");
};

template <>
struct Argument<Position> {
  using Held = std::uint64_t;
  static bool decode(PyObject* object, Held& out) {
    if (!PyLong_CheckExact(object)) return false;
    out = PyLong_AsUnsignedLongLong(object);
    if (out == static_cast<Held>(-1) && PyErr_Occurred()) {
      PyErr_Clear();
      return false;
    }
    return true;
  }
  static bool missing(Held&) { return false; }
  static Held pass(Held value) { return value; }
};

template <>
struct Argument<OptionalPosition> {
  using Held = OptionalPosition;
  static bool decode(PyObject* object, Held& out) {
    if (object == Py_None) {
      out.reset();
      return true;
    }
    std::uint64_t value = 0;
    if (!Argument<Position>::decode(object, value)) return false;
    out = value;
    return true;
  }
  static bool missing(Held& out) {
    out.reset();
    return true;
  }
  static Held pass(const Held& value) { return value; }
};

template <typename T>
struct InstanceArgument {
  using Held = T*;
  static bool decode(PyObject* object, Held& out) {
    if (Py_TYPE(object) != exactType<T>) return false;
    out = internals::constructedValue<T>(object);
    return out != nullptr;
  }
  static bool missing(Held&) { return false; }
  static T& pass(Held value) { return *value; }
};

template <typename T>
struct Argument<T&> : InstanceArgument<T> {};
template <typename T>
struct Argument<const T&> : InstanceArgument<T> {};

// Results, converted as pybind11 converts them.
inline PyObject* encode(bool value) { return PyBool_FromLong(value); }
inline PyObject* encode(std::uint64_t value) { return PyLong_FromUnsignedLongLong(value); }
inline PyObject* encode(OptionalPosition value) {
  if (!value) Py_RETURN_NONE;
  return PyLong_FromUnsignedLongLong(*value);
}
template <typename T>
PyObject* encode(T&& value) {
  return py::cast(std::forward<T>(value), py::return_value_policy::move).release().ptr();
}

template <typename Function>
struct Signature;
template <typename Result, typename... Parameters>
struct Signature<Result (*)(Parameters...)> {
  using Return = Result;
  using Arguments = std::tuple<Parameters...>;
  static constexpr std::size_t arity = sizeof...(Parameters);
};

template <auto body, std::size_t index>
using ArgumentOf = Argument<std::tuple_element_t<index, typename Signature<decltype(body)>::Arguments>>;

template <auto body, std::size_t... indices>
using HeldArguments = std::tuple<typename ArgumentOf<body, indices>::Held...>;

// Runs the body on decoded arguments; a C++ exception becomes the Python error that
// the registered function would raise.
template <auto body, std::size_t... indices>
PyObject* invoke(HeldArguments<body, indices...>& held, std::index_sequence<indices...>) {
  using Return = typename Signature<decltype(body)>::Return;
  try {
    veltrane::storage::prepareThreadForAllocationFailures();
    if constexpr (std::is_void_v<Return>) {
      body(ArgumentOf<body, indices>::pass(std::get<indices>(held))...);
      Py_RETURN_NONE;
    } else {
      return encode(body(ArgumentOf<body, indices>::pass(std::get<indices>(held))...));
    }
  } catch (...) {
    internals::translateActiveException();
    return nullptr;
  }
}

// Decodes objects[0 .. count) into the first parameters and fills the rest with their
// missing values; false when any of them is not for the direct path.
template <auto body, std::size_t... indices>
bool decodeAll(PyObject* const* objects, std::size_t count, HeldArguments<body, indices...>& held,
               std::index_sequence<indices...>) {
  return ((indices < count ? ArgumentOf<body, indices>::decode(objects[indices], std::get<indices>(held))
                           : ArgumentOf<body, indices>::missing(std::get<indices>(held))) &&
          ...);
}

template <auto body>
using Indices = std::make_index_sequence<Signature<decltype(body)>::arity>;

template <auto body, std::size_t... indices>
HeldArguments<body, indices...> heldFor(std::index_sequence<indices...>);

// Decodes self followed by `arguments` and runs the body; nullopt when the call is not
// for the direct path (nothing has run then).
template <auto body>
std::optional<PyObject*> tryDirect(PyObject* const* objects, std::size_t count) {
  decltype(heldFor<body>(Indices<body>{})) held;
  if (!decodeAll<body>(objects, count, held, Indices<body>{})) return std::nullopt;
  return invoke<body>(held, Indices<body>{});
}

// Per body: the registered function of the method it serves, and how many positional
// arguments (self included) the direct path needs at least.
template <auto body>
inline PyObject* registeredMethod = nullptr;
template <auto body>
inline std::size_t fewestArguments = 0;

template <auto body>
PyObject* methodEntry(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  constexpr std::size_t arity = Signature<decltype(body)>::arity;
  const auto count = static_cast<std::size_t>(nargs) + 1;
  if (kwnames == nullptr && count <= arity && count >= fewestArguments<body>) {
    PyObject* objects[arity];
    objects[0] = self;
    for (std::size_t i = 1; i < count; ++i) objects[i] = args[i - 1];
    if (const auto result = tryDirect<body>(objects, count)) return *result;
  }
  return internals::callWithSelf(registeredMethod<body>, self, args, nargs, kwnames);
}

template <auto body>
inline PyObject* registeredGetter = nullptr;

template <auto body>
PyObject* getterEntry(PyObject*, PyObject* self) {
  if (const auto result = tryDirect<body>(&self, 1)) return *result;
  return PyObject_CallFunctionObjArgs(registeredGetter<body>, self, nullptr);
}

template <auto body>
using SelfOf = std::remove_cv_t<std::remove_reference_t<std::tuple_element_t<0, typename Signature<decltype(body)>::Arguments>>>;

template <auto body, binaryfunc PyNumberMethods::*slot>
inline PyObject* registeredOperator = nullptr;

// The other calls do what the interpreter's own forwarder did before the patch (which
// cannot be called any more: it recognises its operand's type only by finding itself
// in the slot): a left operand of this class calls the registered dunder method,
// anything else is not implemented here. Reflected forms are never registered.
template <auto body, binaryfunc PyNumberMethods::*slot>
PyObject* operatorEntry(PyObject* left, PyObject* right) {
  PyObject* const objects[] = {left, right};
  if (const auto result = tryDirect<body>(objects, 2)) return *result;
  if (PyObject_TypeCheck(left, exactType<SelfOf<body>>)) {
    return PyObject_CallFunctionObjArgs(registeredOperator<body, slot>, left, right, nullptr);
  }
  Py_RETURN_NOTIMPLEMENTED;
}

template <auto body>
inline richcmpfunc originalComparison = nullptr;

using DirectCall = std::optional<PyObject*> (*)(PyObject* const*, std::size_t);

// The direct paths of <, <=, > and >= of class T, by operation (Py_LT ... Py_GE).
template <typename T>
inline DirectCall orderingCalls[6] = {};

// == and != from one equality body, the ordering comparisons from their own bodies;
// every other call keeps the original slot.
template <auto body>
PyObject* comparisonEntry(PyObject* left, PyObject* right, int operation) {
  PyObject* const objects[] = {left, right};
  if (operation == Py_EQ || operation == Py_NE) {
    if (const auto result = tryDirect<body>(objects, 2)) {
      if (*result == nullptr || operation == Py_EQ) return *result;
      const bool equal = *result == Py_True;
      Py_DECREF(*result);
      return PyBool_FromLong(!equal);
    }
  } else if (const DirectCall ordering = orderingCalls<SelfOf<body>>[operation]) {
    if (const auto result = ordering(objects, 2)) return *result;
  }
  return originalComparison<body>(left, right, operation);
}

template <auto body>
inline objobjproc originalContains = nullptr;

template <auto body>
int containsEntry(PyObject* self, PyObject* item) {
  PyObject* const objects[] = {self, item};
  if (const auto result = tryDirect<body>(objects, 2)) {
    if (*result == nullptr) return -1;
    const int truth = *result == Py_True;
    Py_DECREF(*result);
    return truth;
  }
  return originalContains<body>(self, item);
}

template <auto body>
inline lenfunc originalLength = nullptr;

// Counts beyond Py_ssize_t take the original slot, whose conversion of __len__'s
// result raises the interpreter's own OverflowError.
template <auto body>
Py_ssize_t lengthEntry(PyObject* self) {
  using Self = SelfOf<body>;
  if (Py_TYPE(self) == exactType<Self>) {
    if (const Self* value = internals::constructedValue<Self>(self)) {
      try {
        veltrane::storage::prepareThreadForAllocationFailures();
        const std::uint64_t length = body(*value);
        if (length <= static_cast<std::uint64_t>(PY_SSIZE_T_MAX)) return static_cast<Py_ssize_t>(length);
      } catch (...) {
        internals::translateActiveException();
        return -1;
      }
    }
  }
  return originalLength<body>(self);
}

template <auto body>
inline PyObject* registeredNext = nullptr;

// An iterator's next slot: `body` gives the next position, or nothing at the end,
// which ends the iteration without an exception being made.
template <auto body>
PyObject* nextEntry(PyObject* self) {
  using Self = std::remove_reference_t<std::tuple_element_t<0, typename Signature<decltype(body)>::Arguments>>;
  if (Self* value = internals::constructedValue<Self>(self)) {
    try {
      veltrane::storage::prepareThreadForAllocationFailures();
      const std::optional<std::uint64_t> next = body(*value);
      return next ? PyLong_FromUnsignedLongLong(*next) : nullptr;
    } catch (...) {
      internals::translateActiveException();
      return nullptr;
    }
  }
  return PyObject_CallFunctionObjArgs(registeredNext<body>, self, nullptr);
}

// Each body serves one path; a second use would overwrite its fall-back target.
inline void claim(PyObject*& slot, PyObject* registered, const char* name) {
  if (slot != nullptr) throw std::logic_error(std::string("fast entry body used twice: ") + name);
  slot = registered;
}

template <typename Extra>
constexpr bool hasDefault = std::is_same_v<Extra, py::arg_v>;

// Trailing parameters whose default is None may be left out on the direct path.
template <typename... Extra>
std::size_t leadingWithoutNoneDefault(const Extra&... extra) {
  std::size_t index = 1;  // self
  std::size_t fewest = 1;
  [[maybe_unused]] auto visit = [&](const auto& item) {
    using Item = std::decay_t<decltype(item)>;
    if constexpr (std::is_base_of_v<py::arg, Item>) {
      ++index;
      bool noneDefault = false;
      if constexpr (hasDefault<Item>) noneDefault = item.value && item.value.is_none();
      if (!noneDefault) fewest = index;
    }
  };
  (visit(extra), ...);
  return fewest;
}

// A stateless callable with the body's exact signature, for pybind11 to register.
template <auto body, typename Arguments = typename Signature<decltype(body)>::Arguments>
struct Registered;
template <auto body, typename... Parameters>
struct Registered<body, std::tuple<Parameters...>> {
  typename Signature<decltype(body)>::Return operator()(Parameters... parameters) const {
    return body(std::forward<Parameters>(parameters)...);
  }
};

template <typename T>
class FastClass {
 public:
  using Class = py::class_<T, std::unique_ptr<T>>;

  explicit FastClass(Class& registered) : type(registered) {
    exactType<T> = internals::typeObject(registered);
  }

  template <auto body, typename... Extra>
  FastClass& method(const char* name, const Extra&... extra) {
    type.def(name, Registered<body>{}, extra...);
    fewestArguments<body> = leadingWithoutNoneDefault(extra...);
    claim(registeredMethod<body>, internals::replaceMethod(type, name, methodEntry<body>), name);
    return *this;
  }

  template <auto body, typename... Extra>
  FastClass& property(const char* name, const Extra&... extra) {
    type.def_property_readonly(name, Registered<body>{}, extra...);
    claim(registeredGetter<body>, internals::replaceGetter(type, name, getterEntry<body>), name);
    return *this;
  }

  // A dunder method of the number protocol (__or__, __ior__, ...) and its slot.
  template <auto body, binaryfunc PyNumberMethods::*slot, typename... Extra>
  FastClass& operatorMethod(const char* name, const Extra&... extra) {
    type.def(name, Registered<body>{}, extra...);
    claim(registeredOperator<body, slot>, py::object(type.attr("__dict__")[name]).release().ptr(), name);
    internals::patchNumberSlot(type, slot, operatorEntry<body, slot>);
    return *this;
  }

  template <auto body, typename... Extra>
  FastClass& equalityMethod(const char* name, const Extra&... extra) {
    type.def(name, Registered<body>{}, extra...);
    comparison = comparisonEntry<body>;
    originalComparison<body> = internals::patchRichCompare(type, comparison);
    return *this;
  }

  // One of __lt__, __le__, __gt__, __ge__ (`operation` Py_LT ...), served by the
  // comparison slot of equalityMethod. The registered method returns NotImplemented
  // for an operand of another type, so Python raises its usual TypeError.
  template <auto body, int operation, typename... Extra>
  FastClass& orderingMethod(const char* name, const Extra&... extra) {
    // Defining a comparison method resets the slot to the interpreter's forwarder.
    type.def(name, Registered<body>{}, py::is_operator(), extra...);
    if (comparison != nullptr) internals::patchRichCompare(type, comparison);
    orderingCalls<T>[operation] = &tryDirect<body>;
    return *this;
  }

  template <auto body, typename... Extra>
  FastClass& containsMethod(const char* name, const Extra&... extra) {
    type.def(name, Registered<body>{}, extra...);
    originalContains<body> = internals::patchContains(type, containsEntry<body>);
    return *this;
  }

  template <auto body, typename... Extra>
  FastClass& lengthMethod(const char* name, const Extra&... extra) {
    type.def(name, Registered<body>{}, extra...);
    originalLength<body> = internals::patchLength(type, lengthEntry<body>);
    return *this;
  }

  // The next slot of an iterator type, falling back to the registered __next__ (which
  // raises StopIteration itself) for objects made without __init__.
  template <auto body>
  FastClass& nextSlot() {
    claim(registeredNext<body>, py::object(type.attr("__dict__")["__next__"]).release().ptr(), "__next__");
    internals::patchIterNext(type, nextEntry<body>);
    return *this;
  }

  // Registration with the generic dispatch only.
  template <auto body, typename... Extra>
  FastClass& plainMethod(const char* name, const Extra&... extra) {
    type.def(name, Registered<body>{}, extra...);
    return *this;
  }

  template <auto body>
  FastClass& plainProperty(const char* name) {
    type.def_property_readonly(name, Registered<body>{});
    return *this;
  }

  Class& registered() { return type; }

 private:
  Class& type;
  richcmpfunc comparison = nullptr;
};

}  // namespace fast_calls
