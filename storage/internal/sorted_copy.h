#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace veltrane::storage::internal {

// True when values[0 .. count) never decrease.
bool isNonDecreasing(const std::uint64_t* values, std::size_t count);

// The values in ascending order (duplicates kept), by a least-significant-digit radix
// sort over 16-bit digits; digits that are equal in every value are skipped. Checks
// for cancellation (storage/cancellation.h) between blocks of values.
std::vector<std::uint64_t> sortedCopy(const std::uint64_t* values, std::size_t count);

}  // namespace veltrane::storage::internal
