#pragma once
// UTF-8 validation and lossy decoding, Unicode White_Space trimming and splitting, strict number
// parsing with the messages users see ("parse --limit: invalid digit found in string").
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "util/result.hpp"

namespace orvik {

// Ok, or "invalid utf-8 sequence of N bytes from index I" /
// "incomplete utf-8 byte sequence from index I" for the first ill-formed sequence.
std::expected<void, std::string> check_utf8(std::string_view bytes);
bool is_valid_utf8(std::string_view bytes);

// Where UTF-8 validation stopped: `valid_up_to` is the length of the longest valid prefix (the
// whole input when valid); `error_length` is the length (1 to 3) of the maximal ill-formed subpart
// found there, or 0 when the input is valid or ends inside an otherwise well-formed sequence.
struct Utf8Scan {
  std::size_t valid_up_to;
  std::size_t error_length;
};
Utf8Scan scan_utf8(std::string_view bytes);

// Appends the UTF-8 encoding of a code point (below 0x110000).
void append_utf8(std::string& out, char32_t code_point);

// Decodes bytes as UTF-8, replacing each maximal subpart of an ill-formed sequence with U+FFFD.
// Returns the input unchanged (one copy) when it is already valid.
std::string decode_utf8_lossy(std::string_view bytes);

// The text as it may be shown on a terminal: control characters other than "\n" and "\t"
// (U+0000..U+001F, U+007F, and the C1 code points U+0080..U+009F) become visible escapes, "\x1b"
// and "\u{9b}", and so do bytes that are not UTF-8 ("\xff"), so that no byte a file supplied
// can start a terminal control sequence. Everything else is kept.
std::string escape_for_terminal(std::string_view text);

// Whether escape_for_terminal would change the text.
bool needs_terminal_escape(std::string_view text);

// The Unicode White_Space property.
bool is_unicode_white_space(char32_t c);

// Removes leading and trailing White_Space from valid UTF-8 text.
std::string_view trim_white_space(std::string_view text);

// Length of the White_Space character at `index` of UTF-8 text, or 0 when there is none.
std::size_t non_ascii_white_space_length_at(std::string_view text, std::size_t index);
inline std::size_t white_space_length_at(std::string_view text, std::size_t index) {
  const auto byte = static_cast<unsigned char>(text[index]);
  if (byte < 0x80) return byte == ' ' || (byte >= 0x09 && byte <= 0x0D) ? 1 : 0;
  return non_ascii_white_space_length_at(text, index);
}

// Calls visit(piece) for each piece of valid UTF-8 text between runs of White_Space, in order,
// without empty pieces.
template <class Visit>
void for_each_white_space_piece(std::string_view text, Visit&& visit) {
  std::size_t i = 0;
  std::size_t piece_start = 0;
  bool in_piece = false;
  while (i < text.size()) {
    const std::size_t length = white_space_length_at(text, i);
    if (length == 0) {
      if (!in_piece) {
        piece_start = i;
        in_piece = true;
      }
      ++i;
      continue;
    }
    if (in_piece) {
      visit(text.substr(piece_start, i - piece_start));
      in_piece = false;
    }
    i += length;
  }
  if (in_piece) visit(text.substr(piece_start));
}

// Splits valid UTF-8 text at runs of White_Space, dropping empty pieces.
std::vector<std::string_view> split_white_space(std::string_view text);

// A copy of the text without any White_Space character, everything else kept in order:
// " [ 1 ,\t8 ] " gives "[1,8]". Bytes that are not UTF-8 are kept as they are.
std::string strip_whitespace(std::string_view text);

// Number of Unicode scalar values in valid UTF-8 text.
std::size_t count_code_points(std::string_view text);

// Pads valid UTF-8 text with blanks to `width` code points; longer text is returned whole.
std::string pad_right(std::string_view text, std::size_t width);
std::string pad_left(std::string_view text, std::size_t width);

// Strict decimal parsing. Unsigned: optional '+', then ASCII digits. Signed: optional '+' or '-'.
// Messages: "cannot parse integer from empty string", "invalid digit found in string",
// "number too large to fit in target type", "number too small to fit in target type".
Result<std::uint64_t> parse_u64(std::string_view text);
Result<std::int64_t> parse_i64(std::string_view text);

// Optional sign, digits with optional fraction and exponent, or inf / infinity / nan in any case.
// Messages: "invalid float literal", "cannot parse float from empty string".
Result<double> parse_f64(std::string_view text);

// The decimal magnitude of a JSON number text (-?digits[.digits][(e|E)[+-]digits]): the m for
// which a non-zero value lies in [10^(m-1), 10^m), or nothing when every digit is zero. The
// exponent saturates far beyond any double's range, so long digit strings cannot overflow.
std::optional<std::int64_t> json_number_magnitude(std::string_view number);

bool starts_with(std::string_view text, std::string_view prefix);
bool ends_with(std::string_view text, std::string_view suffix);

}  // namespace orvik
