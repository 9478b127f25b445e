#pragma once
// Plain-language explanations of one artifact for `orvik explain <model.cbm|model.onnx>`: what
// kind of model it is, the evidence, an estimate of its shape, and how to read the numbers.
#include <string>
#include <string_view>
#include <vector>

#include "cbm/catboost_reader.hpp"
#include "onnx/onnx_reader.hpp"

namespace orvik {

// `path` is the path exactly as passed on the command line (the Feature Processing section runs
// the Python bridge on it). Never fails.
void explain_catboost_artifact(const CatBoostSummary& summary, const std::string& path);

// Whether the graph looks like a transformer, from operator counts alone. Never fails.
void explain_onnx_architecture(const OnnxSummary& summary);

// How many of four signals the graph shows (0 to 4): a Softmax, a LayerNormalization, at least
// two MatMul and Gemm nodes together, an Attention node.
int transformer_score(const std::vector<OpCount>& op_counts);

// Whether `text`, with ASCII letters lower-cased (other bytes as they are), contains `needle`.
bool name_mentions(std::string_view needle, std::string_view text);

// name_mentions over the node's name (when it has one), then its inputs, then its outputs.
bool any_name_mentions(const OnnxNode& node, std::string_view needle);

}  // namespace orvik
