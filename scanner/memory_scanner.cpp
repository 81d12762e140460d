#include "scanner/memory_scanner.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

#include "scanner/lone_string_guard.h"

namespace {

using simdjson::ondemand::document_stream;

constexpr std::size_t kMaxCapacity = 0xFFFFFFFF;
static_assert(simdjson::DEFAULT_MAX_DEPTH == 1024, "documents nest up to 1024 levels");

// The walk over an input that fits one window. That window's first stage has run once the
// walk stands at its first step, and its truncated tail is fixed from then on, so the one
// document whose step would read past the end (see lone_string_guard.h) is known up front.
std::size_t walkOneWindow(document_stream& stream, const LoneStringGuard& guard,
                          std::size_t length) {
  auto step = stream.begin();
  if (!(step != stream.end())) return 0;
  if (step.error() != simdjson::SUCCESS) return 1;
  const std::size_t truncated = stream.truncated_bytes();
  if (truncated > length) return 1;
  const std::size_t lastString = guard.lastStringOpening(length - truncated);
  // Only the first step may stand on whitespace before its document.
  if (guard.tokenAt(step.current_index()) == lastString) return 1;
  std::size_t documents = 1;
  for (++step; step != stream.end(); ++step) {
    ++documents;
    if (step.current_index() == lastString) break;
  }
  return documents;
}

// The walk over several windows, with the worker thread indexing the next one. Only a
// string document in the last window can make its step read past the end; which window the
// walk is in shows in the stream's truncated tail, asked for at string documents only.
std::size_t walkWindows(document_stream& stream, LoneStringGuard& guard, std::size_t length,
                        std::size_t batchSize) {
  std::size_t documents = 0;
  for (auto step = stream.begin(); step != stream.end(); ++step) {
    ++documents;
    if (step.error() != simdjson::SUCCESS) continue;
    const std::size_t token = guard.tokenAt(step.current_index());
    if (token < length && !guard.opensString(token)) continue;
    // In the last window this is the length of the incomplete tail. In any earlier window
    // it is 0 or a difference of two 32-bit offsets that wrapped around (at least 2^32 minus
    // the window), and the token after the string lies inside the input there.
    const std::size_t truncated = stream.truncated_bytes();
    if (truncated > batchSize) continue;
    if (token >= length || truncated > length) break;
    if (guard.isLastDocument(token, length - truncated)) break;
  }
  return documents;
}

// The stream's figure (input length minus its truncated tail) after a normal end or a document
// longer than the window. After other errors that figure may rest on indexes the failing
// stage never wrote, so the offset the walk stood at is reported instead. (Any iterator of
// the stream, the end one too, tells the stream's error and position.)
std::size_t coveredLength(document_stream& stream, std::size_t length) {
  const auto step = stream.end();
  const auto error = step.error();
  if (error == simdjson::SUCCESS || error == simdjson::EMPTY || error == simdjson::CAPACITY) {
    const std::size_t truncated = stream.truncated_bytes();
    if (truncated <= length) return length - truncated;
  }
  return std::min(step.current_index(), length);
}

}  // namespace

// The stream raises smaller windows to its minimum; the walks rely on the window it uses.
MemoryScanner::MemoryScanner(std::size_t batchSize)
    : parser(kMaxCapacity),
      batchSize(std::max(batchSize, simdjson::ondemand::MINIMAL_BATCH_SIZE)) {
  if (batchSize > kDefaultBatchSize) {
    throw std::invalid_argument("batch size larger than 1073741824 bytes");
  }
  parser.threaded = true;
}

// Flattened so that the stream's step is inlined into the walks, as in a plain loop over the
// stream: called out of line it cost about a fifth of the speed on streams of small scalars.
[[gnu::flatten]] MemoryScanner::Result MemoryScanner::scan(const char* data, std::size_t length) {
  if (length == 0) return {0, 0};
  auto opened = parser.iterate_many(data, length, batchSize);
  if (opened.error() != simdjson::SUCCESS) return {1, 0};
  document_stream stream = std::move(opened).value_unsafe();

  LoneStringGuard guard(data, length);
  const std::size_t documents = length <= batchSize
                                    ? walkOneWindow(stream, guard, length)
                                    : walkWindows(stream, guard, length, batchSize);
  return {documents, coveredLength(stream, length)};
}
