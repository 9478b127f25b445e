#pragma once
// Static reader of LightGBM text models: header fields, the parameters block, the tree count and
// three fingerprints (whole file, parameters block, leaf values).
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "artifact_kind/artifact_kind.hpp"
#include "util/json.hpp"
#include "util/name_list.hpp"
#include "util/result.hpp"

namespace orvik {

// Field order is the key order of the record JSON.
struct LightGbmSummary {
  std::string path;  // display name
  std::uint64_t bytes = 0;
  bool is_lgbm = true;
  Fingerprint file_fingerprint = 0;
  Fingerprint learned_state_fingerprint = 0;
  std::optional<Fingerprint> metadata_fingerprint;
  std::optional<std::string> version;
  std::optional<std::uint64_t> num_class;
  std::uint64_t num_trees = 0;
  std::optional<std::uint64_t> num_features;
  std::optional<std::string> objective;
  std::optional<std::string> boosting;
  std::optional<std::uint64_t> num_leaves;
  std::optional<double> learning_rate;
  std::optional<std::int64_t> max_depth;
  std::optional<std::uint64_t> num_iterations;
  std::optional<std::string> metric;
  NameList feature_names;  // file order, duplicates kept
};

Result<LightGbmSummary> read_lightgbm(const std::string& path);

// Summary of bytes already in memory; `path` is used for messages and the display name.
Result<LightGbmSummary> read_lightgbm_bytes(const std::string& path, std::string_view bytes);

// The record JSON, keys in field order, written piece by piece (the names of a huge header are
// never held twice).
void write_lightgbm_summary(JsonStream& out, const LightGbmSummary& summary);
// The record JSON as pretty text (no trailing newline); several summaries as one array. The
// error is the JSON writer's message alone; callers add "serialize JSON: ".
Result<std::string> serialize_lightgbm_summary(const LightGbmSummary& summary);
Result<std::string> serialize_lightgbm_summaries(const std::vector<LightGbmSummary>& summaries);
// The same members as a value tree (keys print in ascending order).
JsonValue lightgbm_summary_to_value(const LightGbmSummary& summary);
// That value written piece by piece, keys in ascending order.
void write_lightgbm_summary_value(JsonStream& out, const LightGbmSummary& summary);

// Same objective, boosting, learning rate, leaves, max depth and metric.
bool lightgbm_config_equal(const LightGbmSummary& a, const LightGbmSummary& b);

}  // namespace orvik
