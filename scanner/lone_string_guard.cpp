#include "scanner/lone_string_guard.h"

#include <cstring>

bool LoneStringGuard::isEscaped(std::size_t quote) const {
  std::size_t backslashes = 0;
  while (backslashes < quote && data[quote - backslashes - 1] == '\\') ++backslashes;
  return backslashes % 2 == 1;
}

// A string has no unescaped quote inside, so the one that closes right before `completeEnd`
// (past any whitespace) was opened by the nearest unescaped quote before it.
std::size_t LoneStringGuard::lastStringOpening(std::size_t completeEnd) const {
  std::size_t last = completeEnd;
  while (last > 0 && isJsonWhitespace(data[last - 1])) --last;
  if (last == 0 || data[last - 1] != '"' || isEscaped(last - 1)) return kNone;
  std::size_t before = last - 1;
  while (const void* found = memrchr(data, '"', before)) {
    const std::size_t quote = static_cast<const char*>(found) - data;
    if (!isEscaped(quote)) return quote;
    before = quote;
  }
  return kNone;
}
