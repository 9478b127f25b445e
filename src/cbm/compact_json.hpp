#pragma once
// The compact, key-sorted rewrite of one embedded JSON text, made while the text is parsed,
// without building the value tree: a tree costs tens of bytes per nesting level, and a hostile
// file can nest millions of levels.
#include <optional>
#include <string>
#include <string_view>

namespace orvik {

struct CompactJson {
  // Exactly write_json(parse_json(text), JsonStyle::Compact): object members in ascending byte
  // order of their keys, the last of duplicate keys kept, no white space.
  std::string text;
  // The top-level object has a member "boosting_options" (of any type).
  bool has_boosting_options = false;
  // The JSON pointer "/metrics/learn_best_error" resolves.
  bool has_learn_best_error = false;
};

// Nothing when the text is not one JSON value (the JSON library's strict reading).
std::optional<CompactJson> compact_json(std::string_view text);

}  // namespace orvik
