// The checked byte cursor: little-endian reads, ranges, sticky failure and overflow-free checks.
#include "util/byte_cursor.hpp"

#include <limits>
#include <string>

#include <gtest/gtest.h>

namespace orvik {
namespace {

constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();

TEST(UtilByteCursor, RangeFitsNeverOverflows) {
  EXPECT_TRUE(byte_range_fits(10, 0, 10));
  EXPECT_TRUE(byte_range_fits(10, 10, 0));
  EXPECT_FALSE(byte_range_fits(10, 11, 0));
  EXPECT_FALSE(byte_range_fits(10, 8, 3));
  EXPECT_FALSE(byte_range_fits(10, 5, kMax));
  EXPECT_FALSE(byte_range_fits(kMax, kMax - 1, 2));
  EXPECT_TRUE(byte_range_fits(kMax, kMax - 1, 1));
}

TEST(UtilByteCursor, ReadsFieldsInOrderAndFailsWhenBytesRunOut) {
  const std::string bytes = "PK\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0a\x0b\x0c\x0d\x0e\x0f";
  ByteCursor cursor(bytes);
  EXPECT_FALSE(cursor.skip_signature("PX"));
  EXPECT_TRUE(cursor.skip_signature("PK"));
  EXPECT_EQ(cursor.u8(), 0x01u);
  EXPECT_EQ(cursor.u16_le(), 0x0302u);
  EXPECT_EQ(cursor.u32_le(), 0x07060504u);
  EXPECT_EQ(cursor.bytes(2), "\x08\x09");
  EXPECT_EQ(cursor.remaining(), 6u);
  EXPECT_EQ(cursor.u64_le(), 0u);  // six bytes left: fails, consumes nothing
  EXPECT_EQ(cursor.error(), CursorError::OutOfBytes);
  EXPECT_EQ(cursor.remaining(), 6u);
  EXPECT_EQ(cursor.u8(), 0u);  // and stays failed
  EXPECT_EQ(cursor.bytes(0), "");
  EXPECT_FALSE(cursor.skip_signature("\x0a"));

  ByteCursor huge(bytes, 3);
  huge.skip(kMax);
  EXPECT_FALSE(huge.ok());
  EXPECT_EQ(huge.offset(), 3u);
  EXPECT_FALSE(ByteCursor(bytes, bytes.size() + 1).ok());
  EXPECT_TRUE(ByteCursor(bytes, bytes.size()).at_end());

  EXPECT_EQ(read_u16_le_at(bytes, 2), 0x0201u);
  EXPECT_EQ(read_u64_le_at(bytes, 9), 0x0f0e0d0c0b0a0908u);
  EXPECT_EQ(read_u64_le_at(bytes, 10), std::nullopt);
  EXPECT_EQ(read_u32_le_at(bytes, kMax), std::nullopt);
}

}  // namespace
}  // namespace orvik
