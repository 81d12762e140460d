#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>

// The bytes of the serialized forms: integers stored in and loaded from unaligned
// bytes, in host order, which the forms require to be little-endian, and a bounded
// walk over a caller's bytes.
namespace veltrane::storage::internal {

// Both forms open with an 8-byte count of buckets and give each bucket a 4-byte key.
constexpr std::size_t kCountBytes = 8;
constexpr std::size_t kKeyBytes = 4;

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
              "the serialized forms store integers in host order, which must be little-endian");

template <typename T>
char* store(char* at, T value) {
  std::memcpy(at, &value, sizeof value);
  return at + sizeof value;
}

template <typename T>
T load(const char* at) {
  T value;
  std::memcpy(&value, at, sizeof value);
  return value;
}

// Walks a caller's bytes front to back and never looks past their end. Positions in
// messages are byte offsets from the start of the form.
class FormReader {
 public:
  FormReader(const char* start, std::size_t length) : start(start), length(length) {}

  std::size_t offset() const { return used; }
  std::size_t left() const { return length - used; }
  const char* here() const { return start + used; }
  void advance(std::size_t bytes) { used += bytes; }

  // Reads the 8-byte count that begins a form; a shorter buffer raises
  // std::invalid_argument with "<form> truncated: the <counted> needs ...".
  std::uint64_t readCount(const std::string& form, const std::string& counted) {
    constexpr std::size_t kCountBytes = sizeof(std::uint64_t);
    if (left() < kCountBytes) {
      throw std::invalid_argument(form + " truncated: the " + counted + " needs " + std::to_string(kCountBytes) +
                                  " bytes, the buffer holds " + std::to_string(left()));
    }
    const auto count = load<std::uint64_t>(here());
    advance(kCountBytes);
    return count;
  }

 private:
  const char* start;
  std::size_t length;
  std::size_t used = 0;
};

}  // namespace veltrane::storage::internal
