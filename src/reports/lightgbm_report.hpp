#pragma once
// The `lightgbm` / `lgbm` command: a summary of one or more LightGBM text models, as text or as
// the record JSON.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "lightgbm/lightgbm_reader.hpp"
#include "util/result.hpp"

namespace orvik {

// Trees times configured leaves per tree; absent without a leaf count or when the product
// overflows 64 bits.
std::optional<std::uint64_t> lightgbm_max_leaf_slots(const LightGbmSummary& summary);

// The configured depth as a row value ("unlimited" when negative); absent stays absent.
std::optional<std::string> lightgbm_max_depth_text(const LightGbmSummary& summary);

// Words: "--json", "--limit N" (feature names listed per model, 20 by default) and paths.
CommandResult cmd_lightgbm(const std::vector<std::string>& words);

}  // namespace orvik
