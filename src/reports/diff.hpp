#pragma once
// The `diff` command: compares two versions of one model artifact. CatBoost and ONNX pairs go to
// their own diffs; LightGBM and PyTorch pairs are read and rendered here.
#include <string>
#include <string_view>
#include <vector>

#include "lightgbm/lightgbm_reader.hpp"
#include "pt/pytorch_reader.hpp"
#include "util/result.hpp"

namespace orvik {

// Handler of `orvik diff [--deep] [--json] <old-model> <new-model>`; takes the words after the
// command word.
CommandResult cmd_diff(const std::vector<std::string>& words);

// The six lines that open every diff report: title, rule, "Type: ", "Old: ", "New: ", empty line.
// The names are the display names the readers store, not the paths as typed.
void print_diff_header(std::string_view type_word, std::string_view old_name,
                       std::string_view new_name);

// The LightGBM diff report, or with `json` the object {"new", "old", "type": "lightgbm"}.
CommandResult diff_lightgbm(const LightGbmSummary& old_summary, const LightGbmSummary& new_summary,
                            bool json);

// The PyTorch diff report, or with `json` the object {"new", "old", "type": "pytorch"}.
CommandResult diff_pytorch(const PyTorchSummary& old_summary, const PyTorchSummary& new_summary,
                           bool json);

}  // namespace orvik
