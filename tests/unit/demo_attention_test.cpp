#include <cstdio>
#include <limits>
#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "capture_stdout.hpp"
#include "demo/attention_demo.hpp"

namespace orvik {
namespace {

// Runs the demo command and returns its output with each kernel time ("0.004 ms") masked as
// "#.### ms": the times vary from run to run, everything else is fixed.
std::string run_demo(const std::vector<std::string>& words, CommandResult& result) {
  const std::string out = testing_support::capture_stdout([&] { result = cmd_demo(words); });
  static const std::regex kTime(R"(\b\d+\.\d{3} ms\b)");
  return std::regex_replace(out, kTime, "#.### ms");
}

constexpr std::string_view kDemoWithValues = R"(Numeric attention demo
----------------------
Step 1: input tokens
  X shape: [2, 2]
  memory: 16 B
  meaning: two token vectors, each with two features
  X values:
    [1.0000, 0.0000]
    [0.5000, 1.0000]

Step 2: create Q, K, V
  Q = X @ Wq -> [2, 2]
  K = X @ Wk -> [2, 2]
  V = X @ Wv -> [2, 2]
  time: Q #.### ms, K #.### ms, V #.### ms
  meaning: queries ask, keys match, values carry information
  Q values:
    [1.0000, 0.2000]
    [0.5000, 0.9000]
  K values:
    [0.7000, 0.1000]
    [0.6500, 1.0500]
  V values:
    [1.0000, -0.4000]
    [0.7000, 0.7000]

Step 3: score token-to-token matches
  K^T shape: [2, 2]
  scores = Q @ K^T -> [2, 2]
  scaled = scores / sqrt(2) -> [2, 2]
  meaning: each row scores how much one token looks at all tokens
  scores values:
    [0.7200, 0.8600]
    [0.4400, 1.2700]
  scaled values:
    [0.5091, 0.6081]
    [0.3111, 0.8980]

Step 4: turn scores into probabilities
  attention = softmax(scaled) -> [2, 2]
  check: each row sums to 1
  meaning: every token now has a distribution over context tokens
  attention values:
    [0.4753, 0.5247]
    [0.3573, 0.6427]

Step 5: mix values
  output = attention @ V -> [2, 2]
  time: #.### ms
  output memory: 16 B
  PyTorch: out = torch.softmax(q @ k.T / math.sqrt(2), dim=-1) @ v
  output values:
    [0.8426, 0.1772]
    [0.8072, 0.3069]

)";

// The text without the values: every "  {} values:" line and the matrix rows under it dropped.
std::string without_values(std::string_view text) {
  std::string out;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find('\n', start) + 1;
    const std::string_view line = text.substr(start, end - start);
    if (!line.ends_with(" values:\n") && !line.starts_with("    [")) out += line;
    start = end;
  }
  return out;
}

TEST(AttentionDemo, PrintsEveryStageAndItsExactMatrices) {
  CommandResult result;
  EXPECT_EQ(run_demo({"--values"}, result), kDemoWithValues);
  EXPECT_TRUE(result.has_value());
  // The name "attention" is the default; without --values the same steps print without matrices.
  EXPECT_EQ(run_demo({"attention", "--values"}, result), kDemoWithValues);
  EXPECT_EQ(run_demo({}, result), without_values(kDemoWithValues));
  EXPECT_TRUE(result.has_value());
}

TEST(AttentionDemo, StepModeWithClosedInputRunsThrough) {
  ASSERT_NE(std::freopen("/dev/null", "r", stdin), nullptr);
  // Each step ends in an empty line, then the pause prompts and returns at once.
  std::string expected(kDemoWithValues);
  for (std::size_t at = expected.find("\n\n"); at != std::string::npos;
       at = expected.find("\n\n", at + 8)) {
    expected.insert(at + 2, "next> ");
  }
  CommandResult result;
  EXPECT_EQ(run_demo({"--step", "--values"}, result), expected);
  EXPECT_TRUE(result.has_value());
}

TEST(AttentionDemo, RefusesOtherNamesBeforeComputing) {
  CommandResult result;
  EXPECT_EQ(run_demo({"softmax", "--values"}, result), "");
  EXPECT_EQ(result.error(), "unknown demo `softmax`. Try `orvik demo attention`.");
  EXPECT_EQ(run_demo({"--step", "Attention"}, result), "");
  EXPECT_EQ(result.error(), "unknown demo `Attention`. Try `orvik demo attention`.");
  // A second name fails as soon as it is seen, even when the first is no demo.
  EXPECT_EQ(run_demo({"softmax", "--values", "attention", "x"}, result), "");
  EXPECT_EQ(result.error(), "unexpected argument `attention`");
}

TEST(AttentionDemo, MatrixTextsOfEveryRank) {
  const auto tensor = [](std::vector<std::uint64_t> shape, std::vector<float> data) {
    return Tensor{std::move(shape), std::move(data)};
  };
  constexpr float kInf = std::numeric_limits<float>::infinity();
  EXPECT_EQ(format_matrix("m", tensor({1, 3}, {-0.00001f, 2.5f, 1e9f})),
            "  m values:\n    [-0.0000, 2.5000, 1000000000.0000]");
  EXPECT_EQ(format_matrix("m", tensor({2, 0}, {})), "  m values:\n    []\n    []");
  EXPECT_EQ(format_matrix("m", tensor({0, 2}, {})), "  m values:");
  EXPECT_EQ(format_matrix("v", tensor({4}, {1.0f, 0.1f, -0.0f, 1e20f})),
            "v: [1.0, 0.1, -0.0, 100000000000000000000.0]");
  EXPECT_EQ(format_matrix("s", tensor({}, {kInf})), "s: [inf]");
  EXPECT_EQ(format_matrix("e", tensor({1, 1, 0}, {})), "e: []");
  EXPECT_EQ(format_matrices(false, {{"a", nullptr}}), std::nullopt);
  const Tensor one = tensor({1, 1}, {0.5f});
  EXPECT_EQ(format_matrices(true, {{"a", &one}, {"b", &one}}),
            "  a values:\n    [0.5000]\n  b values:\n    [0.5000]");
}

}  // namespace
}  // namespace orvik
