// The module's classes refuse pickling and the copy module at every pickle protocol.
// Without a reduction of their own, protocols 0 and 1 would fall back to copyreg's
// generic one, which writes an object without its value that loading then rejects: a
// failure reported as success. The companion package veltrane_rec registers real
// reductions through copyreg's dispatch table, which pickle and the copy module consult
// before __reduce__, so this refusal only speaks when the extension is used alone (or
// for instances of Python subclasses, which that table does not cover).
#include <Python.h>
#include <pybind11/pybind11.h>

#include <string>

#include "python/registration.h"

namespace py = pybind11;

namespace {

// copy.copy and copy.deepcopy ask for the reduction from a frame of the copy module;
// pickle's own machinery runs in C (or in the pickle module) and never does.
bool calledFromCopyModule() {
  PyObject* globals = PyEval_GetGlobals();  // borrowed: the innermost Python frame's
  if (globals == nullptr) return false;
  PyObject* name = PyDict_GetItemString(globals, "__name__");  // borrowed
  return name != nullptr && PyUnicode_Check(name) &&
         PyUnicode_CompareWithASCIIString(name, "copy") == 0;
}

}  // namespace

void refusePickling(py::handle type, const char* copyHint) {
  const std::string hint = copyHint;
  auto refuse = [hint](py::handle self) -> py::object {
    const std::string name = Py_TYPE(self.ptr())->tp_name;
    if (calledFromCopyModule()) {
      throw py::type_error("cannot copy '" + name + "' object with the copy module: " + hint +
                           ", or import veltrane_rec, which makes copy and pickle work");
    }
    throw py::type_error("cannot pickle '" + name + "' object");
  };
  py::setattr(type, "__reduce__",
              py::cpp_function(refuse, py::name("__reduce__"), py::is_method(type),
                               "Refuses pickling and the copy module; importing veltrane_rec makes both work."));
}
