#include "model/analysis.hpp"

#include <algorithm>

#include <fmt/format.h>

#include "model/analysis_texts.hpp"
#include "tensor/tensor.hpp"

namespace orvik {

namespace {

using Shape = std::vector<std::uint64_t>;

// The product of the dimensions (1 for none), wrapping around on overflow.
std::uint64_t wrapping_count(ShapeView shape) {
  std::uint64_t count = 1;
  for (const std::uint64_t dim : shape)
    count *= dim;
  return count;
}

std::string validation_failed(std::string_view layer, std::string_view problem) {
  return fmt::format("Validation failed\n\nLayer: {}\nProblem:\n{}", layer, problem);
}

// The checks of a linear layer on input x, in order.
Result<void> check_linear(const Layer& layer, ShapeView x) {
  const Shape& w = layer.weights().shape;
  if (x.size() != 2) {
    return fail(validation_failed(
        layer.name, fmt::format("  Linear expects rank-2 input [batch, in_features].\n"
                                "  Got input {}.",
                                format_shape(x))));
  }
  if (w.size() != 2) {
    return fail(validation_failed(
        layer.name, fmt::format("  Linear weights must be rank-2 [in_features, out_features].\n"
                                "  Got weights {}.",
                                format_shape(w))));
  }
  if (x[1] != w[0]) {
    return fail(validation_failed(
        layer.name,
        fmt::format("  Cannot multiply input {} by weights {}.\n\n"
                    "Why:\n"
                    "  Linear uses input @ weights.\n"
                    "  For A @ B, A columns must equal B rows.\n"
                    "  Got {} and {}.\n\n"
                    "Fix:\n"
                    "  Change weights shape to [{}, {}], or change the previous layer output to "
                    "[batch, {}].",
                    format_shape(x), format_shape(w), x[1], w[0], x[1], w[1], w[0])));
  }
  if (layer.bias().shape != Shape{w[1]}) {
    return fail(validation_failed(
        layer.name, fmt::format("  Bias shape {} does not match output features [{}].\n\n"
                                "Why:\n"
                                "  Linear computes input @ weights + bias.\n"
                                "  Bias must have one value per output feature.\n\n"
                                "Fix:\n"
                                "  Change bias shape to [{}].",
                                format_shape(layer.bias().shape), w[1], w[1])));
  }
  return {};
}

// The checks of an attention layer on input x, in order.
Result<void> check_attention(const Layer& layer, ShapeView x) {
  if (x.size() != 2) {
    return fail(validation_failed(
        layer.name, fmt::format("  Self-attention expects rank-2 input [tokens, features].\n"
                                "  Got input {}.",
                                format_shape(x))));
  }
  const std::pair<std::string_view, const Shape*> weights[] = {
      {"Wq", &layer.wq().shape}, {"Wk", &layer.wk().shape}, {"Wv", &layer.wv().shape}};
  for (const auto& [name, shape] : weights) {
    if (shape->size() != 2) {
      return fail(validation_failed(layer.name,
                                    fmt::format("  {} must be rank-2 [features, projection_dim].\n"
                                                "  Got {} {}.",
                                                name, name, format_shape(*shape))));
    }
    if ((*shape)[0] != x[1]) {
      return fail(
          validation_failed(layer.name, fmt::format("  Input {} cannot multiply {} {}.\n\n"
                                                    "Why:\n"
                                                    "  Self-attention starts with X @ {}.\n"
                                                    "  X columns must equal {} rows.\n"
                                                    "  Got {} and {}.\n\n"
                                                    "Fix:\n"
                                                    "  Change {} shape to [{}, projection_dim].",
                                                    format_shape(x), name, format_shape(*shape),
                                                    name, name, x[1], (*shape)[0], name, x[1])));
    }
  }
  if (layer.wq().shape[1] != layer.wk().shape[1]) {
    return fail(validation_failed(
        layer.name,
        fmt::format("  Q shape [tokens, {}] cannot score against K shape [tokens, {}].\n\n"
                    "Why:\n"
                    "  Attention scores use Q @ K^T, so Q and K must share head_dim.\n\n"
                    "Fix:\n"
                    "  Make Wq and Wk output the same head_dim.",
                    layer.wq().shape[1], layer.wk().shape[1])));
  }
  return {};
}

}  // namespace

std::uint64_t linear_ops(std::span<const std::uint64_t> x, std::span<const std::uint64_t> w) {
  return x[0] * w[1] * (2 * x[1] + 1);
}

AttentionCost attention_cost(std::string_view layer, std::span<const std::uint64_t> x,
                             std::span<const std::uint64_t> wq, std::span<const std::uint64_t> wv) {
  const std::uint64_t t = x[0];
  const std::uint64_t f = x[1];
  const std::uint64_t dk = wq[1];
  const std::uint64_t dv = wv[1];
  AttentionCost cost;
  cost.layer = std::string(layer);
  cost.q_proj = 2 * t * f * dk;
  cost.k_proj = 2 * t * f * dk;
  cost.v_proj = 2 * t * f * dv;
  cost.scores = 2 * t * t * dk;
  cost.mix = 2 * t * t * dv;
  cost.total = cost.scores + cost.q_proj + cost.k_proj + cost.v_proj + cost.mix;
  cost.tokens = t;
  cost.head_dim = dk;
  cost.value_dim = dv;
  return cost;
}

Result<LayerStep> analyze_layer(const Layer& layer, std::uint64_t number, ShapeView x) {
  LayerStep step;
  step.layer = &layer;
  step.number = number;
  step.input = x;
  // Weights and bias, or Wq, Wk and Wv: whatever tensors the layer holds.
  for (const auto& tensor : layer.tensors)
    step.param_bytes += 4 * static_cast<std::uint64_t>(tensor->data.size());
  switch (layer.kind) {
    case LayerKind::Linear: {
      if (auto checked = check_linear(layer, x); !checked) return fail(std::move(checked.error()));
      const std::uint64_t batch = x[0];
      const std::uint64_t width = layer.weights().shape[1];
      step.output = {batch, width};
      step.ops = linear_ops(x, layer.weights().shape);
      step.memory = 4 * batch * width;
      step.peak = step.memory;
      step.produced[0] = {".output", batch, width};
      step.produced_count = 1;
      break;
    }
    case LayerKind::SelfAttention: {
      if (auto checked = check_attention(layer, x); !checked) {
        return fail(std::move(checked.error()));
      }
      AttentionCost cost = attention_cost(layer.name, x, layer.wq().shape, layer.wv().shape);
      const std::uint64_t t = cost.tokens;
      const std::uint64_t dk = cost.head_dim;
      const std::uint64_t dv = cost.value_dim;
      step.output = {t, dv};
      step.ops = cost.total;
      step.memory = std::max({4 * t * dk, 4 * t * dv, 4 * t * t, 4 * t * dv});
      step.peak = std::max(4 * t * dv, 4 * t * t);
      step.produced = {{{".Q", t, dk},
                        {".K", t, dk},
                        {".V", t, dv},
                        {".scores", t, t},
                        {".attention", t, t},
                        {".output", t, dv}}};
      step.produced_count = 6;
      step.attention = std::move(cost);
      break;
    }
    case LayerKind::Relu:
    case LayerKind::Gelu:
    case LayerKind::Softmax: {
      const std::uint64_t count = wrapping_count(x);
      step.output.assign(x.begin(), x.end());
      step.ops = count;
      step.memory = 4 * count;
      step.peak = step.memory;
      break;
    }
  }
  return step;
}

TensorInfo input_tensor_info(const Model& model) {
  return TensorInfo{"input", format_shape(model.input.shape),
                    4 * static_cast<std::uint64_t>(model.input.data.size())};
}

TensorInfo produced_tensor_info(const Layer& layer, const ProducedTensor& tensor) {
  const std::uint64_t shape[] = {tensor.rows, tensor.cols};
  std::string name = layer.name;
  name += tensor.suffix;
  return TensorInfo{std::move(name), format_shape(shape), 4 * tensor.rows * tensor.cols};
}

Result<AnalysisTotals> check_model(const Model& model) {
  return walk_model(model, [](const LayerStep&) {});
}

Result<ModelAnalysis> analyze_model(const Model& model) {
  ModelAnalysis analysis;
  analysis.tensors.push_back(input_tensor_info(model));
  analysis.plan_steps.emplace_back("Input");
  analysis.shape_flow.push_back(ShapeFlowEntry{"input", format_shape(model.input.shape)});
  const auto totals = walk_model(model, [&](const LayerStep& step) {
    const Layer& layer = *step.layer;
    analysis.plan_steps.emplace_back(layer_kind_word(layer.kind));
    for (const ProducedTensor& tensor : step.produced_tensors()) {
      analysis.tensors.push_back(produced_tensor_info(layer, tensor));
    }
    analysis.operations.push_back(OpCost{operation_name(layer), step.ops});
    analysis.cost_rows.push_back(CostRow{cost_label(layer), step.ops, step.memory});
    if (step.attention) analysis.attention_costs.push_back(*step.attention);
    analysis.layer_reports.push_back(layer_report(step));
    analysis.walkthrough_steps.push_back(walkthrough_step(step));
    analysis.quiz_questions.push_back(quiz_question(step));
    analysis.shape_flow.push_back(ShapeFlowEntry{layer.name, format_shape(step.output)});
  });
  if (!totals) return fail(totals.error());
  analysis.param_bytes = totals->param_bytes;
  analysis.peak_activation_bytes = totals->peak_activation_bytes;
  analysis.total_ops = totals->total_ops;
  return analysis;
}

}  // namespace orvik
