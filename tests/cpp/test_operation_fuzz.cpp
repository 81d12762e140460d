// Operation sequences from seed files and from random and mutated bytes, each checked
// against a std::set model, for a bounded time.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "fuzz_support.h"
#include "operation_fuzz.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

std::vector<Bytes> seedInputs() {
  std::vector<Bytes> seeds;
  const std::filesystem::path folder = std::filesystem::path(VELTRANE_TEST_DIR) / "fuzz_seeds";
  if (!std::filesystem::exists(folder)) return seeds;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    std::ifstream file(entry.path(), std::ios::binary);
    seeds.emplace_back(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  }
  return seeds;
}

TEST(OperationFuzz, SeedsAgreeWithTheModel) {
  for (const Bytes& seed : seedInputs()) {
    EXPECT_EQ(runOperationSequence(seed.data(), seed.size()), "");
  }
}

TEST(OperationFuzz, RandomAndMutatedSequencesAgreeWithTheModel) {
  const auto deadline = fuzzDeadline(4.0);
  std::vector<Bytes> pool = seedInputs();
  ByteMutator<Bytes> mutator(20261208);
  int runs = 0;
  while (std::chrono::steady_clock::now() < deadline) {
    const Bytes input = !pool.empty() && mutator.below(2) == 0 ? mutator.mutate(pool)
                                                                : mutator.randomBytes(mutator.below(600));
    const std::string failure = runOperationSequence(input.data(), input.size());
    ASSERT_EQ(failure, "") << "after " << runs << " runs";
    ++runs;
  }
  RecordProperty("runs", runs);
  std::printf("[ fuzz ] %d operation sequences\n", runs);
}

}  // namespace
