#include "model/plan_json.hpp"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

#include <fmt/format.h>

#include "util/format.hpp"
#include "util/text.hpp"

namespace orvik {

namespace {

constexpr std::string_view kEofList = "EOF while parsing a list";
constexpr std::string_view kEofObject = "EOF while parsing an object";
constexpr std::string_view kEofString = "EOF while parsing a string";
constexpr std::string_view kExpectedColon = "expected `:`";
constexpr std::string_view kExpectedListCommaOrEnd = "expected `,` or `]`";
constexpr std::string_view kExpectedObjectCommaOrEnd = "expected `,` or `}`";
constexpr std::string_view kExpectedIdent = "expected ident";
constexpr std::string_view kExpectedValue = "expected value";
constexpr std::string_view kInvalidEscape = "invalid escape";
constexpr std::string_view kInvalidNumber = "invalid number";
constexpr std::string_view kNumberOutOfRange = "number out of range";
constexpr std::string_view kControlCharacter =
    "control character (\\u0000-\\u001F) found while parsing a string";
constexpr std::string_view kKeyMustBeAString = "key must be a string";
constexpr std::string_view kLoneSurrogate = "lone leading surrogate in hex escape";
constexpr std::string_view kTrailingComma = "trailing comma";
constexpr std::string_view kTrailingCharacters = "trailing characters";
constexpr std::string_view kUnexpectedEndOfHexEscape = "unexpected end of hex escape";

// Characters a debugger view of text writes as "\u{..}": controls, separators other than the
// blank, format characters, private use and noncharacters, and the combining marks most often
// met (a close reading of the Unicode categories, not a full table).
bool escaped_in_debug_text(char32_t c) {
  struct Range {
    char32_t first, last;
  };
  static constexpr Range kRanges[] = {
      {0x00, 0x1F},        {0x7F, 0x9F},       {0xA0, 0xA0},       {0xAD, 0xAD},
      {0x300, 0x36F},      {0x483, 0x489},     {0x591, 0x5BD},     {0x600, 0x605},
      {0x61C, 0x61C},      {0x6DD, 0x6DD},     {0x70F, 0x70F},     {0x1680, 0x1680},
      {0x180E, 0x180E},    {0x2000, 0x200F},   {0x2028, 0x202F},   {0x205F, 0x2064},
      {0x2066, 0x206F},    {0x20D0, 0x20F0},   {0x3000, 0x3000},   {0xD800, 0xF8FF},
      {0xFE00, 0xFE0F},    {0xFE20, 0xFE2F},   {0xFEFF, 0xFEFF},   {0xFFF9, 0xFFFB},
      {0xFFFE, 0xFFFF},    {0xE0001, 0xE0001}, {0xE0020, 0xE007F}, {0xE0100, 0xE01EF},
      {0xF0000, 0x10FFFF},
  };
  for (const Range& range : kRanges) {
    if (c >= range.first && c <= range.last) return true;
  }
  return (c & 0xFFFE) == 0xFFFE;  // the noncharacters at the end of every plane
}

}  // namespace

std::string plan_error_text(const PlanReadError& error) {
  if (error.line == 0) return error.message;
  return fmt::format("{} at line {} column {}", error.message, error.line, error.column);
}

std::string invalid_type_message(std::string_view found, std::string_view expected) {
  return fmt::format("invalid type: {}, expected {}", found, expected);
}

std::string invalid_value_message(std::string_view found, std::string_view expected) {
  return fmt::format("invalid value: {}, expected {}", found, expected);
}

std::string invalid_length_message(std::size_t length, std::string_view expected) {
  return fmt::format("invalid length {}, expected {}", length, expected);
}

std::string missing_field_message(std::string_view field) {
  return fmt::format("missing field `{}`", field);
}

std::string duplicate_field_message(std::string_view field) {
  return fmt::format("duplicate field `{}`", field);
}

std::string found_number_text(const PlanNumber& number) {
  switch (number.kind) {
    case PlanNumber::Kind::U64:
      return fmt::format("integer `{}`", number.u64);
    case PlanNumber::Kind::I64:
      return fmt::format("integer `{}`", number.i64);
    case PlanNumber::Kind::F64:
      break;
  }
  return fmt::format("floating point `{}`", format_json_float(number.f64));
}

std::string found_string_text(std::string_view text) {
  std::string out = "string \"";
  std::size_t i = 0;
  while (i < text.size()) {
    // The text is valid UTF-8: decode one scalar value.
    const auto lead = static_cast<unsigned char>(text[i]);
    const std::size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    char32_t c = length == 1 ? lead : lead & (0x7F >> length);
    for (std::size_t k = 1; k < length && i + k < text.size(); ++k) {
      c = (c << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
    }
    switch (c) {
      case '\t':
        out.append("\\t");
        break;
      case '\r':
        out.append("\\r");
        break;
      case '\n':
        out.append("\\n");
        break;
      case '\\':
        out.append("\\\\");
        break;
      case '"':
        out.append("\\\"");
        break;
      case 0:
        out.append("\\0");
        break;
      default:
        if (escaped_in_debug_text(c)) {
          out.append(fmt::format("\\u{{{:x}}}", static_cast<std::uint32_t>(c)));
        } else {
          out.append(text.substr(i, length));
        }
    }
    i += length;
  }
  out.push_back('"');
  return out;
}

std::string found_content_text(const PlanContent::Value& value) {
  switch (value.kind()) {
    case PlanContent::Kind::Null:
      return "null";
    case PlanContent::Kind::Bool:
      return value.boolean() ? "boolean `true`" : "boolean `false`";
    case PlanContent::Kind::Number:
      return found_number_text(value.number());
    case PlanContent::Kind::String:
      return found_string_text(value.text());
    case PlanContent::Kind::Seq:
      return "sequence";
    case PlanContent::Kind::Map:
      break;
  }
  return "map";
}

PlanNumber PlanContent::Value::number() const {
  const Node& n = node();
  PlanNumber number;
  number.kind = n.number_kind;
  number.u64 = n.payload;
  number.i64 = static_cast<std::int64_t>(n.payload);
  number.f64 = std::bit_cast<double>(n.payload);
  return number;
}

std::string_view PlanContent::Value::text() const {
  const std::string_view texts = content_->texts_;
  std::size_t length = 0;
  std::memcpy(&length, texts.data() + node().payload, sizeof length);
  return texts.substr(node().payload + sizeof length, length);
}

void PlanContent::push(Node node) {
  if (node_count_ == node_capacity_) {
    const std::size_t size = kFirstBlock << blocks_.size();
    blocks_.push_back(std::make_unique_for_overwrite<Node[]>(size));
    node_capacity_ += size;
  }
  // After clear() the blocks kept are filled again from the first.
  this->node(node_count_) = node;
  ++node_count_;
}

void PlanContent::add_null() {
  push(Node{});
}

void PlanContent::add_bool(bool value) {
  push(Node{Kind::Bool, PlanNumber::Kind::U64, value, 0});
}

void PlanContent::add_number(const PlanNumber& number) {
  const std::uint64_t bits = number.kind == PlanNumber::Kind::U64 ? number.u64
                             : number.kind == PlanNumber::Kind::I64
                                 ? static_cast<std::uint64_t>(number.i64)
                                 : std::bit_cast<std::uint64_t>(number.f64);
  push(Node{Kind::Number, number.kind, false, bits});
}

void PlanContent::add_string(std::string_view text) {
  push(Node{Kind::String, PlanNumber::Kind::U64, false, texts_.size()});
  const std::size_t length = text.size();
  texts_.append(reinterpret_cast<const char*>(&length), sizeof length);
  texts_.append(text);
}

void PlanContent::clear() {
  // A layer that held millions of values does not keep their storage for the small ones after.
  constexpr std::size_t kKeptBlocks = 7;  // 4064 nodes, 64 KiB
  constexpr std::size_t kKeptBytes = std::size_t{64} << 10;
  if (blocks_.size() > kKeptBlocks) {
    blocks_.resize(kKeptBlocks);
    node_capacity_ = kFirstBlock * ((std::size_t{1} << kKeptBlocks) - 1);
  }
  node_count_ = 0;
  if (containers_.capacity() * sizeof(Container) > kKeptBytes) containers_ = {};
  if (texts_.capacity() > kKeptBytes) texts_ = {};
  containers_.clear();
  texts_.clear();
}

std::size_t PlanContent::open(Kind kind) {
  push(Node{kind, PlanNumber::Kind::U64, false, containers_.size()});
  containers_.push_back(Container{});
  return node_count_ - 1;
}

void PlanContent::close(std::size_t container, std::size_t count) {
  containers_[node(container).payload] = Container{count, node_count_};
}

int PlanJsonReader::parse_whitespace() {
  while (true) {
    const int c = peek();
    if (c != ' ' && c != '\n' && c != '\t' && c != '\r') return c;
    eat_char();
  }
}

PlanReadError PlanJsonReader::error_at(std::size_t index, std::string_view message) const {
  const std::string_view before = text_.substr(0, index);
  const std::size_t newline = before.rfind('\n');
  const std::size_t line_start = newline == std::string_view::npos ? 0 : newline + 1;
  const auto lines = std::count(before.begin(), before.begin() + line_start, '\n');
  return PlanReadError{std::string(message), static_cast<std::size_t>(lines) + 1,
                       index - line_start};
}

PlanReadError PlanJsonReader::error(std::string_view message) const {
  return error_at(index_, message);
}

PlanReadError PlanJsonReader::peek_error(std::string_view message) const {
  return error_at(std::min(text_.size(), index_ + 1), message);
}

PlanReadError PlanJsonReader::fix_position(PlanReadError error) const {
  if (error.line != 0) return error;
  PlanReadError positioned = this->error(error.message);
  return positioned;
}

PlanRead<std::string_view> PlanJsonReader::parse_literal(int first, PlanContent* content) {
  eat_char();
  const std::string_view rest = first == 'n' ? "ull" : first == 't' ? "rue" : "alse";
  if (auto ident = parse_ident(rest); !ident) return std::unexpected(ident.error());
  if (content != nullptr && first == 'n') content->add_null();
  if (content != nullptr && first != 'n') content->add_bool(first == 't');
  return first == 'n' ? "null" : first == 't' ? "boolean `true`" : "boolean `false`";
}

PlanReadError PlanJsonReader::peek_invalid_type(std::string_view expected) {
  std::string found;
  switch (const int c = peek_or_null()) {
    case 'n':
    case 't':
    case 'f': {
      const auto literal = parse_literal(c);
      if (!literal) return literal.error();
      found = *literal;
      break;
    }
    case '-':
    case '0':
    case '1':
    case '2':
    case '3':
    case '4':
    case '5':
    case '6':
    case '7':
    case '8':
    case '9': {
      const auto number = parse_number();
      if (!number) return number.error();
      found = found_number_text(*number);
      break;
    }
    case '"': {
      eat_char();
      const auto text = parse_str();
      if (!text) return text.error();
      found = found_string_text(*text);
      break;
    }
    case '[':
      found = "sequence";
      break;
    case '{':
      found = "map";
      break;
    default:
      return peek_error(kExpectedValue);
  }
  return fix_position(PlanReadError{invalid_type_message(found, expected)});
}

PlanRead<bool> PlanJsonReader::has_next_element(SeqState& seq) {
  const int c = parse_whitespace();
  if (c < 0) return std::unexpected(peek_error(kEofList));
  if (c == ']') return false;
  if (seq.first) {
    seq.first = false;
    return true;
  }
  if (c != ',') return std::unexpected(peek_error(kExpectedListCommaOrEnd));
  eat_char();
  const int next = parse_whitespace();
  if (next == ']') return std::unexpected(peek_error(kTrailingComma));
  if (next < 0) return std::unexpected(peek_error(kEofValue));
  return true;
}

PlanRead<std::optional<std::string>> PlanJsonReader::next_key(MapState& map) {
  int c = parse_whitespace();
  if (c == '}') return std::nullopt;
  if (c == ',' && !map.first) {
    eat_char();
    c = parse_whitespace();
  } else if (c >= 0) {
    if (!map.first) return std::unexpected(peek_error(kExpectedObjectCommaOrEnd));
    map.first = false;
  } else {
    return std::unexpected(peek_error(kEofObject));
  }
  if (c == '"') {
    eat_char();
    auto key = parse_str();
    if (!key) return std::unexpected(std::move(key.error()));
    return std::optional(std::move(*key));
  }
  if (c == '}') return std::unexpected(peek_error(kTrailingComma));
  if (c >= 0) return std::unexpected(peek_error(kKeyMustBeAString));
  return std::unexpected(peek_error(kEofValue));
}

PlanRead<void> PlanJsonReader::end_seq() {
  const int c = parse_whitespace();
  if (c == ']') {
    eat_char();
    return {};
  }
  if (c == ',') {
    eat_char();
    if (parse_whitespace() == ']') return std::unexpected(peek_error(kTrailingComma));
    return std::unexpected(peek_error(kTrailingCharacters));
  }
  if (c >= 0) return std::unexpected(peek_error(kTrailingCharacters));
  return std::unexpected(peek_error(kEofList));
}

PlanRead<void> PlanJsonReader::end_map() {
  const int c = parse_whitespace();
  if (c == '}') {
    eat_char();
    return {};
  }
  if (c == ',') return std::unexpected(peek_error(kTrailingComma));
  if (c >= 0) return std::unexpected(peek_error(kTrailingCharacters));
  return std::unexpected(peek_error(kEofObject));
}

PlanRead<void> PlanJsonReader::parse_object_colon() {
  const int c = parse_whitespace();
  if (c == ':') {
    eat_char();
    return {};
  }
  if (c >= 0) return std::unexpected(peek_error(kExpectedColon));
  return std::unexpected(peek_error(kEofObject));
}

PlanRead<void> PlanJsonReader::parse_ident(std::string_view rest) {
  for (const char expected : rest) {
    const int c = next_char();
    if (c < 0) return std::unexpected(error(kEofValue));
    if (c != static_cast<unsigned char>(expected)) return std::unexpected(error(kExpectedIdent));
  }
  return {};
}

PlanRead<void> PlanJsonReader::end() {
  if (parse_whitespace() >= 0) return std::unexpected(peek_error(kTrailingCharacters));
  return {};
}

PlanRead<std::string> PlanJsonReader::read_string(std::string_view expected) {
  const int c = parse_whitespace();
  if (c < 0) return std::unexpected(peek_error(kEofValue));
  if (c != '"') return std::unexpected(peek_invalid_type(expected));
  eat_char();
  return parse_str();
}

PlanRead<PlanNumber> PlanJsonReader::read_number(std::string_view expected) {
  const int c = parse_whitespace();
  if (c < 0) return std::unexpected(peek_error(kEofValue));
  if (c == '-' || is_json_digit(static_cast<char>(c))) return parse_number();
  return std::unexpected(peek_invalid_type(expected));
}

// Numbers: the grammar first, then the value. An integer keeps its value while it fits 64 bits;
// every other number is read as the nearest double of its whole text. A problem of the grammar
// is positioned at the byte refused, or at the end of the text.
PlanReadError PlanJsonReader::number_fault(const JsonNumberScan& scan,
                                           std::string_view at_end) const {
  if (scan.valid) return error_at(scan.end + 1, kInvalidNumber);  // a digit after a leading zero
  return error_at(std::min(text_.size(), scan.end + 1),
                  scan.end == text_.size() ? at_end : kInvalidNumber);
}

PlanRead<PlanNumber> PlanJsonReader::parse_number() {
  const std::size_t start = index_;
  const JsonNumberScan scan = scan_json_number(text_, start);
  if (!number_taken(scan)) return std::unexpected(number_fault(scan, kEofValue));
  index_ = scan.end;
  const bool positive = text_[start] != '-';
  PlanNumber number;
  if (scan.is_integer()) {
    std::uint64_t significand = 0;
    bool fits = true;
    for (std::size_t i = scan.integer_begin; i < scan.integer_end && fits; ++i) {
      const auto digit = static_cast<std::uint64_t>(text_[i] - '0');
      fits = !__builtin_mul_overflow(significand, 10, &significand) &&
             !__builtin_add_overflow(significand, digit, &significand);
    }
    if (!fits) return finish_float(start, positive);
    if (positive || significand == 0) {
      // "-0" is the integer 0, as everywhere else in the house's JSON reading.
      number.u64 = significand;
    } else if (significand <= (std::uint64_t{1} << 63)) {
      number.kind = PlanNumber::Kind::I64;
      number.i64 = static_cast<std::int64_t>(0 - significand);
    } else {
      // Integers below the signed range are doubles.
      number.kind = PlanNumber::Kind::F64;
      number.f64 = -static_cast<double>(significand);
    }
    return number;
  }
  if (scan.exponent_begin != 0) {
    // An exponent beyond 32 bits: a non-zero number with a positive one is out of range at the
    // digit that overflows; otherwise the value is zero.
    std::int32_t exponent = 0;
    for (std::size_t i = scan.exponent_begin; i < scan.end; ++i) {
      const int digit = text_[i] - '0';
      constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
      if (exponent > kMax / 10 || (exponent == kMax / 10 && digit > kMax % 10)) {
        const std::string_view mantissa =
            text_.substr(scan.integer_begin, scan.fraction_end - scan.integer_begin);
        const bool zero_mantissa = mantissa.find_first_not_of("0.") == std::string_view::npos;
        if (!zero_mantissa && text_[scan.exponent_begin - 1] != '-') {
          return std::unexpected(error_at(i + 1, kNumberOutOfRange));
        }
        number.kind = PlanNumber::Kind::F64;
        number.f64 = positive ? 0.0 : -0.0;
        return number;
      }
      exponent = exponent * 10 + digit;
    }
  }
  return finish_float(start, positive);
}

PlanRead<PlanNumber> PlanJsonReader::finish_float(std::size_t start, bool positive) {
  const std::string_view text = text_.substr(start, index_ - start);
  PlanNumber number;
  number.kind = PlanNumber::Kind::F64;
  double value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec == std::errc() && std::isfinite(value)) {
    number.f64 = value;
    return number;
  }
  // Out of range: the magnitude tells overflow from underflow, which is no error (the value is
  // the nearest double, zero when none is nearer).
  if (json_number_magnitude(text).value_or(0) > 1) {
    return std::unexpected(error(kNumberOutOfRange));
  }
  if (text.size() <= 800) {
    const std::string copy(text);
    number.f64 = std::strtod(copy.c_str(), nullptr);
  } else {
    number.f64 = positive ? 0.0 : -0.0;
  }
  return number;
}

PlanRead<void> PlanJsonReader::ignore_number() {
  // The skipping scanner says "invalid number" also at the end of the text.
  const JsonNumberScan scan = scan_json_number(text_, index_);
  if (!number_taken(scan)) return std::unexpected(number_fault(scan, kInvalidNumber));
  index_ = scan.end;
  return {};
}

PlanRead<std::uint16_t> PlanJsonReader::decode_hex_escape() {
  if (text_.size() - index_ < 4) {
    index_ = text_.size();
    return std::unexpected(error(kEofString));
  }
  const std::optional<std::uint16_t> unit = json_hex_unit(text_.substr(index_, 4));
  index_ += 4;
  if (!unit) return std::unexpected(error(kInvalidEscape));
  return *unit;
}

void PlanJsonReader::skip_to_escape() {
  while (index_ < text_.size()) {
    const auto c = static_cast<unsigned char>(text_[index_]);
    if (c == '"' || c == '\\' || c < 0x20) return;
    ++index_;
  }
}

PlanRead<void> PlanJsonReader::parse_escape(std::string* out) {
  const int escape = next_char();
  char decoded = 0;
  switch (escape) {
    case -1:
      return std::unexpected(error(kEofString));
    case '"':
    case '\\':
    case '/':
      decoded = static_cast<char>(escape);
      break;
    case 'b':
      decoded = '\b';
      break;
    case 'f':
      decoded = '\f';
      break;
    case 'n':
      decoded = '\n';
      break;
    case 'r':
      decoded = '\r';
      break;
    case 't':
      decoded = '\t';
      break;
    case 'u':
      return parse_unicode_escape(out);
    default:
      return std::unexpected(error(kInvalidEscape));
  }
  if (out != nullptr) out->push_back(decoded);
  return {};
}

PlanRead<void> PlanJsonReader::parse_unicode_escape(std::string* out) {
  const auto unit = decode_hex_escape();
  if (!unit) return std::unexpected(unit.error());
  // Skipped strings take any four hexadecimal digits: surrogates are not paired there.
  if (out == nullptr) return {};
  if (is_trailing_surrogate(*unit)) return std::unexpected(error(kLoneSurrogate));
  if (!is_leading_surrogate(*unit)) {
    append_utf8(*out, *unit);
    return {};
  }
  // A leading surrogate must be followed by "\u" and a trailing one.
  for (const char expected : {'\\', 'u'}) {
    const int next = peek();
    if (next < 0) return std::unexpected(error(kEofString));
    eat_char();
    if (next != expected) return std::unexpected(error(kUnexpectedEndOfHexEscape));
  }
  const auto low = decode_hex_escape();
  if (!low) return std::unexpected(low.error());
  if (!is_trailing_surrogate(*low)) return std::unexpected(error(kLoneSurrogate));
  append_utf8(*out, surrogate_pair_code_point(*unit, *low));
  return {};
}

PlanRead<std::string> PlanJsonReader::parse_str() {
  std::string out;
  std::size_t run_start = index_;
  while (true) {
    skip_to_escape();
    if (index_ == text_.size()) return std::unexpected(error(kEofString));
    const char c = text_[index_];
    out.append(text_.substr(run_start, index_ - run_start));
    ++index_;
    if (c == '"') return out;
    if (c != '\\') return std::unexpected(error(kControlCharacter));
    if (auto escape = parse_escape(&out); !escape) return std::unexpected(escape.error());
    run_start = index_;
  }
}

PlanRead<void> PlanJsonReader::ignore_str() {
  while (true) {
    skip_to_escape();
    if (index_ == text_.size()) return std::unexpected(error(kEofString));
    const char c = text_[index_];
    // Unlike a string that is read, the skipping scanner stops before a control character.
    if (c != '"' && c != '\\') return std::unexpected(error(kControlCharacter));
    ++index_;
    if (c == '"') return {};
    if (auto escape = parse_escape(nullptr); !escape) return escape;
  }
}

PlanRead<void> PlanJsonReader::ignore_value() {
  // Open containers wait on an explicit stack: no recursion and no depth limit.
  std::vector<char> stack;
  char enclosing = 0;  // the innermost open container, when not on the stack
  while (true) {
    const int c = parse_whitespace();
    if (c < 0) return std::unexpected(peek_error(kEofValue));
    char frame = 0;  // a container just opened
    switch (c) {
      case 'n':
      case 't':
      case 'f':
        if (auto literal = parse_literal(c); !literal) return std::unexpected(literal.error());
        break;
      case '-':
        if (auto number = ignore_number(); !number) return std::unexpected(number.error());
        break;
      case '"':
        eat_char();
        if (auto text = ignore_str(); !text) return std::unexpected(text.error());
        break;
      case '[':
      case '{':
        if (enclosing != 0) stack.push_back(enclosing);
        enclosing = 0;
        eat_char();
        frame = static_cast<char>(c);
        break;
      default:
        if (!is_json_digit(static_cast<char>(c)))
          return std::unexpected(peek_error(kExpectedValue));
        if (auto number = ignore_number(); !number) return std::unexpected(number.error());
    }
    bool accept_comma = false;
    if (frame != 0) {
      accept_comma = false;
    } else if (enclosing != 0) {
      accept_comma = true;
      frame = enclosing;
      enclosing = 0;
    } else if (!stack.empty()) {
      accept_comma = true;
      frame = stack.back();
      stack.pop_back();
    } else {
      return {};
    }
    // Close every container that ends here; stop after a comma or before a first element.
    while (true) {
      const int next = parse_whitespace();
      if (next == ',' && accept_comma) {
        eat_char();
        break;
      }
      const bool closes = (next == ']' && frame == '[') || (next == '}' && frame == '{');
      if (!closes) {
        if (next < 0) return std::unexpected(peek_error(frame == '[' ? kEofList : kEofObject));
        if (accept_comma) {
          return std::unexpected(
              peek_error(frame == '[' ? kExpectedListCommaOrEnd : kExpectedObjectCommaOrEnd));
        }
        break;
      }
      eat_char();
      if (stack.empty()) return {};
      frame = stack.back();
      stack.pop_back();
      accept_comma = true;
    }
    if (frame == '{') {
      const int quote = parse_whitespace();
      if (quote < 0) return std::unexpected(peek_error(kEofValue));
      if (quote != '"') return std::unexpected(peek_error(kKeyMustBeAString));
      eat_char();
      if (auto key = ignore_str(); !key) return std::unexpected(key.error());
      const int colon = parse_whitespace();
      if (colon < 0) return std::unexpected(peek_error(kEofObject));
      if (colon != ':') return std::unexpected(peek_error(kExpectedColon));
      eat_char();
    }
    enclosing = frame;
  }
}

PlanRead<void> PlanJsonReader::read_record_content(std::string_view expected,
                                                   PlanContent& content) {
  const int c = parse_whitespace();
  if (c < 0) return std::unexpected(peek_error(kEofValue));
  if (c != '[' && c != '{') return std::unexpected(peek_invalid_type(expected));
  return read_content(content);
}

PlanRead<void> PlanJsonReader::read_content(PlanContent& content) {
  const int c = parse_whitespace();
  if (c < 0) return std::unexpected(peek_error(kEofValue));
  switch (c) {
    case 'n':
    case 't':
    case 'f':
      if (auto literal = parse_literal(c, &content); !literal) {
        return std::unexpected(literal.error());
      }
      return {};
    case '"': {
      eat_char();
      auto text = parse_str();
      if (!text) return std::unexpected(std::move(text.error()));
      content.add_string(*text);
      return {};
    }
    case '[':
    case '{': {
      if (!enter()) return std::unexpected(peek_error(kRecursionLimit));
      eat_char();
      const std::size_t container =
          content.open(c == '[' ? PlanContent::Kind::Seq : PlanContent::Kind::Map);
      std::size_t count = 0;
      PlanRead<void> filled;
      if (c == '[') {
        SeqState seq;
        while (filled) {
          auto more = has_next_element(seq);
          if (!more) {
            filled = std::unexpected(std::move(more.error()));
          } else if (!*more) {
            break;
          } else {
            filled = read_content(content);
            ++count;
          }
        }
      } else {
        MapState map;
        while (filled) {
          auto key = next_key(map);
          if (!key) {
            filled = std::unexpected(std::move(key.error()));
            break;
          }
          if (!*key) break;
          content.add_string(**key);
          filled = next_value([&] { return read_content(content); });
          ++count;
        }
      }
      leave();
      content.close(container, count);
      const PlanRead<void> end = c == '[' ? end_seq() : end_map();
      if (!filled) return filled;
      return end;
    }
    default:
      break;
  }
  if (c != '-' && !is_json_digit(static_cast<char>(c))) {
    return std::unexpected(peek_error(kExpectedValue));
  }
  auto number = parse_number();
  if (!number) return std::unexpected(number.error());
  content.add_number(*number);
  return {};
}

}  // namespace orvik
