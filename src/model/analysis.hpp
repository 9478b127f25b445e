#pragma once
// The static analysis of a built plan: a walk from the input shape through every layer that
// checks the shapes fit, without computing any values, and records what each layer produces,
// costs and holds. Every report of a plan is a view of one ModelAnalysis.
//
// All counts and byte sizes are unsigned 64-bit and wrap around on overflow (a float is 4
// bytes). Shapes in records are shape texts ("[2, 3]").
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "model/model.hpp"
#include "util/result.hpp"

namespace orvik {

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

// Walks the model. The first shape that does not fit ends the walk with one "Validation
// failed\n\nLayer: {name}\nProblem:\n..." message (with "Why:" and "Fix:" sections where the
// rule can be stated), checked per layer in this order: linear input rank 2, weights rank 2,
// input columns = weight rows, bias [out_features]; attention input rank 2, then Wq, Wk and Wv
// each rank 2 with rows = input columns, then Wq and Wk of the same width.
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
