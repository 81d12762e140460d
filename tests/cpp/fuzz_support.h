#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

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
  std::size_t below(std::size_t bound) { return bound == 0 ? 0 : next() % bound; }

 private:
  std::uint64_t state;
};

// The edits every fuzz loop applies to its seed inputs: flipped bits, new bytes, counts
// and lengths near their edges, cuts, erased and inserted runs, and splices of another
// seed. New bytes come from `alphabet` seven times in eight when one is given, so that
// inputs keep the bytes a parser cares about.
template <typename Bytes>
class ByteMutator {
 public:
  explicit ByteMutator(std::uint64_t seed, std::string alphabet = {})
      : random(seed), alphabet(std::move(alphabet)) {}

  std::size_t below(std::size_t bound) { return random.below(bound); }

  Bytes randomBytes(std::size_t length) {
    Bytes bytes(length, 0);
    for (auto& byte : bytes) byte = newByte();
    return bytes;
  }

  Bytes mutate(const std::vector<Bytes>& seeds) {
    Bytes bytes = seeds[below(seeds.size())];
    for (std::size_t rounds = 1 + below(4); rounds > 0; --rounds) mutateOnce(bytes, seeds);
    return bytes;
  }

 private:
  using Byte = typename Bytes::value_type;

  Byte newByte() {
    if (!alphabet.empty() && below(8) != 0) return static_cast<Byte>(alphabet[below(alphabet.size())]);
    return static_cast<Byte>(random.next());
  }

  void mutateOnce(Bytes& bytes, const std::vector<Bytes>& seeds) {
    if (bytes.empty()) bytes.push_back(0);
    const std::size_t at = below(bytes.size());
    switch (below(7)) {
      case 0: bytes[at] ^= static_cast<Byte>(1u << below(8)); break;
      case 1: bytes[at] = newByte(); break;
      case 2: overwriteWithEdgeValue(bytes, at); break;
      case 3: bytes.resize(at); break;
      case 4: bytes.erase(bytes.begin() + at, bytes.begin() + at + below(bytes.size() - at)); break;
      case 5: bytes.insert(bytes.begin() + at, below(16), newByte()); break;
      default: spliceFrom(bytes, seeds[below(seeds.size())], at); break;
    }
  }

  void overwriteWithEdgeValue(Bytes& bytes, std::size_t at) {
    static const std::uint64_t kEdges[] = {0, 1, 2, 7, 8, 12, 255, 0xFFFF, 0x10000, 0xFFFFFFFF,
                                           0x100000000, ~std::uint64_t{0}, ~std::uint64_t{0} >> 1};
    const std::uint64_t value = kEdges[below(std::size(kEdges))];
    const std::size_t width = std::min<std::size_t>(below(2) ? 8 : 4, bytes.size() - at);
    std::memcpy(&bytes[at], &value, width);
  }

  void spliceFrom(Bytes& bytes, const Bytes& other, std::size_t at) {
    if (other.empty()) return;
    const std::size_t from = below(other.size());
    bytes.resize(at);
    bytes.insert(bytes.end(), other.begin() + from, other.begin() + from + below(other.size() - from));
  }

  XorShift random;
  std::string alphabet;
};
