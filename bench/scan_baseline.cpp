// A plain loop over simdjson's document stream, the yardstick for MemoryScanner.scan: the
// same parser settings and window size, over a padded in-memory copy of a file.
//
//   scan_baseline FILE [REPEATS]
//
// After one untimed run (which allocates the parser's buffers) it times REPEATS runs
// (default 5) and prints one line:
//   documents=<count> covered=<bytes> seconds=<median seconds per run> gbps=<GB/s>
//
//   scan_baseline FILE first
//
// times the first run alone, on a fresh parser whose buffers are allocated for the full
// window, and prints how much it grew the process's virtual and resident size:
//   documents=<count> covered=<bytes> seconds=<seconds> virtual=<bytes> resident=<bytes>
#include <simdjson.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr std::size_t kMaxCapacity = 0xFFFFFFFF;
constexpr std::size_t kBatchSize = std::size_t{1} << 30;

struct Count {
  std::size_t documents = 0;
  std::size_t covered = 0;
};

Count countDocuments(simdjson::ondemand::parser& parser, const simdjson::padded_string& input) {
  Count count;
  simdjson::ondemand::document_stream stream;
  if (parser.iterate_many(input.data(), input.size(), kBatchSize).get(stream)) return {1, 0};
  for (auto step = stream.begin(); step != stream.end(); ++step) ++count.documents;
  count.covered = input.size() - stream.truncated_bytes();
  return count;
}

// The process's virtual and resident size in bytes, from /proc/self/status.
struct Sizes {
  long long virtualBytes = 0;
  long long residentBytes = 0;
};

Sizes processSizes() {
  Sizes sizes;
  std::ifstream status("/proc/self/status");
  std::string key;
  long long kilobytes = 0;
  while (status >> key) {
    if (key == "VmSize:" && status >> kilobytes) sizes.virtualBytes = kilobytes * 1024;
    if (key == "VmRSS:" && status >> kilobytes) sizes.residentBytes = kilobytes * 1024;
  }
  return sizes;
}

int firstRun(const simdjson::padded_string& input) {
  const Sizes before = processSizes();
  const auto start = std::chrono::steady_clock::now();
  simdjson::ondemand::parser parser(kMaxCapacity);
  parser.threaded = true;
  const Count count = countDocuments(parser, input);
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
  const Sizes after = processSizes();
  std::printf("documents=%zu covered=%zu seconds=%.6f virtual=%lld resident=%lld\n",
              count.documents, count.covered, elapsed.count(),
              after.virtualBytes - before.virtualBytes, after.residentBytes - before.residentBytes);
  return 0;
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: %s FILE [REPEATS | first]\n", argv[0]);
    return 2;
  }
  simdjson::padded_string input;
  if (simdjson::padded_string::load(argv[1]).get(input)) {
    std::fprintf(stderr, "cannot read %s\n", argv[1]);
    return 1;
  }
  if (argc == 3 && std::strcmp(argv[2], "first") == 0) return firstRun(input);
  const int repeats = argc == 3 ? std::max(1, std::atoi(argv[2])) : 5;
  simdjson::ondemand::parser parser(kMaxCapacity);
  parser.threaded = true;

  const Count count = countDocuments(parser, input);
  std::vector<double> seconds;
  for (int run = 0; run < repeats; ++run) {
    const auto start = std::chrono::steady_clock::now();
    countDocuments(parser, input);
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    seconds.push_back(elapsed.count());
  }
  const double typical = median(std::move(seconds));
  std::printf("documents=%zu covered=%zu seconds=%.6f gbps=%.3f\n", count.documents, count.covered,
              typical, static_cast<double>(input.size()) / typical / 1e9);
  return 0;
}
