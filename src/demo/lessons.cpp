#include "demo/lessons.hpp"

#include <span>

#include <fmt/core.h>

#include "demo/step_output.hpp"
#include "util/output.hpp"

namespace orvik {
namespace {

struct TableStep {
  std::string_view title;
  LessonRow row;
};

constexpr LessonRow make_row(std::string_view shape, std::string_view memory, std::string_view math,
                             std::string_view compare, std::string_view all) {
  return {
      {{"shape", shape}, {"memory", memory}, {"math", math}, {"compare", compare}, {"all", all}}};
}

constexpr std::array kTensorSteps{
    TableStep{"Step 1: raw values",
              make_row("values: 6 float32 numbers", "memory: 6 * 4 bytes = 24 bytes",
                       "flat index for [row, col] is row * cols + col",
                       "PyTorch: torch.tensor([[1, 2, 3], [4, 5, 6]])",
                       "A tensor is a flat buffer interpreted through a shape.")},
    TableStep{
        "Step 2: shaped view",
        make_row("shape: [2, 3] means 2 rows and 3 columns",
                 "reshaping does not have to copy values",
                 "value[1, 2] reads flat index 1 * 3 + 2 = 5", "PyTorch: x.shape, x.reshape(2, 3)",
                 "The shape tells every operation how to walk the buffer.")},
};
constexpr std::array kMatmulSteps{
    TableStep{"Step 1: A @ B",
              make_row("A: [4, 8], B: [8, 2], output: [4, 2]",
                       "output memory: 4 * 2 * 4 bytes = 32 bytes",
                       "out[i, j] = sum(A[i, k] * B[k, j]) for k in 0..8", "PyTorch: out = A @ B",
                       "The shared inner dimension disappears; outer dimensions remain.")},
};
constexpr std::array kLinearSteps{
    TableStep{"Step 1: matrix multiply",
              make_row("x: [1, 4], W: [4, 8], x @ W: [1, 8]",
                       "activation memory: 1 * 8 * 4 bytes = 32 bytes", "hidden = x @ W",
                       "PyTorch: hidden = x @ weight",
                       "Each output feature is a weighted mixture of the input features.")},
    TableStep{
        "Step 2: add bias",
        make_row("bias: [8] broadcasts across batch rows", "bias memory: 8 * 4 bytes = 32 bytes",
                 "out[i, j] = hidden[i, j] + bias[j]", "PyTorch: out = hidden + bias",
                 "Bias shifts each output feature after the weighted sum.")},
};
constexpr std::array kSoftmaxSteps{
    TableStep{"Step 1: normalize last dimension",
              make_row("input: [4, 4], output: [4, 4]",
                       "same shape, same output size; implementations may reuse buffers",
                       "softmax(x_i) = exp(x_i - max(x)) / sum(exp(x_j - max(x)))",
                       "PyTorch: probs = torch.softmax(scores, dim=-1)",
                       "Subtracting the row max improves numerical stability.")},
};
constexpr std::array kAttentionSteps{
    TableStep{
        "Step 1: create Q, K, V",
        make_row("X: [4, 768], Wq/Wk/Wv: [768, 768], Q/K/V: [4, 768]",
                 "Q + K + V: 3 * 4 * 768 * 4 bytes = 36 KiB", "Q = X @ Wq, K = X @ Wk, V = X @ Wv",
                 "PyTorch: q, k, v = x @ Wq, x @ Wk, x @ Wv",
                 "Each token gets query, key, and value vectors.")},
    TableStep{"Step 2: attention scores",
              make_row("Q: [4, 768], K^T: [768, 4], scores: [4, 4]",
                       "scores memory: 4 * 4 * 4 bytes = 64 bytes", "scores = Q @ K^T / sqrt(768)",
                       "PyTorch: scores = q @ k.T / math.sqrt(q.shape[-1])",
                       "Each row asks how strongly one token should look at all tokens.")},
    TableStep{"Step 3: probabilities",
              make_row("softmax keeps [4, 4]",
                       "attention probabilities use another 64 bytes if stored separately",
                       "attention = softmax(scores)",
                       "PyTorch: attention = torch.softmax(scores, dim=-1)",
                       "Rows sum to 1, so every token has a distribution over tokens.")},
    TableStep{"Step 4: weighted values",
              make_row("attention: [4, 4], V: [4, 768], output: [4, 768]",
                       "output memory: 4 * 768 * 4 bytes = 12 KiB", "output = attention @ V",
                       "PyTorch: out = attention @ v",
                       "The output mixes value vectors according to attention weights.")},
};
constexpr TableStep kFeedForward{
    "Step 5: feed-forward block",
    make_row("[4, 768] -> linear [4, 3072] -> GELU -> linear [4, 768]",
             "the hidden feed-forward activation is often the largest temporary tensor",
             "ffn(x) = GELU(x @ W1 + b1) @ W2 + b2",
             "PyTorch: y = W2(torch.nn.functional.gelu(W1(x)))",
             "Transformers alternate token mixing with per-token feature mixing.")};

std::string_view focus_label(LessonFocus focus) {
  switch (focus) {
    case LessonFocus::Shape:
      return "shape";
    case LessonFocus::Memory:
      return "memory";
    case LessonFocus::Math:
      return "math";
    case LessonFocus::Compare:
      return "compare";
    case LessonFocus::All:
      break;
  }
  return "all";
}

Lesson make_lesson(std::string_view title, std::span<const TableStep> steps, LessonFocus focus) {
  Lesson lesson{std::string(title), {}};
  for (const auto& step : steps)
    lesson.steps.push_back(build_lesson_step(step.title, step.row, focus));
  return lesson;
}

}  // namespace

Result<Topic> parse_topic(std::string_view word) {
  if (word == "tensor") return Topic::Tensor;
  if (word == "matmul") return Topic::Matmul;
  if (word == "linear") return Topic::Linear;
  if (word == "softmax") return Topic::Softmax;
  if (word == "attention") return Topic::Attention;
  if (word == "transformer" || word == "tiny-transformer") return Topic::Transformer;
  return fail(fmt::format("unknown topic `{}`", word));
}

LessonStep build_lesson_step(std::string_view title, const LessonRow& row, LessonFocus focus) {
  LessonStep step{std::string(title), {}};
  for (const auto& [label, text] : row) {
    // The "all" line belongs to the All focus alone, which shows every line.
    if (focus == LessonFocus::All || label == focus_label(focus)) step.lines.emplace_back(text);
  }
  return step;
}

Lesson attention_lesson_steps(LessonFocus focus) {
  return make_lesson("Attention: every token compares with every token", kAttentionSteps, focus);
}

Lesson build_lesson(Topic topic, LessonFocus focus) {
  switch (topic) {
    case Topic::Tensor:
      return make_lesson("Tensor: data plus shape", kTensorSteps, focus);
    case Topic::Matmul:
      return make_lesson("Matmul: combine rows with columns", kMatmulSteps, focus);
    case Topic::Linear:
      return make_lesson("Linear layer: matmul plus bias", kLinearSteps, focus);
    case Topic::Softmax:
      return make_lesson("Softmax: scores into probabilities", kSoftmaxSteps, focus);
    case Topic::Attention:
      return attention_lesson_steps(focus);
    case Topic::Transformer:
      break;
  }
  Lesson lesson = attention_lesson_steps(focus);
  lesson.title = "Tiny transformer: attention plus feed-forward";
  lesson.steps.push_back(build_lesson_step(kFeedForward.title, kFeedForward.row, focus));
  return lesson;
}

CommandResult print_lesson(const Lesson& lesson, bool step_mode) {
  if (step_mode) {
    print_line("orvik step mode. Press Enter for each operation.");
    print_line();
  } else {
    print_underlined(lesson.title);
  }
  for (const auto& step : lesson.steps) {
    if (auto printed = print_step(step.title, step.lines, std::nullopt, step_mode); !printed)
      return printed;
  }
  return {};
}

}  // namespace orvik
