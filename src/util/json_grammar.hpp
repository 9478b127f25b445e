#pragma once
// The pieces of JSON's lexical grammar (RFC 8259) that the house's hand-written JSON readers
// share: the four hexadecimal digits of a "\u" escape, surrogate pairs, and the extent and parts
// of a number. They only say what the bytes are; each reader keeps its own messages and
// positions. Everything is inline: the CatBoost reader checks embedded JSON on its hot path.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace orvik {

// The UTF-16 code unit written by the first four bytes of `digits` (the text after "\u", at
// least four bytes), or nothing when one of them is not a hexadecimal digit.
constexpr std::optional<std::uint16_t> json_hex_unit(std::string_view digits) {
  std::uint16_t unit = 0;
  for (std::size_t i = 0; i < 4; ++i) {
    const char c = digits[i];
    int digit = -1;
    if (c >= '0' && c <= '9') digit = c - '0';
    if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
    if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
    if (digit < 0) return std::nullopt;
    unit = static_cast<std::uint16_t>(unit * 16 + digit);
  }
  return unit;
}

// A leading (high) surrogate must be followed by "\u" and a trailing (low) one; together they
// write one code point above U+FFFF.
constexpr bool is_leading_surrogate(std::uint32_t unit) {
  return unit >= 0xD800 && unit <= 0xDBFF;
}
constexpr bool is_trailing_surrogate(std::uint32_t unit) {
  return unit >= 0xDC00 && unit <= 0xDFFF;
}
constexpr char32_t surrogate_pair_code_point(std::uint32_t leading, std::uint32_t trailing) {
  return 0x10000 + ((leading - 0xD800) << 10) + (trailing - 0xDC00);
}

constexpr bool is_json_digit(char c) {
  return c >= '0' && c <= '9';
}

// A number as the grammar -?(0|[1-9][0-9]*)(\.[0-9]+)?([eE][+-]?[0-9]+)? reads it from `start`.
// The scan stops after "0", so a digit right after a valid scan can only follow a leading zero.
struct JsonNumberScan {
  bool valid = false;
  // One past the number; when it is not valid, the byte the grammar refused (the size of the
  // text when the text ended first).
  std::size_t end = 0;
  std::size_t integer_begin = 0;  // the integer digits, after a '-'
  std::size_t integer_end = 0;
  std::size_t fraction_end = 0;    // one past the fraction's digits; integer_end without one
  std::size_t exponent_begin = 0;  // the exponent's digits, after its sign; 0 without one

  bool is_integer() const { return fraction_end == integer_end && exponent_begin == 0; }
};

// Inlined always: the CatBoost reader scans millions of numbers, and its callers use few of the
// parts.
[[gnu::always_inline]] constexpr JsonNumberScan scan_json_number(std::string_view text,
                                                                 std::size_t start) {
  JsonNumberScan scan;
  std::size_t i = start;
  const auto digit_at = [&](std::size_t at) { return at < text.size() && is_json_digit(text[at]); };
  const auto refuse = [&](std::size_t at) {
    scan.end = at;
    return scan;
  };
  if (i < text.size() && text[i] == '-') ++i;
  scan.integer_begin = i;
  if (!digit_at(i)) return refuse(i);
  if (text[i++] != '0') {
    while (digit_at(i))
      ++i;
  }
  scan.integer_end = i;
  if (i < text.size() && text[i] == '.') {
    if (!digit_at(++i)) return refuse(i);
    while (digit_at(i))
      ++i;
  }
  scan.fraction_end = i;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    if (!digit_at(i)) return refuse(i);
    scan.exponent_begin = i;
    while (digit_at(i))
      ++i;
  }
  scan.valid = true;
  scan.end = i;
  return scan;
}

}  // namespace orvik
