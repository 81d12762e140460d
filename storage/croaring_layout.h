#pragma once

// Every read of CRoaring's private layout lives here: a bitmap's container table, the
// leading fields of array and run containers, and two container functions that the
// library compiles in without declaring them. They follow the pinned release, 4.2.3;
// another release fails to compile here rather than misread memory.
#include <roaring.h>

#include <cstddef>
#include <cstdint>

static_assert(ROARING_VERSION_MAJOR == 4 && ROARING_VERSION_MINOR == 2 && ROARING_VERSION_REVISION == 3,
              "croaring_layout.h follows CRoaring 4.2.3: check its reads against the new release "
              "before changing the pin");

extern "C" {
roaring_container_iterator_t container_init_iterator(const void* container, std::uint8_t typecode,
                                                     std::uint16_t* value);
bool container_iterator_read_into_uint64(const void* container, std::uint8_t typecode,
                                         roaring_container_iterator_t* it, std::uint64_t high48,
                                         std::uint64_t* buffer, std::uint32_t count,
                                         std::uint32_t* consumed, std::uint16_t* value);
}

namespace croaring_layout {

// Container type codes. Shared containers (code 4) only exist with copy-on-write, which
// this library never enables.
constexpr std::uint8_t kArrayContainer = 2;
constexpr std::uint8_t kRunContainer = 3;
constexpr std::uint32_t kContainerSpan = std::uint32_t{1} << 16;

// The leading fields that array and run containers share: the number of values or runs,
// the room for them, and the block that holds them.
struct GrowableContainer {
  std::int32_t count;
  std::int32_t capacity;
  void* elements;
};

// Bytes per element of a growable container; 0 for the other kinds.
inline std::size_t elementBytes(std::uint8_t typecode) {
  if (typecode == kArrayContainer) return sizeof(std::uint16_t);
  if (typecode == kRunContainer) return 2 * sizeof(std::uint16_t);
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
inline void* containerAt(const roaring_bitmap_t& bitmap, std::int32_t index) noexcept {
  return bitmap.high_low_container.containers[index];
}

// The container at `index` when it is an array or run container, else nullptr.
inline GrowableContainer* growableAt(const roaring_bitmap_t& bitmap, std::int32_t index) noexcept {
  if (elementBytes(typecodeAt(bitmap, index)) == 0) return nullptr;
  return static_cast<GrowableContainer*>(containerAt(bitmap, index));
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

// Writes every value of the container at `index`, which is a run container, as
// high | key << 16 | value; returns one past the last value written.
inline std::uint64_t* writeRunContainer(const roaring_bitmap_t& bitmap, std::int32_t index,
                                        std::uint64_t high, std::uint64_t* out) {
  const void* container = containerAt(bitmap, index);
  std::uint16_t value = 0;
  roaring_container_iterator_t it = container_init_iterator(container, kRunContainer, &value);
  std::uint32_t written = 0;
  container_iterator_read_into_uint64(container, kRunContainer, &it,
                                      high | (std::uint64_t{containerKeys(bitmap)[index]} << 16), out,
                                      kContainerSpan, &written, &value);
  return out + written;
}

}  // namespace croaring_layout
