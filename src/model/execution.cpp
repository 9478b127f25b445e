#include "model/execution.hpp"

#include <algorithm>
#include <bit>
#include <chrono>
#include <cmath>

#include <fmt/format.h>

#include "model/analysis.hpp"
#include "model/analysis_texts.hpp"
#include "tensor/kernels.hpp"
#include "util/format.hpp"
#include "util/text.hpp"

namespace orvik {

namespace {

using Nanos = std::chrono::nanoseconds;

std::uint64_t bytes_of(const Tensor& tensor) {
  return 4 * static_cast<std::uint64_t>(tensor.data.size());
}

// Frees a tensor's values now rather than when its holder goes out of scope.
void drop(Tensor& tensor) {
  tensor = Tensor{};
}

// The tensor a layer reads: the model's input (borrowed) for the first layer, afterwards the
// previous layer's output (owned), which the layer frees once it has read it.
struct Running {
  const Tensor* tensor = nullptr;
  Tensor owned;

  // `tensor` must not be read afterwards.
  void release() {
    tensor = nullptr;
    drop(owned);
  }
  void replace(Tensor next) {
    owned = std::move(next);
    tensor = &owned;
  }
};

// What one layer produced, before it becomes an ExecStep.
struct LayerRun {
  std::vector<std::string> lines;
  std::optional<std::string> values;
  std::optional<std::string> heatmap;
  Nanos time{0};
  Tensor output;
};

struct Requests {
  bool values = false;
  bool heatmap = false;
};

// The value text of a tensor. A rank-2 text has one line per row even when the rows hold no
// values, so an empty tensor of a huge shape ([2^60, 0]) would need more lines than any memory
// holds; such a row count is held to the kernels' limit on values.
Result<std::string> values_text(std::string_view name, const Tensor& tensor) {
  if (tensor.shape.size() == 2 && tensor.shape[1] == 0 && tensor.shape[0] > kMaxTensorValues) {
    return fail(fmt::format("cannot print {} values: shape {} has more than {} rows", name,
                            format_shape(tensor.shape), kMaxTensorValues));
  }
  return format_tensor_values(name, tensor);
}

Result<std::optional<std::string>> output_values(bool show, const Tensor& output) {
  if (!show) return std::nullopt;
  auto text = values_text("output", output);
  if (!text) return fail(std::move(text.error()));
  return std::move(*text);
}

Result<void> run_linear(const Layer& layer, Running& in, Requests requests, LayerRun& run) {
  const Tensor& x = *in.tensor;
  const std::string input_shape = format_shape(x.shape);
  const std::uint64_t input_bytes = bytes_of(x);
  const std::uint64_t ops = linear_ops(x.shape, layer.weights().shape);
  auto product = matmul(x, layer.weights());
  if (!product) return fail(std::move(product.error()));
  in.release();
  auto sum = add_tensors(product->tensor, layer.bias());
  if (!sum) return fail(std::move(sum.error()));
  drop(product->tensor);
  Tensor& y = sum->tensor;
  run.time = product->elapsed + sum->elapsed;
  run.lines.insert(
      run.lines.end(),
      {"operation: output = input @ weights + bias", fmt::format("input: {}", input_shape),
       fmt::format("weights: {}", format_shape(layer.weights().shape)),
       fmt::format("bias: {}", format_shape(layer.bias().shape)),
       fmt::format("output: {}", format_shape(y.shape)),
       fmt::format("memory: input {} B, weights {} B, output {} B", input_bytes,
                   bytes_of(layer.weights()), bytes_of(y)),
       fmt::format("estimated ops: {}", ops)});
  auto values = output_values(requests.values, y);
  if (!values) return fail(std::move(values.error()));
  run.values = std::move(*values);
  run.output = std::move(y);
  return {};
}

Result<void> run_attention(const Layer& layer, Running& in, Requests requests, LayerRun& run) {
  const Tensor& x = *in.tensor;
  const std::string input_shape = format_shape(x.shape);
  const std::uint64_t ops =
      attention_cost(layer.name, x.shape, layer.wq().shape, layer.wv().shape).total;
  auto q = matmul(x, layer.wq());
  if (!q) return fail(std::move(q.error()));
  auto k = matmul(x, layer.wk());
  if (!k) return fail(std::move(k.error()));
  auto v = matmul(x, layer.wv());
  if (!v) return fail(std::move(v.error()));
  in.release();
  // The value texts of Q, K, V, scores, attention and output, each taken before its tensor goes.
  std::vector<std::string> values;
  const auto keep_values = [&](std::string_view name, const Tensor& tensor) -> Result<void> {
    if (!requests.values) return {};
    auto text = values_text(name, tensor);
    if (!text) return fail(std::move(text.error()));
    values.push_back(std::move(*text));
    return {};
  };
  if (auto kept = keep_values("Q", q->tensor); !kept) return kept;
  if (auto kept = keep_values("K", k->tensor); !kept) return kept;
  if (auto kept = keep_values("V", v->tensor); !kept) return kept;
  const std::string q_shape = format_shape(q->tensor.shape);
  const std::string k_shape = format_shape(k->tensor.shape);
  const std::uint64_t q_bytes = bytes_of(q->tensor);
  const std::uint64_t k_bytes = bytes_of(k->tensor);

  auto k_t = transpose2d(k->tensor);
  if (!k_t) return fail(std::move(k_t.error()));
  drop(k->tensor);
  auto scores = matmul(q->tensor, k_t->tensor);
  if (!scores) return fail(std::move(scores.error()));
  drop(q->tensor);
  drop(k_t->tensor);
  if (auto kept = keep_values("scores", scores->tensor); !kept) return kept;
  const std::string scores_shape = format_shape(scores->tensor.shape);
  const std::uint64_t scores_bytes = bytes_of(scores->tensor);

  // 1 / sqrt(head_dim), all in 32-bit floats.
  const float head_dim = static_cast<float>(layer.wq().shape[1]);
  OpOutput scaled = scale(scores->tensor, 1.0f / std::sqrt(head_dim));
  drop(scores->tensor);
  auto attention = softmax(scaled.tensor);
  if (!attention) return fail(std::move(attention.error()));
  drop(scaled.tensor);
  auto y = matmul(attention->tensor, v->tensor);
  if (!y) return fail(std::move(y.error()));
  if (auto kept = keep_values("attention", attention->tensor); !kept) return kept;
  if (auto kept = keep_values("output", y->tensor); !kept) return kept;
  if (requests.heatmap && attention->tensor.shape.size() == 2) {
    run.heatmap = attention_heatmap(attention->tensor);
  }

  run.time = q->elapsed + k->elapsed + v->elapsed + k_t->elapsed + scores->elapsed +
             scaled.elapsed + attention->elapsed + y->elapsed;
  run.lines.insert(
      run.lines.end(),
      {"operation: softmax((X @ Wq) @ (X @ Wk)^T / sqrt(head_dim)) @ (X @ Wv)",
       fmt::format("input: {}", input_shape),
       fmt::format("Wq/Wk/Wv: {}, {}, {}", format_shape(layer.wq().shape),
                   format_shape(layer.wk().shape), format_shape(layer.wv().shape)),
       fmt::format("Q/K/V: {}, {}, {}", q_shape, k_shape, format_shape(v->tensor.shape)),
       fmt::format("scores: {}", scores_shape),
       fmt::format("attention: {}", format_shape(attention->tensor.shape)),
       fmt::format("output: {}", format_shape(y->tensor.shape)),
       fmt::format("memory: Q {} B, K {} B, V {} B, scores {} B, output {} B", q_bytes, k_bytes,
                   bytes_of(v->tensor), scores_bytes, bytes_of(y->tensor)),
       fmt::format("estimated ops: {}", ops)});
  if (requests.values) run.values = fmt::format("{}", fmt::join(values, "\n"));
  run.output = std::move(y->tensor);
  return {};
}

Result<void> run_element_wise(const Layer& layer, Running& in, Requests requests, LayerRun& run) {
  OpOutput y{};
  std::string_view math;
  std::string_view ops_label = "estimated element ops";
  switch (layer.kind) {
    case LayerKind::Relu:
      y = relu(*in.tensor);
      math = "math: max(0, x) element-wise";
      ops_label = "estimated ops";
      break;
    case LayerKind::Gelu:
      y = gelu(*in.tensor);
      math = "math: smooth gate that keeps positive values and dampens negatives";
      break;
    default: {  // softmax
      auto normalized = softmax(*in.tensor);
      if (!normalized) return fail(std::move(normalized.error()));
      y = std::move(*normalized);
      math = "math: exp(x - max) / sum(exp(x - max)) over last dim";
      break;
    }
  }
  in.release();
  run.time = y.elapsed;
  run.lines.insert(run.lines.end(),
                   {fmt::format("input/output: {}", format_shape(y.tensor.shape)),
                    std::string(math), fmt::format("{}: {}", ops_label, y.tensor.data.size())});
  auto values = output_values(requests.values, y.tensor);
  if (!values) return fail(std::move(values.error()));
  run.values = std::move(*values);
  run.output = std::move(y.tensor);
  return {};
}

// n "#" and 10 - n "." for a weight, n = round(clamp(v, 0, 1) * 10) in 32-bit floats.
std::string weight_bar(float weight) {
  int filled = 0;
  if (!std::isnan(weight)) {
    const float clamped = std::min(std::max(weight, 0.0f), 1.0f);
    filled = static_cast<int>(std::round(clamped * 10.0f));
  }
  std::string bar(static_cast<std::size_t>(filled), '#');
  bar.append(static_cast<std::size_t>(10 - filled), '.');
  return bar;
}

// A key whose signed order is the IEEE total order of the floats.
std::int32_t total_order_key(float value) {
  const auto bits = std::bit_cast<std::int32_t>(value);
  return bits < 0 ? bits ^ 0x7fffffff : bits;
}

}  // namespace

std::string attention_heatmap(const Tensor& attention) {
  const std::uint64_t rows = attention.shape[0];
  const std::uint64_t cols = attention.shape[1];
  std::string out = "  attention heatmap:\n";
  out.append(10, ' ');
  for (std::uint64_t j = 0; j < cols; ++j)
    out += fmt::format("tok{:<7}", j);
  for (std::uint64_t i = 0; i < rows; ++i) {
    const std::span<const float> row(attention.data.data() + i * cols, cols);
    out += fmt::format("\n    tok{:<3}", i);
    for (const float value : row) {
      out += ' ';
      out += pad_left(format_fixed(value, 3), 6);
      out += ' ';
    }
    out += '\n';
    out.append(10, ' ');
    for (const float value : row) {
      out += weight_bar(value);
      out += ' ';
    }
  }
  return out;
}

std::optional<std::size_t> argmax_total_order(std::span<const float> values) {
  if (values.empty()) return std::nullopt;
  std::size_t best = 0;
  for (std::size_t i = 1; i < values.size(); ++i) {
    if (total_order_key(values[i]) >= total_order_key(values[best])) best = i;
  }
  return best;
}

std::optional<std::string> predict_label(std::span<const float> values,
                                         std::span<const std::string> labels) {
  if (labels.empty()) return std::nullopt;
  const std::optional<std::size_t> index = argmax_total_order(values);
  if (!index) return std::nullopt;
  if (*index < labels.size()) return labels[*index];
  return fmt::format("class_{}", *index);
}

Result<RunResult> execute_model(const Model& model, bool show_values, bool show_heatmap,
                                const StepSink& on_step) {
  if (auto valid = check_model(model); !valid) return fail(std::move(valid.error()));
  const Requests requests{show_values, show_heatmap};
  RunResult result;
  result.model_name = model.name;
  result.input_shape = format_shape(model.input.shape);
  Running running{&model.input, {}};
  std::uint64_t number = 0;
  for (const Layer& layer : model.layers) {
    ++number;
    LayerRun run;
    if (layer.explain) run.lines.push_back(fmt::format("why: {}", *layer.explain));
    Result<void> ran;
    switch (layer.kind) {
      case LayerKind::Linear:
        ran = run_linear(layer, running, requests, run);
        break;
      case LayerKind::SelfAttention:
        ran = run_attention(layer, running, requests, run);
        break;
      case LayerKind::Relu:
      case LayerKind::Gelu:
      case LayerKind::Softmax:
        ran = run_element_wise(layer, running, requests, run);
        break;
    }
    if (!ran) return fail(std::move(ran.error()));
    on_step(ExecStep{layer_title(layer), std::move(run.lines), std::move(run.values),
                     std::move(run.heatmap), number, elapsed_ms(run.time)});
    running.replace(std::move(run.output));
  }
  result.step_count = number;
  const Tensor& output = *running.tensor;
  result.output = format_f32_list(output.data);
  result.prediction = predict_label(output.data, model.labels);
  return result;
}

Result<BenchResult> bench_model(const Model& model, std::uint64_t iterations) {
  if (iterations == 0) return fail("iterations must be greater than 0");
  const auto start = std::chrono::steady_clock::now();
  std::optional<RunResult> last;
  const StepSink drop_step = [](ExecStep&&) {};
  for (std::uint64_t i = 0; i < iterations; ++i) {
    last.reset();  // one run's tensors and texts at a time
    auto run = execute_model(model, false, false, drop_step);
    if (!run) return fail(std::move(run.error()));
    last = std::move(*run);
  }
  const double total_ms =
      elapsed_ms(std::chrono::duration_cast<Nanos>(std::chrono::steady_clock::now() - start));
  return BenchResult{model.name,
                     std::move(last->prediction),
                     std::move(last->output),
                     iterations,
                     total_ms,
                     total_ms / static_cast<double>(iterations)};
}

}  // namespace orvik
