#include "model/analysis_texts.hpp"

#include <fmt/format.h>

#include "tensor/tensor.hpp"

namespace orvik {

namespace {

// The words of the element-wise kinds.
struct ActivationWords {
  std::string_view step_title, shape_rule, compute, step_op, interpretation, why;
};

constexpr ActivationWords kRelu = {
    "ReLU activation",
    "shape rule: element-wise operation keeps the same shape",
    "compute: {} element comparisons",
    "Operation: max(0, x) element by element",
    "Interpretation: negative values are clipped; the tensor shape does not change.",
    "ReLU is element-wise, so it keeps the same shape."};
constexpr ActivationWords kGelu = {
    "GELU activation",
    "shape rule: element-wise operation keeps the same shape",
    "compute: {} element transforms",
    "Operation: smooth element-wise gating",
    "Interpretation: values are transformed independently, so the tensor shape stays fixed.",
    "GELU is element-wise, so it keeps the same shape."};
constexpr ActivationWords kSoftmax = {
    "softmax",
    "shape rule: normalization over last dim keeps the same shape",
    "compute: {} exponentials plus row reductions",
    "Operation: exp(x - max) / sum(exp(x - max)) over the last dimension",
    "Interpretation: raw scores become normalized weights or probabilities; shape is "
    "unchanged.",
    "Softmax normalizes over a dimension but keeps the same tensor shape."};

// The short words of every kind: its name in layer titles and the plan, what it computes in the
// operation list, and its word in cost labels.
struct KindWords {
  std::string_view title, operation, cost;
};

KindWords kind_words(LayerKind kind) {
  switch (kind) {
    case LayerKind::Linear:
      return {"Linear", "input @ weights + bias", "linear"};
    case LayerKind::SelfAttention:
      return {"SelfAttention", "QKV projections + Q @ K^T + attention @ V", "attention"};
    case LayerKind::Relu:
      return {"ReLU", "ReLU", "relu"};
    case LayerKind::Gelu:
      return {"GELU", "GELU", "gelu"};
    case LayerKind::Softmax:
      break;
  }
  return {"Softmax", "softmax", "softmax"};
}

const ActivationWords& activation_words(LayerKind kind) {
  return kind == LayerKind::Relu ? kRelu : kind == LayerKind::Gelu ? kGelu : kSoftmax;
}

}  // namespace

std::string_view layer_kind_word(LayerKind kind) {
  return kind_words(kind).title;
}

std::string layer_title(const Layer& layer) {
  return fmt::format("{} ({})", layer.name, layer_kind_word(layer.kind));
}

std::string operation_name(const Layer& layer) {
  return fmt::format("{}: {}", layer.name, kind_words(layer.kind).operation);
}

std::string cost_label(const Layer& layer) {
  return fmt::format("{} ({})", layer.name, kind_words(layer.kind).cost);
}

LayerReport layer_report(const LayerStep& step) {
  const Layer& layer = *step.layer;
  LayerReport report{layer_title(layer), {}, step.number};
  std::vector<std::string>& lines = report.lines;
  if (layer.explain) lines.push_back(fmt::format("why: {}", *layer.explain));
  const std::string input = format_shape(step.input);
  const std::uint64_t values = step.param_bytes / 4;
  const std::string params = fmt::format("params: {} values / {} B", values, 4 * values);
  switch (layer.kind) {
    case LayerKind::Linear:
      lines.insert(lines.end(),
                   {"operation: output = input @ weights + bias", fmt::format("input: {}", input),
                    fmt::format("weights: {}", format_shape(layer.weights().shape)),
                    fmt::format("bias: {}", format_shape(layer.bias().shape)),
                    fmt::format("output: {}", format_shape(step.output)),
                    "shape rule: [batch, in_features] @ [in_features, out_features] -> [batch, "
                    "out_features]",
                    params,
                    fmt::format("compute: batch * out_features * in_features * 2 + bias adds = {} "
                                "ops",
                                step.ops)});
      break;
    case LayerKind::SelfAttention: {
      const AttentionCost& cost = *step.attention;
      const std::uint64_t t = cost.tokens;
      lines.insert(
          lines.end(),
          {"operation: attention = softmax(Q @ K^T / sqrt(head_dim)); output = attention @ V",
           fmt::format("input X: {}", input),
           fmt::format("Wq: {}, Wk: {}, Wv: {}", format_shape(layer.wq().shape),
                       format_shape(layer.wk().shape), format_shape(layer.wv().shape)),
           fmt::format("Q/K: [{}, {}]", t, cost.head_dim),
           fmt::format("V: [{}, {}]", t, cost.value_dim), fmt::format("scores: [{}, {}]", t, t),
           fmt::format("output: {}", format_shape(step.output)),
           "shape rule: Q @ K^T maps [tokens, head_dim] @ [head_dim, tokens] -> [tokens, tokens]",
           params,
           fmt::format("compute: QKV projections + score matmul + value mix = {} ops",
                       cost.total)});
      break;
    }
    default: {
      const ActivationWords& words = activation_words(layer.kind);
      lines.insert(lines.end(),
                   {fmt::format("input/output: {}", input), std::string(words.shape_rule),
                    "params: 0 values / 0 B", fmt::format(fmt::runtime(words.compute), step.ops)});
    }
  }
  return report;
}

WalkthroughStep walkthrough_step(const LayerStep& step) {
  const Layer& layer = *step.layer;
  const ActivationWords& words = activation_words(layer.kind);
  const std::string_view title = layer.kind == LayerKind::Linear          ? "linear projection"
                                 : layer.kind == LayerKind::SelfAttention ? "self-attention"
                                                                          : words.step_title;
  WalkthroughStep out{fmt::format("{}: {}", layer.name, title), {}, step.number};
  std::vector<std::string>& lines = out.lines;
  if (layer.explain) lines.push_back(fmt::format("Purpose: {}", *layer.explain));
  const std::string input = format_shape(step.input);
  const std::string output = format_shape(step.output);
  switch (layer.kind) {
    case LayerKind::Linear:
      lines.insert(
          lines.end(),
          {fmt::format("Input tensor: {}", input), "Operation: output = input @ weights + bias",
           fmt::format("weights: {}", format_shape(layer.weights().shape)),
           fmt::format("bias: {}", format_shape(layer.bias().shape)),
           fmt::format("Result shape: {}", output),
           fmt::format("Interpretation: each output feature is a weighted mixture of {} "
                       "input features.",
                       step.input[1])});
      break;
    case LayerKind::SelfAttention: {
      const AttentionCost& cost = *step.attention;
      const std::uint64_t t = cost.tokens;
      lines.insert(
          lines.end(),
          {fmt::format("Input tensor: [tokens={}, features={}]", t, step.input[1]),
           "The layer projects every token into query, key, and value vectors.", "Q = X @ Wq",
           "K = X @ Wk", "V = X @ Wv", fmt::format("Q/K shape: [{}, {}]", t, cost.head_dim),
           fmt::format("V shape: [{}, {}]", t, cost.value_dim),
           "Why: queries represent what each token is looking for; keys represent what each "
           "token offers; values carry information to share.",
           "scores = Q @ K^T / sqrt(head_dim)", fmt::format("scores shape: [{}, {}]", t, t),
           fmt::format("Interpretation: each token compares with every token, producing {} "
                       "pairwise comparisons.",
                       t * t),
           "attention = softmax(scores)",
           "Why: softmax converts raw scores into weights that sum to 1 for each token.",
           "output = attention @ V", fmt::format("Result shape: {}", output)});
      break;
    }
    default:
      lines.insert(lines.end(),
                   {fmt::format("Input tensor: {}", input), std::string(words.step_op),
                    fmt::format("Result shape: {}", input), std::string(words.interpretation)});
  }
  return out;
}

QuizQuestion quiz_question(const LayerStep& step) {
  const Layer& layer = *step.layer;
  QuizQuestion question;
  question.title = layer_title(layer);
  question.number = step.number;
  const std::string input = format_shape(step.input);
  question.answer = format_shape(step.output);
  switch (layer.kind) {
    case LayerKind::Linear: {
      const std::string weights = format_shape(layer.weights().shape);
      question.lines = {fmt::format("input:   {}", input), fmt::format("weights: {}", weights),
                        fmt::format("bias:    {}", format_shape(layer.bias().shape))};
      question.why = fmt::format(
          "[batch, in_features] @ [in_features, out_features] -> [batch, out_features], so {} @ "
          "{} -> {}",
          input, weights, question.answer);
      break;
    }
    case LayerKind::SelfAttention: {
      const std::uint64_t t = step.attention->tokens;
      question.lines = {fmt::format("input X: {}", input),
                        fmt::format("Wq:      {}", format_shape(layer.wq().shape)),
                        fmt::format("Wk:      {}", format_shape(layer.wk().shape)),
                        fmt::format("Wv:      {}", format_shape(layer.wv().shape)),
                        fmt::format("scores:  [{}, {}]", t, t)};
      question.why =
          fmt::format("Attention weights are [{}, {}] and V is [{}, {}], so attention @ V -> {}.",
                      t, t, t, step.attention->value_dim, question.answer);
      break;
    }
    default:
      question.lines = {fmt::format("input: {}", input)};
      question.why = activation_words(layer.kind).why;
  }
  return question;
}

}  // namespace orvik
