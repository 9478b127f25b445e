#pragma once
// The compact, key-sorted rewrite of one embedded JSON text, made while the text is parsed,
// without building the value tree: a tree costs tens of bytes per nesting level, and a hostile
// file can nest millions of levels. The rewrite itself costs about two bytes per open level.
#include <optional>
#include <string>
#include <string_view>

namespace orvik {

// What the rewrite notices about the value on the way.
struct CompactFlags {
  // The top-level object has a member "boosting_options" (of any type).
  bool has_boosting_options = false;
  // The JSON pointer "/metrics/learn_best_error" resolves.
  bool has_learn_best_error = false;
};

// Appends exactly write_json(parse_json(text), JsonStyle::Compact) to `out`: object members in
// ascending byte order of their keys, the last of duplicate keys kept, no white space. Nothing,
// with `out` unchanged, when the text is not one JSON value (the JSON library's strict reading).
std::optional<CompactFlags> append_compact_json(std::string_view text, std::string& out);

struct CompactJson {
  std::string text;
  CompactFlags flags;
};

// The rewrite as a text of its own.
std::optional<CompactJson> compact_json(std::string_view text);

}  // namespace orvik
