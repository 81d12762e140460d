// Inputs without padding: documents of every kind ending at the last byte, with lengths
// around the stream's 64-byte blocks, scanned right before an inaccessible page and from
// exact-size heap blocks, under each simdjson implementation this processor runs.
#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <vector>

#include "scanner_test_support.h"

namespace {

using namespace scanner_test_support;

// Last documents that end exactly at the end of the input, complete or not.
const std::vector<std::string> kEndings = {
    R"("abc")", R"("")",    R"("a\"")", R"("a\\")", R"("a\)", R"(")",     R"({"a":"b"})",
    "[1,2]",    "{}",       "7",        "-12.5",    "true",   R"("a":)",  R"({"a")",
    "[1,",      "[\"x\"",   R"("x" )",  "\"x\"\n",  R"("k":"v")",
};

std::vector<std::size_t> lengthsAroundBlocks() {
  std::vector<std::size_t> lengths;
  for (std::size_t block : {64, 128, 192, 256}) {
    for (std::size_t length = block - 2; length <= block + 2; ++length) lengths.push_back(length);
  }
  return lengths;
}

// Filler documents, then spaces, then `ending`, `length` bytes in all.
std::string inputEndingWith(const std::string& ending, std::size_t length) {
  std::string input;
  while (input.size() + 4 + ending.size() <= length) input += "[1] ";
  input.resize(length - ending.size(), ' ');
  return input + ending;
}

std::vector<std::string> boundaryInputs() {
  std::vector<std::string> inputs;
  for (const std::string& ending : kEndings) {
    inputs.push_back(ending);
    for (std::size_t length : lengthsAroundBlocks()) {
      inputs.push_back(inputEndingWith(ending, length));
      inputs.push_back(inputEndingWith("\"s\" " + ending, length));
    }
  }
  return inputs;
}

// Makes one simdjson implementation the active one for parsers created while it lives.
class ActiveImplementation {
 public:
  explicit ActiveImplementation(const simdjson::implementation* chosen)
      : previous(simdjson::get_active_implementation()) {
    simdjson::get_active_implementation() = chosen;
  }
  ActiveImplementation(const ActiveImplementation&) = delete;
  ActiveImplementation& operator=(const ActiveImplementation&) = delete;
  ~ActiveImplementation() { simdjson::get_active_implementation() = previous; }

 private:
  const simdjson::implementation* previous;
};

void expectPaddedOutcome(std::size_t batchSize) {
  GuardedBuffer guarded(4096);
  MemoryScanner scanner(batchSize);
  PaddedReference reference(batchSize, true);
  for (const std::string& input : boundaryInputs()) {
    const Result expected = reference.scan(input);
    EXPECT_EQ(scanner.scan(guarded.place(input), input.size()), expected) << input;
    EXPECT_EQ(scanner.scan(exactCopy(input).get(), input.size()), expected) << input;
  }
}

TEST(ScannerBounds, NeverReadsPastTheEndUnderAnyImplementation) {
  for (const auto* implementation : simdjson::get_available_implementations()) {
    if (!implementation->supported_by_runtime_system()) continue;
    SCOPED_TRACE(implementation->name());
    const ActiveImplementation active(implementation);
    expectPaddedOutcome(4096);  // one window, as any window longer than the input
  }
}

// Only the last window ends at the end of the input; the earlier ones are indexed over
// their full length, which more input follows.
TEST(ScannerBounds, NeverReadsPastTheEndAcrossWindows) { expectPaddedOutcome(100); }

}  // namespace
