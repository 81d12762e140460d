#pragma once

#include "storage/bitmap.h"

// The CRoaring 32-bit bitmap of one bucket of the core's map: the one place where the
// binding layer depends on how a bucket stores its low parts.
inline const roaring_bitmap_t* lowsOf(const veltrane::storage::Bitmap::Buckets::value_type& bucket) {
  return &bucket.second.roaring;
}
