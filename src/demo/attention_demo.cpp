#include "demo/attention_demo.hpp"

#include <cmath>

#include <fmt/core.h>

#include "demo/step_output.hpp"
#include "tensor/kernels.hpp"
#include "util/format.hpp"
#include "util/output.hpp"

namespace orvik {
namespace {

// 1 / sqrt(2) as a 32-bit float: the scores are scaled by the square root of the key width, 2.
constexpr float kInverseSqrtTwo = 0.70710677f;

// Memory of a tensor's values, four bytes each.
std::uint64_t memory_bytes(const Tensor& tensor) {
  return 4 * static_cast<std::uint64_t>(tensor.data.size());
}

std::string shape_text(const Tensor& tensor) {
  return format_shape(tensor.shape);
}

std::string ms_text(const OpOutput& op) {
  return format_fixed(elapsed_ms(op.elapsed), 3);
}

// Shortest decimal that reads back to the same float, with a fractional part: 1.0, 0.25, NaN.
std::string float_with_fraction(float value) {
  std::string text = format_f32(value);
  if (std::isfinite(value) && text.find('.') == std::string::npos) text += ".0";
  return text;
}

}  // namespace

Result<DemoMatrices> demo_matrices() {
  auto x = make_tensor({2, 2}, {1.0f, 0.0f, 0.5f, 1.0f});
  auto wq = make_tensor({2, 2}, {1.0f, 0.2f, 0.0f, 0.8f});
  auto wk = make_tensor({2, 2}, {0.7f, 0.1f, 0.3f, 1.0f});
  auto wv = make_tensor({2, 2}, {1.0f, -0.4f, 0.2f, 0.9f});
  for (const auto* made : {&x, &wq, &wk, &wv}) {
    if (!*made) return fail(made->error());
  }
  return DemoMatrices{std::move(*x), std::move(*wq), std::move(*wk), std::move(*wv)};
}

Result<Demo> build_attention_demo(bool show_values) {
  const auto inputs = demo_matrices();
  if (!inputs) return fail(inputs.error());
  const Tensor& x = inputs->x;
  const auto q = matmul(x, inputs->wq);
  if (!q) return fail(q.error());
  const auto k = matmul(x, inputs->wk);
  if (!k) return fail(k.error());
  const auto v = matmul(x, inputs->wv);
  if (!v) return fail(v.error());
  const auto k_t = transpose2d(k->tensor);
  if (!k_t) return fail(k_t.error());
  const auto scores = matmul(q->tensor, k_t->tensor);
  if (!scores) return fail(scores.error());
  const OpOutput scaled = scale(scores->tensor, kInverseSqrtTwo);
  const auto attention = softmax(scaled.tensor);
  if (!attention) return fail(attention.error());
  const auto output = matmul(attention->tensor, v->tensor);
  if (!output) return fail(output.error());

  Demo demo{"Numeric attention demo", {}};
  demo.steps.push_back(DemoStep{
      "Step 1: input tokens",
      {fmt::format("X shape: {}", shape_text(x)), fmt::format("memory: {} B", memory_bytes(x)),
       "meaning: two token vectors, each with two features"},
      format_matrices(show_values, {{"X", &x}})});
  demo.steps.push_back(DemoStep{
      "Step 2: create Q, K, V",
      {fmt::format("Q = X @ Wq -> {}", shape_text(q->tensor)),
       fmt::format("K = X @ Wk -> {}", shape_text(k->tensor)),
       fmt::format("V = X @ Wv -> {}", shape_text(v->tensor)),
       fmt::format("time: Q {} ms, K {} ms, V {} ms", ms_text(*q), ms_text(*k), ms_text(*v)),
       "meaning: queries ask, keys match, values carry information"},
      format_matrices(show_values, {{"Q", &q->tensor}, {"K", &k->tensor}, {"V", &v->tensor}})});
  demo.steps.push_back(DemoStep{
      "Step 3: score token-to-token matches",
      {fmt::format("K^T shape: {}", shape_text(k_t->tensor)),
       fmt::format("scores = Q @ K^T -> {}", shape_text(scores->tensor)),
       fmt::format("scaled = scores / sqrt(2) -> {}", shape_text(scaled.tensor)),
       "meaning: each row scores how much one token looks at all tokens"},
      format_matrices(show_values, {{"scores", &scores->tensor}, {"scaled", &scaled.tensor}})});
  demo.steps.push_back(
      DemoStep{"Step 4: turn scores into probabilities",
               {fmt::format("attention = softmax(scaled) -> {}", shape_text(attention->tensor)),
                "check: each row sums to 1",
                "meaning: every token now has a distribution over context tokens"},
               format_matrices(show_values, {{"attention", &attention->tensor}})});
  demo.steps.push_back(
      DemoStep{"Step 5: mix values",
               {fmt::format("output = attention @ V -> {}", shape_text(output->tensor)),
                fmt::format("time: {} ms", ms_text(*output)),
                fmt::format("output memory: {} B", memory_bytes(output->tensor)),
                "PyTorch: out = torch.softmax(q @ k.T / math.sqrt(2), dim=-1) @ v"},
               format_matrices(show_values, {{"output", &output->tensor}})});
  return demo;
}

std::string format_matrix(std::string_view name, const Tensor& tensor) {
  if (tensor.shape.size() == 2) {
    // The same text as the lab's value listing, less the line break a listing of no rows ends in.
    std::string text = format_tensor_values(name, tensor);
    if (!text.empty() && text.back() == '\n') text.pop_back();
    return text;
  }
  std::string text = fmt::format("{}: [", name);
  for (std::size_t i = 0; i < tensor.data.size(); ++i) {
    if (i > 0) text += ", ";
    text += float_with_fraction(tensor.data[i]);
  }
  text += ']';
  return text;
}

std::optional<std::string> format_matrices(
    bool show_values, const std::vector<std::pair<std::string_view, const Tensor*>>& matrices) {
  if (!show_values) return std::nullopt;
  std::string text;
  for (const auto& [name, tensor] : matrices) {
    if (!text.empty()) text += '\n';
    text += format_matrix(name, *tensor);
  }
  return text;
}

CommandResult cmd_demo(const std::vector<std::string>& words) {
  bool show_values = false;
  bool step_mode = false;
  const std::string* name = nullptr;
  for (const auto& word : words) {
    if (word == "--values") {
      show_values = true;
    } else if (word == "--step") {
      step_mode = true;
    } else if (name != nullptr) {
      return fail(fmt::format("unexpected argument `{}`", word));
    } else {
      name = &word;
    }
  }
  if (name != nullptr && *name != "attention") {
    return fail(fmt::format("unknown demo `{}`. Try `orvik demo attention`.", *name));
  }
  const auto demo = build_attention_demo(show_values);
  if (!demo) return fail(demo.error());
  print_underlined(demo->title);
  for (const auto& step : demo->steps) {
    if (auto printed = print_step(step.title, step.lines, step.values, step_mode); !printed)
      return printed;
  }
  return {};
}

}  // namespace orvik
