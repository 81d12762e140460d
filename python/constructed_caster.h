#pragma once

#include <pybind11/pybind11.h>

#include <string>

#include "python/binding_internals.h"
#include "storage/allocation_hooks.h"

namespace pybind11::detail {

// pybind11 hands a method the raw, unconstructed storage of an object made by
// T.__new__ without __init__. Casters built on this one refuse such an object with a
// TypeError instead of letting the method read garbage. As the first argument a
// method loads, self is also where the calling thread is prepared for allocation
// failures.
template <typename T>
class ConstructedOnlyCaster : public type_caster_base<T> {
 public:
  bool load(handle source, bool convert) {
    veltrane::storage::prepareThreadForAllocationFailures();
    PyTypeObject* registered = binding_internals::registeredType<T>();
    if (registered != nullptr && PyObject_TypeCheck(source.ptr(), registered) &&
        binding_internals::constructedValue<T>(source.ptr()) == nullptr) {
      throw type_error(std::string(Py_TYPE(source.ptr())->tp_name) +
                       " object is not initialized: its __init__ was not called");
    }
    return type_caster_base<T>::load(source, convert);
  }
};

}  // namespace pybind11::detail
