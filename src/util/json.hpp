#pragma once
// The JSON value tree and the one writer every report uses. The library's own dump() differs from
// our number rules (1e-07, 1e+16), so text is always produced by write_json.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "util/name_list.hpp"
#include "util/result.hpp"

namespace orvik {

// Objects keep their members in ascending byte order of their keys.
using JsonValue = nlohmann::json;
// Objects keep their members in insertion order: records written in field order.
using OrderedJson = nlohmann::ordered_json;

enum class JsonStyle { Pretty, Compact };

// Pretty: two-space indent, "key": value, {} and [] for empty containers, no trailing newline.
// Compact: no white space between tokens.
// Strings escape only '"', '\\' and control characters; integers in plain decimal; other numbers
// as the shortest round-trip digits, plain decimal with at least one fractional digit for
// magnitudes in [1e-5, 1e16), otherwise digits and exponent (1e-7, 1.5e17); NaN and infinities
// as null. Fails (with the message) only on a string that is not valid UTF-8.
Result<std::string> write_json(const JsonValue& value, JsonStyle style = JsonStyle::Pretty);

// The writer's pieces, for code that writes JSON text as it goes: a string (which must be UTF-8)
// quoted and escaped, and numbers, exactly as write_json writes them.
void append_json_string(std::string& out, std::string_view text);
void append_json_number(std::string& out, std::int64_t value);
void append_json_number(std::string& out, std::uint64_t value);
void append_json_number(std::string& out, double value);
Result<std::string> write_json(const OrderedJson& value, JsonStyle style = JsonStyle::Pretty);

// The pretty form of write_json, produced piece by piece and handed to `sink` in chunks, for
// documents whose lists are too long to be built as a value tree first. The caller opens and
// closes containers in order and gives the members of an object in the order they are to appear.
class JsonStream {
 public:
  // Without a sink nothing is written: the stream only finds the error the same calls would end
  // in, for callers that must print nothing at all when a document cannot be written.
  explicit JsonStream(std::function<void(std::string_view)> sink) : sink_(std::move(sink)) {}

  void begin_object() { open('{'); }
  void begin_array() { open('['); }
  // Closes the innermost open container.
  void end();
  // The key of the next member of the innermost object; its value comes next.
  void key(std::string_view key);
  // A whole value: an array element, or the value of the member whose key came last.
  void value(const JsonValue& value);
  void value(const OrderedJson& value);
  void string(std::string_view text);
  // An array of the names.
  void names(const NameList& names);

  // Hands over the rest. The error is the writer's message for the first string that was not
  // UTF-8; the text before that string has been handed over already, nothing after it.
  CommandResult finish();

 private:
  struct Level {
    bool is_object;
    bool empty;
  };

  void open(char bracket);
  void before_value();
  void new_line();
  bool put_string(std::string_view text);
  void hand_over(bool all);

  std::function<void(std::string_view)> sink_;
  std::string text_;  // not handed over yet
  std::vector<Level> levels_;
  bool key_written_ = false;
  std::string error_;
};

// Builds a value tree from the calls a JsonStream takes, so that one function can write a
// document both ways: as text while it goes, or as a value. Members land in the tree's own order
// (objects sort their keys), so a writer that gives them in ascending byte order of their keys
// produces the same text either way.
class JsonBuilder {
 public:
  void begin_object() { open(JsonValue::object()); }
  void begin_array() { open(JsonValue::array()); }
  void end() { open_.pop_back(); }
  void key(std::string_view key) { key_ = key; }
  void value(const JsonValue& value) { place(value); }
  // Any bytes: a text that is not UTF-8 fails only when the value is written.
  void string(std::string_view text) { place(JsonValue(std::string(text))); }

  // The value built so far; the builder is left empty.
  JsonValue take() { return std::move(root_); }

 private:
  JsonValue* place(JsonValue value);
  void open(JsonValue container) { open_.push_back(place(std::move(container))); }

  JsonValue root_;
  std::vector<JsonValue*> open_;  // the innermost last; an open container never moves
  std::string key_;
};

// The value `write` gives a builder.
template <class Write>
JsonValue build_json(Write&& write) {
  JsonBuilder builder;
  write(builder);
  return builder.take();
}

// The whole text `write` gives a stream (no trailing newline); the error is the writer's message.
Result<std::string> stream_json_text(const std::function<void(JsonStream&)>& write);

// A list of names as a JSON array of strings: written to a stream, or as a value.
void write_name_array(JsonStream& out, const NameList& names);
template <class Json>
Json name_array_json(const NameList& names) {
  Json array = Json::array();
  for (const std::string_view name : names)
    array.push_back(std::string(name));
  return array;
}

// Writes `object` (either flavour) member by member in its own order; the member `names_key`, a
// placeholder in `object`, is written as the array of `names`.
template <class Json>
void write_object_with_names(JsonStream& out, const Json& object, std::string_view names_key,
                             const NameList& names) {
  out.begin_object();
  for (const auto& [key, value] : object.items()) {
    out.key(key);
    if (key == names_key) {
      write_name_array(out, names);
    } else {
      out.value(value);
    }
  }
  out.end();
}

// One document for a list of items: the item alone when there is one, else an array of them.
template <class T, class Write>
void write_documents(JsonStream& out, const std::vector<T>& items, Write&& write) {
  if (items.size() == 1) {
    write(out, items.front());
    return;
  }
  out.begin_array();
  for (const T& item : items)
    write(out, item);
  out.end();
}

// Parses one JSON value covering the whole text; the error carries the library's message.
Result<JsonValue> parse_json(std::string_view text);

// An optional value as JSON (either flavour): null when absent.
template <class Json = JsonValue, class T>
Json optional_json(const std::optional<T>& value) {
  if (!value) return Json(nullptr);
  return Json(*value);
}

// An array of `to_json(item)` for each item, in order.
template <class Range, class ToJson>
JsonValue json_array_of(const Range& items, ToJson to_json) {
  JsonValue array = JsonValue::array();
  for (const auto& item : items)
    array.push_back(to_json(item));
  return array;
}

// A double as a JSON number, or null when it is not finite.
JsonValue json_number_or_null(double value);

}  // namespace orvik
