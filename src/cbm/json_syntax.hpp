#pragma once
// The JSON reading of a CatBoost file's embedded values: a fast yes/no syntax check, and the same
// reading reporting each token as it goes, for code that rewrites a value without building its
// tree. Hostile files can hold millions of spans that are not JSON, and values nested millions of
// levels deep; the JSON library's rejection (with its formatted message) and its trees cost far
// more than this.
#include <cstdint>
#include <string>
#include <string_view>

namespace orvik {

// Whether the JSON library's strict parser (nlohmann, no comments) accepts `text` as one JSON
// value with nothing but white space around it: the RFC 8259 grammar, strings without raw
// control characters and with well-formed \u escapes (surrogates in valid pairs only), and
// numbers that do not overflow a double; like the library, it takes a NUL byte after the value
// for the end of the input. `text` must be valid UTF-8 (strings are not re-checked).
// Nesting depth is limited only by the length of the text.
bool is_json_text(std::string_view text);

// The tokens of a JSON text in reading order. Strings and keys come unescaped (UTF-8, surrogate
// pairs joined). Numbers come as the JSON library keeps them: without a fraction or an exponent,
// as an unsigned (no sign) or signed (with '-') 64-bit integer when the value fits; otherwise as
// the nearest double.
class JsonEvents {
 public:
  virtual void null() = 0;
  virtual void boolean(bool value) = 0;
  virtual void number(std::int64_t value) = 0;
  virtual void number(std::uint64_t value) = 0;
  virtual void number(double value) = 0;
  virtual void string(std::string_view value) = 0;
  virtual void start_object() = 0;
  virtual void key(std::string_view key) = 0;
  virtual void end_object() = 0;
  virtual void start_array() = 0;
  virtual void end_array() = 0;

 protected:
  ~JsonEvents() = default;
};

// The value of a JSON string from the text between its quotes, which must be well-formed (as
// is_json_text accepts it), into `out`.
void unescape_json_string(std::string_view raw, std::string& out);

// is_json_text, reporting the tokens to `events` as they are read. When the answer is no, the
// tokens reported so far are those of a prefix.
bool read_json_events(std::string_view text, JsonEvents& events);

}  // namespace orvik
