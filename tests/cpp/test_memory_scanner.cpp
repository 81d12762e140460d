// Counting rules of MemoryScanner: well-formed streams, incomplete tails, malformed input
// and documents longer than the window.
#include <gtest/gtest.h>

#include <cstddef>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "scanner_test_support.h"

using scanner_test_support::exactCopy;
using Result = MemoryScanner::Result;

namespace {

using namespace std::string_literals;

struct Case {
  const char* name;
  std::string input;
  Result expected;
};

std::ostream& operator<<(std::ostream& out, const Case& scanCase) { return out << scanCase.name; }

Result scanExact(MemoryScanner& scanner, const std::string& input) {
  const auto copy = exactCopy(input);
  return scanner.scan(copy.get(), input.size());
}

std::string repeated(const std::string& piece, std::size_t times) {
  std::string out;
  for (std::size_t i = 0; i < times; ++i) out += piece;
  return out;
}

const std::string kDeepArray = std::string(2000, '[') + std::string(2000, ']');

const std::vector<Case> kCases = {
    {"Empty", "", {0, 0}},
    {"OnlyWhitespace", " \n\t\r  ", {0, 6}},
    {"OneObject", R"({"a": [1, {"b": null}]})", {1, 23}},
    {"SeveralKinds", R"({"a":1} [2] 3 "four" true null)", {6, 30}},
    {"NewlineDelimited", "{\"a\":1}\n{\"a\":2}\n{\"a\":3}\n", {3, 24}},
    {"AdjacentWithoutSeparator", R"({"a":1}[2]"x"{})", {4, 15}},
    {"IncompleteLastDocument", R"({"a": 1} [2] {"open": )", {2, 13}},
    {"UnclosedStringAtEnd", R"([1] "abc)", {1, 4}},
    {"LoneStringLast", R"([1] "abc")", {2, 9}},
    {"LoneStringBeforeIncompleteTail", R"("abc" [1,2)", {1, 6}},
    {"EscapedQuoteInLastString", R"("a\"b\\")", {1, 8}},
    {"Scalars", "12 34 -5e3 false", {4, 16}},
    {"ExtraClosingBracket", R"({"a":1}})", {0, 0}},
    {"OnlyClosingBracket", "]", {0, 0}},
    {"UnclosedNesting", "[[1]", {0, 0}},
    {"KeyWithoutObject", R"("a":1)", {2, 0}},
    // A stage-one failure in the first window is an error at the start; the stream sets a
    // trailing partial UTF-8 sequence aside and fails on it after the last document.
    {"InvalidUtf8", "\"\xff\" [1]", {1, 0}},
    {"InvalidUtf8AtEnd", "[1] \"\xff\"", {2, 5}},
    {"TruncatedUtf8AtEnd", "[1] \xc3", {2, 4}},
    {"ControlCharacterInString", "[1] \"a\x01z\"", {1, 0}},
    {"NulInsideString", "[1] \"a\0z\""s, {1, 0}},
    {"NulBetweenDocuments", "[1]\0[2]"s, {3, 7}},
    {"NestingDeeperThanTheLimit", kDeepArray, {1, 4000}},
    {"UnclosedDeepNesting", std::string(2000, '['), {0, 0}},
};

class ScannerCounting : public testing::TestWithParam<Case> {
 protected:
  static MemoryScanner& scanner() {
    static MemoryScanner shared;
    return shared;
  }
};

TEST_P(ScannerCounting, CountsStepsAndCoveredBytes) {
  EXPECT_EQ(scanExact(scanner(), GetParam().input), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Inputs, ScannerCounting, testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ScannerReuse, RepeatedScansAndASecondScannerAgree) {
  const std::string input = repeated(R"({"id": 1, "tags": ["x", "y"]} )", 50) + R"({"id": )";
  MemoryScanner first(4096);
  const Result once = scanExact(first, input);
  EXPECT_EQ(once, (Result{50, 50 * 30}));
  scanExact(first, "[1] \"\xff\"");  // an error in between leaves nothing behind
  EXPECT_EQ(scanExact(first, input), once);
  MemoryScanner second(4096);
  EXPECT_EQ(scanExact(second, input), once);
}

// Small windows make the stream cross many of them, with its worker thread indexing the
// next window while the documents of the current one are walked.
struct WindowCase {
  const char* name;
  std::size_t batchSize;
  std::string input;
  Result expected;
};

std::ostream& operator<<(std::ostream& out, const WindowCase& windowCase) {
  return out << windowCase.name;
}

const std::string kLongArray = "[" + repeated("1,", 60) + "1]";  // 123 bytes

const std::vector<WindowCase> kWindowCases = {
    {"ManyWindows", 64, repeated("{\"k\":[1,2,3]}\n", 200), {200, 2800}},
    {"ManyWindowsIncompleteTail", 64, repeated("[1, 2]\n", 100) + "[3,", {100, 700}},
    {"LoneStringsAcrossWindows", 32, repeated("\"abc\" ", 40), {40, 240}},
    {"WindowBelowTheStreamMinimum", 1, repeated("\"ab\" ", 20), {20, 100}},
    {"DocumentLongerThanFirstWindow", 64, kLongArray + " [2]", {1, 0}},
    {"DocumentLongerThanLaterWindow", 64, "[1] " + kLongArray + " [2]", {2, 4}},
    {"DocumentLongerThanLastWindow", 64, repeated("[1] ", 20) + kLongArray, {21, 80}},
    // A window that holds no document start: only whitespace, or whitespace before a
    // document that ends in the next window.
    {"DocumentsAfterAWhitespaceWindow", 32, "[1] " + std::string(80, ' ') + "[2] [3]", {3, 91}},
    {"DocumentsAfterSeveralWhitespaceWindows", 32,
     "[1]" + std::string(200, ' ') + "[2]" + std::string(70, ' ') + "\"x\"", {3, 279}},
    {"WhitespaceBeforeADocumentEndingInTheNextWindow", 32,
     "[1]" + std::string(39, ' ') + "[" + std::string(23, '1') + "] [2]", {3, 71}},
    {"WhitespaceWindowsToTheEnd", 32, "[1] [2]" + std::string(100, ' '), {2, 107}},
    // Escapes are reckoned within the window: the quote that opens the last window opens a
    // string, whatever backslashes end the window before it.
    {"BackslashesEndTheWindowBeforeALoneString", 32,
     R"("aaa" "aaa" "aaa" "aaa"    uu\\\"")", {6, 34}},
};

class ScannerWindows : public testing::TestWithParam<WindowCase> {};

TEST_P(ScannerWindows, CountsAcrossWindows) {
  MemoryScanner scanner(GetParam().batchSize);
  EXPECT_EQ(scanExact(scanner, GetParam().input), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Inputs, ScannerWindows, testing::ValuesIn(kWindowCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ScannerWindows, WindowsLargerThanTheDefaultAreRefused) {
  EXPECT_THROW(MemoryScanner(MemoryScanner::kDefaultBatchSize + 1), std::invalid_argument);
  EXPECT_NO_THROW(MemoryScanner(MemoryScanner::kDefaultBatchSize));
}

}  // namespace
