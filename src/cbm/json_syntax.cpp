#include "cbm/json_syntax.hpp"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "util/text.hpp"

namespace orvik {
namespace {

bool is_digit(char c) {
  return c >= '0' && c <= '9';
}

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

class Checker {
 public:
  explicit Checker(std::string_view text) : text_(text) {}

  bool run() {
    skip_space();
    // Containers are handled iteratively: `stack_` holds '{' or '[' per open level, and opening
    // a non-empty container leaves its first value still to read.
    bool value_due = true;
    while (true) {
      if (value_due) {
        if (!value(value_due)) return false;
        continue;
      }
      if (stack_.empty()) break;
      skip_space();
      if (at_end()) return false;
      const char c = text_[pos_++];
      const bool in_object = stack_.back() == '{';
      if (c == (in_object ? '}' : ']')) {
        stack_.pop_back();
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
    if (!string_rest()) return false;
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
        skip_space();
        if (!at_end() && text_[pos_] == '}') {
          ++pos_;
          return true;
        }
        stack_.push_back('{');
        value_due = true;
        return member_key();
      case '[':
        ++pos_;
        skip_space();
        if (!at_end() && text_[pos_] == ']') {
          ++pos_;
          return true;
        }
        stack_.push_back('[');
        value_due = true;
        return true;
      case '"':
        ++pos_;
        return string_rest();
      case 't':
        return literal("true");
      case 'f':
        return literal("false");
      case 'n':
        return literal("null");
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
  int code_unit() {
    if (text_.size() - pos_ < 4) return -1;
    int unit = 0;
    for (int i = 0; i < 4; ++i) {
      const int digit = hex_value(text_[pos_ + i]);
      if (digit < 0) return -1;
      unit = unit * 16 + digit;
    }
    pos_ += 4;
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
          const int unit = code_unit();
          if (unit < 0) return false;
          if (unit >= 0xDC00 && unit <= 0xDFFF) return false;
          if (unit >= 0xD800 && unit <= 0xDBFF) {
            if (text_.substr(pos_, 2) != "\\u") return false;
            pos_ += 2;
            const int low = code_unit();
            if (low < 0xDC00 || low > 0xDFFF) return false;
          }
          break;
        }
        default:
          return false;
      }
    }
    return false;
  }

  // -?(0|[1-9][0-9]*)(\.[0-9]+)?([eE][+-]?[0-9]+)?, whose value must not overflow a double.
  bool number() {
    const std::size_t start = pos_;
    if (text_[pos_] == '-') ++pos_;
    if (at_end() || !is_digit(text_[pos_])) return false;
    if (text_[pos_] == '0') {
      ++pos_;
    } else {
      skip_digits();
    }
    if (!at_end() && text_[pos_] == '.') {
      ++pos_;
      if (at_end() || !is_digit(text_[pos_])) return false;
      skip_digits();
    }
    if (!at_end() && (text_[pos_] == 'e' || text_[pos_] == 'E')) {
      ++pos_;
      if (!at_end() && (text_[pos_] == '+' || text_[pos_] == '-')) ++pos_;
      if (at_end() || !is_digit(text_[pos_])) return false;
      skip_digits();
    }
    const std::string_view token = text_.substr(start, pos_ - start);
    const std::optional<std::int64_t> magnitude = json_number_magnitude(token);
    if (!magnitude) return true;  // zero
    // The largest double is about 1.8e308: below 10^308 always fits, 10^309 and up never does.
    if (*magnitude <= 308) return true;
    if (*magnitude >= 310) return false;
    return std::isfinite(std::strtod(std::string(token).c_str(), nullptr));
  }

  void skip_digits() {
    while (!at_end() && is_digit(text_[pos_]))
      ++pos_;
  }

  std::string_view text_;
  std::size_t pos_ = 0;
  std::vector<char> stack_;
};

}  // namespace

bool is_json_text(std::string_view text) {
  return Checker(text).run();
}

}  // namespace orvik
