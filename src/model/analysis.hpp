#pragma once
// The static analysis of a built plan: a walk from the input shape through every layer that
// checks the shapes fit, without computing any values, and records what each layer produces,
// costs and holds. Every report of a plan is a view of this analysis: analyze_model gives it
// whole, and a view walks the model itself to keep only what its report prints, since a plan
// may have a million layers and each layer's texts take a few hundred bytes.
//
// All counts and byte sizes are unsigned 64-bit and wrap around on overflow (a float is 4
// bytes). Shapes in records are shape texts ("[2, 3]").
#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "model/model.hpp"
#include "util/result.hpp"

namespace orvik {

using ShapeView = std::span<const std::uint64_t>;

// The tensor-inspect text of one layer: "{name} (Linear)" and its lines.
struct LayerReport {
  std::string title;
  std::vector<std::string> lines;
  std::uint64_t number = 0;  // position in the plan, from 1
};

// One question of the shape quiz: the layer's given shapes, and the output shape text.
struct QuizQuestion {
  std::string title;
  std::vector<std::string> lines;
  std::string answer;
  std::string why;
  std::uint64_t number = 0;
};

// One step of the walkthrough: "{name}: linear projection" and its lines.
struct WalkthroughStep {
  std::string title;
  std::vector<std::string> lines;
  std::uint64_t number = 0;
};

// One row of the compare table: "{name} (linear)", operations and output memory in bytes.
struct CostRow {
  std::string label;
  std::uint64_t ops = 0;
  std::uint64_t memory = 0;
};

struct TensorInfo {
  std::string name;   // "input", "{layer}.output", "{layer}.Q", ...
  std::string shape;  // shape text
  std::uint64_t bytes = 0;
};

struct OpCost {
  std::string name;  // "{layer}: input @ weights + bias", ...
  std::uint64_t ops = 0;
};

struct ShapeFlowEntry {
  std::string label;  // "input", then the layer's name
  std::string shape;  // shape text
};

// The operation counts of one self-attention layer; softmax and scaling are not counted.
struct AttentionCost {
  std::string layer;
  std::uint64_t total = 0;   // scores + q_proj + k_proj + v_proj + mix
  std::uint64_t q_proj = 0;  // 2 * T * F * Dk
  std::uint64_t k_proj = 0;  // 2 * T * F * Dk
  std::uint64_t v_proj = 0;  // 2 * T * F * Dv
  std::uint64_t scores = 0;  // 2 * T * T * Dk
  std::uint64_t mix = 0;     // 2 * T * T * Dv
  std::uint64_t tokens = 0;
  std::uint64_t head_dim = 0;
  std::uint64_t value_dim = 0;
};

struct ModelAnalysis {
  std::vector<LayerReport> layer_reports;          // one per layer
  std::vector<QuizQuestion> quiz_questions;        // one per layer
  std::vector<WalkthroughStep> walkthrough_steps;  // one per layer
  std::vector<CostRow> cost_rows;                  // one per layer
  // The input, then the tensors linear ("{}.output") and attention ("{}.Q", "{}.K", "{}.V",
  // "{}.scores", "{}.attention", "{}.output") layers produce.
  std::vector<TensorInfo> tensors;
  std::vector<OpCost> operations;              // one per layer
  std::vector<std::string> plan_steps;         // "Input", then "Linear", "SelfAttention", ...
  std::vector<AttentionCost> attention_costs;  // one per attention layer
  std::vector<ShapeFlowEntry> shape_flow;      // the input, then one per layer
  std::uint64_t param_bytes = 0;               // weights, biases and attention projections
  std::uint64_t peak_activation_bytes = 0;     // the input, layer outputs and score matrices
  std::uint64_t total_ops = 0;
};

// A tensor a layer produces: "{layer name}{suffix}" of shape [rows, cols] in the tensors list.
struct ProducedTensor {
  std::string_view suffix;  // ".output", ".Q", ...
  std::uint64_t rows = 0;
  std::uint64_t cols = 0;
};

// One layer of the walk, once its checks have passed: what it reads, writes, costs and holds.
struct LayerStep {
  const Layer* layer = nullptr;
  std::uint64_t number = 0;           // position in the plan, from 1
  ShapeView input;                    // the current shape before the layer
  std::vector<std::uint64_t> output;  // the layer's output shape
  std::uint64_t ops = 0;
  std::uint64_t param_bytes = 0;
  std::uint64_t memory = 0;                // its CostRow.memory
  std::uint64_t peak = 0;                  // the largest of its candidates for the peak activation
  std::optional<AttentionCost> attention;  // attention layers only
  // Linear: ".output"; attention: ".Q", ".K", ".V", ".scores", ".attention", ".output".
  std::array<ProducedTensor, 6> produced{};
  std::size_t produced_count = 0;
  std::span<const ProducedTensor> produced_tensors() const {
    return std::span(produced).first(produced_count);
  }
};

struct AnalysisTotals {
  std::uint64_t param_bytes = 0;
  std::uint64_t peak_activation_bytes = 0;  // the input, layer outputs and score matrices
  std::uint64_t total_ops = 0;
};

// Checks one layer on the current shape x, in this order: linear input rank 2, weights rank 2,
// input columns = weight rows, bias [out_features]; attention input rank 2, then Wq, Wk and Wv
// each rank 2 with rows = input columns, then Wq and Wk of the same width. The first failure is
// one "Validation failed\n\nLayer: {name}\nProblem:\n..." message (with "Why:" and "Fix:"
// sections where the rule can be stated). `step.input` views x.
Result<LayerStep> analyze_layer(const Layer& layer, std::uint64_t number, ShapeView x);

// The input's entry in the tensors list: "input", its shape, 4 bytes a value.
TensorInfo input_tensor_info(const Model& model);

// "{layer name}{suffix}", the shape text and the bytes of a produced tensor.
TensorInfo produced_tensor_info(const Layer& layer, const ProducedTensor& tensor);

// Walks the model from its input shape, handing every layer whose checks pass to
// `visit(const LayerStep&)` in plan order; the first failed check ends the walk with its message.
template <class Visit>
Result<AnalysisTotals> walk_model(const Model& model, Visit&& visit) {
  AnalysisTotals totals;
  totals.peak_activation_bytes = input_tensor_info(model).bytes;
  std::vector<std::uint64_t> current = model.input.shape;
  std::uint64_t number = 0;
  for (const Layer& layer : model.layers) {
    auto step = analyze_layer(layer, ++number, current);
    if (!step) return fail(std::move(step.error()));
    visit(std::as_const(*step));
    totals.total_ops += step->ops;
    totals.param_bytes += step->param_bytes;
    totals.peak_activation_bytes = std::max(totals.peak_activation_bytes, step->peak);
    current = std::move(step->output);
  }
  return totals;
}

// The walk alone: the "Validation failed" message, or the totals.
Result<AnalysisTotals> check_model(const Model& model);

// The whole analysis: every list of every layer.
Result<ModelAnalysis> analyze_model(const Model& model);

// The operations of a linear layer on input x [batch, in] with weights [in, out]:
// batch * out * (2 * in + 1), a multiply-add counted as two and one bias add per output value.
// Both shapes must have at least two dimensions.
std::uint64_t linear_ops(std::span<const std::uint64_t> x, std::span<const std::uint64_t> w);

// The counts of an attention layer from X [T, F, ...], Wq [., Dk, ...] and Wv [., Dv, ...];
// each shape must have at least two dimensions.
AttentionCost attention_cost(std::string_view layer, std::span<const std::uint64_t> x,
                             std::span<const std::uint64_t> wq, std::span<const std::uint64_t> wv);

}  // namespace orvik
