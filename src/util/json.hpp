#pragma once
// The JSON value tree and the one writer every report uses. The library's own dump() differs from
// our number rules (1e-07, 1e+16), so text is always produced by write_json.
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

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
Result<std::string> write_json(const OrderedJson& value, JsonStyle style = JsonStyle::Pretty);

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
