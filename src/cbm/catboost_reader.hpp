#pragma once
// Static reader of CatBoost binary models (.cbm): training configuration from the JSON objects the
// format embeds in its binary body, feature names from printable runs, three fingerprints.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "artifact_kind/artifact_kind.hpp"
#include "util/name_list.hpp"
#include "util/result.hpp"

namespace orvik {

struct CatBoostSummary {
  std::string path;  // display name
  std::uint64_t file_size_bytes = 0;
  bool has_cbm1_magic = false;
  std::optional<std::uint64_t> iterations;
  std::optional<std::uint64_t> depth;
  std::optional<double> learning_rate;
  std::optional<double> l2_leaf_reg;
  std::optional<std::string> loss;
  std::optional<std::string> eval_metric;
  std::optional<std::string> grow_policy;
  std::optional<std::string> bootstrap;
  std::optional<std::string> train_finish_time;
  std::optional<double> best_learn_rmse;
  NameList feature_names;  // ascending byte order, each once
  Fingerprint file_fingerprint = 0;
  std::optional<Fingerprint> metadata_fingerprint;
  Fingerprint learned_state_fingerprint = 0;
};

Result<CatBoostSummary> read_catboost(const std::string& path);

// Summary of bytes already in memory; `path` is used for messages and the display name.
Result<CatBoostSummary> read_catboost_bytes(const std::string& path, std::string_view bytes);

// Maximal runs of bytes 0x20..0x7E at least 3 long, in file order.
std::vector<std::string_view> extract_printable_runs(std::string_view bytes);

// Same loss, eval metric, learning rate, L2 leaf reg, grow policy and bootstrap.
bool catboost_config_equal(const CatBoostSummary& a, const CatBoostSummary& b);

}  // namespace orvik
