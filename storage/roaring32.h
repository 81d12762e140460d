#pragma once

#include <roaring.h>

#include <stdexcept>

#include "storage/allocation_hooks.h"

namespace roaring {

// Owning handle of one CRoaring 32-bit bitmap. The bitmap is held by value, so a
// bucket costs no extra allocation; copies go through roaring_bitmap_overwrite and
// moves hand the containers over without touching them.
class Roaring {
 public:
  roaring_bitmap_t roaring;

  Roaring() noexcept { roaring_bitmap_init_cleared(&roaring); }

  // Takes over a bitmap that a CRoaring decoder allocated: its containers move in,
  // the now empty shell is freed.
  explicit Roaring(roaring_bitmap_t* adopted) noexcept : roaring(*adopted) {
    roaring_free(adopted);
  }

  Roaring(const Roaring& other) {
    roaring_bitmap_init_cleared(&roaring);
    if (!overwriteWith(other)) {
      throw veltrane::storage::BucketCopyFailure("failed roaring_bitmap_overwrite in constructor");
    }
  }

  Roaring(Roaring&& other) noexcept : roaring(other.roaring) {
    roaring_bitmap_init_cleared(&other.roaring);
  }

  // A failed assignment leaves the target empty.
  Roaring& operator=(const Roaring& other) {
    if (this != &other && !overwriteWith(other)) {
      throw veltrane::storage::BucketCopyFailure("failed memory alloc in assignment");
    }
    return *this;
  }

  Roaring& operator=(Roaring&& other) noexcept {
    if (this != &other) {
      roaring_bitmap_clear(&roaring);
      roaring = other.roaring;
      roaring_bitmap_init_cleared(&other.roaring);
    }
    return *this;
  }

  ~Roaring() { roaring_bitmap_clear(&roaring); }

 private:
  // roaring_bitmap_overwrite checks its allocations, so it is run with failures
  // reported as null. When it fails, the target's containers are already released
  // (it frees them before it allocates) but may still be counted: the count is
  // dropped before the target is cleared.
  bool overwriteWith(const Roaring& other) {
    const veltrane::storage::NullOnAllocationFailure reportAsNull;
    if (roaring_bitmap_overwrite(&roaring, &other.roaring)) return true;
    roaring.high_low_container.size = 0;
    roaring_bitmap_clear(&roaring);
    return false;
  }
};

}  // namespace roaring
