#pragma once
// The `lightgbm` / `lgbm` command: a summary of one or more LightGBM text models, as text or as
// the record JSON.
#include <string>
#include <vector>

#include "util/result.hpp"

namespace orvik {

// Words: "--json", "--limit N" (feature names listed per model, 20 by default) and paths.
CommandResult cmd_lightgbm(const std::vector<std::string>& words);

}  // namespace orvik
