// The checked byte cursor: reads in order, sticky failure, and range checks that cannot overflow.
#include "util/byte_cursor.hpp"

#include <limits>
#include <string>

#include <gtest/gtest.h>

namespace orvik {
namespace {

constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();

TEST(UtilByteCursor, ReadsInOrderAndFailsForGoodWhenBytesRunOut) {
  EXPECT_TRUE(byte_range_fits(10, 10, 0));
  EXPECT_FALSE(byte_range_fits(10, 11, 0));
  EXPECT_FALSE(byte_range_fits(10, 5, kMax));
  EXPECT_FALSE(byte_range_fits(kMax, kMax - 1, 2));

  const std::string bytes = "PK\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0a";
  ByteCursor cursor(bytes);
  EXPECT_FALSE(cursor.skip_signature("PX"));
  EXPECT_TRUE(cursor.skip_signature("PK"));
  EXPECT_EQ(cursor.u8(), 0x01u);
  EXPECT_EQ(cursor.u16_le(), 0x0302u);
  EXPECT_EQ(cursor.u32_le(), 0x07060504u);
  EXPECT_EQ(cursor.u64_le(), 0u);  // three bytes left: fails and consumes nothing
  EXPECT_EQ(cursor.error(), CursorError::OutOfBytes);
  EXPECT_EQ(cursor.remaining(), 3u);
  EXPECT_EQ(cursor.u8(), 0u);  // and stays failed
  ByteCursor far(bytes, 3);
  far.skip(kMax);
  EXPECT_EQ(far.offset(), 3u);
  EXPECT_FALSE(ByteCursor(bytes, bytes.size() + 1).ok());
  EXPECT_EQ(read_u16_le_at(bytes, 10), 0x0a09u);
  EXPECT_EQ(read_u32_le_at(bytes, 9), std::nullopt);
}

}  // namespace
}  // namespace orvik
