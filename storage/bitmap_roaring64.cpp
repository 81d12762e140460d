// The portable 64-bit Roaring form, which the Roaring libraries of other languages and
// CRoaring's own 64-bit bitmaps write and read: an 8-byte count of 32-bit bitmaps,
// then for each, in strictly ascending key order, the 4-byte key (the upper 32 bits of
// its positions) and the portable serialization of the 32-bit bitmap of low parts.
// All integers are little-endian.
#include <stdexcept>
#include <string>

#include "storage/bitmap.h"
#include "storage/internal/form_bytes.h"

namespace veltrane::storage {

using namespace internal;
namespace {

constexpr std::uint64_t kMostBitmaps = std::uint64_t{1} << 32;

[[noreturn]] void refuse(const std::string& what) {
  throw std::invalid_argument("64-bit Roaring form " + what);
}

std::uint64_t readBitmapCount(FormReader& reader) {
  const std::uint64_t count = reader.readCount("64-bit Roaring form", "count of 32-bit bitmaps");
  if (count > kMostBitmaps) {
    refuse("inconsistent: it states " + std::to_string(count) + " 32-bit bitmaps, there are only 2^32 keys");
  }
  return count;
}

// Where a 32-bit bitmap of the form stands, for messages.
struct Place {
  std::uint64_t index;
  std::uint64_t count;
  std::size_t offset;

  std::string describe() const {
    return "32-bit bitmap " + std::to_string(index) + " of " + std::to_string(count) + " (byte " +
           std::to_string(offset) + ")";
  }
};

// A key must be above the one before it: a repeated key would have its later bitmap
// replace the earlier one.
std::uint32_t readKey(FormReader& reader, const Place& place, const std::uint32_t* previous) {
  if (reader.left() < kKeyBytes) {
    refuse("truncated: " + place.describe() + " needs a " + std::to_string(kKeyBytes) + "-byte key, " +
           std::to_string(reader.left()) + " bytes are left");
  }
  const auto key = load<std::uint32_t>(reader.here());
  if (previous != nullptr && key <= *previous) {
    refuse("inconsistent: " + place.describe() + " has key " + std::to_string(key) + ", not above the key " +
           std::to_string(*previous) + " before it");
  }
  reader.advance(kKeyBytes);
  return key;
}

// Decodes a body within the bytes its own headers claim, once those are known to be
// present, and checks the result with CRoaring's validation.
roaring::Roaring readBody(FormReader& reader, const Place& place) {
  const std::size_t size = roaring::Roaring::portableSizeAt(reader.here(), reader.left());
  if (size == 0) {
    refuse("truncated or inconsistent: the body of " + place.describe() + " is not a portable 32-bit bitmap within the " +
           std::to_string(reader.left()) + " bytes left");
  }
  roaring::Roaring body;
  const char* reason = nullptr;
  if (!body.readFrom(reader.here(), size, true) || !body.isValid(reason)) {
    refuse("invalid: the body of " + place.describe() + " is not a valid bitmap (" +
           (reason != nullptr ? reason : "it cannot be decoded") + ")");
  }
  reader.advance(size);
  return body;
}

}  // namespace

std::uint64_t Bitmap::roaring64Size() const {
  std::uint64_t size = kCountBytes;
  for (const auto& entry : buckets) {
    if (!entry.second.isEmpty()) size += kKeyBytes + entry.second.portableSizeInBytes();
  }
  return size;
}

char* Bitmap::toRoaring64(char* buffer, std::size_t capacity) const {
  const std::uint64_t needed = roaring64Size();
  if (needed > capacity) {
    throw std::invalid_argument("buffer of " + std::to_string(capacity) +
                                " bytes is too small for the 64-bit Roaring form of " +
                                std::to_string(needed) + " bytes");
  }
  std::uint64_t count = 0;
  for (const auto& entry : buckets) count += entry.second.isEmpty() ? 0 : 1;
  char* at = store<std::uint64_t>(buffer, count);
  for (const auto& [key, bucket] : buckets) {
    if (bucket.isEmpty()) continue;
    at = store<std::uint32_t>(at, key);
    at += bucket.portableSerialize(at);
  }
  return at;
}

Bitmap Bitmap::fromRoaring64(const char* buffer, std::size_t length) {
  Bitmap result(0, nullptr);
  FormReader reader(buffer, length);
  const std::uint64_t count = readBitmapCount(reader);
  // Each bitmap takes at least 12 bytes, so a large count runs out of bytes early;
  // nothing is sized from it in advance.
  for (std::uint64_t index = 0; index < count; ++index) {
    const Place place{index, count, reader.offset()};
    const std::uint32_t* previous = result.buckets.empty() ? nullptr : &result.buckets.rbegin()->first;
    const std::uint32_t key = readKey(reader, place, previous);
    result.buckets.emplace_hint(result.buckets.end(), key, readBody(reader, place));
  }
  if (reader.left() != 0) {
    refuse("inconsistent: " + std::to_string(reader.left()) + " bytes follow the last of its " +
           std::to_string(count) + " 32-bit bitmaps");
  }
  return result;
}

}  // namespace veltrane::storage
