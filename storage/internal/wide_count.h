#pragma once

#include <cstdint>
#include <stdexcept>

namespace veltrane::storage::internal {

// A count of positions reaches 2^64 at most, one more than a 64-bit integer holds.
using WideCount = unsigned __int128;

constexpr WideCount kAllPositions = WideCount{1} << 64;

inline std::uint64_t narrowed(WideCount count) {
  if (count >= kAllPositions) throw std::length_error("the count is 2^64, unable to represent in a 64-bit integer");
  return static_cast<std::uint64_t>(count);
}

}  // namespace veltrane::storage::internal
