#include "cbm/json_syntax.hpp"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "util/json_grammar.hpp"
#include "util/text.hpp"

namespace orvik {

void unescape_json_string(std::string_view raw, std::string& out) {
  out.clear();
  for (std::size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] != '\\') {
      out.push_back(raw[i]);
      continue;
    }
    const char c = raw[++i];
    switch (c) {
      case 'b':
        out.push_back('\b');
        break;
      case 'f':
        out.push_back('\f');
        break;
      case 'n':
        out.push_back('\n');
        break;
      case 'r':
        out.push_back('\r');
        break;
      case 't':
        out.push_back('\t');
        break;
      case 'u': {
        char32_t unit = *json_hex_unit(raw.substr(i + 1));
        i += 4;
        if (is_leading_surrogate(unit)) {  // "\\u" and the trailing one follow
          unit = surrogate_pair_code_point(unit, *json_hex_unit(raw.substr(i + 3)));
          i += 6;
        }
        append_utf8(out, unit);
        break;
      }
      default:  // '"', '\\' or '/'
        out.push_back(c);
        break;
    }
  }
}

namespace {

// A number token that has been checked, as the JSON library keeps it.
void report_number(std::string_view token, JsonEvents& events) {
  const char* first = token.data();
  const char* last = token.data() + token.size();
  if (token.find_first_of(".eE") == std::string_view::npos) {
    if (token.front() == '-') {
      std::int64_t value = 0;
      if (std::from_chars(first, last, value).ec == std::errc()) return events.number(value);
    } else {
      std::uint64_t value = 0;
      if (std::from_chars(first, last, value).ec == std::errc()) return events.number(value);
    }
  }
  // Correctly rounded, like strtod; a value too small for a double goes to strtod for its
  // nearest value (zero or a subnormal).
  double value = 0;
  if (std::from_chars(first, last, value).ec != std::errc())
    value = std::strtod(std::string(token).c_str(), nullptr);
  events.number(value);
}

// Which containers are open, a bit each (object or array): values can nest millions deep.
class OpenContainers {
 public:
  bool empty() const { return depth_ == 0; }
  bool top_is_object() const { return (words_[(depth_ - 1) / 64] >> ((depth_ - 1) % 64)) & 1; }

  void push(bool object) {
    if (depth_ % 64 == 0) words_.push_back(0);
    if (object) words_.back() |= std::uint64_t{1} << (depth_ % 64);
    ++depth_;
  }

  void pop() {
    --depth_;
    if (depth_ % 64 == 0) {
      words_.pop_back();
    } else {
      words_.back() &= ~(std::uint64_t{1} << (depth_ % 64));
    }
  }

 private:
  std::vector<std::uint64_t> words_;
  std::size_t depth_ = 0;
};

class Checker {
 public:
  Checker(std::string_view text, JsonEvents* events) : text_(text), events_(events) {}

  bool run() {
    skip_space();
    // Containers are handled iteratively: `open_` knows which are open, and opening
    // a non-empty container leaves its first value still to read.
    bool value_due = true;
    while (true) {
      if (value_due) {
        if (!value(value_due)) return false;
        continue;
      }
      if (open_.empty()) break;
      skip_space();
      if (at_end()) return false;
      const char c = text_[pos_++];
      const bool in_object = open_.top_is_object();
      if (c == (in_object ? '}' : ']')) {
        open_.pop();
        if (events_ != nullptr) in_object ? events_->end_object() : events_->end_array();
        continue;
      }
      if (c != ',') return false;
      skip_space();
      if (in_object && !member_key()) return false;
      value_due = true;
    }
    skip_space();
    // The library takes a NUL byte for the end of its input.
    return at_end() || text_[pos_] == '\0';
  }

 private:
  bool at_end() const { return pos_ >= text_.size(); }

  void skip_space() {
    while (!at_end()) {
      const char c = text_[pos_];
      if (c != ' ' && c != '\t' && c != '\n' && c != '\r') return;
      ++pos_;
    }
  }

  // A key string, white space and the colon; the position is left at the member's value.
  bool member_key() {
    if (at_end() || text_[pos_] != '"') return false;
    ++pos_;
    const std::size_t start = pos_;
    if (!string_rest()) return false;
    if (events_ != nullptr) events_->key(string_value(start));
    skip_space();
    if (at_end() || text_[pos_] != ':') return false;
    ++pos_;
    skip_space();
    return true;
  }

  // One scalar value, or the opening of a container. `value_due` is set when a non-empty
  // container was opened, whose first value comes next.
  bool value(bool& value_due) {
    value_due = false;
    if (at_end()) return false;
    switch (text_[pos_]) {
      case '{':
        ++pos_;
        if (events_ != nullptr) events_->start_object();
        skip_space();
        if (!at_end() && text_[pos_] == '}') {
          ++pos_;
          if (events_ != nullptr) events_->end_object();
          return true;
        }
        open_.push(true);
        value_due = true;
        return member_key();
      case '[':
        ++pos_;
        if (events_ != nullptr) events_->start_array();
        skip_space();
        if (!at_end() && text_[pos_] == ']') {
          ++pos_;
          if (events_ != nullptr) events_->end_array();
          return true;
        }
        open_.push(false);
        value_due = true;
        return true;
      case '"': {
        const std::size_t start = ++pos_;
        if (!string_rest()) return false;
        if (events_ != nullptr) events_->string(string_value(start));
        return true;
      }
      case 't':
        if (!literal("true")) return false;
        if (events_ != nullptr) events_->boolean(true);
        return true;
      case 'f':
        if (!literal("false")) return false;
        if (events_ != nullptr) events_->boolean(false);
        return true;
      case 'n':
        if (!literal("null")) return false;
        if (events_ != nullptr) events_->null();
        return true;
      default:
        return number();
    }
  }

  bool literal(std::string_view word) {
    if (text_.substr(pos_, word.size()) != word) return false;
    pos_ += word.size();
    return true;
  }

  // Four hexadecimal digits after "\u".
  std::optional<std::uint16_t> code_unit() {
    if (text_.size() - pos_ < 4) return std::nullopt;
    const auto unit = json_hex_unit(text_.substr(pos_, 4));
    if (unit) pos_ += 4;
    return unit;
  }

  // The rest of a string after its opening quote, through the closing quote.
  bool string_rest() {
    while (!at_end()) {
      const auto c = static_cast<unsigned char>(text_[pos_++]);
      if (c == '"') return true;
      if (c < 0x20) return false;
      if (c != '\\') continue;
      if (at_end()) return false;
      switch (text_[pos_++]) {
        case '"':
        case '\\':
        case '/':
        case 'b':
        case 'f':
        case 'n':
        case 'r':
        case 't':
          break;
        case 'u': {
          const auto unit = code_unit();
          if (!unit || is_trailing_surrogate(*unit)) return false;
          if (is_leading_surrogate(*unit)) {
            if (text_.substr(pos_, 2) != "\\u") return false;
            pos_ += 2;
            const auto trailing = code_unit();
            if (!trailing || !is_trailing_surrogate(*trailing)) return false;
          }
          break;
        }
        default:
          return false;
      }
    }
    return false;
  }

  // A number of the JSON grammar whose value does not overflow a double.
  bool number() {
    const JsonNumberScan scan = scan_json_number(text_, pos_);
    if (!scan.valid) return false;
    const std::string_view token = text_.substr(pos_, scan.end - pos_);
    pos_ = scan.end;
    if (!fits_a_double(token)) return false;
    if (events_ != nullptr) report_number(token, *events_);
    return true;
  }

  static bool fits_a_double(std::string_view token) {
    const std::optional<std::int64_t> magnitude = json_number_magnitude(token);
    if (!magnitude) return true;  // zero
    // The largest double is about 1.8e308: below 10^308 always fits, 10^309 and up never does.
    if (*magnitude <= 308) return true;
    if (*magnitude >= 310) return false;
    return std::isfinite(std::strtod(std::string(token).c_str(), nullptr));
  }

  // The value of the string whose text runs from `start` to the closing quote just read.
  std::string_view string_value(std::size_t start) {
    const std::string_view raw = text_.substr(start, pos_ - 1 - start);
    if (raw.find('\\') == std::string_view::npos) return raw;
    unescape_json_string(raw, unescaped_);
    return unescaped_;
  }

  std::string_view text_;
  JsonEvents* events_;  // nothing: only the answer is wanted
  std::size_t pos_ = 0;
  OpenContainers open_;
  std::string unescaped_;
};

}  // namespace

bool is_json_text(std::string_view text) {
  return Checker(text, nullptr).run();
}

bool read_json_events(std::string_view text, JsonEvents& events) {
  return Checker(text, &events).run();
}

}  // namespace orvik
