// Registration of the Python class MemoryScanner. The scan keeps the interpreter lock: the
// scanner's parser is shared state, and the lock is what keeps two scans from using it at once.
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <memory>

#include "python/buffer_view.h"
#include "python/parameter_types.h"
#include "python/constructed_caster.h"
#include "python/registration.h"
#include "scanner/memory_scanner.h"
#include "storage/allocation_hooks.h"

namespace py = pybind11;

namespace pybind11::detail {
template <>
class type_caster<MemoryScanner> : public ConstructedOnlyCaster<MemoryScanner> {};

// A scan's result as the tuple (documents, covered).
template <>
class type_caster<MemoryScanner::Result> {
 public:
  PYBIND11_TYPE_CASTER(MemoryScanner::Result, const_name("Tuple[int, int]"));

  static handle cast(const MemoryScanner::Result& result, return_value_policy, handle) {
    return make_tuple(result.documents, result.covered).release();
  }
};
}  // namespace pybind11::detail

namespace {

// The buffer is scanned in place; non-contiguous views are refused rather than read as if
// their bytes were consecutive.
constexpr auto scanBuffer = [](MemoryScanner& self, const Buffer& buffer) {
  const BufferView view(buffer, BufferView::Access::ReadOnly);
  return self.scan(view.data(), view.size());
};

}  // namespace

void registerMemoryScanner(py::module_& module) {
  py::class_<MemoryScanner, std::unique_ptr<MemoryScanner>>(module, "MemoryScanner")
      .def(py::init([] {
             veltrane::storage::prepareThreadForAllocationFailures();
             return std::make_unique<MemoryScanner>();
           }),
           "A scanner; one can scan many buffers.")
      .def("scan", scanBuffer,
           "Returns (complete documents, bytes they cover) for a contiguous buffer of one-byte items.");
}
