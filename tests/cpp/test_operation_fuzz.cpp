// Operation sequences from seed files and from random and mutated bytes, each checked
// against a std::set model, for a bounded time.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "fuzz_budget.h"
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

Bytes mutated(const Bytes& seed, XorShift& random) {
  Bytes bytes = seed;
  const int edits = 1 + static_cast<int>(random.next() % 8);
  for (int i = 0; i < edits; ++i) {
    const std::uint64_t choice = random.next();
    if (!bytes.empty() && choice % 3 != 0) {
      bytes[choice / 3 % bytes.size()] = static_cast<std::uint8_t>(random.next());
    } else {
      bytes.insert(bytes.begin() + static_cast<std::ptrdiff_t>(choice / 3 % (bytes.size() + 1)),
                   static_cast<std::uint8_t>(random.next()));
    }
  }
  return bytes;
}

TEST(OperationFuzz, SeedsAgreeWithTheModel) {
  for (const Bytes& seed : seedInputs()) {
    EXPECT_EQ(runOperationSequence(seed.data(), seed.size()), "");
  }
}

TEST(OperationFuzz, RandomAndMutatedSequencesAgreeWithTheModel) {
  const auto deadline = fuzzDeadline(4.0);
  std::vector<Bytes> pool = seedInputs();
  XorShift random(20261208);
  int runs = 0;
  while (std::chrono::steady_clock::now() < deadline) {
    Bytes input;
    if (!pool.empty() && random.next() % 2 == 0) {
      input = mutated(pool[random.next() % pool.size()], random);
    } else {
      input.resize(random.next() % 600);
      for (auto& byte : input) byte = static_cast<std::uint8_t>(random.next());
    }
    const std::string failure = runOperationSequence(input.data(), input.size());
    ASSERT_EQ(failure, "") << "after " << runs << " runs";
    ++runs;
  }
  RecordProperty("runs", runs);
  std::printf("[ fuzz ] %d operation sequences\n", runs);
}

}  // namespace
