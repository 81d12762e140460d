#pragma once

#include <simdjson.h>

#include <cstddef>

#include "scanner/working_memory_error.h"

// Counts the JSON documents that lie one after another in a block of memory and reports
// how far the complete documents reach. Documents are only delimited by simdjson's
// on-demand document stream, never parsed into values.
//
// The scanner owns one parser whose working buffers fit the input: an input of at most one
// window is one window of its own length, rounded up to a power of two, and a longer one
// is walked in full windows. The buffers grow when a larger input arrives and are kept,
// never shrunk, until the scanner is destroyed. One scanner must not run two scans at once.
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
  // stream keeps its offsets within a window in 32 bits.
  explicit MemoryScanner(std::size_t batchSize = kDefaultBatchSize);

  // Scans the `length` bytes at `data`, which need no padding after them.
  //
  // documents: the steps of the stream's walk. Without errors this is the number of
  // complete documents; a walk that ends on an error (invalid UTF-8, a document longer
  // than the window, ...) counts the step that carried the error.
  //
  // covered: the bytes before an incomplete document at the end of the input, or
  // `length` when there is none. When a document outgrows the window it is the offset
  // at which that window began; after any other error it is the offset of the document
  // (or window) at which the error was met.
  //
  // Throws WorkingMemoryError (a std::bad_alloc) when the parser's buffers, or those of the
  // worker that indexes the next window of a longer input, cannot be allocated. When the
  // worker's thread cannot be started, the walk goes on without it, with the same results.
  // Cancellable (storage/cancellation.h) between documents; the scanner stays usable.
  Result scan(const char* data, std::size_t length);

 private:
  struct Pass {
    std::size_t documents;
    std::size_t covered;
    std::size_t lostAt;  // where the walk lost track of the input, or 0 when it did not
  };

  void reserveWorkingMemory(std::size_t length);
  simdjson::ondemand::document_stream openStream(const char* data, std::size_t length);
  Pass scanPass(const char* data, std::size_t length);

  simdjson::ondemand::parser parser;
  std::size_t batchSize;
};
