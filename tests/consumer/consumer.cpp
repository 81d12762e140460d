// Uses the bitmap core and the scanner through the installed headers and libraries;
// exits non-zero when a result is wrong.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string_view>
#include <utility>

#include "scanner/memory_scanner.h"
#include "storage/bitmap.h"
#include "storage/indexed_bitmap.h"

int main() {
  using veltrane::storage::Bitmap;
  Bitmap bitmap = Bitmap::of(2, std::uint64_t{5}, std::uint64_t{1} << 40);
  bitmap.addRange(100, 200);
  Bitmap other = Bitmap::of(1, std::uint64_t{150});
  const Bitmap both = bitmap & other;
  veltrane::storage::IndexedBitmap indexed(std::move(other));
  const bool bitmapRight = bitmap.cardinality() == 102 && both.cardinality() == 1 && bitmap.contains(std::uint64_t{1} << 40) &&
                           indexed.nth(0) == 150 && indexed.lowerCardinality(151) == 1;

  MemoryScanner scanner(std::size_t{1} << 16);
  constexpr std::string_view documents = R"({"a": 1} [2] {"open": )";
  const MemoryScanner::Result result = scanner.scan(documents.data(), documents.size());
  const bool scannerRight = result.documents == 2 && result.covered == 13;

  std::printf("consumer: bitmap %s, scanner %s\n", bitmapRight ? "ok" : "WRONG", scannerRight ? "ok" : "WRONG");
  return bitmapRight && scannerRight ? 0 : 1;
}
