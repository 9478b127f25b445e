#pragma once
// Plain-language explanations of one artifact for `orvik explain <model.cbm|model.onnx>`: what
// kind of model it is, the evidence, an estimate of its shape, and how to read the numbers.
#include <string>

#include "cbm/catboost_reader.hpp"

namespace orvik {

// `path` is the path exactly as passed on the command line (the Feature Processing section runs
// the Python bridge on it). Never fails.
void explain_catboost_artifact(const CatBoostSummary& summary, const std::string& path);

}  // namespace orvik
