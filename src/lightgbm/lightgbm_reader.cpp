#include "lightgbm/lightgbm_reader.hpp"

#include <array>
#include <cmath>
#include <cstring>
#include <span>
#include <utility>
#include <vector>

#include <fmt/core.h>

#include "util/file.hpp"
#include "util/text.hpp"

namespace orvik {
namespace {

// Header and parameter entries, kept only for the keys the summary reads (a file may hold
// millions of others). Values are views into the decoded text, which outlives the walk; a later
// line with the same key replaces the earlier value.
class Entries {
 public:
  explicit Entries(std::span<const std::string_view> keys) : keys_(keys), values_(keys.size()) {}

  // Splits at the first `separator` and keeps the trimmed value of a wanted trimmed key.
  void insert(std::string_view text, char separator) {
    const std::size_t at = text.find(separator);
    if (at == std::string_view::npos) return;
    const std::string_view key = trim_white_space(text.substr(0, at));
    for (std::size_t i = 0; i < keys_.size(); ++i) {
      if (keys_[i] == key) {
        values_[i] = trim_white_space(text.substr(at + 1));
        return;
      }
    }
  }

  // `key` must be one of the wanted keys.
  std::optional<std::string_view> lookup(std::string_view key) const {
    for (std::size_t i = 0; i < keys_.size(); ++i) {
      if (keys_[i] == key) return values_[i];
    }
    return std::nullopt;
  }

 private:
  std::span<const std::string_view> keys_;
  std::vector<std::optional<std::string_view>> values_;
};

constexpr std::array<std::string_view, 5> kHeaderKeys = {"feature_names", "max_feature_idx",
                                                         "objective", "version", "num_class"};
constexpr std::array<std::string_view, 7> kParameterKeys = {
    "objective", "boosting",       "num_leaves", "learning_rate",
    "max_depth", "num_iterations", "metric"};

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

// What one pass over the lines collects.
struct LineWalk {
  Entries header{kHeaderKeys};
  Entries parameters{kParameterKeys};
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
        walk.parameters.insert(line.substr(1, line.size() - 2), ':');
      }
    } else if (header_mode) {
      walk.header.insert(line, '=');
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

  if (const auto names = walk.header.lookup("feature_names")) {
    // Every name but the last is followed by at least one white-space byte.
    summary.feature_names.reserve(names->size() + 1);
    for_each_white_space_piece(
        *names, [&](std::string_view name) { summary.feature_names.push_back(name); });
  }
  if (const auto index = signed_field(walk.header.lookup("max_feature_idx"))) {
    summary.num_features = *index >= 0 ? static_cast<std::uint64_t>(*index) + 1 : 0;
  } else if (!summary.feature_names.empty()) {
    summary.num_features = summary.feature_names.size();
  }
  // The header line reads like "binary sigmoid:1"; only its first word names the objective.
  if (const auto objective = walk.header.lookup("objective")) {
    const std::string_view trimmed = trim_white_space(*objective);
    std::size_t word_end = 0;
    while (word_end < trimmed.size() && white_space_length_at(trimmed, word_end) == 0)
      ++word_end;
    summary.objective = std::string(trimmed.substr(0, word_end));
  } else {
    summary.objective = owned(walk.parameters.lookup("objective"));
  }
  summary.version = owned(walk.header.lookup("version"));
  summary.num_class = unsigned_field(walk.header.lookup("num_class"));
  summary.num_trees = walk.trees;
  summary.boosting = owned(walk.parameters.lookup("boosting"));
  summary.num_leaves = unsigned_field(walk.parameters.lookup("num_leaves"));
  summary.learning_rate = float_field(walk.parameters.lookup("learning_rate"));
  summary.max_depth = signed_field(walk.parameters.lookup("max_depth"));
  summary.num_iterations = unsigned_field(walk.parameters.lookup("num_iterations"));
  summary.metric = owned(walk.parameters.lookup("metric"));
  return summary;
}

template <class Json>
Json finite_or_null(const std::optional<double>& value) {
  if (!value || !std::isfinite(*value)) return Json(nullptr);
  return Json(*value);
}

// Fills an object of either JSON flavour; the ordered one keeps this sequence. Without
// `with_names` the feature names are an empty placeholder, for a writer that streams them.
template <class Json>
Json summary_json(const LightGbmSummary& s, bool with_names = true) {
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
  object["feature_names"] = with_names ? name_array_json<Json>(s.feature_names) : Json::array();
  return object;
}

}  // namespace

Result<LightGbmSummary> read_lightgbm(const std::string& path) {
  // The header test reads only the first 8192 bytes, so other files are refused without paging
  // them in.
  return parse_file(path, looks_like_lightgbm,
                    [&](std::string_view bytes) { return read_lightgbm_bytes(path, bytes); });
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

void write_lightgbm_summary(JsonStream& out, const LightGbmSummary& summary) {
  write_object_with_names(out, summary_json<OrderedJson>(summary, false), "feature_names",
                          summary.feature_names);
}

Result<std::string> serialize_lightgbm_summary(const LightGbmSummary& summary) {
  return stream_json_text([&](JsonStream& out) { write_lightgbm_summary(out, summary); });
}

Result<std::string> serialize_lightgbm_summaries(const std::vector<LightGbmSummary>& summaries) {
  return stream_json_text([&](JsonStream& out) {
    out.begin_array();
    for (const LightGbmSummary& summary : summaries)
      write_lightgbm_summary(out, summary);
    out.end();
  });
}

JsonValue lightgbm_summary_to_value(const LightGbmSummary& summary) {
  return summary_json<JsonValue>(summary);
}

void write_lightgbm_summary_value(JsonStream& out, const LightGbmSummary& summary) {
  write_object_with_names(out, summary_json<JsonValue>(summary, false), "feature_names",
                          summary.feature_names);
}

bool lightgbm_config_equal(const LightGbmSummary& a, const LightGbmSummary& b) {
  // std::optional compares absent == absent, absent != present, and present values with ==, so
  // a NaN learning rate never equals itself and 0.0 equals -0.0.
  return a.objective == b.objective && a.boosting == b.boosting &&
         a.learning_rate == b.learning_rate && a.num_leaves == b.num_leaves &&
         a.max_depth == b.max_depth && a.metric == b.metric;
}

}  // namespace orvik
