#include "model/analysis_texts.hpp"

#include <fmt/format.h>

#include "tensor/tensor.hpp"

namespace orvik {

namespace {

// The report's first line, "why: {}", and the walkthrough's, "Purpose: {}", only when the layer
// has an explanation.
LayerTexts start_texts(const Layer& layer, std::uint64_t number, std::string_view step_title) {
  LayerTexts texts;
  texts.report.title = layer_title(layer);
  texts.report.number = number;
  texts.step.title = fmt::format("{}: {}", layer.name, step_title);
  texts.step.number = number;
  texts.question.title = texts.report.title;
  texts.question.number = number;
  if (layer.explain) {
    texts.report.lines.push_back(fmt::format("why: {}", *layer.explain));
    texts.step.lines.push_back(fmt::format("Purpose: {}", *layer.explain));
  }
  return texts;
}

}  // namespace

std::string_view layer_kind_word(LayerKind kind) {
  switch (kind) {
    case LayerKind::Linear:
      return "Linear";
    case LayerKind::SelfAttention:
      return "SelfAttention";
    case LayerKind::Relu:
      return "ReLU";
    case LayerKind::Gelu:
      return "GELU";
    case LayerKind::Softmax:
      break;
  }
  return "Softmax";
}

std::string layer_title(const Layer& layer) {
  return fmt::format("{} ({})", layer.name, layer_kind_word(layer.kind));
}

LayerTexts linear_texts(const Layer& layer, std::uint64_t number, ShapeView x, ShapeView out,
                        std::uint64_t ops) {
  LayerTexts texts = start_texts(layer, number, "linear projection");
  texts.operation = fmt::format("{}: input @ weights + bias", layer.name);
  texts.cost_label = fmt::format("{} (linear)", layer.name);
  const std::string input = format_shape(x);
  const std::string weights = format_shape(layer.weights.shape);
  const std::string bias = format_shape(layer.bias.shape);
  const std::string output = format_shape(out);
  const std::uint64_t values = layer.weights.data.size() + layer.bias.data.size();
  texts.report.lines.insert(
      texts.report.lines.end(),
      {"operation: output = input @ weights + bias", fmt::format("input: {}", input),
       fmt::format("weights: {}", weights), fmt::format("bias: {}", bias),
       fmt::format("output: {}", output),
       "shape rule: [batch, in_features] @ [in_features, out_features] -> [batch, out_features]",
       fmt::format("params: {} values / {} B", values, 4 * values),
       fmt::format("compute: batch * out_features * in_features * 2 + bias adds = {} ops", ops)});
  texts.step.lines.insert(
      texts.step.lines.end(),
      {fmt::format("Input tensor: {}", input), "Operation: output = input @ weights + bias",
       fmt::format("weights: {}", weights), fmt::format("bias: {}", bias),
       fmt::format("Result shape: {}", output),
       fmt::format("Interpretation: each output feature is a weighted mixture of {} input "
                   "features.",
                   x[1])});
  texts.question.lines = {fmt::format("input:   {}", input), fmt::format("weights: {}", weights),
                          fmt::format("bias:    {}", bias)};
  texts.question.answer = output;
  texts.question.why = fmt::format(
      "[batch, in_features] @ [in_features, out_features] -> [batch, out_features], so {} @ {} "
      "-> {}",
      input, weights, output);
  return texts;
}

LayerTexts attention_texts(const Layer& layer, std::uint64_t number, ShapeView x, ShapeView out,
                           const AttentionCost& cost) {
  LayerTexts texts = start_texts(layer, number, "self-attention");
  texts.operation = fmt::format("{}: QKV projections + Q @ K^T + attention @ V", layer.name);
  texts.cost_label = fmt::format("{} (attention)", layer.name);
  const std::uint64_t t = cost.tokens;
  const std::uint64_t dk = cost.head_dim;
  const std::uint64_t dv = cost.value_dim;
  const std::string input = format_shape(x);
  const std::string wq = format_shape(layer.wq.shape);
  const std::string wk = format_shape(layer.wk.shape);
  const std::string wv = format_shape(layer.wv.shape);
  const std::string output = format_shape(out);
  const std::uint64_t values = layer.wq.data.size() + layer.wk.data.size() + layer.wv.data.size();
  texts.report.lines.insert(
      texts.report.lines.end(),
      {"operation: attention = softmax(Q @ K^T / sqrt(head_dim)); output = attention @ V",
       fmt::format("input X: {}", input), fmt::format("Wq: {}, Wk: {}, Wv: {}", wq, wk, wv),
       fmt::format("Q/K: [{}, {}]", t, dk), fmt::format("V: [{}, {}]", t, dv),
       fmt::format("scores: [{}, {}]", t, t), fmt::format("output: {}", output),
       "shape rule: Q @ K^T maps [tokens, head_dim] @ [head_dim, tokens] -> [tokens, tokens]",
       fmt::format("params: {} values / {} B", values, 4 * values),
       fmt::format("compute: QKV projections + score matmul + value mix = {} ops", cost.total)});
  texts.step.lines.insert(
      texts.step.lines.end(),
      {fmt::format("Input tensor: [tokens={}, features={}]", t, x[1]),
       "The layer projects every token into query, key, and value vectors.", "Q = X @ Wq",
       "K = X @ Wk", "V = X @ Wv", fmt::format("Q/K shape: [{}, {}]", t, dk),
       fmt::format("V shape: [{}, {}]", t, dv),
       "Why: queries represent what each token is looking for; keys represent what each token "
       "offers; values carry information to share.",
       "scores = Q @ K^T / sqrt(head_dim)", fmt::format("scores shape: [{}, {}]", t, t),
       fmt::format("Interpretation: each token compares with every token, producing {} pairwise "
                   "comparisons.",
                   t * t),
       "attention = softmax(scores)",
       "Why: softmax converts raw scores into weights that sum to 1 for each token.",
       "output = attention @ V", fmt::format("Result shape: {}", output)});
  texts.question.lines = {fmt::format("input X: {}", input), fmt::format("Wq:      {}", wq),
                          fmt::format("Wk:      {}", wk), fmt::format("Wv:      {}", wv),
                          fmt::format("scores:  [{}, {}]", t, t)};
  texts.question.answer = output;
  texts.question.why =
      fmt::format("Attention weights are [{}, {}] and V is [{}, {}], so attention @ V -> {}.", t, t,
                  t, dv, output);
  return texts;
}

LayerTexts activation_texts(const Layer& layer, std::uint64_t number, ShapeView x,
                            std::uint64_t count) {
  struct Words {
    std::string_view step_title, operation, cost_kind, shape_rule, compute, step_op, interpretation,
        why;
  };
  static constexpr Words kRelu = {
      "ReLU activation",
      "ReLU",
      "relu",
      "shape rule: element-wise operation keeps the same shape",
      "compute: {} element comparisons",
      "Operation: max(0, x) element by element",
      "Interpretation: negative values are clipped; the tensor shape does not change.",
      "ReLU is element-wise, so it keeps the same shape."};
  static constexpr Words kGelu = {
      "GELU activation",
      "GELU",
      "gelu",
      "shape rule: element-wise operation keeps the same shape",
      "compute: {} element transforms",
      "Operation: smooth element-wise gating",
      "Interpretation: values are transformed independently, so the tensor shape stays fixed.",
      "GELU is element-wise, so it keeps the same shape."};
  static constexpr Words kSoftmax = {
      "softmax",
      "softmax",
      "softmax",
      "shape rule: normalization over last dim keeps the same shape",
      "compute: {} exponentials plus row reductions",
      "Operation: exp(x - max) / sum(exp(x - max)) over the last dimension",
      "Interpretation: raw scores become normalized weights or probabilities; shape is "
      "unchanged.",
      "Softmax normalizes over a dimension but keeps the same tensor shape."};
  const Words& words = layer.kind == LayerKind::Relu   ? kRelu
                       : layer.kind == LayerKind::Gelu ? kGelu
                                                       : kSoftmax;
  LayerTexts texts = start_texts(layer, number, words.step_title);
  texts.operation = fmt::format("{}: {}", layer.name, words.operation);
  texts.cost_label = fmt::format("{} ({})", layer.name, words.cost_kind);
  const std::string shape = format_shape(x);
  texts.report.lines.insert(
      texts.report.lines.end(),
      {fmt::format("input/output: {}", shape), std::string(words.shape_rule),
       "params: 0 values / 0 B", fmt::format(fmt::runtime(words.compute), count)});
  texts.step.lines.insert(
      texts.step.lines.end(),
      {fmt::format("Input tensor: {}", shape), std::string(words.step_op),
       fmt::format("Result shape: {}", shape), std::string(words.interpretation)});
  texts.question.lines = {fmt::format("input: {}", shape)};
  texts.question.answer = shape;
  texts.question.why = words.why;
  return texts;
}

}  // namespace orvik
