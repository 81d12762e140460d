// Coverage-guided fuzz target of MemoryScanner (libFuzzer). Every input is scanned right
// before an inaccessible page, by scanners with small windows that make it cross several and
// by one whose window holds it whole (as the default window does), and compared with
// simdjson's own walk without the worker thread over a padded copy. A mismatch or a read
// past the end aborts the run with the input saved.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "scanner_test_support.h"

namespace {

using namespace scanner_test_support;

constexpr std::size_t kMaxInput = 8192;

// The reference walks one window when the scanner's window holds every input.
struct Subject {
  explicit Subject(std::size_t batchSize)
      : scanner(batchSize), reference(std::min(batchSize, kMaxInput), false) {}
  MemoryScanner scanner;
  PaddedReference reference;
};

void check(Subject& subject, GuardedBuffer& guarded, const std::string& input) {
  const Result expected = subject.reference.scan(input);
  const Result scanned = subject.scanner.scan(guarded.place(input), input.size());
  if (scanned == expected) return;
  std::fprintf(stderr, "scan (%zu, %zu), padded walk (%zu, %zu)\n", scanned.documents,
               scanned.covered, expected.documents, expected.covered);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static GuardedBuffer guarded(kMaxInput);
  static Subject subjects[] = {Subject(32), Subject(64), Subject(100),
                               Subject(MemoryScanner::kDefaultBatchSize)};
  if (size > kMaxInput) return -1;
  const std::string input(reinterpret_cast<const char*>(data), size);
  for (Subject& subject : subjects) check(subject, guarded, input);
  return 0;
}
