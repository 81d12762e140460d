// The serialized form (golden bytes, round trips, refusal of damaged input, a seeded
// mutation fuzzer over the bounded read), the container count and the text form.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <memory>
#include <ostream>
#include <random>
#include <stdexcept>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "fuzz_support.h"
#include "test_support.h"

using namespace test_support;
using Bytes = std::vector<unsigned char>;

namespace {

constexpr const char* kUndecodable = "failed alloc while reading";

Bytes serialize(const Bitmap& bitmap, bool portable) {
  Bitmap sized(bitmap);
  Bytes bytes(sized.persistedSize(portable, false, false));
  const char* start = reinterpret_cast<char*>(bytes.data());
  const char* end = bitmap.write(reinterpret_cast<char*>(bytes.data()), portable);
  EXPECT_EQ(static_cast<std::size_t>(end - start), bytes.size());
  return bytes;
}

Bitmap readBounded(const Bytes& bytes, bool portable) {
  return Bitmap::read(reinterpret_cast<const char*>(bytes.data()), bytes.size(), portable);
}

// Hand-made forms, for records that no bitmap would write.
class FormBuilder {
 public:
  explicit FormBuilder(std::uint64_t count) { put(count); }
  FormBuilder& record(std::uint32_t key, const Bytes& body) {
    return record(key, body.size(), body);
  }
  FormBuilder& record(std::uint32_t key, std::uint64_t statedLength, const Bytes& body) {
    put(key);
    put(statedLength);
    bytes.insert(bytes.end(), body.begin(), body.end());
    return *this;
  }
  Bytes build() const { return bytes; }

 private:
  template <typename T>
  void put(T value) {
    const auto* raw = reinterpret_cast<const unsigned char*>(&value);
    bytes.insert(bytes.end(), raw, raw + sizeof value);
  }
  Bytes bytes;
};

// A bucket body holding `lows`, in the given format.
Bytes bodyOf(const std::vector<std::uint32_t>& lows, bool portable) {
  roaring::Roaring bucket;
  for (std::uint32_t low : lows) roaring_bitmap_add(&bucket.roaring, low);
  Bytes body(portable ? roaring_bitmap_portable_size_in_bytes(&bucket.roaring)
                      : roaring_bitmap_size_in_bytes(&bucket.roaring));
  auto* out = reinterpret_cast<char*>(body.data());
  portable ? roaring_bitmap_portable_serialize(&bucket.roaring, out)
           : roaring_bitmap_serialize(&bucket.roaring, out);
  return body;
}

// --- Bitmaps of every shape the form must carry --------------------------------------

Bitmap noBuckets() {
  Bitmap bitmap;
  bitmap.clear();
  return bitmap;
}

Bitmap singleBucket() {
  return Bitmap::of(3, std::uint64_t{1}, std::uint64_t{2}, std::uint64_t{3});
}

// Array, bitset and run containers across many keys, the last key included.
Bitmap manyBuckets() {
  Bitmap bitmap;
  for (std::uint64_t key = 0; key < 40; ++key) {
    for (std::uint64_t i = 0; i < 50; ++i) bitmap.add(key * kSpan + i * 977 * (key + 1));
  }
  bitmap.addRange(7 * kSpan + 100000, 7 * kSpan + 300000);
  for (std::uint64_t i = 0; i < 20000; i += 3) bitmap.add(9 * kSpan + i);
  bitmap.add(kMax);
  return bitmap;
}

// Empty buckets between, before and after the filled ones.
Bitmap emptyBucketLaden() {
  Bitmap bitmap = Bitmap::of(3, 2 * kSpan, 5 * kSpan + 8, 9 * kSpan);
  bitmap.remove(2 * kSpan);
  bitmap.remove(9 * kSpan);
  bitmap.removeRange(20 * kSpan, 23 * kSpan);
  return bitmap;
}

struct Shape {
  const char* name;
  Bitmap (*make)();
};

void PrintTo(const Shape& shape, std::ostream* out) { *out << shape.name; }

const Shape kShapes[] = {{"NoBuckets", noBuckets},
                         {"Default", [] { return Bitmap(); }},
                         {"SingleBucket", singleBucket},
                         {"ManyBuckets", manyBuckets},
                         {"EmptyBucketLaden", emptyBucketLaden}};

}  // namespace

// --- Golden bytes and sizes -------------------------------------------------------------

TEST(PersistGolden, DefaultBitmapBytesInBothFormats) {
  const Bytes portable = {0x01, 0, 0, 0, 0, 0, 0, 0,     // one bucket
                          0x00, 0, 0, 0,                 // key 0
                          0x08, 0, 0, 0, 0, 0, 0, 0,     // body of 8 bytes
                          0x3A, 0x30, 0, 0, 0, 0, 0, 0};  // cookie 12346, no container
  const Bytes native = {0x01, 0, 0, 0, 0, 0, 0, 0, 0x00, 0, 0, 0,
                        0x05, 0, 0, 0, 0, 0, 0, 0, 0x01, 0, 0, 0, 0};  // array marker, count 0
  Bitmap bitmap;
  EXPECT_EQ(bitmap.persistedSize(true, true, true), 28u);
  EXPECT_EQ(bitmap.persistedSize(false, true, true), 25u);
  EXPECT_EQ(serialize(bitmap, true), portable);
  EXPECT_EQ(serialize(bitmap, false), native);
}

TEST(PersistGolden, NoBucketsIsEightZeroBytes) {
  Bitmap bitmap = noBuckets();
  EXPECT_EQ(bitmap.persistedSize(true, true, true), 8u);
  EXPECT_EQ(serialize(bitmap, true), Bytes(8, 0));
  EXPECT_EQ(serialize(bitmap, false), Bytes(8, 0));
}

TEST(PersistGolden, ThreePositionsUnoptimizedTake42And37Bytes) {
  Bitmap bitmap;
  for (std::uint64_t p : {1, 2, 3}) bitmap.add(p);
  EXPECT_EQ(bitmap.persistedSize(true, false, false), 42u);
  EXPECT_EQ(bitmap.persistedSize(false, false, false), 37u);
  EXPECT_EQ(serialize(bitmap, true).size(), 42u);
  const Bytes native = serialize(bitmap, false);
  const Bytes nativeBody = {0x01, 3, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0};
  EXPECT_EQ(Bytes(native.begin() + 20, native.end()), nativeBody);
}

TEST(PersistSize, OptimizeShrinksARangeButKeepsPositions) {
  Bitmap bitmap;
  for (std::uint64_t p = 1000; p < 6000; ++p) bitmap.add(p);
  const std::uint64_t plain = bitmap.persistedSize(true, false, false);
  const std::uint64_t optimized = bitmap.persistedSize(true, true, true);
  EXPECT_LT(optimized, plain);
  EXPECT_EQ(optimized, 8u + 12u + 4u + 1u + 4u + 2u + 4u);  // cookie with runs, one run
  EXPECT_EQ(bitmap.cardinality(), 5000u);
  EXPECT_EQ(serialize(bitmap, true).size(), optimized);
}

// --- Round trips ------------------------------------------------------------------------

class PersistRoundTrip : public ::testing::TestWithParam<std::tuple<Shape, bool>> {
 protected:
  const Shape& shape() const { return std::get<0>(GetParam()); }
  bool portable() const { return std::get<1>(GetParam()); }
};

TEST_P(PersistRoundTrip, BothReadsRebuildPositionsAndBuckets) {
  Bitmap original = shape().make();
  const Bytes bytes = serialize(original, portable());
  Keys expectedKeys = keysOf(original);
  if (expectedKeys.empty() || expectedKeys.front() != 0) {
    expectedKeys.insert(expectedKeys.begin(), 0);
  }
  const char* trusted = reinterpret_cast<const char*>(bytes.data());
  for (const Bitmap& copy : {readBounded(bytes, portable()), Bitmap::read(trusted, portable())}) {
    EXPECT_EQ(positionsOf(copy), positionsOf(original));
    EXPECT_EQ(keysOf(copy), expectedKeys);
    EXPECT_EQ(copy.inMemorySize(), original.inMemorySize());
  }
}

TEST_P(PersistRoundTrip, ReadIgnoresBytesAfterTheForm) {
  const Bitmap original = shape().make();
  Bytes bytes = serialize(original, portable());
  bytes.resize(bytes.size() + 13, 0xEE);
  EXPECT_EQ(positionsOf(readBounded(bytes, portable())), positionsOf(original));
}

TEST_P(PersistRoundTrip, EveryShorterPrefixIsRefusedAsTruncated) {
  const Bytes bytes = serialize(shape().make(), portable());
  const std::size_t step = bytes.size() > 4000 ? 97 : 1;
  for (std::size_t length = 0; length < bytes.size(); length += step) {
    const Bytes prefix(bytes.begin(), bytes.begin() + length);
    const std::string message = messageOf<std::invalid_argument>([&] { readBounded(prefix, portable()); });
    EXPECT_NE(message.find("truncated"), std::string::npos) << length << ": " << message;
  }
}

TEST_P(PersistRoundTrip, OtherFormatDoesNotDecode) {
  const Bytes bytes = serialize(shape().make(), portable());
  if (keysOf(shape().make()).empty()) {
    EXPECT_NO_THROW(readBounded(bytes, !portable())) << "no body to misread";
    return;
  }
  EXPECT_EQ(messageOf<std::runtime_error>([&] { readBounded(bytes, !portable()); }), kUndecodable);
  EXPECT_THROW(Bitmap::read(reinterpret_cast<const char*>(bytes.data()), !portable()),
               std::runtime_error);
}

INSTANTIATE_TEST_SUITE_P(Shapes, PersistRoundTrip,
                         ::testing::Combine(::testing::ValuesIn(kShapes), ::testing::Bool()),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param).name) +
                                  (std::get<1>(info.param) ? "Portable" : "Native");
                         });

// --- Reading: the records, in any order ---------------------------------------------------

TEST(PersistRead, StartsFromKeyZeroAndLaterDuplicateWins) {
  for (bool portable : {true, false}) {
    const Bytes bytes = FormBuilder(3)
                            .record(7, bodyOf({1}, portable))
                            .record(3, bodyOf({4}, portable))
                            .record(7, bodyOf({2, 9}, portable))
                            .build();
    const Bitmap bitmap = readBounded(bytes, portable);
    EXPECT_EQ(keysOf(bitmap), (Keys{0, 3, 7}));
    EXPECT_EQ(positionsOf(bitmap), (Positions{3 * kSpan + 4, 7 * kSpan + 2, 7 * kSpan + 9}));
  }
}

TEST(PersistRead, NativeValueListNeedNotBeSorted) {
  const Bytes body = {0x01, 3, 0, 0, 0, 9, 0, 0, 0, 4, 0, 0, 0, 9, 0, 0, 0};
  const Bitmap bitmap = readBounded(FormBuilder(1).record(2, body).build(), false);
  EXPECT_EQ(positionsOf(bitmap), (Positions{2 * kSpan + 4, 2 * kSpan + 9}));
}

// --- Reading: damaged and inconsistent input ----------------------------------------------

struct DamagedForm {
  const char* name;
  Bytes bytes;
  bool portable;
  std::vector<const char*> messageParts;
};

void PrintTo(const DamagedForm& form, std::ostream* out) { *out << form.name; }

class PersistReadRefuses : public ::testing::TestWithParam<DamagedForm> {};

TEST_P(PersistReadRefuses, WithAMessageSayingWhatAndWhere) {
  const DamagedForm& form = GetParam();
  const std::string message =
      messageOf<std::invalid_argument>([&] { readBounded(form.bytes, form.portable); });
  for (const char* part : form.messageParts) {
    EXPECT_NE(message.find(part), std::string::npos) << "'" << part << "' not in: " << message;
  }
}

Bytes withTail(Bytes bytes, std::size_t extra) {
  bytes.resize(bytes.size() + extra, 0);
  return bytes;
}

// A portable body whose one array container lists 5 before 3.
const Bytes kUnsortedPortableBody = {0x3A, 0x30, 0, 0, 1, 0, 0, 0, 0, 0, 1, 0,
                                     16,   0,    0, 0, 5, 0, 3, 0};

INSTANTIATE_TEST_SUITE_P(
    Cases, PersistReadRefuses,
    ::testing::Values(
        DamagedForm{"ShortCount", Bytes{1, 0, 0}, true, {"truncated", "needs 8 bytes", "holds 3"}},
        DamagedForm{"HugeCountFewRecords",
                    FormBuilder(~std::uint64_t{0}).record(1, bodyOf({5}, true)).build(),
                    true,
                    {"record 1 of 18446744073709551615", "needs a 12-byte header", "0 bytes"}},
        DamagedForm{"HugeStatedLength",
                    FormBuilder(1).record(4, ~std::uint64_t{0}, bodyOf({5}, false)).build(),
                    false,
                    {"record 0 of 1 (key 4, byte 8)", "18446744073709551615", "9 bytes are left"}},
        DamagedForm{"StatedLengthTooLong",
                    withTail(FormBuilder(1).record(4, 22, bodyOf({5}, true)).build(), 4),
                    true,
                    {"inconsistent", "takes 18 bytes", "states 22"}},
        DamagedForm{"StatedLengthTooShort",
                    FormBuilder(1).record(4, 7, bodyOf({5}, false)).build(),
                    false,
                    {"inconsistent", "does not fit in its stated 7 bytes"}},
        DamagedForm{"SecondRecordCut",
                    withTail(FormBuilder(2).record(1, bodyOf({5}, true)).build(), 5),
                    true,
                    {"record 1 of 2 at byte 38", "5 bytes are left"}},
        DamagedForm{"UnsortedContainer",
                    FormBuilder(1).record(0, kUnsortedPortableBody).build(),
                    true,
                    {"not a valid bitmap", "record 0 of 1"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PersistRead, ForeignMarkerOrCookieDoesNotDecode) {
  const Bytes nativeWithBadMarker = FormBuilder(1).record(0, Bytes{3, 0, 0, 0, 0}).build();
  const Bytes portableWithBadCookie =
      FormBuilder(1).record(0, Bytes{0x39, 0x30, 0, 0, 0, 0, 0, 0}).build();
  const Bytes emptyBody = FormBuilder(1).record(0, Bytes{}).build();
  for (const auto& [bytes, portable] : {std::pair{nativeWithBadMarker, false},
                                        std::pair{portableWithBadCookie, true},
                                        std::pair{emptyBody, true}, std::pair{emptyBody, false}}) {
    EXPECT_EQ(messageOf<std::runtime_error>([&] { readBounded(bytes, portable); }), kUndecodable);
  }
}

// --- Writing into a bounded buffer ----------------------------------------------------

TEST(PersistWrite, TooSmallBufferIsRefusedBeforeAnyByteIsWritten) {
  const Bitmap bitmap = singleBucket();
  for (bool portable : {true, false}) {
    const std::size_t needed = serialize(bitmap, portable).size();
    Bytes buffer(needed - 1, 0xAB);
    const std::string message = messageOf<std::invalid_argument>(
        [&] { bitmap.write(reinterpret_cast<char*>(buffer.data()), buffer.size(), portable); });
    EXPECT_NE(message.find(std::to_string(needed - 1) + " bytes"), std::string::npos) << message;
    EXPECT_NE(message.find(std::to_string(needed) + " bytes"), std::string::npos) << message;
    EXPECT_EQ(buffer, Bytes(needed - 1, 0xAB));
  }
}

TEST(PersistWrite, LargerBufferGetsExactlyTheFormAndNothingAfter) {
  const Bitmap bitmap = manyBuckets();
  for (bool portable : {true, false}) {
    const Bytes expected = serialize(bitmap, portable);
    Bytes buffer(expected.size() + 16, 0xAB);
    char* start = reinterpret_cast<char*>(buffer.data());
    EXPECT_EQ(bitmap.write(start, buffer.size(), portable) - start,
              static_cast<std::ptrdiff_t>(expected.size()));
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), buffer.begin()));
    EXPECT_EQ(Bytes(buffer.end() - 16, buffer.end()), Bytes(16, 0xAB));
  }
}

// --- Container count and text form ------------------------------------------------------

TEST(PersistInMemorySize, CountsContainersNotBytes) {
  const std::pair<Positions, std::uint64_t> cases[] = {
      {{}, 0}, {{1, 2, 3}, 1}, {{1, 65536}, 2}, {{1, kSpan + 1}, 2}, {{1, 2, 65535}, 1}};
  for (const auto& [positions, containers] : cases) {
    const Bitmap bitmap(positions.size(), positions.data());
    EXPECT_EQ(bitmap.inMemorySize(), containers) << positions.size();
  }
  EXPECT_EQ(Bitmap().inMemorySize(), 0u);
  EXPECT_EQ(emptyBucketLaden().inMemorySize(), 1u);
}

TEST(PersistToString, OneLinePerBucketWithLowParts) {
  EXPECT_EQ(Bitmap().toString(), "h: 0 {}\n");
  EXPECT_EQ(noBuckets().toString(), "");
  EXPECT_EQ(Bitmap::of(2, std::uint64_t{5}, kSpan + 7).toString(), "h: 0 {5}\nh: 1 {7}\n");
  EXPECT_EQ(Bitmap::of(3, kMax, std::uint64_t{12}, std::uint64_t{10}).toString(),
            "h: 0 {10,12}\nh: 4294967295 {4294967295}\n");
}

// --- Fuzzing the bounded read ----------------------------------------------------------
//
// Mutations of valid forms plus random byte strings. Every input must either decode to
// a bitmap whose buckets pass CRoaring's validation and that survives a round trip, or
// raise std::invalid_argument or "failed alloc while reading". Each input sits in an
// allocation of exactly its size, so the sanitizer build catches any read past its end.
// VELTRANE_FUZZ_SECONDS sets the time budget per format (default 1.5).

namespace {

// The forms the fuzz loop feeds: the serialized form with either body format, and the
// 64-bit Roaring form.
enum class Form { Native, Portable, Roaring64 };

Bytes written(Bitmap& bitmap, Form form) {
  if (form != Form::Roaring64) {
    bitmap.persistedSize(form == Form::Portable, true, true);
    return serialize(bitmap, form == Form::Portable);
  }
  Bytes bytes(bitmap.roaring64Size());
  bitmap.toRoaring64(reinterpret_cast<char*>(bytes.data()), bytes.size());
  return bytes;
}

Bitmap readBack(const char* bytes, std::size_t size, Form form) {
  if (form == Form::Roaring64) return Bitmap::fromRoaring64(bytes, size);
  return Bitmap::read(bytes, size, form == Form::Portable);
}

std::vector<Bytes> fuzzSeeds(Form form) {
  Bitmap ranges;
  ranges.addRange(10, 70000);
  ranges.add(3 * kSpan + 5);
  Bitmap dense;
  for (std::uint64_t i = 0; i < 9000; i += 2) dense.add(kSpan + i);
  std::vector<Bytes> seeds;
  for (Bitmap bitmap : {Bitmap(), noBuckets(), singleBucket(), emptyBucketLaden(), ranges, dense}) {
    seeds.push_back(written(bitmap, form));
  }
  return seeds;
}

// How each input ended; every input must end in one of the first three.
enum class Outcome { Decoded, Refused, Undecodable, Unsound };

struct Verdict {
  Outcome outcome;
  std::string detail;
};

Verdict checkOneInput(const Bytes& input, Form form) {
  const auto exact = std::make_unique<char[]>(input.size());
  std::copy(input.begin(), input.end(), exact.get());
  try {
    Bitmap bitmap = readBack(exact.get(), input.size(), form);
    for (const auto& entry : bitmap.bucketMap()) {
      const char* reason = nullptr;
      if (!roaring_bitmap_internal_validate(&entry.second.roaring, &reason)) {
        return {Outcome::Unsound, std::string("invalid bucket: ") + reason};
      }
    }
    const Bytes again = written(bitmap, form);
    if (positionsOf(readBack(reinterpret_cast<const char*>(again.data()), again.size(), form)) !=
        positionsOf(bitmap)) {
      return {Outcome::Unsound, "round trip of a decoded bitmap changed it"};
    }
    return {Outcome::Decoded, ""};
  } catch (const std::invalid_argument&) {
    return {Outcome::Refused, ""};
  } catch (const std::runtime_error& error) {
    if (std::string(error.what()) == kUndecodable) return {Outcome::Undecodable, ""};
    return {Outcome::Unsound, std::string("runtime_error: ") + error.what()};
  }
}

}  // namespace

class PersistFuzz : public ::testing::TestWithParam<Form> {};

TEST_P(PersistFuzz, BoundedReadDecodesOrRaises) {
  const Form form = GetParam();
  const std::vector<Bytes> seeds = fuzzSeeds(form);
  ByteMutator<Bytes> mutator(form == Form::Native ? 0xFEED : form == Form::Portable ? 0x5EED : 0x64B17);
  const auto deadline = fuzzDeadline(1.5);
  std::uint64_t inputs = 0;
  std::uint64_t outcomes[3] = {};
  do {
    for (int batch = 0; batch < 64; ++batch, ++inputs) {
      const Bytes input = inputs % 8 == 0 ? mutator.randomBytes(mutator.below(64)) : mutator.mutate(seeds);
      const Verdict verdict = checkOneInput(input, form);
      ASSERT_NE(verdict.outcome, Outcome::Unsound) << "input " << inputs << ": " << verdict.detail;
      ++outcomes[static_cast<int>(verdict.outcome)];
    }
  } while (std::chrono::steady_clock::now() < deadline);
  std::printf("[ fuzz     ] %llu inputs: %llu decoded, %llu refused, %llu undecodable\n",
              static_cast<unsigned long long>(inputs),
              static_cast<unsigned long long>(outcomes[0]),
              static_cast<unsigned long long>(outcomes[1]),
              static_cast<unsigned long long>(outcomes[2]));
  // A mutator that only ever broke the header would test nothing past it.
  EXPECT_GT(outcomes[0], 0u);
  EXPECT_GT(outcomes[1], 0u);
  // The 64-bit form refuses every body it cannot decode.
  if (form != Form::Roaring64) {
    EXPECT_GT(outcomes[2], 0u);
  }
}

std::string formName(const ::testing::TestParamInfo<Form>& info) {
  return info.param == Form::Native ? "Native" : info.param == Form::Portable ? "Portable" : "Roaring64";
}

INSTANTIATE_TEST_SUITE_P(Formats, PersistFuzz,
                         ::testing::Values(Form::Native, Form::Portable, Form::Roaring64), formName);
