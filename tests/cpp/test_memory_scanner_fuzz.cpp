// A seeded, time-bounded loop over random and mutated inputs. Each input is scanned right
// before an inaccessible page and from an exact-size heap block (so the sanitizers see any
// stray read) and compared with simdjson's own walk over a padded copy, without the worker
// thread (whose walk loses documents after a window that holds no document start).
//
// The loop runs for a few seconds; VELTRANE_FUZZ_SECONDS sets another duration and
// SCANNER_FUZZ_SEED another first seed. A failure names the seed of its input.
#include <gtest/gtest.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "scanner_test_support.h"

namespace {

using namespace scanner_test_support;

#if defined(__SANITIZE_ADDRESS__)
constexpr double kDefaultSeconds = 6;
#else
constexpr double kDefaultSeconds = 2;
#endif
constexpr std::size_t kMaxInput = 6000;

std::uint64_t firstSeed() {
  const char* text = std::getenv("SCANNER_FUZZ_SEED");
  return text ? std::strtoull(text, nullptr, 10) : 20240601;
}

const std::vector<std::string> kDocuments = {
    R"({"a":1})", "[1,2,3]", R"("str\"ing")", R"({"k":[true,false,null],"s":"x y"})",
    "12.5e3",     "-0",      "[]",            R"({"nested":{"deeper":[[{}]]}})",
    "\"\xc3\xa9\xe2\x82\xac\"", R"("")", "true", R"({"u":"\u00e9\\"})",
};
const std::string kSeparators[] = {" ", "\n", "\r\n", "", "\t ", "   "};
// Bytes that matter to the stream's first stage, with a few that break UTF-8 or strings.
const std::string kAlphabet = std::string("{}[]\":,\\ \n\t0123456789-.etrufalsn") +
                              std::string("\0\x01\x1f\x7f\xc3\xa9\xe2\x82\xac\xff\xf0", 11);

class InputMaker {
 public:
  explicit InputMaker(std::uint64_t seed) : mutator(seed, kAlphabet) {}

  std::string make() {
    std::string input;
    switch (pick(4)) {
      case 0: input = mutator.randomBytes(pick(pick(2) ? 200 : kMaxInput)); break;
      case 1: input = mutator.mutate({documentStream(pick(60))}); break;
      case 2: input = documentStream(pick(200)); break;
      default: input = nesting(pick(3000)); break;
    }
    if (input.size() > kMaxInput) input.resize(kMaxInput);
    return input;
  }

 private:
  std::size_t pick(std::size_t bound) { return mutator.below(bound); }
  template <typename Container>
  const auto& anyOf(const Container& items) {
    return items[pick(std::size(items))];
  }

  std::string documentStream(std::size_t documents) {
    std::string stream;
    for (std::size_t i = 0; i < documents; ++i) stream += anyOf(kDocuments) + anyOf(kSeparators);
    return stream;
  }

  std::string nesting(std::size_t depth) {
    const std::string open = pick(2) ? "[" : "{\"k\":";
    std::string input;
    for (std::size_t i = 0; i < depth; ++i) input += open;
    input += pick(2) ? "\"leaf\"" : "1";
    input += std::string(pick(depth + 1), open[0] == '[' ? ']' : '}');
    return input;
  }

  ByteMutator<std::string> mutator;
};

// One scanner and the padded walk, for one window size.
struct Subjects {
  explicit Subjects(std::size_t batchSize) : scanner(batchSize), reference(batchSize, false) {}
  MemoryScanner scanner;
  PaddedReference reference;
};

TEST(ScannerFuzz, RandomInputsMatchThePaddedWalkWithinBounds) {
  std::vector<Subjects> windows;
  // The last window size holds every input in one window, as the default one would.
  for (std::size_t batchSize : {32, 100, 1000, 8192}) windows.emplace_back(batchSize);
  GuardedBuffer guarded(kMaxInput);
  const auto deadline = fuzzDeadline(kDefaultSeconds);
  std::uint64_t seed = firstSeed();
  std::size_t inputs = 0;
  for (; std::chrono::steady_clock::now() < deadline; ++seed, ++inputs) {
    const std::string input = InputMaker(seed).make();
    Subjects& subjects = windows[seed % windows.size()];
    const Result atGuard = subjects.scanner.scan(guarded.place(input), input.size());
    const Result onHeap = subjects.scanner.scan(exactCopy(input).get(), input.size());
    ASSERT_EQ(atGuard, onHeap) << "seed " << seed;
    ASSERT_LE(atGuard.covered, input.size()) << "seed " << seed;
    ASSERT_EQ(atGuard, subjects.reference.scan(input)) << "seed " << seed;
  }
  RecordProperty("inputs", static_cast<int>(inputs));
}

}  // namespace
