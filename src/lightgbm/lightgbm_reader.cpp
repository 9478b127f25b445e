#include "lightgbm/lightgbm_reader.hpp"

#include <cmath>
#include <cstring>
#include <map>
#include <utility>

#include <fmt/core.h>

#include "util/file.hpp"
#include "util/text.hpp"

namespace orvik {
namespace {

// Header and parameter entries are views into the decoded text, which outlives the walk; a later
// line with the same key replaces the earlier value.
using EntryMap = std::map<std::string_view, std::string_view, std::less<>>;

std::optional<std::string_view> lookup(const EntryMap& map, std::string_view key) {
  const auto it = map.find(key);
  if (it == map.end()) return std::nullopt;
  return it->second;
}

std::optional<std::string> owned(std::optional<std::string_view> text) {
  if (!text) return std::nullopt;
  return std::string(*text);
}

std::optional<std::uint64_t> unsigned_field(std::optional<std::string_view> text) {
  if (!text) return std::nullopt;
  auto value = parse_u64(*text);
  if (!value) return std::nullopt;
  return *value;
}

std::optional<std::int64_t> signed_field(std::optional<std::string_view> text) {
  if (!text) return std::nullopt;
  auto value = parse_i64(*text);
  if (!value) return std::nullopt;
  return *value;
}

std::optional<double> float_field(std::optional<std::string_view> text) {
  if (!text) return std::nullopt;
  auto value = parse_f64(*text);
  if (!value) return std::nullopt;
  return *value;
}

// Splits at the first `separator` and inserts the trimmed key and value.
void insert_entry(EntryMap& map, std::string_view text, char separator) {
  const std::size_t at = text.find(separator);
  if (at == std::string_view::npos) return;
  const std::string_view key = trim_white_space(text.substr(0, at));
  const std::string_view value = trim_white_space(text.substr(at + 1));
  map.insert_or_assign(key, value);
}

// What one pass over the lines collects.
struct LineWalk {
  EntryMap header;
  EntryMap parameters;
  std::uint64_t trees = 0;
  Fingerprint leaf_values = kFnvOffsetBasis;
  // The parameters text (each line of the block followed by "\n") is hashed as it is met rather
  // than kept; it is empty exactly when no line was added.
  Fingerprint parameters_text = kFnvOffsetBasis;
  bool has_parameters_text = false;
  // The whole text, terminators included, when the walk was asked to hash it.
  std::optional<Fingerprint> file;
};

// Lines end at "\n", losing it and one "\r" before it; a final "\n" ends the last line without
// starting an empty one. A last line without "\n" keeps a trailing "\r" (a CRLF file cut one
// byte short must not read like the whole one). Markers match the line unchanged, in this order,
// the first match wins. With `hash_text` the walk also hashes every byte of `text` in order (the
// file fingerprint when the text is the file's own bytes), so the file is traversed once.
LineWalk walk_lines(std::string_view text, bool hash_text) {
  LineWalk walk;
  Fingerprint file = kFnvOffsetBasis;
  bool header_mode = true;
  bool parameters_mode = false;
  const char* p = text.data();
  const char* const end = p + text.size();
  while (p != end) {
    const auto* nl =
        static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
    const char* next = nl != nullptr ? nl + 1 : end;
    const std::string_view segment(p, static_cast<std::size_t>(next - p));
    std::string_view line(p, static_cast<std::size_t>((nl != nullptr ? nl : end) - p));
    p = next;
    if (nl != nullptr && !line.empty() && line.back() == '\r') line.remove_suffix(1);

    if (line.starts_with("leaf_value=")) {
      if (hash_text) {
        fnv1a64_pair(file, walk.leaf_values, line);
        file = fnv1a64(file, segment.substr(line.size()));
      } else {
        walk.leaf_values = fnv1a64(walk.leaf_values, line);
      }
      continue;
    }
    if (hash_text) file = fnv1a64(file, segment);

    // "leaf_value=" and "Tree=" cannot both match, so testing the leaf line first keeps the order.
    if (line.starts_with("Tree=")) {
      ++walk.trees;
      header_mode = false;
    } else if (line == "parameters:") {
      header_mode = false;
      parameters_mode = true;
    } else if (line == "end of parameters") {
      parameters_mode = false;
    } else if (parameters_mode) {
      walk.parameters_text = fnv1a64(walk.parameters_text, line);
      walk.parameters_text = fnv1a64(walk.parameters_text, "\n");
      walk.has_parameters_text = true;
      if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
        insert_entry(walk.parameters, line.substr(1, line.size() - 2), ':');
      }
    } else if (header_mode) {
      insert_entry(walk.header, line, '=');
    }
  }
  if (hash_text) walk.file = file;
  return walk;
}

LightGbmSummary derive_summary(const std::string& path, std::string_view bytes,
                               const LineWalk& walk) {
  LightGbmSummary summary;
  summary.path = display_name(path);
  summary.bytes = bytes.size();
  summary.is_lgbm = true;
  summary.file_fingerprint = walk.file ? *walk.file : fnv1a64(kFnvOffsetBasis, bytes);
  summary.learned_state_fingerprint = walk.leaf_values;
  if (walk.has_parameters_text) summary.metadata_fingerprint = walk.parameters_text;

  if (const auto names = lookup(walk.header, "feature_names")) {
    for (const std::string_view name : split_white_space(*names)) {
      summary.feature_names.emplace_back(name);
    }
  }
  if (const auto index = signed_field(lookup(walk.header, "max_feature_idx"))) {
    summary.num_features = *index >= 0 ? static_cast<std::uint64_t>(*index) + 1 : 0;
  } else if (!summary.feature_names.empty()) {
    summary.num_features = summary.feature_names.size();
  }
  // The header line reads like "binary sigmoid:1"; only its first word names the objective.
  if (const auto objective = lookup(walk.header, "objective")) {
    const auto words = split_white_space(*objective);
    summary.objective = words.empty() ? std::string() : std::string(words.front());
  } else {
    summary.objective = owned(lookup(walk.parameters, "objective"));
  }
  summary.version = owned(lookup(walk.header, "version"));
  summary.num_class = unsigned_field(lookup(walk.header, "num_class"));
  summary.num_trees = walk.trees;
  summary.boosting = owned(lookup(walk.parameters, "boosting"));
  summary.num_leaves = unsigned_field(lookup(walk.parameters, "num_leaves"));
  summary.learning_rate = float_field(lookup(walk.parameters, "learning_rate"));
  summary.max_depth = signed_field(lookup(walk.parameters, "max_depth"));
  summary.num_iterations = unsigned_field(lookup(walk.parameters, "num_iterations"));
  summary.metric = owned(lookup(walk.parameters, "metric"));
  return summary;
}

template <class Json>
Json finite_or_null(const std::optional<double>& value) {
  if (!value || !std::isfinite(*value)) return Json(nullptr);
  return Json(*value);
}

// Fills an object of either JSON flavour; the ordered one keeps this sequence.
template <class Json>
Json summary_json(const LightGbmSummary& s) {
  Json object = Json::object();
  object["path"] = s.path;
  object["bytes"] = s.bytes;
  object["is_lgbm"] = s.is_lgbm;
  object["file_fingerprint"] = s.file_fingerprint;
  object["learned_state_fingerprint"] = s.learned_state_fingerprint;
  object["metadata_fingerprint"] = optional_json<Json>(s.metadata_fingerprint);
  object["version"] = optional_json<Json>(s.version);
  object["num_class"] = optional_json<Json>(s.num_class);
  object["num_trees"] = s.num_trees;
  object["num_features"] = optional_json<Json>(s.num_features);
  object["objective"] = optional_json<Json>(s.objective);
  object["boosting"] = optional_json<Json>(s.boosting);
  object["num_leaves"] = optional_json<Json>(s.num_leaves);
  object["learning_rate"] = finite_or_null<Json>(s.learning_rate);
  object["max_depth"] = optional_json<Json>(s.max_depth);
  object["num_iterations"] = optional_json<Json>(s.num_iterations);
  object["metric"] = optional_json<Json>(s.metric);
  Json names = Json::array();
  for (const auto& name : s.feature_names)
    names.push_back(name);
  object["feature_names"] = std::move(names);
  return object;
}

}  // namespace

Result<LightGbmSummary> read_lightgbm(const std::string& path) {
  auto bytes = read_whole_file(path);
  if (!bytes) return fail(fmt::format("read {}: {}", path, bytes.error()));
  return read_lightgbm_bytes(path, *bytes);
}

Result<LightGbmSummary> read_lightgbm_bytes(const std::string& path, std::string_view bytes) {
  if (!looks_like_lightgbm(bytes)) {
    return fail(fmt::format(
        "{} does not look like a LightGBM text model: missing `tree` / `max_feature_idx=` header",
        path));
  }
  // Valid text (the usual case) is walked in place; only damaged text is copied to replace the
  // ill-formed sequences. The walk's views must not outlive `decoded`.
  if (is_valid_utf8(bytes)) return derive_summary(path, bytes, walk_lines(bytes, true));
  const std::string decoded = decode_utf8_lossy(bytes);
  return derive_summary(path, bytes, walk_lines(decoded, false));
}

OrderedJson lightgbm_summary_to_record(const LightGbmSummary& summary) {
  return summary_json<OrderedJson>(summary);
}

Result<std::string> serialize_lightgbm_summary(const LightGbmSummary& summary) {
  return write_json(lightgbm_summary_to_record(summary));
}

Result<std::string> serialize_lightgbm_summaries(const std::vector<LightGbmSummary>& summaries) {
  OrderedJson array = OrderedJson::array();
  for (const auto& summary : summaries)
    array.push_back(lightgbm_summary_to_record(summary));
  return write_json(array);
}

JsonValue lightgbm_summary_to_value(const LightGbmSummary& summary) {
  return summary_json<JsonValue>(summary);
}

bool lightgbm_config_equal(const LightGbmSummary& a, const LightGbmSummary& b) {
  // std::optional compares absent == absent, absent != present, and present values with ==, so
  // a NaN learning rate never equals itself and 0.0 equals -0.0.
  return a.objective == b.objective && a.boosting == b.boosting &&
         a.learning_rate == b.learning_rate && a.num_leaves == b.num_leaves &&
         a.max_depth == b.max_depth && a.metric == b.metric;
}

}  // namespace orvik
