#pragma once

#include <simdjson.h>

#include <cstddef>
#include <cstdint>
#include <memory>

static_assert(simdjson::SIMDJSON_VERSION_MAJOR == 3 && simdjson::SIMDJSON_VERSION_MINOR == 2 &&
                  simdjson::SIMDJSON_VERSION_REVISION == 1,
              "stream_access.h follows simdjson 3.2.1: check its reads against the new release "
              "before changing the pin");

// Every use of what simdjson keeps to itself lives here. Two things its document stream keeps
// to itself that the scanner needs:
// - where the window it walks begins: its first stage starts every window afresh, so a quote
//   at a window's first byte opens a string whatever backslashes lie before it in the input;
// - its worker, whose thread the stream starts inside a noexcept function, where a thread
//   that cannot be started ends the process. Started beforehand through the worker's own
//   call, the failure is an exception the scanner can catch.
// The members are reached through an explicit instantiation, which the language exempts from
// access checking; a library release that renames them fails to compile here.
namespace stream_access {

using simdjson::ondemand::document_stream;

template <typename Tag, typename Tag::Member member>
struct Grant {
  friend typename Tag::Member reach(Tag) { return member; }
};

struct WindowStart {
  using Member = std::size_t document_stream::*;
  friend Member reach(WindowStart);
};

struct Worker {
  using Member = std::unique_ptr<simdjson::ondemand::stage1_worker> document_stream::*;
  friend Member reach(Worker);
};

template struct Grant<WindowStart, &document_stream::batch_start>;
template struct Grant<Worker, &document_stream::worker>;

// What one parser allocates for a window of `capacity` bytes: the string buffer, the
// structural indexes (four bytes per input byte) and the nesting stacks of `depth` levels.
inline std::size_t parserBytes(std::size_t capacity, std::size_t depth) {
  const std::size_t strings = (5 * capacity / 3 + simdjson::SIMDJSON_PADDING + 63) / 64 * 64;
  const std::size_t indexes = ((capacity + 63) / 64 * 64 + 9) * sizeof(std::uint32_t);
  return strings + indexes + depth * (sizeof(void*) + 2);
}

// Offset in the input of the window the stream's walk stands in.
inline std::size_t windowStart(const document_stream& stream) {
  return stream.*reach(WindowStart{});
}

// Starts the stream's worker thread ahead of the stream, which then finds it running. False
// when the thread cannot be started (a thread or memory limit) or the stream has no worker
// (it failed to allocate one and reports that as its own error).
inline bool startWorkerThread(document_stream& stream) noexcept {
  const auto& worker = stream.*reach(Worker{});
  if (!worker) return false;
  try {
    worker->start_thread();
    return true;
  } catch (...) {  // std::system_error from the thread library, or std::bad_alloc
    return false;
  }
}

}  // namespace stream_access
