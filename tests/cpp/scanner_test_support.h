#pragma once

#include <simdjson.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>
#include <ostream>
#include <stdexcept>
#include <string>
#include <utility>

#include "scanner/memory_scanner.h"

inline std::ostream& operator<<(std::ostream& out, const MemoryScanner::Result& result) {
  return out << "(" << result.documents << ", " << result.covered << ")";
}

// Inputs placed so that reading past their end is caught, and the stream's own answer over a
// padded copy to compare the scanner with.
namespace scanner_test_support {

using Result = MemoryScanner::Result;

// The walk of MemoryScanner::scan over a copy followed by SIMDJSON_PADDING spaces, the
// layout simdjson documents for its input, so no end-of-input guard is needed. Like the
// scanner, it keeps one parser across scans.
class PaddedReference {
 public:
  PaddedReference(std::size_t batchSize, bool threaded) : batchSize(batchSize) {
    parser.threaded = threaded;
  }

  Result scan(const std::string& input) {
    if (input.empty()) return {0, 0};
    const std::string padded = input + std::string(simdjson::SIMDJSON_PADDING, ' ');
    auto stream =
        std::move(parser.iterate_many(padded.data(), input.size(), batchSize)).value_unsafe();
    std::size_t documents = 0;
    auto step = stream.begin();
    for (; step != stream.end(); ++step) ++documents;
    const auto error = step.error();
    if (error == simdjson::EMPTY || error == simdjson::CAPACITY) {
      const std::size_t truncated = stream.truncated_bytes();
      if (truncated <= input.size()) return {documents, input.size() - truncated};
    }
    return {documents, std::min(step.current_index(), input.size())};
  }

 private:
  simdjson::ondemand::parser parser;
  std::size_t batchSize;
};

// Anonymous memory with an inaccessible page right after it. `place` copies an input so
// that its last byte is the last readable one: any read past the end faults, whether the
// reading code is instrumented by a sanitizer or not (simdjson's own library is not).
class GuardedBuffer {
 public:
  explicit GuardedBuffer(std::size_t capacity)
      : pageSize(static_cast<std::size_t>(sysconf(_SC_PAGESIZE))),
        readable((capacity + pageSize - 1) / pageSize * pageSize + pageSize) {
    void* mapped = mmap(nullptr, readable + pageSize, PROT_READ | PROT_WRITE,
                        MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED) throw std::runtime_error("mmap failed");
    base = static_cast<char*>(mapped);
    if (mprotect(base + readable, pageSize, PROT_NONE) != 0) {
      munmap(base, readable + pageSize);
      throw std::runtime_error("mprotect failed");
    }
  }
  GuardedBuffer(const GuardedBuffer&) = delete;
  GuardedBuffer& operator=(const GuardedBuffer&) = delete;
  ~GuardedBuffer() { munmap(base, readable + pageSize); }

  const char* place(const std::string& input) {
    if (input.size() > readable) throw std::length_error("input larger than the guarded buffer");
    char* start = base + readable - input.size();
    std::memcpy(start, input.data(), input.size());
    return start;
  }

 private:
  std::size_t pageSize;
  std::size_t readable;
  char* base = nullptr;
};

// A heap block of exactly the input's length: AddressSanitizer reports any byte read
// outside it by instrumented code.
inline std::unique_ptr<char[]> exactCopy(const std::string& input) {
  std::unique_ptr<char[]> copy(new char[input.size()]);
  std::memcpy(copy.get(), input.data(), input.size());
  return copy;
}

}  // namespace scanner_test_support
