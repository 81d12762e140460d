// write(buffer, portable) and the static read(buffer, portable): the serialized form
// moved straight into and out of a caller's buffer, bounded by the buffer's length.
#include <utility>

#include "python/bitmap_adapters.h"
#include "python/buffer_view.h"

namespace py = pybind11;

std::uint64_t writeToBuffer(const veltrane::storage::Bitmap& bitmap, const Buffer& buffer, bool portable) {
  const BufferView view(buffer, BufferView::Access::Writable);
  const char* end = bitmap.write(view.data(), view.size(), portable);
  return static_cast<std::uint64_t>(end - view.data());
}

TrackedBitmap readFromBuffer(const Buffer& buffer, bool portable) {
  const BufferView view(buffer, BufferView::Access::ReadOnly);
  return TrackedBitmap(veltrane::storage::Bitmap::read(view.data(), view.size(), portable));
}
