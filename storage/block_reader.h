#pragma once

#include <cstddef>
#include <cstdint>

#include "storage/bitmap.h"

namespace veltrane::storage {

// Reads the set positions of a bitmap in ascending order, a block of one bucket's low
// parts at a time (CRoaring's bulk read), for callers that hand positions out one by
// one: that costs less per position than stepping a BitmapForwardIterator (bench_arrays,
// list(b) rows). Valid only while the bitmap is not edited.
class BlockReader {
 public:
  explicit BlockReader(const Bitmap& bitmap) noexcept;

  // Writes the low parts of up to `capacity` (at least 1) next set positions, all of one
  // bucket, to `lows` and that bucket's key bits (key << 32) to `high`. Returns how many
  // were written: 0 once every position has been read.
  std::size_t read(std::uint32_t* lows, std::size_t capacity, std::uint64_t& high);

 private:
  Bitmap::Buckets::const_iterator bucket;
  Bitmap::Buckets::const_iterator stop;
  roaring_uint32_iterator_t lowIterator{};
  bool bucketStarted = false;
};

}  // namespace veltrane::storage
