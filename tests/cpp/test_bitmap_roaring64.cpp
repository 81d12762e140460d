// The 64-bit Roaring form: golden bytes, the bytes of CRoaring's own 64-bit bitmaps,
// round trips, and refusals of damaged forms with messages that say what and where.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "test_support.h"

using namespace test_support;
using Bytes = std::vector<char>;

namespace {

Bytes roaring64Of(const Bitmap& bitmap) {
  Bytes bytes(bitmap.roaring64Size());
  EXPECT_EQ(bitmap.toRoaring64(bytes.data(), bytes.size()), bytes.data() + bytes.size());
  return bytes;
}

// Read from an allocation of exactly the form's size, so that the sanitizer build
// catches a read past its end.
Bitmap fromRoaring64(const Bytes& bytes) {
  const auto exact = std::make_unique<char[]>(bytes.size());
  std::memcpy(exact.get(), bytes.data(), bytes.size());
  return Bitmap::fromRoaring64(exact.get(), bytes.size());
}

std::vector<std::uint32_t> keysHoldingPositions(const Bitmap& bitmap) {
  std::vector<std::uint32_t> keys;
  for (const auto& [key, bucket] : bitmap.bucketMap()) {
    if (!bucket.isEmpty()) keys.push_back(key);
  }
  return keys;
}

template <typename T>
void put(Bytes& bytes, T value) {
  const auto* raw = reinterpret_cast<const char*>(&value);
  bytes.insert(bytes.end(), raw, raw + sizeof value);
}

Bytes bodyOf(std::uint32_t low) {
  roaring::Roaring bucket;
  bucket.add(low);
  Bytes body(bucket.portableSizeInBytes());
  bucket.portableSerialize(body.data());
  return body;
}

// A form of `count` and one record per key, each holding the low part 7.
Bytes formOf(std::uint64_t count, const std::vector<std::uint32_t>& keys) {
  Bytes bytes;
  put(bytes, count);
  for (std::uint32_t key : keys) {
    put(bytes, key);
    const Bytes body = bodyOf(7);
    bytes.insert(bytes.end(), body.begin(), body.end());
  }
  return bytes;
}

std::string refusal(const Bytes& bytes) {
  return messageOf<std::invalid_argument>([&] { fromRoaring64(bytes); });
}

}  // namespace

TEST(Roaring64Form, GoldenBytesLeaveEmptyBucketsOut) {
  EXPECT_EQ(roaring64Of(Bitmap()), Bytes(8, 0));
  const Bitmap three = Bitmap::of(3, std::uint64_t{1}, std::uint64_t{2}, std::uint64_t{3});
  const unsigned char expected[] = {1, 0, 0, 0, 0, 0, 0, 0,  0, 0, 0, 0,  0x3A, 0x30, 0, 0, 1, 0, 0, 0,
                                    0, 0, 2, 0, 16, 0, 0, 0,  1, 0, 2, 0, 3, 0};
  EXPECT_EQ(roaring64Of(three), Bytes(std::begin(expected), std::end(expected)));
  EXPECT_EQ(roaring64Of(three | (Bitmap::of(1, 9 * kSpan) - Bitmap::of(1, 9 * kSpan))), roaring64Of(three));
  EXPECT_EQ(keysOf(fromRoaring64(Bytes(8, 0))), std::vector<std::uint32_t>{});
}

// CRoaring's 64-bit bitmaps read the form back to the same positions and write the very
// same bytes again; what they write from positions reads back to those positions.
TEST(Roaring64Form, IsTheFormOfCRoaringsOwn64BitBitmaps) {
  std::mt19937_64 random(20270129);
  for (int round = 0; round < 40; ++round) {
    const Bitmap bitmap = randomShape(random);
    const Bytes ours = roaring64Of(bitmap);
    roaring64_bitmap_t* theirs = roaring64_bitmap_portable_deserialize_safe(ours.data(), ours.size());
    ASSERT_NE(theirs, nullptr);
    Bytes again(roaring64_bitmap_portable_size_in_bytes(theirs));
    roaring64_bitmap_portable_serialize(theirs, again.data());
    EXPECT_EQ(again, ours);
    std::vector<std::uint64_t> positions(roaring64_bitmap_get_cardinality(theirs));
    roaring64_bitmap_to_uint64_array(theirs, positions.data());
    EXPECT_EQ(positions, positionsOf(bitmap));
    roaring64_bitmap_free(theirs);

    roaring64_bitmap_t* built = roaring64_bitmap_create();
    roaring64_bitmap_add_many(built, positions.size(), positions.data());
    Bytes written(roaring64_bitmap_portable_size_in_bytes(built));
    roaring64_bitmap_portable_serialize(built, written.data());
    roaring64_bitmap_free(built);
    EXPECT_EQ(positionsOf(fromRoaring64(written)), positions);
  }
}

TEST(Roaring64Form, RoundTripKeepsContainersAndTheBucketsThatHoldPositions) {
  std::mt19937_64 random(20270130);
  for (int round = 0; round < 40; ++round) {
    const Bitmap bitmap = randomShape(random);
    const Bitmap back = fromRoaring64(roaring64Of(bitmap));
    EXPECT_EQ(keysOf(back), keysHoldingPositions(bitmap));
    EXPECT_EQ(positionsOf(back), positionsOf(bitmap));
    EXPECT_EQ(roaring64Of(back), roaring64Of(bitmap));
  }
}

TEST(Roaring64Form, AnEmptyBitmapInTheFormBecomesAnEmptyBucket) {
  Bytes bytes;
  put(bytes, std::uint64_t{1});
  put(bytes, std::uint32_t{4});
  Bytes body(roaring::Roaring().portableSizeInBytes());
  roaring::Roaring().portableSerialize(body.data());
  bytes.insert(bytes.end(), body.begin(), body.end());
  EXPECT_EQ(keysOf(fromRoaring64(bytes)), std::vector<std::uint32_t>{4});
}

TEST(Roaring64Form, DamagedFormsAreRefusedSayingWhatAndWhere) {
  const Bytes valid = formOf(2, {3, 8});
  Bytes badCookie = valid;
  badCookie[12] ^= 0x40;
  const struct {
    Bytes bytes;
    const char* says;
  } cases[] = {
      {Bytes(7, 0), "truncated: the count of 32-bit bitmaps needs 8 bytes, the buffer holds 7"},
      {formOf(3, {3, 8}), "truncated: 32-bit bitmap 2 of 3 (byte 52) needs a 4-byte key, 0 bytes are left"},
      {Bytes(valid.begin(), valid.end() - 1), "truncated or inconsistent: the body of 32-bit bitmap 1 of 2"},
      {formOf(std::uint64_t{1} << 33, {3}), "states 8589934592 32-bit bitmaps, there are only 2^32 keys"},
      {formOf(2, {8, 8}), "32-bit bitmap 1 of 2 (byte 30) has key 8, not above the key 8 before it"},
      {formOf(2, {8, 3}), "has key 3, not above the key 8 before it"},
      {formOf(1, {3, 8}), "inconsistent: 22 bytes follow the last of its 1 32-bit bitmaps"},
      {badCookie, "the body of 32-bit bitmap 0 of 2 (byte 8)"},
  };
  for (const auto& each : cases) {
    const std::string message = refusal(each.bytes);
    EXPECT_EQ(message.rfind("64-bit Roaring form ", 0), 0u) << message;
    EXPECT_NE(message.find(each.says), std::string::npos) << message;
  }
}

TEST(Roaring64Form, TooSmallBufferIsRefusedBeforeAnyByteIsWritten) {
  const Bitmap bitmap = Bitmap::of(1, kMax);
  Bytes bytes(bitmap.roaring64Size() - 1, 'x');
  EXPECT_THROW(bitmap.toRoaring64(bytes.data(), bytes.size()), std::invalid_argument);
  EXPECT_EQ(bytes, Bytes(bytes.size(), 'x'));
}
