#include "storage/block_reader.h"

#include "storage/internal/key_span.h"

namespace veltrane::storage {

using namespace internal;

BlockReader::BlockReader(const Bitmap& bitmap) noexcept
    : bucket(bitmap.bucketMap().begin()), stop(bitmap.bucketMap().end()) {}

// Exhausted and empty buckets are passed over.
std::size_t BlockReader::read(std::uint32_t* lows, std::size_t capacity, std::uint64_t& high) {
  for (; bucket != stop; ++bucket, bucketStarted = false) {
    if (!bucketStarted) {
      bucket->second.startAtFirst(lowIterator);
      bucketStarted = true;
    }
    const std::size_t count =
        roaring_uint32_iterator_read(&lowIterator, lows, static_cast<std::uint32_t>(capacity));
    if (count > 0) {
      high = positionOf(bucket->first, 0);
      return count;
    }
  }
  return 0;
}

}  // namespace veltrane::storage
