#pragma once

#include <pybind11/pybind11.h>

namespace pybind11::detail {

// pybind11 hands a method the raw, unconstructed storage of an object made by
// T.__new__ without __init__. Casters built on this one refuse such an object with a
// TypeError instead of letting the method read garbage.
template <typename T>
class ConstructedOnlyCaster : public type_caster_base<T> {
 public:
  bool load(handle source, bool convert) {
    const type_info* info = get_type_info(typeid(T));
    if (info != nullptr && PyObject_TypeCheck(source.ptr(), info->type) &&
        !isConstructed(source, info)) {
      throw type_error(std::string(Py_TYPE(source.ptr())->tp_name) +
                       " object is not initialized: its __init__ was not called");
    }
    return type_caster_base<T>::load(source, convert);
  }

  static bool isConstructed(handle source, const type_info* info) {
    auto* object = reinterpret_cast<instance*>(source.ptr());
    return object->get_value_and_holder(info, false).holder_constructed();
  }
};

}  // namespace pybind11::detail
