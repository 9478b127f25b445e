// The shared JSON lexical pieces: where a number ends or is refused and its parts, hexadecimal
// escapes and surrogate pairs.
#include <string>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "util/json_grammar.hpp"

namespace orvik {
namespace {

// "ok end E int [B, E) fraction to F exponent at X", or "refused at I".
std::string scanned(std::string_view text) {
  const JsonNumberScan scan = scan_json_number(text, 0);
  if (!scan.valid) return fmt::format("refused at {}", scan.end);
  return fmt::format("ok end {} int [{}, {}) fraction to {} exponent at {}", scan.end,
                     scan.integer_begin, scan.integer_end, scan.fraction_end, scan.exponent_begin);
}

TEST(JsonGrammar, NumberExtentsAndRefusals) {
  const struct {
    std::string_view text;
    std::string want;
  } cases[] = {
      {"0", "ok end 1 int [0, 1) fraction to 1 exponent at 0"},
      {"-0,", "ok end 2 int [1, 2) fraction to 2 exponent at 0"},
      {"01", "ok end 1 int [0, 1) fraction to 1 exponent at 0"},  // the reader refuses the 1
      {"-120.50e+3]", "ok end 10 int [1, 4) fraction to 7 exponent at 9"},
      {"7E-07", "ok end 5 int [0, 1) fraction to 1 exponent at 3"},
      {"0.0e0", "ok end 5 int [0, 1) fraction to 3 exponent at 4"},
      {"-", "refused at 1"},
      {"-x", "refused at 1"},
      {".5", "refused at 0"},
      {"+1", "refused at 0"},
      {"1.", "refused at 2"},
      {"1.e3", "refused at 2"},
      {"1e", "refused at 2"},
      {"1e+", "refused at 3"},
      {"1e-x", "refused at 3"},
      {"", "refused at 0"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(scanned(c.text), c.want) << c.text;
  EXPECT_TRUE(scan_json_number("1e5", 0).valid && !scan_json_number("1e5", 0).is_integer());
  EXPECT_TRUE(scan_json_number("-12", 0).is_integer());
}

TEST(JsonGrammar, HexEscapesAndSurrogatePairs) {
  EXPECT_EQ(json_hex_unit("00e9"), 0xE9);
  EXPECT_EQ(json_hex_unit("D83Dxyz"), 0xD83D);
  EXPECT_EQ(json_hex_unit("fFfF"), 0xFFFF);
  EXPECT_EQ(json_hex_unit("12g4"), std::nullopt);
  EXPECT_EQ(json_hex_unit("+123"), std::nullopt);
  EXPECT_FALSE(is_leading_surrogate(0xD7FF));
  EXPECT_TRUE(is_leading_surrogate(0xD800) && is_leading_surrogate(0xDBFF));
  EXPECT_FALSE(is_leading_surrogate(0xDC00) || is_trailing_surrogate(0xDBFF));
  EXPECT_TRUE(is_trailing_surrogate(0xDC00) && is_trailing_surrogate(0xDFFF));
  EXPECT_FALSE(is_trailing_surrogate(0xE000));
  EXPECT_EQ(surrogate_pair_code_point(0xD83D, 0xDE00), U'\U0001F600');
  EXPECT_EQ(surrogate_pair_code_point(0xD800, 0xDC00), U'\U00010000');
  EXPECT_EQ(surrogate_pair_code_point(0xDBFF, 0xDFFF), U'\U0010FFFF');
}

}  // namespace
}  // namespace orvik
