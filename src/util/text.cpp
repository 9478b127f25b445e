#include "util/text.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>
#include <system_error>

namespace orvik {

namespace {

constexpr std::uint64_t kHighBits = 0x8080808080808080ULL;

bool is_continuation(unsigned char byte) {
  return (byte & 0xC0) == 0x80;
}

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

// Decodes the well-formed sequence starting at `index`, or returns nothing when the bytes there
// are not one (the caller then treats the byte as an opaque non-blank character).
struct Decoded {
  char32_t code_point;
  std::size_t length;
};

std::optional<Decoded> decode_at(std::string_view text, std::size_t index) {
  const auto first = static_cast<unsigned char>(text[index]);
  if (first < 0x80) return Decoded{first, 1};
  const Utf8Scan scan = scan_utf8(text.substr(index, 4));
  const std::size_t length = first >= 0xF0 ? 4 : first >= 0xE0 ? 3 : 2;
  if (scan.valid_up_to < length) return std::nullopt;
  char32_t code_point = first & (0x7F >> length);
  for (std::size_t i = 1; i < length; ++i) {
    code_point = (code_point << 6) | (static_cast<unsigned char>(text[index + i]) & 0x3F);
  }
  return Decoded{code_point, length};
}

// Start index of the last code point of non-empty text (a lone byte when the tail is ill-formed).
std::size_t last_code_point_start(std::string_view text) {
  std::size_t start = text.size() - 1;
  const std::size_t limit = text.size() >= 4 ? text.size() - 4 : 0;
  while (start > limit && is_continuation(static_cast<unsigned char>(text[start])))
    --start;
  if (const auto decoded = decode_at(text, start);
      decoded && start + decoded->length == text.size()) {
    return start;
  }
  return text.size() - 1;
}

bool is_ascii_digit(char c) {
  return c >= '0' && c <= '9';
}

bool equals_ignoring_ascii_case(std::string_view text, std::string_view lower) {
  if (text.size() != lower.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != lower[i]) return false;
  }
  return true;
}

constexpr std::string_view kEmptyInteger = "cannot parse integer from empty string";
constexpr std::string_view kInvalidDigit = "invalid digit found in string";
constexpr std::string_view kTooLarge = "number too large to fit in target type";
constexpr std::string_view kTooSmall = "number too small to fit in target type";
constexpr std::string_view kInvalidFloat = "invalid float literal";
constexpr std::string_view kEmptyFloat = "cannot parse float from empty string";

}  // namespace

Utf8Scan scan_utf8(std::string_view bytes) {
  const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
  const std::size_t size = bytes.size();
  std::size_t i = 0;
  while (i < size) {
    // ASCII runs are checked eight bytes at a time.
    while (i + 8 <= size) {
      std::uint64_t block;
      std::memcpy(&block, data + i, 8);
      if (block & kHighBits) break;
      i += 8;
    }
    if (i >= size) break;
    const unsigned char first = data[i];
    if (first < 0x80) {
      ++i;
      continue;
    }
    // The accepted range of the second byte depends on the first (this excludes overlong forms,
    // surrogates and values above U+10FFFF); later bytes are plain continuation bytes.
    std::size_t width;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (first >= 0xC2 && first <= 0xDF) {
      width = 2;
    } else if (first >= 0xE0 && first <= 0xEF) {
      width = 3;
      if (first == 0xE0) low = 0xA0;
      if (first == 0xED) high = 0x9F;
    } else if (first >= 0xF0 && first <= 0xF4) {
      width = 4;
      if (first == 0xF0) low = 0x90;
      if (first == 0xF4) high = 0x8F;
    } else {
      return Utf8Scan{i, 1};
    }
    for (std::size_t k = 1; k < width; ++k) {
      if (i + k >= size) return Utf8Scan{i, 0};
      const unsigned char byte = data[i + k];
      const bool ok = k == 1 ? (byte >= low && byte <= high) : is_continuation(byte);
      if (!ok) return Utf8Scan{i, k};
    }
    i += width;
  }
  return Utf8Scan{size, 0};
}

std::expected<void, std::string> check_utf8(std::string_view bytes) {
  const Utf8Scan scan = scan_utf8(bytes);
  if (scan.valid_up_to == bytes.size()) return {};
  if (scan.error_length == 0) {
    return fail("incomplete utf-8 byte sequence from index " + std::to_string(scan.valid_up_to));
  }
  return fail("invalid utf-8 sequence of " + std::to_string(scan.error_length) +
              " bytes from index " + std::to_string(scan.valid_up_to));
}

bool is_valid_utf8(std::string_view bytes) {
  return scan_utf8(bytes).valid_up_to == bytes.size();
}

void append_utf8(std::string& out, char32_t code_point) {
  if (code_point < 0x80) {
    out.push_back(static_cast<char>(code_point));
  } else if (code_point < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (code_point >> 6)));
    out.push_back(static_cast<char>(0x80 | (code_point & 0x3F)));
  } else if (code_point < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (code_point >> 12)));
    out.push_back(static_cast<char>(0x80 | ((code_point >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (code_point & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (code_point >> 18)));
    out.push_back(static_cast<char>(0x80 | ((code_point >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((code_point >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (code_point & 0x3F)));
  }
}

std::string decode_utf8_lossy(std::string_view bytes) {
  Utf8Scan scan = scan_utf8(bytes);
  if (scan.valid_up_to == bytes.size()) return std::string(bytes);
  std::string out;
  out.reserve(bytes.size() + 16);
  while (true) {
    out.append(bytes.substr(0, scan.valid_up_to));
    if (scan.valid_up_to == bytes.size()) break;
    out.append(kReplacement);
    // An incomplete sequence at the end is one maximal subpart running to the end.
    const std::size_t skip =
        scan.error_length == 0 ? bytes.size() - scan.valid_up_to : scan.error_length;
    bytes.remove_prefix(scan.valid_up_to + skip);
    scan = scan_utf8(bytes);
  }
  return out;
}

bool needs_terminal_escape(std::string_view text) {
  bool beyond_ascii = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if ((byte < 0x20 && byte != '\n' && byte != '\t') || byte == 0x7F) return true;
    if (byte == 0xC2 && i + 1 < text.size() &&
        (static_cast<unsigned char>(text[i + 1]) & 0xE0) == 0x80) {
      return true;  // C2 80..C2 9F: U+0080..U+009F
    }
    beyond_ascii |= byte >= 0x80;
  }
  return beyond_ascii && !is_valid_utf8(text);
}

std::string escape_for_terminal(std::string_view text) {
  constexpr std::string_view kHex = "0123456789abcdef";
  const auto escape_byte = [&](std::string& out, unsigned char byte) {
    out += "\\x";
    out.push_back(kHex[byte >> 4]);
    out.push_back(kHex[byte & 0xF]);
  };
  std::string out;
  out.reserve(text.size());
  while (!text.empty()) {
    const Utf8Scan scan = scan_utf8(text);
    const std::string_view valid = text.substr(0, scan.valid_up_to);
    for (std::size_t i = 0; i < valid.size(); ++i) {
      const auto byte = static_cast<unsigned char>(valid[i]);
      if ((byte < 0x20 && byte != '\n' && byte != '\t') || byte == 0x7F) {
        escape_byte(out, byte);
      } else if (byte == 0xC2 && static_cast<unsigned char>(valid[i + 1]) < 0xA0) {
        // U+0080..U+009F: a lead byte C2 and a continuation byte 80..9F.
        const auto low = static_cast<unsigned char>(valid[++i]);
        out += "\\u{";
        out.push_back(kHex[low >> 4]);
        out.push_back(kHex[low & 0xF]);
        out.push_back('}');
      } else {
        out.push_back(valid[i]);
      }
    }
    text.remove_prefix(valid.size());
    // An ill-formed subpart, or an incomplete sequence running to the end.
    const std::size_t bad =
        scan.error_length == 0 ? text.size() : std::min(scan.error_length, text.size());
    for (std::size_t i = 0; i < bad; ++i)
      escape_byte(out, static_cast<unsigned char>(text[i]));
    text.remove_prefix(bad);
  }
  return out;
}

bool is_unicode_white_space(char32_t c) {
  if (c <= 0x20) return c == 0x20 || (c >= 0x09 && c <= 0x0D);
  if (c < 0x85) return false;
  switch (c) {
    case 0x85:
    case 0xA0:
    case 0x1680:
    case 0x2028:
    case 0x2029:
    case 0x202F:
    case 0x205F:
    case 0x3000:
      return true;
    default:
      return c >= 0x2000 && c <= 0x200A;
  }
}

std::string_view trim_white_space(std::string_view text) {
  std::size_t begin = 0;
  while (begin < text.size()) {
    const std::size_t length = white_space_length_at(text, begin);
    if (length == 0) break;
    begin += length;
  }
  text.remove_prefix(begin);
  while (!text.empty()) {
    const std::size_t start = last_code_point_start(text);
    if (white_space_length_at(text, start) == 0) break;
    text.remove_suffix(text.size() - start);
  }
  return text;
}

std::size_t non_ascii_white_space_length_at(std::string_view text, std::size_t index) {
  const auto decoded = decode_at(text, index);
  if (!decoded || !is_unicode_white_space(decoded->code_point)) return 0;
  return decoded->length;
}

std::vector<std::string_view> split_white_space(std::string_view text) {
  std::vector<std::string_view> pieces;
  for_each_white_space_piece(text, [&](std::string_view piece) { pieces.push_back(piece); });
  return pieces;
}

std::string strip_whitespace(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const std::string_view piece : split_white_space(text))
    out.append(piece);
  return out;
}

std::size_t count_code_points(std::string_view text) {
  std::size_t count = 0;
  for (const char c : text) {
    if (!is_continuation(static_cast<unsigned char>(c))) ++count;
  }
  return count;
}

std::string pad_right(std::string_view text, std::size_t width) {
  std::string out(text);
  const std::size_t count = count_code_points(text);
  if (count < width) out.append(width - count, ' ');
  return out;
}

std::string pad_left(std::string_view text, std::size_t width) {
  const std::size_t count = count_code_points(text);
  std::string out;
  if (count < width) out.append(width - count, ' ');
  out.append(text);
  return out;
}

Result<std::uint64_t> parse_u64(std::string_view text) {
  if (text.empty()) return fail(std::string(kEmptyInteger));
  if ((text[0] == '+' || text[0] == '-') && text.size() == 1)
    return fail(std::string(kInvalidDigit));
  if (text[0] == '+') text.remove_prefix(1);
  constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
  std::uint64_t value = 0;
  // Each character is checked as a digit before the value grows, so the first problem from the
  // left decides the message.
  for (const char c : text) {
    if (!is_ascii_digit(c)) return fail(std::string(kInvalidDigit));
    const auto digit = static_cast<std::uint64_t>(c - '0');
    if (value > kMax / 10 || value * 10 > kMax - digit) return fail(std::string(kTooLarge));
    value = value * 10 + digit;
  }
  return value;
}

Result<std::int64_t> parse_i64(std::string_view text) {
  if (text.empty()) return fail(std::string(kEmptyInteger));
  if ((text[0] == '+' || text[0] == '-') && text.size() == 1)
    return fail(std::string(kInvalidDigit));
  const bool negative = text[0] == '-';
  if (text[0] == '+' || text[0] == '-') text.remove_prefix(1);
  constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
  constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
  std::int64_t value = 0;
  for (const char c : text) {
    if (!is_ascii_digit(c)) return fail(std::string(kInvalidDigit));
    const std::int64_t digit = c - '0';
    if (negative) {
      if (value < kMin / 10 || value * 10 < kMin + digit) return fail(std::string(kTooSmall));
      value = value * 10 - digit;
    } else {
      if (value > kMax / 10 || value * 10 > kMax - digit) return fail(std::string(kTooLarge));
      value = value * 10 + digit;
    }
  }
  return value;
}

Result<double> parse_f64(std::string_view text) {
  if (text.empty()) return fail(std::string(kEmptyFloat));
  bool negative = false;
  if (text[0] == '+' || text[0] == '-') {
    negative = text[0] == '-';
    text.remove_prefix(1);
  }
  const auto apply_sign = [negative](double value) { return negative ? -value : value; };
  if (equals_ignoring_ascii_case(text, "inf") || equals_ignoring_ascii_case(text, "infinity")) {
    return apply_sign(std::numeric_limits<double>::infinity());
  }
  if (equals_ignoring_ascii_case(text, "nan")) {
    return apply_sign(std::numeric_limits<double>::quiet_NaN());
  }

  // Grammar: digits [ '.' digits ] [ ('e'|'E') [sign] digits ], at least one mantissa digit.
  // std::from_chars is more lenient (hex, "nan(...)"), so the shape is checked here first.
  std::size_t i = 0;
  const std::size_t size = text.size();
  const std::size_t integer_begin = i;
  while (i < size && is_ascii_digit(text[i]))
    ++i;
  const std::size_t integer_end = i;
  std::size_t fraction_begin = i;
  std::size_t fraction_end = i;
  if (i < size && text[i] == '.') {
    ++i;
    fraction_begin = i;
    while (i < size && is_ascii_digit(text[i]))
      ++i;
    fraction_end = i;
  }
  if (integer_end == integer_begin && fraction_end == fraction_begin) {
    return fail(std::string(kInvalidFloat));
  }
  // The decimal exponent as written, saturated far beyond the double range.
  std::int64_t exponent = 0;
  if (i < size && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    bool exponent_negative = false;
    if (i < size && (text[i] == '+' || text[i] == '-')) {
      exponent_negative = text[i] == '-';
      ++i;
    }
    if (i >= size || !is_ascii_digit(text[i])) return fail(std::string(kInvalidFloat));
    while (i < size && is_ascii_digit(text[i])) {
      if (exponent < 1'000'000'000) exponent = exponent * 10 + (text[i] - '0');
      ++i;
    }
    if (exponent_negative) exponent = -exponent;
  }
  if (i != size) return fail(std::string(kInvalidFloat));

  double value = 0.0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + size, value);
  if (error == std::errc::result_out_of_range) {
    // The correctly rounded result is infinity or zero; the position of the first significant
    // digit tells which.
    std::int64_t magnitude = 0;  // value = 0.d1d2... x 10^magnitude with d1 != 0
    std::size_t k = integer_begin;
    while (k < integer_end && text[k] == '0')
      ++k;
    if (k < integer_end) {
      magnitude = static_cast<std::int64_t>(integer_end - k);
    } else {
      k = fraction_begin;
      while (k < fraction_end && text[k] == '0')
        ++k;
      magnitude = -static_cast<std::int64_t>(k - fraction_begin);
    }
    value = magnitude + exponent > 0 ? std::numeric_limits<double>::infinity() : 0.0;
  } else if (error != std::errc() || end != text.data() + size) {
    return fail(std::string(kInvalidFloat));
  }
  return apply_sign(value);
}

std::optional<std::int64_t> json_number_magnitude(std::string_view number) {
  std::size_t i = 0;
  if (i < number.size() && number[i] == '-') ++i;
  std::int64_t magnitude = 0;
  bool nonzero = false;
  for (; i < number.size() && is_ascii_digit(number[i]); ++i) {
    if (number[i] != '0') nonzero = true;
    if (nonzero) ++magnitude;
  }
  if (i < number.size() && number[i] == '.') {
    for (++i; i < number.size() && is_ascii_digit(number[i]); ++i) {
      if (nonzero) continue;
      if (number[i] == '0') {
        --magnitude;
      } else {
        nonzero = true;
      }
    }
  }
  if (!nonzero) return std::nullopt;
  if (i < number.size() && (number[i] == 'e' || number[i] == 'E')) {
    ++i;
    const bool negative = i < number.size() && number[i] == '-';
    if (i < number.size() && (number[i] == '+' || number[i] == '-')) ++i;
    std::int64_t exponent = 0;
    for (; i < number.size() && is_ascii_digit(number[i]); ++i) {
      if (exponent < 1'000'000'000) exponent = exponent * 10 + (number[i] - '0');
    }
    magnitude += negative ? -exponent : exponent;
  }
  return magnitude;
}

bool starts_with(std::string_view text, std::string_view prefix) {
  return text.starts_with(prefix);
}

bool ends_with(std::string_view text, std::string_view suffix) {
  return text.ends_with(suffix);
}

}  // namespace orvik
