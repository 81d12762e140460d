#pragma once

// Every read of CRoaring's private layout lives here: a bitmap's container table, the
// leading fields of array and run containers, and the container reader that CRoaring's
// own 64-bit bitmaps use. roaring.h declares them (in roaring::internal) but keeps them
// out of its stable interface. They follow the pinned release, 5.2.2; another release
// fails to compile here rather than misread memory.
#include <roaring.h>

#include <cstddef>
#include <cstdint>

static_assert(ROARING_VERSION_MAJOR == 5 && ROARING_VERSION_MINOR == 2 && ROARING_VERSION_REVISION == 2,
              "croaring_layout.h follows CRoaring 5.2.2: check its reads against the new release "
              "before changing the pin");

namespace croaring_layout {

using Container = roaring::internal::container_t;

// Container type codes. Shared containers only exist with copy-on-write, which this
// library never enables.
constexpr std::uint8_t kBitsetContainer = BITSET_CONTAINER_TYPE;
constexpr std::uint8_t kArrayContainer = ARRAY_CONTAINER_TYPE;
constexpr std::uint8_t kRunContainer = RUN_CONTAINER_TYPE;
constexpr std::uint32_t kContainerSpan = std::uint32_t{1} << 16;

// The leading fields that array and run containers share: the number of values or runs,
// the room for them, and the block that holds them.
struct GrowableContainer {
  std::int32_t count;
  std::int32_t capacity;
  void* elements;
};

using roaring::internal::array_container_t;
using roaring::internal::run_container_t;
#define VELTRANE_BEGINS_LIKE_GROWABLE(type, countField, elementsField)                  \
  (offsetof(type, countField) == offsetof(GrowableContainer, count) &&                 \
   offsetof(type, capacity) == offsetof(GrowableContainer, capacity) &&                \
   offsetof(type, elementsField) == offsetof(GrowableContainer, elements))
static_assert(VELTRANE_BEGINS_LIKE_GROWABLE(array_container_t, cardinality, array),
              "array containers no longer begin like GrowableContainer");
static_assert(VELTRANE_BEGINS_LIKE_GROWABLE(run_container_t, n_runs, runs),
              "run containers no longer begin like GrowableContainer");
#undef VELTRANE_BEGINS_LIKE_GROWABLE

// Bytes per element of a growable container; 0 for the other kinds.
inline std::size_t elementBytes(std::uint8_t typecode) {
  if (typecode == kArrayContainer) return sizeof(std::uint16_t);
  if (typecode == kRunContainer) return sizeof(roaring::internal::rle16_t);
  return 0;
}

// A bitmap keeps one container per 2^16 low values, in a table sorted by key (the upper
// 16 bits of the values it holds).
inline std::int32_t containerCount(const roaring_bitmap_t& bitmap) noexcept {
  return bitmap.high_low_container.size;
}
inline const std::uint16_t* containerKeys(const roaring_bitmap_t& bitmap) noexcept {
  return bitmap.high_low_container.keys;
}
inline std::uint8_t typecodeAt(const roaring_bitmap_t& bitmap, std::int32_t index) noexcept {
  return bitmap.high_low_container.typecodes[index];
}
inline Container* containerAt(const roaring_bitmap_t& bitmap, std::int32_t index) noexcept {
  return bitmap.high_low_container.containers[index];
}

// The container at `index` when it is an array or run container, else nullptr.
inline GrowableContainer* growableAt(const roaring_bitmap_t& bitmap, std::int32_t index) noexcept {
  if (elementBytes(typecodeAt(bitmap, index)) == 0) return nullptr;
  return reinterpret_cast<GrowableContainer*>(containerAt(bitmap, index));
}

// Forgets the container table without freeing anything: for a table whose containers
// were already released.
inline void forgetContainers(roaring_bitmap_t& bitmap) noexcept { bitmap.high_low_container.size = 0; }

// The containers [first, first + count) of `bitmap` as a bitmap of their own that
// shares their storage: only for reading, and never to be freed.
inline roaring_bitmap_t containerGroup(const roaring_bitmap_t& bitmap, std::int32_t first,
                                       std::int32_t count) noexcept {
  const roaring_array_t& whole = bitmap.high_low_container;
  roaring_bitmap_t group{};
  roaring_array_t& part = group.high_low_container;
  part.size = part.allocation_size = count;
  part.containers = whole.containers + first;
  part.keys = whole.keys + first;
  part.typecodes = whole.typecodes + first;
  part.flags = whole.flags;
  return group;
}

// Writes every value of the container at `index` as high | key << 16 | value; returns
// one past the last value written.
inline std::uint64_t* writeContainer(const roaring_bitmap_t& bitmap, std::int32_t index, std::uint64_t high,
                                     std::uint64_t* out) {
  const Container* container = containerAt(bitmap, index);
  const std::uint8_t typecode = typecodeAt(bitmap, index);
  std::uint16_t value = 0;
  roaring_container_iterator_t it = roaring::internal::container_init_iterator(container, typecode, &value);
  std::uint32_t written = 0;
  roaring::internal::container_iterator_read_into_uint64(
      container, typecode, &it, high | (std::uint64_t{containerKeys(bitmap)[index]} << 16), out, kContainerSpan,
      &written, &value);
  return out + written;
}

}  // namespace croaring_layout
