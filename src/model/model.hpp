#pragma once
// A built tensor plan: the input tensor and every layer's tensors, zero-filled where the plan
// gives only sizes. The plan's size fields are consumed here; everything after building derives
// sizes from tensor shapes.
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "model/plan_schema.hpp"
#include "tensor/tensor.hpp"
#include "util/result.hpp"

namespace orvik {

struct Layer {
  LayerKind kind = LayerKind::Relu;
  // The plan's name as written (an empty one included), else "layer_{n}" with the position n
  // counted from 1.
  std::string name;
  std::optional<std::string> explain;
  // Linear: weights [in_features, out_features] and bias [out_features]; SelfAttention: wq, wk
  // [features, head_dim] and wv [features, value_dim], as expected (shapes are checked by the
  // analysis, not here). ReLU, GELU and softmax layers hold none: a plan may have a million
  // layers, and a layer costs about a hundred bytes beside its tensors. A built model is
  // read-only, so layers that ask for zeros of one shape share one tensor.
  std::vector<std::shared_ptr<const Tensor>> tensors;

  // The tensors by name; the layer must be of the kind that holds them.
  const Tensor& weights() const { return *tensors[0]; }
  const Tensor& bias() const { return *tensors[1]; }
  const Tensor& wq() const { return *tensors[0]; }
  const Tensor& wk() const { return *tensors[1]; }
  const Tensor& wv() const { return *tensors[2]; }
};

struct Model {
  std::string name;  // the plan's name, or "model"
  Tensor input;
  // In plan order. A deque, like the records it is built from: as building releases each record,
  // the layer made from it can take the storage the record freed.
  std::deque<Layer> layers;
  std::vector<std::string> labels;
  std::optional<std::string> description;
};

// The zero-filled tensors one plan may still make: together they hold at most kMaxTensorValues
// values (256 MiB), so a plan's sizes can never make building exhaust memory. Tensors that are
// shared count once per use.
struct ZeroBudget {
  std::uint64_t remaining = kMaxTensorValues;
};

// Reads, parses and builds the plan at `path`. Errors: "read {path}: {system error}" (also
// "stream did not contain valid UTF-8"), "parse {path}: {reader message}", and the building
// messages, returned alone: "{context}: shape {} expects {} values, got {}", "model must define
// input, input_shape, or at least one layer", "first layer needs input, input_shape, or a
// shape-bearing linear/self_attention layer", "shape-only linear first layer needs `in` or
// weights shape", "shape-only self_attention first layer needs `tokens` or input_shape",
// "shape-only self_attention first layer needs `features`, `head_dim`, or Wq shape",
// "shape-only linear layer needs rank-2 input [batch, in_features]", "shape-only linear layer
// needs `out`", "shape-only self_attention layer needs rank-2 input [tokens, features]",
// "shape-only self_attention tokens={} does not match input tokens={}", "shape-only
// self_attention layer needs `head_dim`", and the size limits of zero_tensor.
//
// The running shape that sizes shape-only layers becomes [its first dimension, the layer's
// output width] after a linear or attention layer; when either dimension is missing (a rank-0
// input, weights of rank below 2) it is left as it was: the analysis rejects that layer anyway.
Result<Model> load_model(const std::string& path);

// Builds a model from parsed records; load_model without the file. The budget bounds the
// zero-filled tensors (a smaller one keeps fuzzing fast).
Result<Model> build_model(ModelSpec spec, ZeroBudget budget = {});

// An all-zero tensor of the shape, taken from the budget. Errors, named by the context ("input",
// "weights", "bias", "Wq", "Wk", "Wv"): "{context}: shape {} holds more values than a 64-bit
// count can hold" and "{context}: shape {} needs {} zero values, more than the {} left for the
// zero-filled tensors of one plan".
Result<Tensor> zero_tensor(std::string_view context, std::span<const std::uint64_t> shape,
                           ZeroBudget& budget);

// make_tensor of the TensorSpec's shape and data, or "{context}: {make_tensor's message}".
Result<Tensor> tensor_from_spec(std::string_view context, TensorSpec spec);

}  // namespace orvik
