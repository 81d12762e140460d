// The serialized form of a bitmap, its size, the container count and the text forms.
//
// Form: an 8-byte bucket count N (empty buckets included), then one record per bucket
// in ascending key order: the 4-byte key, the 8-byte length S of the body, and the
// body, which is CRoaring's portable or native serialization of the bucket's 32-bit
// bitmap. All integers are little-endian and nothing is padded. The reader is told
// which body format to expect; the bytes do not record it.
#include <cstring>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "storage/allocation_hooks.h"
#include "storage/bitmap.h"
#include "storage/internal/form_bytes.h"
#include "storage/internal/bucket_access.h"

namespace veltrane::storage {

using namespace internal;
namespace {

constexpr std::size_t kBodyLengthBytes = 8;
constexpr std::size_t kRecordHeaderBytes = kKeyBytes + kBodyLengthBytes;

// Leading bytes of a body in each format: a portable body starts with a 4-byte cookie,
// a native body with a one-byte marker followed by a cookie or a 4-byte count.
constexpr std::uint32_t kCookieWithRuns = 12347;
constexpr std::uint32_t kCookieWithoutRuns = 12346;
constexpr std::size_t kCookieBytes = 4;
constexpr char kNativeArrayMarker = 1;
constexpr char kNativePortableMarker = 2;
constexpr std::size_t kNativeArrayHeaderBytes = 1 + 4;

constexpr const char* kUndecodableBody = "failed alloc while reading";

std::size_t bodySize(const roaring::Roaring& bucket, bool portable) {
  return portable ? bucket.portableSizeInBytes() : bucket.nativeSizeInBytes();
}

std::uint64_t formSize(const Bitmap::Buckets& buckets, bool portable) {
  std::uint64_t size = kCountBytes;
  for (const auto& entry : buckets) {
    size += kRecordHeaderBytes + bodySize(entry.second, portable);
  }
  return size;
}

// Replaces the content of bucket `key` with a bitmap a CRoaring decoder allocated,
// taking over its containers without copying them.
void adoptInto(Bitmap::Buckets& buckets, std::uint32_t key, roaring::Roaring&& decoded) {
  getOrCreateEntry(buckets, key)->second = std::move(decoded);
}

// --- Checks on untrusted bodies ------------------------------------------------------

bool isPortableCookie(const char* body, std::size_t length) {
  if (length < kCookieBytes) return false;
  const auto cookie = load<std::uint32_t>(body);
  return (cookie & 0xFFFF) == kCookieWithRuns || cookie == kCookieWithoutRuns;
}

// Whether the body begins like one of the expected format; a body that does not is
// one that cannot be decoded, not a damaged one.
bool hasFormatSignature(const char* body, std::size_t length, bool portable) {
  if (portable) return isPortableCookie(body, length);
  if (length < 1) return false;
  if (body[0] == kNativeArrayMarker) return true;
  return body[0] == kNativePortableMarker && isPortableCookie(body + 1, length - 1);
}

// Bytes the body's own headers say it occupies, reading at most `length` bytes;
// 0 when the bitmap they describe does not fit in `length`.
std::size_t encodedBodySize(const char* body, std::size_t length, bool portable) {
  if (portable) return roaring::Roaring::portableSizeAt(body, length);
  if (body[0] == kNativePortableMarker) {
    const std::size_t inner = roaring::Roaring::portableSizeAt(body + 1, length - 1);
    return inner == 0 ? 0 : inner + 1;
  }
  if (length < kNativeArrayHeaderBytes) return 0;
  const std::uint64_t count = load<std::uint32_t>(body + 1);
  const std::uint64_t size = kNativeArrayHeaderBytes + 4 * count;
  return size <= length ? size : 0;
}

struct RecordPlace {
  std::uint64_t index;
  std::uint64_t count;
  std::size_t offset;
  std::uint32_t key;

  std::string describe() const {
    return "record " + std::to_string(index) + " of " + std::to_string(count) + " (key " +
           std::to_string(key) + ", byte " + std::to_string(offset) + ")";
  }
};

[[noreturn]] void refuse(const std::string& what) {
  throw std::invalid_argument("serialized bitmap " + what);
}

// Checks the stated body length against what is left and against the body's own
// headers, so that decoding stays within the body.
void checkBodyLength(const RecordPlace& place, const char* body, std::uint64_t stated,
                     std::size_t left, bool portable) {
  if (stated > left) {
    refuse("truncated: " + place.describe() + " states a body of " + std::to_string(stated) +
           " bytes, " + std::to_string(left) + " bytes are left");
  }
  if (!hasFormatSignature(body, stated, portable)) throw std::runtime_error(kUndecodableBody);
  const std::size_t encoded = encodedBodySize(body, stated, portable);
  if (encoded == 0) {
    refuse("inconsistent: the body of " + place.describe() + " does not fit in its stated " +
           std::to_string(stated) + " bytes");
  }
  if (encoded != stated) {
    refuse("inconsistent: the body of " + place.describe() + " takes " + std::to_string(encoded) +
           " bytes, its record states " + std::to_string(stated));
  }
}

roaring::Roaring decodeUntrustedBody(const RecordPlace& place, const char* body, std::size_t size,
                                     bool portable) {
  roaring::Roaring owned;
  if (!owned.readFrom(body, size, portable)) throw std::runtime_error(kUndecodableBody);
  const char* reason = nullptr;
  if (!owned.isValid(reason)) {
    refuse("invalid: the body of " + place.describe() + " is not a valid bitmap (" +
           (reason ? reason : "no reason given") + ")");
  }
  return owned;
}

void readUntrustedRecord(FormReader& reader, RecordPlace place, Bitmap::Buckets& buckets,
                         bool portable) {
  if (reader.left() < kRecordHeaderBytes) {
    refuse("truncated: record " + std::to_string(place.index) + " of " +
           std::to_string(place.count) + " at byte " + std::to_string(place.offset) + " needs a " +
           std::to_string(kRecordHeaderBytes) + "-byte header, " + std::to_string(reader.left()) +
           " bytes are left");
  }
  place.key = load<std::uint32_t>(reader.here());
  const auto stated = load<std::uint64_t>(reader.here() + kKeyBytes);
  reader.advance(kRecordHeaderBytes);
  const char* body = reader.here();
  checkBodyLength(place, body, stated, reader.left(), portable);
  const auto size = static_cast<std::size_t>(stated);
  adoptInto(buckets, place.key, decodeUntrustedBody(place, body, size, portable));
  reader.advance(size);
}

// Appends "{a,b,c}": the bucket's low parts, ascending, without spaces.
void appendLowParts(const roaring::Roaring& bucket, std::string& text) {
  text += '{';
  bucket.forEach([&text](std::uint32_t low) {
    if (text.back() != '{') text += ',';
    text += std::to_string(low);
    return true;
  });
  text += '}';
}

}  // namespace

std::uint64_t Bitmap::persistedSize(bool portable, bool optimize, bool shrink) {
  for (auto& entry : buckets) {
    if (optimize) editBucket(entry.second, &roaring::Roaring::runOptimize);
    if (shrink) editBucket(entry.second, &roaring::Roaring::shrinkToFit);
  }
  return formSize(buckets, portable);
}

char* Bitmap::write(char* buffer, bool portable) const {
  char* at = store<std::uint64_t>(buffer, buckets.size());
  for (const auto& [key, bucket] : buckets) {
    at = store<std::uint32_t>(at, key);
    char* body = at + kBodyLengthBytes;
    const std::size_t length = portable ? bucket.portableSerialize(body) : bucket.nativeSerialize(body);
    at = store<std::uint64_t>(at, length) + length;
  }
  return at;
}

char* Bitmap::write(char* buffer, std::size_t capacity, bool portable) const {
  const std::uint64_t needed = formSize(buckets, portable);
  if (needed > capacity) {
    throw std::invalid_argument("buffer of " + std::to_string(capacity) +
                                " bytes is too small for the serialized bitmap of " +
                                std::to_string(needed) + " bytes");
  }
  return write(buffer, portable);
}

Bitmap Bitmap::read(const char* buffer, bool portable) {
  Bitmap result;
  const auto count = load<std::uint64_t>(buffer);
  const char* at = buffer + kCountBytes;
  for (std::uint64_t index = 0; index < count; ++index) {
    const auto key = load<std::uint32_t>(at);
    const auto length = load<std::uint64_t>(at + kKeyBytes);
    const char* body = at + kRecordHeaderBytes;
    roaring::Roaring decoded;
    if (!decoded.readFrom(body, portable)) throw std::runtime_error(kUndecodableBody);
    adoptInto(result.buckets, key, std::move(decoded));
    at = body + length;
  }
  return result;
}

Bitmap Bitmap::read(const char* buffer, std::size_t length, bool portable) {
  Bitmap result;
  FormReader reader(buffer, length);
  const std::uint64_t count = reader.readCount("serialized bitmap", "bucket count");
  // Every record takes at least its header, so a huge count runs out of bytes after
  // length / 12 records; nothing is sized from it in advance.
  for (std::uint64_t index = 0; index < count; ++index) {
    readUntrustedRecord(reader, RecordPlace{index, count, reader.offset(), 0}, result.buckets,
                        portable);
  }
  return result;
}

std::uint64_t Bitmap::inMemorySize() const {
  std::uint64_t containers = 0;
  for (const auto& entry : buckets) containers += entry.second.containerCount();
  return containers;
}

std::string Bitmap::toString() const {
  std::string text;
  for (const auto& [key, bucket] : buckets) {
    text += "h: " + std::to_string(key) + " ";
    appendLowParts(bucket, text);
    text += '\n';
  }
  return text;
}

std::string Bitmap::abbreviatedText(const std::string& name) const {
  constexpr std::size_t kShownInFull = 32;
  constexpr std::size_t kShownOfMore = 16;
  std::vector<std::uint64_t> leading;
  for (auto it = begin(); it != end() && leading.size() <= kShownInFull; ++it) leading.push_back(*it);
  const bool abbreviated = leading.size() > kShownInFull;
  if (abbreviated) leading.resize(kShownOfMore);
  std::string text = name + "([";
  for (std::uint64_t position : leading) {
    if (position != leading.front()) text += ", ";
    text += std::to_string(position);
  }
  if (!abbreviated) return text + "])";
  const std::string count = isFull() ? "18446744073709551616" : std::to_string(cardinality());
  return text + ", ...], len=" + count + ")";
}

}  // namespace veltrane::storage
