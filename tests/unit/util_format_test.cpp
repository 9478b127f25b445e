#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <string>

#include <gtest/gtest.h>

#include "util/format.hpp"

namespace orvik {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

TEST(FormatFloat, ShortestDigitsNeverInExponentForm) {
  EXPECT_EQ(format_float(1.0), "1");
  EXPECT_EQ(format_float(0.1), "0.1");
  EXPECT_EQ(format_float(0.03), "0.03");
  EXPECT_EQ(format_float(0.00001), "0.00001");
  EXPECT_EQ(format_float(1e-7), "0.0000001");
  EXPECT_EQ(format_float(-2.5e-8), "-0.000000025");
  EXPECT_EQ(format_float(123.456), "123.456");
  EXPECT_EQ(format_float(0.1 + 0.2), "0.30000000000000004");
  EXPECT_EQ(format_float(100.0), "100");
  EXPECT_EQ(format_float(1e20), "100000000000000000000");
  EXPECT_EQ(format_float(1e21), "1000000000000000000000");
  EXPECT_EQ(format_float(1.5e17), "150000000000000000");
  EXPECT_EQ(format_float(9007199254740993.0), "9007199254740992");
  EXPECT_EQ(format_float(static_cast<double>(0.1f)), "0.10000000149011612");
  EXPECT_EQ(format_float(std::numeric_limits<double>::max()),
            "17976931348623157" + std::string(292, '0'));
  EXPECT_EQ(format_float(std::numeric_limits<double>::denorm_min()),
            "0." + std::string(323, '0') + "5");
}

TEST(FormatFloat, SpecialValues) {
  EXPECT_EQ(format_float(0.0), "0");
  EXPECT_EQ(format_float(-0.0), "-0");
  EXPECT_EQ(format_float(kNaN), "NaN");
  EXPECT_EQ(format_float(-kNaN), "NaN");
  EXPECT_EQ(format_float(kInf), "inf");
  EXPECT_EQ(format_float(-kInf), "-inf");
}

TEST(FormatF32, ShortestDigitsOfTheFloatItself) {
  EXPECT_EQ(format_f32(0.1f), "0.1");
  EXPECT_EQ(format_f32(1.0f), "1");
  EXPECT_EQ(format_f32(-2.5f), "-2.5");
  EXPECT_EQ(format_f32(0.70710677f), "0.70710677");
  EXPECT_EQ(format_f32(16777217.0f), "16777216");
  EXPECT_EQ(format_f32(1e-7f), "0.0000001");
  EXPECT_EQ(format_f32(std::numeric_limits<float>::max()),
            "340282350000000000000000000000000000000");
  EXPECT_EQ(format_f32(std::numeric_limits<float>::denorm_min()),
            "0." + std::string(44, '0') + "1");
  EXPECT_EQ(format_f32(-0.0f), "-0");
  EXPECT_EQ(format_f32(std::numeric_limits<float>::quiet_NaN()), "NaN");
  EXPECT_EQ(format_f32(-std::numeric_limits<float>::infinity()), "-inf");
  EXPECT_EQ(shortest_digits(0.1f).digits, "1");
  EXPECT_EQ(shortest_digits(0.1f).exponent, -1);
}

TEST(ShortestDigits, DigitsAndExponent) {
  const auto check = [](double value, const std::string& digits, int exponent) {
    const ShortestDigits shortest = shortest_digits(value);
    EXPECT_EQ(shortest.digits, digits) << value;
    EXPECT_EQ(shortest.exponent, exponent) << value;
  };
  check(1.5e17, "15", 17);
  check(0.03, "3", -2);
  check(-0.03, "3", -2);
  check(0.0, "0", 0);
  check(1e300, "1", 300);
  check(5e-324, "5", -324);
  check(123.456, "123456", 2);
}

TEST(FormatFixed, RoundsTheExactBinaryValueHalfToEven) {
  // 0.125, 0.375 and 2.5 are exact in binary, so they are true ties.
  EXPECT_EQ(format_fixed(0.125, 2), "0.12");
  EXPECT_EQ(format_fixed(0.375, 2), "0.38");
  EXPECT_EQ(format_fixed(2.5, 0), "2");
  EXPECT_EQ(format_fixed(3.5, 0), "4");
  EXPECT_EQ(format_fixed(0.5, 0), "0");
  EXPECT_EQ(format_fixed(-2.5, 0), "-2");
  // 0.15 and 2.675 lie below their decimal texts in binary: no tie, rounded down.
  EXPECT_EQ(format_fixed(0.15, 1), "0.1");
  EXPECT_EQ(format_fixed(2.675, 2), "2.67");
  EXPECT_EQ(format_fixed(0.35, 1), "0.3");
  // 0.45 and 9.99995 lie above: rounded up.
  EXPECT_EQ(format_fixed(0.45, 1), "0.5");
  EXPECT_EQ(format_fixed(1.0 / 3.0, 4), "0.3333");
  EXPECT_EQ(format_fixed(2.0 / 3.0, 4), "0.6667");
  EXPECT_EQ(format_fixed(0.1, 20), "0.10000000000000000555");
  EXPECT_EQ(format_fixed(1e21, 1), "1000000000000000000000.0");
  EXPECT_EQ(format_fixed(123.456, 0), "123");
  EXPECT_EQ(format_fixed(9.99995, 4), "10.0000");
  EXPECT_EQ(format_fixed(9.99994999, 4), "9.9999");
}

TEST(FormatFixed, KeepsTheMinusOfNegativeZeroAndTinyNegatives) {
  EXPECT_EQ(format_fixed(-0.0, 4), "-0.0000");
  EXPECT_EQ(format_fixed(0.0, 4), "0.0000");
  EXPECT_EQ(format_fixed(-0.00001, 4), "-0.0000");
  EXPECT_EQ(format_fixed(-0.00004999, 4), "-0.0000");
  EXPECT_EQ(format_fixed(-0.00005001, 4), "-0.0001");
  EXPECT_EQ(format_fixed(-0.4, 0), "-0");
  EXPECT_EQ(format_fixed(0.00001, 4), "0.0000");
}

TEST(FormatFixed, SpecialValuesAndDecimals) {
  EXPECT_EQ(format_fixed(kNaN, 4), "NaN");
  EXPECT_EQ(format_fixed(-kNaN, 4), "NaN");
  EXPECT_EQ(format_fixed(kInf, 4), "inf");
  EXPECT_EQ(format_fixed(-kInf, 4), "-inf");
  EXPECT_EQ(format_fixed(1.5, 0), "2");
  EXPECT_EQ(format_fixed(1.25, -3), "1");
  EXPECT_EQ(format_fixed(std::numeric_limits<double>::max(), 2).size(), 309u + 3u);
  EXPECT_EQ(format_fixed(std::numeric_limits<double>::denorm_min(), 2), "0.00");
}

TEST(FormatFixed, AgreesWithPrintf) {
  std::mt19937_64 random(5);
  char expected[1200];
  for (int i = 0; i < 100000; ++i) {
    double value;
    if (i % 2 == 0) {
      const std::uint64_t bits = random();
      std::memcpy(&value, &bits, sizeof value);
      if (!std::isfinite(value)) continue;
    } else {
      // Dyadic values with few bits produce many exact ties.
      value = static_cast<double>(static_cast<std::int64_t>(random() % 200001) - 100000) /
              static_cast<double>(1 << (random() % 14));
    }
    const int decimals = static_cast<int>(random() % 12);
    std::snprintf(expected, sizeof expected, "%.*f", decimals, value);
    ASSERT_EQ(format_fixed(value, decimals), expected) << value << " " << decimals;
  }
}

TEST(FormatFixedSigned, AlwaysSignedExceptNaN) {
  EXPECT_EQ(format_fixed_signed(0.05, 6), "+0.050000");
  EXPECT_EQ(format_fixed_signed(-0.05, 6), "-0.050000");
  EXPECT_EQ(format_fixed_signed(0.0, 6), "+0.000000");
  EXPECT_EQ(format_fixed_signed(-0.0, 6), "-0.000000");
  EXPECT_EQ(format_fixed_signed(-0.0000001, 6), "-0.000000");
  EXPECT_EQ(format_fixed_signed(0.125, 2), "+0.12");
  EXPECT_EQ(format_fixed_signed(12.0, 0), "+12");
  EXPECT_EQ(format_fixed_signed(kInf, 6), "+inf");
  EXPECT_EQ(format_fixed_signed(-kInf, 6), "-inf");
  EXPECT_EQ(format_fixed_signed(kNaN, 6), "NaN");
  EXPECT_EQ(format_fixed_signed(-kNaN, 6), "NaN");
}

TEST(FormatSize, UnitBoundaries) {
  EXPECT_EQ(format_size(0), "0 B");
  EXPECT_EQ(format_size(1), "1 B");
  EXPECT_EQ(format_size(1023), "1023 B");
  EXPECT_EQ(format_size(1024), "1.0 KiB");
  EXPECT_EQ(format_size(1536), "1.5 KiB");
  EXPECT_EQ(format_size(1075), "1.0 KiB");  // 1.0498...
  EXPECT_EQ(format_size(1076), "1.1 KiB");  // 1.0507...
  // 1.25 and 1.75 are exact ties: half to even.
  EXPECT_EQ(format_size(1280), "1.2 KiB");
  EXPECT_EQ(format_size(1792), "1.8 KiB");
  EXPECT_EQ(format_size(1048575), "1024.0 KiB");
  EXPECT_EQ(format_size(1048576), "1.0 MiB");
  EXPECT_EQ(format_size(1572864), "1.5 MiB");
  EXPECT_EQ(format_size(10 * 1048576 + 52428), "10.0 MiB");
  EXPECT_EQ(format_size(10 * 1048576 + 52429), "10.1 MiB");
  EXPECT_EQ(format_size(std::uint64_t{1} << 40), "1048576.0 MiB");
  EXPECT_EQ(format_size(UINT64_MAX), "17592186044416.0 MiB");
}

TEST(FormatFingerprint, SixteenLowerCaseHexDigits) {
  EXPECT_EQ(format_fingerprint(0), "0x0000000000000000");
  EXPECT_EQ(format_fingerprint(0xabc), "0x0000000000000abc");
  EXPECT_EQ(format_fingerprint(0xcbf29ce484222325ULL), "0xcbf29ce484222325");
  EXPECT_EQ(format_fingerprint(UINT64_MAX), "0xffffffffffffffff");
}

}  // namespace
}  // namespace orvik
