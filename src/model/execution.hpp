#pragma once
// Running a built plan on its own tensors with the lab's kernels, layer by layer, and describing
// every step: what it computed, its shapes and memory, its cost estimate, the time its kernels
// took and, on request, its values and a text heatmap of attention weights. A plan runs only
// after it passes the same validation as `validate`, so a shape error never reaches a kernel.
//
// Memory: a step frees each tensor as soon as it has read it for the last time (the layer's
// input once its matmuls have run, K once transposed, the scores once scaled, and so on), so a
// run holds at most a few tensors of one layer at a time; each of them is bounded by the
// kernels' own limit (kMaxTensorValues).
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "model/model.hpp"
#include "tensor/tensor.hpp"
#include "util/result.hpp"

namespace orvik {

struct ExecStep {
  std::string title;                   // "{name} (Linear)", "{name} (SelfAttention)", ...
  std::vector<std::string> lines;      // without indentation
  std::optional<std::string> values;   // only when values were asked for
  std::optional<std::string> heatmap;  // only when asked for, and only for attention layers
  std::uint64_t number = 0;            // position in the plan, from 1
  double time_ms = 0.0;                // the sum of the layer's kernel times
};

// Takes each step as soon as its layer has run; the execution keeps none of them, since a plan
// may have a million layers.
using StepSink = std::function<void(ExecStep&&)>;

struct RunResult {
  std::string model_name;
  std::string input_shape;       // shape text
  std::uint64_t step_count = 0;  // the steps handed to the sink, one per layer
  std::string output;            // the final values, format_f32_list
  std::optional<std::string> prediction;
};

struct BenchResult {
  std::string model_name;
  std::optional<std::string> last_prediction;
  std::string last_output;
  std::uint64_t iterations = 0;
  double total_ms = 0.0;
  double average_ms = 0.0;
};

// Validates the model (the "Validation failed" message of the analysis, unchanged, before any
// kernel runs), then runs every layer on the previous layer's output, starting from the input:
// linear input @ weights + bias; attention softmax((X @ Wq) @ (X @ Wk)^T / sqrt(head_dim)) @
// (X @ Wv), the factor computed in 32-bit floats; ReLU, GELU and softmax over the last dimension.
// Each layer's step goes to `on_step` in plan order. A kernel's error (such as a score matrix
// beyond the kernels' size limit) ends the run, possibly after some steps were handed over.
Result<RunResult> execute_model(const Model& model, bool show_values, bool show_heatmap,
                                const StepSink& on_step);

// Runs execute_model without values or heatmaps `iterations` times and times the whole loop,
// keeping the last result. Fails with "iterations must be greater than 0", or with the first
// error of a run.
Result<BenchResult> bench_model(const Model& model, std::uint64_t iterations);

// The attention heatmap of a [rows, cols] matrix: "  attention heatmap:", a header of "tok{j}"
// columns, then per row its values ("{:>6.3}" between blanks) and a line of bars, n "#" and
// 10 - n "." with n = round(clamp(v, 0, 1) * 10) in 32-bit floats, halves away from zero (0 for
// NaN). Lines joined by "\n", none after the last. The matrix must have rank 2.
std::string attention_heatmap(const Tensor& attention);

// The index of the largest value in the IEEE total order of 32-bit floats (-0 below +0, a
// positive NaN above +inf), the later index among equal values; nothing for no values.
std::optional<std::size_t> argmax_total_order(std::span<const float> values);

// The label at argmax_total_order of the values, or "class_{index}" past the last label; nothing
// without labels or without values.
std::optional<std::string> predict_label(std::span<const float> values,
                                         std::span<const std::string> labels);

}  // namespace orvik
