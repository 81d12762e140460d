#pragma once

#include <cstddef>

// simdjson's document stream expects SIMDJSON_PADDING readable bytes after its input; Python
// buffers end where their data ends. While documents are only delimited, one such read is
// left: stepping past a document that is a lone string peeks at the next token to tell a
// string from an object key. When that string is the last complete document of the last
// window, the next "token" is the end-of-input sentinel, so the stream reads the byte just
// past the input: a fault when a page boundary lies there, and a wrong count when the byte
// happens to be a ':' of some other object. The scanner detects that step beforehand and
// ends the walk itself, with the outcome the stream reaches over whitespace padding: the
// string was the last document.
//
// Bytes are classified as the stream's first stage does within the window that holds the
// document: JSON whitespace is space, tab, line feed and carriage return; a quote preceded by
// an odd number of backslashes is escaped, and every other quote opens or closes a string.
// The first stage starts each window afresh, so backslashes before the window do not count.
class LoneStringGuard {
 public:
  LoneStringGuard(const char* data, std::size_t length) : data(data), length(length) {}

  // Offset of the first byte at or after `position` that is not whitespace, or the length.
  std::size_t tokenAt(std::size_t position) const {
    while (position < length && isJsonWhitespace(data[position])) ++position;
    return position;
  }

  // Offset of the opening quote of the lone string that is the last document of the window
  // starting at `window`, whose complete documents end at `completeEnd` (at most the
  // length), with only whitespace between its closing quote and `completeEnd`; kNone when
  // the last document there is no string.
  std::size_t lastStringOpening(std::size_t window, std::size_t completeEnd) const;

  static constexpr std::size_t kNone = ~std::size_t{0};

 private:
  static bool isJsonWhitespace(char byte) {
    return byte == ' ' || byte == '\t' || byte == '\n' || byte == '\r';
  }

  bool isEscaped(std::size_t window, std::size_t quote) const;

  const char* data;
  std::size_t length;
};
