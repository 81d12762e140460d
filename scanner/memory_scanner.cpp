#include "scanner/memory_scanner.h"

#include <algorithm>
#include <cstdint>
#include <stdexcept>
#include <utility>

#include "scanner/lone_string_guard.h"
#include "scanner/stream_access.h"
#include "storage/cancellation.h"

namespace {

using simdjson::ondemand::document_stream;

constexpr std::size_t kMaxCapacity = 0xFFFFFFFF;
constexpr std::size_t kMaxDepth = simdjson::DEFAULT_MAX_DEPTH;
static_assert(kMaxDepth == 1024, "documents nest up to 1024 levels");
// Inputs up to this length share the parser's smallest buffers (about 24 KB).
constexpr std::size_t kSmallestCapacity = 4096;

std::size_t roundUpToPowerOfTwo(std::size_t value) {
  std::size_t power = 1;
  while (power < value) power <<= 1;
  return power;
}

// Documents of the walk between two cancellation checks (storage/cancellation.h): a
// millisecond or so. A cancelled scan has no result; its worker thread is joined when
// the stream goes, and the scanner stays usable.
constexpr std::uint32_t kStepsBetweenChecks = 4096;

// The walk of one stream. Stepping past a lone string that is the last document of the last
// window would read past the end (see lone_string_guard.h); that step is known once the walk
// enters that window, whose first stage fixes its truncated tail.
std::size_t walk(document_stream& stream, const LoneStringGuard& guard, std::size_t length,
                 std::size_t batchSize) {
  std::size_t documents = 0;
  std::size_t window = LoneStringGuard::kNone;
  std::size_t lastString = LoneStringGuard::kNone;
  veltrane::storage::CancellationCountdown countdown(kStepsBetweenChecks);
  for (auto step = stream.begin(); step != stream.end(); ++step) {
    countdown.passed();
    ++documents;
    if (step.error() != simdjson::SUCCESS) continue;
    const std::size_t start = stream_access::windowStart(stream);
    if (start == window) {
      if (step.current_index() == lastString) break;
      continue;
    }
    // The first step of a window stands at the window's first byte, perhaps whitespace.
    window = start;
    lastString = LoneStringGuard::kNone;
    const std::size_t remaining = length - start;
    const std::size_t truncated = stream.truncated_bytes();
    if (remaining <= batchSize && truncated <= remaining) {
      lastString = guard.lastStringOpening(start, length - truncated);
    }
    if (guard.tokenAt(step.current_index()) == lastString) break;
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

// The pinned simdjson's (3.2.1) threaded stream loses track after a window that holds no document start
// (whitespace only, or whitespace before a document that ends in the next window): it swaps
// back to the indexes of the window before and ends the walk, standing at the start of the
// window it lost. A walk that ended normally stands at the end of the input.
std::size_t lostTrackAt(document_stream& stream, std::size_t length) {
  const auto end = stream.end();
  if (end.error() != simdjson::EMPTY) return 0;
  const std::size_t position = end.current_index();
  return position > 0 && position < length ? position : 0;
}

}  // namespace

// The stream raises smaller windows to its minimum; the walks rely on the window it uses.
MemoryScanner::MemoryScanner(std::size_t batchSize)
    : parser(kMaxCapacity),
      batchSize(std::max(batchSize, simdjson::ondemand::MINIMAL_BATCH_SIZE)) {
  if (batchSize > kDefaultBatchSize) {
    throw std::invalid_argument("batch size larger than 1073741824 bytes");
  }
}

// An input of at most one window is that single window either way, so the buffers are sized
// to the input (a power of two, so that inputs of similar lengths reuse them); a longer
// input needs full windows. The stream allocates for the window it is given unless the
// parser already has exactly that capacity, so every stream is opened with this one.
void MemoryScanner::reserveWorkingMemory(std::size_t length) {
  const std::size_t fitting =
      length > batchSize ? batchSize : roundUpToPowerOfTwo(std::max(length, kSmallestCapacity));
  const std::size_t capacity = std::max(std::min(fitting, batchSize), parser.capacity());
  if (parser.allocate(capacity, kMaxDepth) != simdjson::SUCCESS) {
    throw WorkingMemoryError(stream_access::parserBytes(capacity, kMaxDepth));
  }
}

// The worker thread indexes the next window only where there is one. When its thread cannot
// be started the stream is opened again without it: one thread walks the same windows.
document_stream MemoryScanner::openStream(const char* data, std::size_t length) {
  const std::size_t window = parser.capacity();
  parser.threaded = length > window;
  document_stream stream = std::move(parser.iterate_many(data, length, window)).value_unsafe();
  if (parser.threaded && !stream_access::startWorkerThread(stream)) {
    parser.threaded = false;
    stream = std::move(parser.iterate_many(data, length, window)).value_unsafe();
  }
  return stream;
}

MemoryScanner::Pass MemoryScanner::scanPass(const char* data, std::size_t length) {
  document_stream stream = openStream(data, length);
  const LoneStringGuard guard(data, length);
  const std::size_t documents = walk(stream, guard, length, parser.capacity());
  if (stream.end().error() == simdjson::MEMALLOC) {
    // Mostly the worker's parser: the scanner's own buffers are in place by now.
    throw WorkingMemoryError((parser.threaded ? 2 : 1) * stream_access::parserBytes(parser.capacity(), kMaxDepth));
  }
  return {documents, coveredLength(stream, length), lostTrackAt(stream, length)};
}

// Flattened so that the stream's step is inlined into the walk, as in a plain loop over the
// stream: called out of line it cost about a fifth of the speed on streams of small scalars.
// A walk that lost track of the input goes on with a new stream from the window it lost,
// whose first stage walks it as the stream without the worker thread would have.
[[gnu::flatten]] MemoryScanner::Result MemoryScanner::scan(const char* data, std::size_t length) {
  if (length == 0) return {0, 0};
  reserveWorkingMemory(length);
  std::size_t documents = 0;
  std::size_t offset = 0;
  for (;;) {
    const Pass pass = scanPass(data + offset, length - offset);
    documents += pass.documents;
    if (pass.lostAt == 0) return {documents, offset + pass.covered};
    offset += pass.lostAt;
  }
}
