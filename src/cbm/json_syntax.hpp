#pragma once
// A fast yes/no JSON syntax check, run on every brace span of a CatBoost file before the JSON
// library builds a value from it. Hostile files can hold millions of spans that are not JSON,
// and the library's rejection (with its formatted message) costs far more than this check.
#include <string_view>

namespace orvik {

// Whether the JSON library's strict parser (nlohmann, no comments) accepts `text` as one JSON
// value with nothing but white space around it: the RFC 8259 grammar, strings without raw
// control characters and with well-formed \u escapes (surrogates in valid pairs only), and
// numbers that do not overflow a double; like the library, it takes a NUL byte after the value
// for the end of the input. `text` must be valid UTF-8 (strings are not re-checked).
// Nesting depth is limited only by the length of the text.
bool is_json_text(std::string_view text);

}  // namespace orvik
