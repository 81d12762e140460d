// write(buffer, portable) and the static read(buffer, portable): the serialized form
// moved straight into and out of a caller's buffer, bounded by the buffer's length;
// to_roaring64() and the static from_roaring64(buffer): the 64-bit Roaring form, written
// straight into a new bytes object and read from a caller's buffer.
#include <new>
#include <stdexcept>
#include <utility>

#include "python/bitmap_adapters.h"
#include "python/buffer_view.h"
#include "storage/allocation_hooks.h"

namespace py = pybind11;

std::uint64_t writeToBuffer(const veltrane::storage::Bitmap& bitmap, const Buffer& buffer, bool portable) {
  const BufferView view(buffer, BufferView::Access::Writable);
  const char* end = bitmap.write(view.data(), view.size(), portable);
  return static_cast<std::uint64_t>(end - view.data());
}

TrackedBitmap readFromBuffer(const Buffer& buffer, bool portable) {
  veltrane::storage::prepareThreadForAllocationFailures();
  const BufferView view(buffer, BufferView::Access::ReadOnly);
  return TrackedBitmap(veltrane::storage::Bitmap::read(view.data(), view.size(), portable));
}

py::bytes roaring64Bytes(const veltrane::storage::Bitmap& bitmap) {
  const std::uint64_t size = bitmap.roaring64Size();
  if (size > static_cast<std::uint64_t>(PY_SSIZE_T_MAX)) throw std::bad_alloc();
  auto bytes = py::reinterpret_steal<py::bytes>(PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(size)));
  if (!bytes) throw py::error_already_set();
  bitmap.toRoaring64(PyBytes_AS_STRING(bytes.ptr()), static_cast<std::size_t>(size));
  return bytes;
}

TrackedBitmap readRoaring64(const Buffer& buffer) {
  veltrane::storage::prepareThreadForAllocationFailures();
  const BufferView view(buffer, BufferView::Access::ReadOnly);
  return TrackedBitmap(veltrane::storage::Bitmap::fromRoaring64(view.data(), view.size()));
}
