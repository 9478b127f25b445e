#pragma once
// Value texts, report rows and JSON change objects shared by every report, so the same kind of
// value always looks the same.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "artifact_kind/artifact_kind.hpp"
#include "util/json.hpp"
#include "util/name_list.hpp"
#include "util/result.hpp"

namespace orvik {

// "same", "+N" or "-N" for new against old.
std::string count_delta_text(std::uint64_t old_value, std::uint64_t new_value);
// "unlimited" when negative, else the integer.
std::string depth_text(std::int64_t depth);
// 999 -> "999", 1000 -> "1.0K", 1000000 -> "1.0M", 1000000000 -> "1.0B".
std::string human_count_text(std::uint64_t count);

// "  {label}: {value}" or "  {label}: unknown".
void print_field_row(std::string_view label, std::optional<std::string> value);

// Change rows: "{label}:" and then one line comparing old and new.
void print_size_change_row(std::string_view label, std::uint64_t old_bytes,
                           std::uint64_t new_bytes);
void print_count_change_row(std::string_view label, std::uint64_t old_count,
                            std::uint64_t new_count);
void print_optional_count_change_row(std::string_view label, std::optional<std::uint64_t> old_count,
                                     std::optional<std::uint64_t> new_count);
void print_float_change_row(std::string_view label, std::optional<double> old_value,
                            std::optional<double> new_value);
void print_text_change_row(std::string_view label, const std::optional<std::string>& old_text,
                           const std::optional<std::string>& new_text);
void print_fingerprint_change_row(std::string_view label, std::optional<Fingerprint> old_value,
                                  std::optional<Fingerprint> new_value);

// The "Feature name changes:" block: added and removed names, at most 12 of each listed.
void print_feature_name_changes(const NameList& old_names, const NameList& new_names);

// One list of a change block: "  {heading}:", the first 12 entries as "    {entry}", then
// "    ... N more"; nothing at all when there are no entries.
void print_change_list(std::string_view heading, const std::vector<std::string_view>& entries);
// The same for `count` entries, entry i written by `describe(i)`; only the listed ones are.
void print_change_list(std::string_view heading, std::size_t count,
                       const std::function<std::string(std::size_t)>& describe);

// Writes the value pretty with a trailing newline; "serialize JSON: {}" when that fails.
CommandResult print_json(const JsonValue& value);
CommandResult print_json(const std::vector<JsonValue>& values);
// Records written in field order.
CommandResult print_json(const OrderedJson& value);
// A document written piece by piece as it is produced, with a trailing newline; "serialize JSON:
// {}", with nothing printed, when a string is not UTF-8.
CommandResult print_json_stream(const std::function<void(JsonStream&)>& write);

// One optional value as JSON: absent is null; a non-finite float is null; a fingerprint is its
// "0x..." text.
JsonValue optional_count_json(std::optional<std::uint64_t> value);
JsonValue optional_float_json(std::optional<double> value);
JsonValue optional_text_json(const std::optional<std::string>& value);
JsonValue optional_fingerprint_json(std::optional<Fingerprint> value);

// new - old as an exact signed JSON integer.
JsonValue delta_json(std::uint64_t old_value, std::uint64_t new_value);

// Change objects {"old", "new", "delta", "changed"} between two versions of an artifact.
JsonValue change_json(std::uint64_t old_value, std::uint64_t new_value);
JsonValue count_change_json(std::optional<std::uint64_t> old_value,
                            std::optional<std::uint64_t> new_value);
JsonValue float_change_json(std::optional<double> old_value, std::optional<double> new_value);
JsonValue text_change_json(const std::optional<std::string>& old_text,
                           const std::optional<std::string>& new_text);
JsonValue fingerprint_change_json(std::optional<Fingerprint> old_value,
                                  std::optional<Fingerprint> new_value);

}  // namespace orvik
