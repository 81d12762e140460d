#pragma once

#include <simdjson.h>

#include <cstddef>

// Counts the JSON documents that lie one after another in a block of memory and reports
// how far the complete documents reach. Documents are only delimited by simdjson's
// on-demand document stream, never parsed into values.
//
// The scanner owns one parser whose working buffers are allocated for a full window on the
// first scan and reused by later ones. One scanner must not run two scans at once.
class MemoryScanner {
 public:
  struct Result {
    std::size_t documents;
    std::size_t covered;
    bool operator==(const Result& other) const {
      return documents == other.documents && covered == other.covered;
    }
  };

  // The stream indexes its input in windows of this many bytes; no document may be longer.
  static constexpr std::size_t kDefaultBatchSize = std::size_t{1} << 30;

  // A smaller window makes long inputs cheap to test; below 32 bytes the stream's minimum
  // applies. Windows larger than the default are refused with std::invalid_argument: the
  // end-of-input guard tells the windows apart by a figure that is only unambiguous below
  // 2 GiB.
  explicit MemoryScanner(std::size_t batchSize = kDefaultBatchSize);

  // Scans the `length` bytes at `data`, which need no padding after them. Never throws.
  //
  // documents: the steps of the stream's walk. Without errors this is the number of
  // complete documents; a walk that ends on an error (invalid UTF-8, a document longer
  // than the window, a failed allocation, ...) counts the step that carried the error.
  //
  // covered: the bytes before an incomplete document at the end of the input, or
  // `length` when there is none. When a document outgrows the window it is the offset
  // at which that window began; after any other error it is the offset of the document
  // (or window) at which the error was met.
  Result scan(const char* data, std::size_t length);

 private:
  simdjson::ondemand::parser parser;
  std::size_t batchSize;
};
