// The static union_all(bitmaps) and intersect_all(bitmaps): the Bitmap objects of any
// iterable, held for the length of the call, combined by one core call.
#include <string>
#include <vector>

#include "python/bitmap_adapters.h"
#include "storage/allocation_hooks.h"

namespace py = pybind11;
using veltrane::storage::Bitmap;

namespace {

class Operands {
 public:
  Operands(const py::iterable& iterable, const char* method) {
    for (py::handle item : iterable) {
      if (!py::isinstance<TrackedBitmap>(item)) {
        throw py::type_error(std::string(method) + "() takes an iterable of Bitmap objects, not of " +
                             Py_TYPE(item.ptr())->tp_name);
      }
      held.push_back(py::reinterpret_borrow<py::object>(item));
      bitmaps.push_back(&item.cast<const TrackedBitmap&>().view());
    }
  }

  std::size_t count() const { return bitmaps.size(); }
  const Bitmap* const* data() const { return bitmaps.data(); }

 private:
  std::vector<py::object> held;
  std::vector<const Bitmap*> bitmaps;
};

}  // namespace

TrackedBitmap unionAll(const py::iterable& bitmaps) {
  veltrane::storage::prepareThreadForAllocationFailures();
  const Operands operands(bitmaps, "union_all");
  return TrackedBitmap(Bitmap::unionAll(operands.count(), operands.data()));
}

TrackedBitmap intersectAll(const py::iterable& bitmaps) {
  veltrane::storage::prepareThreadForAllocationFailures();
  const Operands operands(bitmaps, "intersect_all");
  return TrackedBitmap(Bitmap::intersectAll(operands.count(), operands.data()));
}
