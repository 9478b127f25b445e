#pragma once
// The "Feature Processing" section of a deep CatBoost inspection: decoded by the embedded Python
// program when an interpreter with catboost works, else a built-in fallback. Never fails.
#include <string>

#include "util/name_list.hpp"

namespace orvik {

// `model_path` is the path exactly as passed on the command line.
void print_feature_processing(const std::string& model_path, const NameList& feature_names);

}  // namespace orvik
