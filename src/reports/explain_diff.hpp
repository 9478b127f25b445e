#pragma once
// The `explain-diff` command: a short plain-English "Model Change Explanation" of two versions of
// one CatBoost, LightGBM, ONNX or PyTorch artifact, ending in a one-line verdict. No options, no
// JSON form.
#include <string>
#include <vector>

#include "cbm/catboost_reader.hpp"
#include "lightgbm/lightgbm_reader.hpp"
#include "pt/pytorch_reader.hpp"
#include "util/result.hpp"

namespace orvik {

// Handler of `orvik explain-diff <old-model> <new-model>`; every word beginning with "--" is
// ignored.
CommandResult cmd_explain_diff(const std::vector<std::string>& words);

// The words that do not begin with "--", in order (words shorter than two characters are kept).
std::vector<std::string> positional_args(const std::vector<std::string>& words);

// The whole explanation of two versions of one artifact, from their summaries.
void explain_catboost_diff(const CatBoostSummary& old_summary, const CatBoostSummary& new_summary);
void explain_lightgbm_diff(const LightGbmSummary& old_summary, const LightGbmSummary& new_summary);
void explain_pytorch_diff(const PyTorchSummary& old_summary, const PyTorchSummary& new_summary);

}  // namespace orvik
