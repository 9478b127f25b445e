#pragma once
// The "CatBoost Deep Diff" section of `diff --deep`: trees, splits, leaf values and weights, scale
// and bias, and feature borders of two CatBoost models, decoded and compared by the embedded
// Python program through the first interpreter that runs it.
#include <string>

#include "util/result.hpp"

namespace orvik {

// The paths are passed exactly as typed on the command line. Prints the program's standard output
// unchanged. When no interpreter runs it, nothing is printed and the error is
// "CatBoost deep diff needs Python with `catboost` installed. Tried:" followed by one indented
// line per candidate ("\n  {candidate}: {reason}").
CommandResult print_catboost_deep_diff(const std::string& old_path, const std::string& new_path);

}  // namespace orvik
