#pragma once
// The numeric attention demo: a fixed two-token self-attention example computed with the lab's
// kernels on 32-bit floats, printed stage by stage, optionally with its matrices and one stage at
// a time.
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tensor/tensor.hpp"
#include "util/result.hpp"

namespace orvik {

struct DemoStep {
  std::string title;
  std::vector<std::string> lines;
  std::optional<std::string> values;  // present only when the values were asked for
};

struct Demo {
  std::string title;
  std::vector<DemoStep> steps;
};

// The four fixed [2, 2] inputs.
struct DemoMatrices {
  Tensor x;
  Tensor wq;
  Tensor wk;
  Tensor wv;
};
Result<DemoMatrices> demo_matrices();

// Q, K, V = X @ Wq, Wk, Wv; scores = Q @ K^T; scaled = scores * 0.70710677 (1 / sqrt(2));
// attention = softmax(scaled); output = attention @ V. A kernel's error is the demo's error.
Result<Demo> build_attention_demo(bool show_values);

// Rank 2: "  {name} values:" and one "    [v, v]" line per row (four decimals), rows separated
// by "\n" with none after the last. Any other rank: "{name}: [v, v]" with each value as the
// shortest decimal that reads back to the same float and always a fractional part ("1.0").
std::string format_matrix(std::string_view name, const Tensor& tensor);

// The format_matrix texts of the pairs joined by "\n"; nothing when show_values is off.
std::optional<std::string> format_matrices(
    bool show_values, const std::vector<std::pair<std::string_view, const Tensor*>>& matrices);

// "demo [attention] [--values] [--step]". Errors: "unexpected argument `{}`" for a second name,
// "unknown demo `{}`. Try `orvik demo attention`." for another name, a kernel's error, and the
// step-mode pause's error.
CommandResult cmd_demo(const std::vector<std::string>& words);

}  // namespace orvik
