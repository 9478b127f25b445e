#pragma once
// The `explain-diff` reports: a short plain-English "Model Change Explanation" of two versions of
// one CatBoost, LightGBM, ONNX or PyTorch artifact, ending in a one-line verdict. No options, no
// JSON form.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cbm/catboost_reader.hpp"
#include "lightgbm/lightgbm_reader.hpp"
#include "onnx/onnx_reader.hpp"
#include "pt/pytorch_reader.hpp"
#include "reports/changes.hpp"
#include "util/result.hpp"

namespace orvik {

// The words that do not begin with "--", in order (words shorter than two characters are kept).
std::vector<std::string> positional_args(const std::vector<std::string>& words);

// The whole explanation of two versions of one artifact, from their summaries.
void explain_catboost_diff(const CatBoostSummary& old_summary, const CatBoostSummary& new_summary);
void explain_lightgbm_diff(const LightGbmSummary& old_summary, const LightGbmSummary& new_summary);
void explain_pytorch_diff(const PyTorchSummary& old_summary, const PyTorchSummary& new_summary);
void explain_onnx_diff(const OnnxSummary& old_summary, const OnnxSummary& new_summary);

// Reads the old file, then the new one (paths as typed), and prints the explanation of the two
// summaries; a read error is the result, unchanged, and nothing is printed.
template <auto read, auto explain>
CommandResult explain_files(const std::string& old_path, const std::string& new_path) {
  const auto pair = read_pair(read, old_path, new_path);
  if (!pair) return fail(pair.error());
  explain(pair->old_summary, pair->new_summary);
  return {};
}

// ONNX estimates shared with the artifact explanation.

// The node count of one operator type (exact bytes); 0 when the graph has none.
std::uint64_t op_type_count(const std::vector<OpCount>& op_counts, std::string_view op_type);

// Attention layers: the Attention count when above 0, else the Softmax count when above 0, else
// half the LayerNormalization count (rounded down) when there are at least two; else absent.
std::optional<std::uint64_t> onnx_attention_layer_estimate(const std::vector<OpCount>& op_counts);

// The most common dimension in 2..8192 over the initializers of rank 2 or more (ties go to the
// larger value); absent when none qualifies.
std::optional<std::uint64_t> estimate_hidden_size(const std::vector<OnnxInitializer>& initializers);

}  // namespace orvik
