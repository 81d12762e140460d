#pragma once

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <string>

// How long a randomized test may run: `defaultSeconds`, or the number of seconds in
// the environment variable VELTRANE_FUZZ_SECONDS (for long soak runs).
inline std::chrono::steady_clock::time_point fuzzDeadline(double defaultSeconds) {
  double seconds = defaultSeconds;
  if (const char* text = std::getenv("VELTRANE_FUZZ_SECONDS")) seconds = std::atof(text);
  return std::chrono::steady_clock::now() +
         std::chrono::duration_cast<std::chrono::steady_clock::duration>(
             std::chrono::duration<double>(seconds));
}

// A small deterministic generator, so that a failing run can be repeated.
class XorShift {
 public:
  explicit XorShift(std::uint64_t seed) : state(seed | 1) {}
  std::uint64_t next() {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return state;
  }

 private:
  std::uint64_t state;
};
