#include "storage/internal/sorted_copy.h"

#include <array>
#include <cstring>

#include "storage/cancellation.h"

namespace veltrane::storage::internal {
namespace {

constexpr int kDigitBits = 16;
constexpr int kDigits = 64 / kDigitBits;
constexpr std::size_t kBuckets = std::size_t{1} << kDigitBits;

// A few milliseconds of one pass.
constexpr std::size_t kValuesBetweenChecks = std::size_t{1} << 20;

using Histograms = std::vector<std::array<std::size_t, kBuckets>>;

std::uint32_t digitOf(std::uint64_t value, int digit) {
  return static_cast<std::uint32_t>(value >> (digit * kDigitBits)) & (kBuckets - 1);
}

Histograms histogramsOf(const std::uint64_t* values, std::size_t count) {
  Histograms histograms(kDigits);
  for (auto& histogram : histograms) histogram.fill(0);
  forEachCancellableBlock(count, kValuesBetweenChecks, [&](std::size_t begin, std::size_t end) {
    for (std::size_t i = begin; i < end; ++i) {
      for (int digit = 0; digit < kDigits; ++digit) ++histograms[digit][digitOf(values[i], digit)];
    }
  });
  return histograms;
}

// A pass changes nothing when every value has the same digit there.
bool passNeeded(const std::array<std::size_t, kBuckets>& histogram, std::size_t count) {
  for (std::size_t n : histogram) {
    if (n == count) return false;
    if (n != 0) return true;
  }
  return true;
}

void scatter(const std::vector<std::uint64_t>& from, std::vector<std::uint64_t>& to, int digit,
             const std::array<std::size_t, kBuckets>& histogram) {
  std::vector<std::size_t> offsets(kBuckets);
  std::size_t running = 0;
  for (std::size_t b = 0; b < kBuckets; ++b) {
    offsets[b] = running;
    running += histogram[b];
  }
  forEachCancellableBlock(from.size(), kValuesBetweenChecks, [&](std::size_t begin, std::size_t end) {
    for (std::size_t i = begin; i < end; ++i) to[offsets[digitOf(from[i], digit)]++] = from[i];
  });
}

}  // namespace

bool isNonDecreasing(const std::uint64_t* values, std::size_t count) {
  for (std::size_t i = 1; i < count; ++i) {
    if (values[i] < values[i - 1]) return false;
  }
  return true;
}

// Both buffers are filled block by block: first touching their pages (about a
// second per gigabyte) is the slowest part of a large sort.
std::vector<std::uint64_t> sortedCopy(const std::uint64_t* values, std::size_t count) {
  std::vector<std::uint64_t> sorted;
  std::vector<std::uint64_t> scratch;
  sorted.reserve(count);
  scratch.reserve(count);
  forEachCancellableBlock(count, kValuesBetweenChecks, [&](std::size_t begin, std::size_t end) {
    sorted.insert(sorted.end(), values + begin, values + end);
    scratch.resize(end);
  });
  const Histograms histograms = histogramsOf(values, count);
  for (int digit = 0; digit < kDigits; ++digit) {
    if (!passNeeded(histograms[digit], count)) continue;
    scatter(sorted, scratch, digit, histograms[digit]);
    sorted.swap(scratch);
  }
  return sorted;
}

}  // namespace veltrane::storage::internal
