#include "reports/primitives.hpp"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>

#include <fmt/format.h>

#include "reports/changes.hpp"
#include "util/format.hpp"
#include "util/output.hpp"

namespace orvik {
namespace {

// The 64-bit float machine epsilon: float rows call two values the same below this difference.
constexpr double kFloatSameTolerance = 2.220446049250313e-16;

// At most this many entries are listed under "Added:", "Removed:" and "Changed:".
constexpr std::size_t kListedChangeLimit = 12;

// The "changed" rule of the optional forms: exactly one side present, or both present and
// different.
template <class T>
bool optional_changed(const std::optional<T>& old_value, const std::optional<T>& new_value) {
  if (old_value.has_value() != new_value.has_value()) return true;
  if (!old_value.has_value()) return false;
  return *old_value != *new_value;
}

// The second line of a text or fingerprint change row, in one of its five forms.
std::string presence_comparison(const std::optional<std::string>& old_text,
                                const std::optional<std::string>& new_text, bool equal) {
  if (old_text && new_text) {
    return fmt::format("  {} -> {} ({})", *old_text, *new_text, equal ? "same" : "changed");
  }
  if (new_text) return fmt::format("  unknown -> {}", *new_text);
  if (old_text) return fmt::format("  {} -> unknown", *old_text);
  return "  unknown";
}

void print_label_line(std::string_view label) {
  print_line(fmt::format("{}:", label));
}

CommandResult print_json_text(Result<std::string> text) {
  if (!text) return fail(fmt::format("serialize JSON: {}", text.error()));
  print_line(*text);
  return {};
}

}  // namespace

std::string count_delta_text(std::uint64_t old_value, std::uint64_t new_value) {
  if (new_value == old_value) return "same";
  if (new_value > old_value) return fmt::format("+{}", new_value - old_value);
  return fmt::format("-{}", old_value - new_value);
}

std::string depth_text(std::int64_t depth) {
  if (depth < 0) return "unlimited";
  return fmt::format("{}", depth);
}

std::string human_count_text(std::uint64_t count) {
  const auto n = static_cast<double>(count);
  if (count > 999'999'999) return format_fixed(n / 1e9, 1) + "B";
  if (count > 999'999) return format_fixed(n / 1e6, 1) + "M";
  if (count > 999) return format_fixed(n / 1000.0, 1) + "K";
  return fmt::format("{}", count);
}

void print_field_row(std::string_view label, std::optional<std::string> value) {
  if (value) {
    print_line(fmt::format("  {}: {}", label, *value));
  } else {
    print_line(fmt::format("  {}: unknown", label));
  }
}

void print_size_change_row(std::string_view label, std::uint64_t old_bytes,
                           std::uint64_t new_bytes) {
  print_label_line(label);
  print_line(fmt::format("  {} -> {} ({})", format_size(old_bytes), format_size(new_bytes),
                         count_delta_text(old_bytes, new_bytes)));
}

void print_count_change_row(std::string_view label, std::uint64_t old_count,
                            std::uint64_t new_count) {
  print_label_line(label);
  print_line(
      fmt::format("  {} -> {} ({})", old_count, new_count, count_delta_text(old_count, new_count)));
}

void print_optional_count_change_row(std::string_view label, std::optional<std::uint64_t> old_count,
                                     std::optional<std::uint64_t> new_count) {
  if (old_count && new_count) {
    print_count_change_row(label, *old_count, *new_count);
    return;
  }
  print_label_line(label);
  print_line("  unknown");
}

void print_float_change_row(std::string_view label, std::optional<double> old_value,
                            std::optional<double> new_value) {
  print_label_line(label);
  if (!old_value || !new_value) {
    print_line("  unknown");
    return;
  }
  const double delta = *new_value - *old_value;
  // NaN fails this comparison, so a NaN on either side prints the delta form.
  const std::string delta_text =
      std::fabs(delta) < kFloatSameTolerance ? std::string("same") : format_fixed_signed(delta, 6);
  print_line(fmt::format("  {} -> {} ({})", format_fixed(*old_value, 6),
                         format_fixed(*new_value, 6), delta_text));
}

void print_text_change_row(std::string_view label, const std::optional<std::string>& old_text,
                           const std::optional<std::string>& new_text) {
  print_label_line(label);
  const bool equal = old_text && new_text && *old_text == *new_text;
  print_line(presence_comparison(old_text, new_text, equal));
}

void print_fingerprint_change_row(std::string_view label, std::optional<Fingerprint> old_value,
                                  std::optional<Fingerprint> new_value) {
  print_label_line(label);
  const bool equal = old_value && new_value && *old_value == *new_value;
  std::optional<std::string> old_text;
  std::optional<std::string> new_text;
  if (old_value) old_text = format_fingerprint(*old_value);
  if (new_value) new_text = format_fingerprint(*new_value);
  print_line(presence_comparison(old_text, new_text, equal));
}

void print_feature_name_changes(const NameList& old_names, const NameList& new_names) {
  const NameSetChange change = name_set_change(old_names, new_names);
  print_line("Feature name changes:");
  if (change.empty()) {
    print_line("  none detected");
    return;
  }
  print_change_list("Added", change.added);
  print_change_list("Removed", change.removed);
}

void print_change_list(std::string_view heading, const std::vector<std::string_view>& entries) {
  print_change_list(heading, entries.size(),
                    [&](std::size_t i) { return std::string(entries[i]); });
}

void print_change_list(std::string_view heading, std::size_t count,
                       const std::function<std::string(std::size_t)>& describe) {
  if (count == 0) return;
  print_line(fmt::format("  {}:", heading));
  for (std::size_t i = 0; i < count && i < kListedChangeLimit; ++i) {
    print_line(fmt::format("    {}", describe(i)));
  }
  if (count > kListedChangeLimit) {
    print_line(fmt::format("    ... {} more", count - kListedChangeLimit));
  }
}

CommandResult print_json_stream(const std::function<void(JsonStream&)>& write) {
  // A first pass that writes nothing finds a string that is not UTF-8, so that a document that
  // cannot be written prints nothing, as print_json does.
  JsonStream check(nullptr);
  write(check);
  if (auto checked = check.finish(); !checked) {
    return fail(fmt::format("serialize JSON: {}", checked.error()));
  }
  JsonStream out(print_raw);
  write(out);
  if (auto finished = out.finish(); !finished) {
    return fail(fmt::format("serialize JSON: {}", finished.error()));
  }
  print_line();
  return {};
}

CommandResult print_json(const JsonValue& value) {
  return print_json_text(write_json(value));
}

CommandResult print_json(const std::vector<JsonValue>& values) {
  JsonValue array = JsonValue::array();
  for (const JsonValue& value : values)
    array.push_back(value);
  return print_json(array);
}

CommandResult print_json(const OrderedJson& value) {
  return print_json_text(write_json(value));
}

JsonValue optional_count_json(std::optional<std::uint64_t> value) {
  if (!value) return JsonValue(nullptr);
  return JsonValue(*value);
}

JsonValue optional_float_json(std::optional<double> value) {
  if (!value) return JsonValue(nullptr);
  return json_number_or_null(*value);
}

JsonValue optional_text_json(const std::optional<std::string>& value) {
  if (!value) return JsonValue(nullptr);
  return JsonValue(*value);
}

JsonValue optional_fingerprint_json(std::optional<Fingerprint> value) {
  if (!value) return JsonValue(nullptr);
  return JsonValue(format_fingerprint(*value));
}

// A non-negative difference always fits (signed when it can, unsigned above the signed range). A
// negative difference fits a signed integer down to -2^63; below that (only possible for counts
// near 2^64, which real artifacts never reach) it is written as the nearest double, which keeps
// the sign and the magnitude.
JsonValue delta_json(std::uint64_t old_value, std::uint64_t new_value) {
  constexpr auto kInt64Max = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
  if (new_value >= old_value) {
    const std::uint64_t up = new_value - old_value;
    if (up <= kInt64Max) return JsonValue(static_cast<std::int64_t>(up));
    return JsonValue(up);
  }
  const std::uint64_t down = old_value - new_value;
  if (down <= kInt64Max) return JsonValue(-static_cast<std::int64_t>(down));
  if (down == kInt64Max + 1) return JsonValue(std::numeric_limits<std::int64_t>::min());
  return JsonValue(-static_cast<double>(down));
}

JsonValue change_json(std::uint64_t old_value, std::uint64_t new_value) {
  JsonValue out = JsonValue::object();
  out["old"] = old_value;
  out["new"] = new_value;
  out["delta"] = delta_json(old_value, new_value);
  out["changed"] = old_value != new_value;
  return out;
}

JsonValue count_change_json(std::optional<std::uint64_t> old_value,
                            std::optional<std::uint64_t> new_value) {
  JsonValue out = JsonValue::object();
  out["old"] = optional_count_json(old_value);
  out["new"] = optional_count_json(new_value);
  out["delta"] = (old_value && new_value) ? delta_json(*old_value, *new_value) : JsonValue(nullptr);
  out["changed"] = optional_changed(old_value, new_value);
  return out;
}

JsonValue float_change_json(std::optional<double> old_value, std::optional<double> new_value) {
  JsonValue out = JsonValue::object();
  out["old"] = optional_float_json(old_value);
  out["new"] = optional_float_json(new_value);
  out["delta"] =
      (old_value && new_value) ? json_number_or_null(*new_value - *old_value) : JsonValue(nullptr);
  // Floating-point inequality: a NaN on both sides still counts as changed.
  out["changed"] = optional_changed(old_value, new_value);
  return out;
}

JsonValue text_change_json(const std::optional<std::string>& old_text,
                           const std::optional<std::string>& new_text) {
  JsonValue out = JsonValue::object();
  out["old"] = optional_text_json(old_text);
  out["new"] = optional_text_json(new_text);
  out["changed"] = optional_changed(old_text, new_text);
  return out;
}

JsonValue fingerprint_change_json(std::optional<Fingerprint> old_value,
                                  std::optional<Fingerprint> new_value) {
  JsonValue out = JsonValue::object();
  out["old"] = optional_fingerprint_json(old_value);
  out["new"] = optional_fingerprint_json(new_value);
  out["changed"] = optional_changed(old_value, new_value);
  return out;
}

}  // namespace orvik
