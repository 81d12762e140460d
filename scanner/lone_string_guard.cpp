#include "scanner/lone_string_guard.h"

#include <cstring>

bool LoneStringGuard::isEscaped(std::size_t window, std::size_t quote) const {
  std::size_t backslashes = 0;
  while (quote - backslashes > window && data[quote - backslashes - 1] == '\\') ++backslashes;
  return backslashes % 2 == 1;
}

// A string has no unescaped quote inside, so the one that closes right before `completeEnd`
// (past any whitespace) was opened by the nearest unescaped quote before it in the window.
std::size_t LoneStringGuard::lastStringOpening(std::size_t window, std::size_t completeEnd) const {
  if (completeEnd <= window || completeEnd > length) return kNone;
  std::size_t last = completeEnd;
  while (last > window && isJsonWhitespace(data[last - 1])) --last;
  if (last == window || data[last - 1] != '"' || isEscaped(window, last - 1)) return kNone;
  std::size_t before = last - 1;
  while (const void* found = memrchr(data + window, '"', before - window)) {
    const std::size_t quote = static_cast<const char*>(found) - data;
    if (!isEscaped(window, quote)) return quote;
    before = quote;
  }
  return kNone;
}
