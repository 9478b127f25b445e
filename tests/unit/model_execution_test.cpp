// Plan execution: the heatmap and prediction rules, the run, bench and quiz commands' one-line
// outcomes, and a differential check of every executed step against the static analysis.
#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "main/dispatch.hpp"
#include "main/lab_commands.hpp"
#include "model/analysis.hpp"
#include "model/execution.hpp"
#include "model/views.hpp"

namespace orvik {
namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

TEST(Execution, HeatmapRoundsInFloatHalvesAwayFromZero) {
  // 0.25 and 0.05 scale to exactly 2.5 and 0.5 in floats and round up; 0.349 stays at 3.
  const Tensor weights{{2, 3}, {0.25f, 0.05f, 0.349f, -0.0f, kNaN, kInf}};
  EXPECT_EQ(attention_heatmap(weights),
            "  attention heatmap:\n"
            "          tok0      tok1      tok2      \n"
            "    tok0    0.250   0.050   0.349 \n"
            "          ###....... #......... ###....... \n"
            "    tok1   -0.000     NaN     inf \n"
            "          .......... .......... ########## ");
  EXPECT_EQ(attention_heatmap(Tensor{{0, 0}, {}}), "  attention heatmap:\n          ");
}

TEST(Execution, PredictionTakesTheLastLargestInTotalOrder) {
  const std::vector<std::string> two = {"a", "b"};
  const struct {
    std::vector<float> values;
    std::optional<std::string> want;
  } cases[] = {
      {{0.5f, 0.5f}, "b"},  {{0.1f, 0.1f, 0.9f}, "class_2"},
      {{0.0f, -0.0f}, "a"}, {{-0.0f, 0.0f}, "b"},
      {{kNaN, kInf}, "a"},  {{kInf, -kNaN}, "a"},
      {{}, std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(predict_label(c.values, two), c.want) << testing::PrintToString(c.values);
  }
  EXPECT_EQ(predict_label(std::vector<float>{1.0f}, {}), std::nullopt);
}

// Each command's refusals, in the order the words are examined; paths are relative to
// tests/data.
TEST(Execution, CommandErrors) {
  const std::string broken = "../../examples/broken_shape.json";
  const std::string validation = dispatch_command({"validate", broken}).error();
  ASSERT_TRUE(validation.starts_with("Validation failed\n\nLayer: fc2\n"));
  const struct {
    Words words;
    std::string want;
  } cases[] = {
      {{"run"}, "usage: orvik run examples/mlp.json [--values] [--heatmap]"},
      {{"run", "--values", "--heatmap"},
       "usage: orvik run examples/mlp.json [--values] [--heatmap]"},
      {{"run", "--verbose", "--values", "x"}, "unexpected argument `x`"},
      {{"run", "lab/none.json"}, "read lab/none.json: No such file or directory (os error 2)"},
      {{"run", broken, "--heatmap"}, validation},
      {{"run", "lab/scalar_softmax.json"}, "softmax needs at least one dimension"},
      {{"bench"}, "usage: orvik bench examples/mlp.json [--iters 1000]"},
      {{"bench", "--iters", "5"}, "usage: orvik bench examples/mlp.json"},
      {{"bench", "p", "--iters"}, "--iters needs a number"},
      {{"bench", "--iters", "0", "lab/none.json"}, "--iters must be greater than 0"},
      {{"bench", "--iters", "", "p"}, "parse --iters: cannot parse integer from empty string"},
      {{"bench", "--iters", "-1"}, "parse --iters: invalid digit found in string"},
      {{"bench", "--iters", "1 "}, "parse --iters: invalid digit found in string"},
      {{"bench", "--iters", "18446744073709551616"},
       "parse --iters: number too large to fit in target type"},
      {{"bench", "a", "--iters", "+2", "b"}, "unexpected argument `b`"},
      {{"bench", broken}, validation},
      {{"bench", "lab/scalar_softmax.json", "--iters", "3"},
       "softmax needs at least one dimension"},
      {{"quiz"}, "usage: orvik quiz examples/mlp.json"},
      {{"quiz", broken}, validation},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(dispatch_command(c.words).error(), c.want) << testing::PrintToString(c.words);
  }
  const auto model = load_model("lab/no_layers.json");
  ASSERT_TRUE(model.has_value());
  EXPECT_EQ(bench_model(*model, 0).error(), "iterations must be greater than 0");
}

TEST(Execution, QuizRepliesIgnoreEveryWhiteSpace) {
  for (const char* reply : {"[1, 2]", "[1,2]\n", "  [1,  2]  ", "[1,\t2]", "[1,\u00a02]\r\n",
                            "\u3000[\u20281,\u20052]\u0085"}) {
    EXPECT_TRUE(shape_reply_matches(reply, "[1, 2]")) << reply;
  }
  for (const char* reply : {"(1, 2)", "[2, 1]", "1, 2", "", "[1,\u200b2]", "[1, 2]]"}) {
    EXPECT_FALSE(shape_reply_matches(reply, "[1, 2]")) << reply;
  }
}

// The number after the last ": " of the step line that starts with `prefix`.
std::string step_field(const ExecStep& step, std::string_view prefix) {
  for (const std::string& line : step.lines) {
    if (line.starts_with(prefix)) return line.substr(line.rfind(": ") + 2);
  }
  return "(no " + std::string(prefix) + ")";
}

// Random plans of every layer kind, with dimensions from 0 to 3 and one shape in five bent out
// of true: a plan that fails validation fails execution with the same message, and every step
// of one that passes reports the analysis's output shape and operation count.
TEST(Execution, StepsAgreeWithTheAnalysisOnRandomPlans) {
  std::mt19937 random(20261209);
  const auto dim = [&] { return std::uint64_t{random() % 4}; };
  const auto tensor = [&](std::vector<std::uint64_t> shape) {
    if (random() % 5 == 0) shape[random() % shape.size()] += 1;
    std::uint64_t count = 1;
    for (const std::uint64_t d : shape)
      count *= d;
    auto made = std::make_shared<Tensor>(Tensor{std::move(shape), {}});
    for (std::uint64_t i = 0; i < count; ++i)
      made->data.push_back(static_cast<float>(static_cast<int>(random() % 41) - 20) / 8.0f);
    return made;
  };
  int passed = 0;
  for (int plan = 0; plan < 2000; ++plan) {
    Model model{"random", *tensor({dim(), dim()}), {}, {"x", "y"}, std::nullopt};
    std::uint64_t features = model.input.shape[1];
    const std::uint64_t layers = random() % 5;
    for (std::uint64_t n = 1; n <= layers; ++n) {
      Layer layer;
      layer.kind = static_cast<LayerKind>(random() % 5);
      layer.name = "l" + std::to_string(n);
      if (layer.kind == LayerKind::Linear) {
        const std::uint64_t out = dim();
        layer.tensors.push_back(tensor({features, out}));
        layer.tensors.push_back(tensor({out}));
        features = out;
      } else if (layer.kind == LayerKind::SelfAttention) {
        const std::uint64_t head = dim();
        const std::uint64_t value = dim();
        layer.tensors.push_back(tensor({features, head}));
        layer.tensors.push_back(tensor({features, head}));
        layer.tensors.push_back(tensor({features, value}));
        features = value;
      }
      model.layers.push_back(std::move(layer));
    }
    const auto analysis = analyze_model(model);
    std::vector<ExecStep> steps;
    const auto run = execute_model(model, true, true,
                                   [&](ExecStep&& step) { steps.push_back(std::move(step)); });
    if (!analysis) {
      EXPECT_EQ(run.error(), analysis.error());
      EXPECT_TRUE(steps.empty());
      continue;
    }
    ASSERT_TRUE(run.has_value()) << run.error();
    ++passed;
    ASSERT_EQ(steps.size(), model.layers.size());
    EXPECT_EQ(run->step_count, steps.size());
    for (std::size_t i = 0; i < steps.size(); ++i) {
      const ExecStep& step = steps[i];
      EXPECT_EQ(step.number, i + 1);
      const bool attention = model.layers[i].kind == LayerKind::SelfAttention;
      const bool linear = model.layers[i].kind == LayerKind::Linear;
      EXPECT_EQ(step_field(step, attention || linear ? "output: " : "input/output: "),
                analysis->shape_flow[i + 1].shape);
      EXPECT_EQ(step_field(step, "estimated "), std::to_string(analysis->operations[i].ops));
      EXPECT_EQ(step.heatmap.has_value(), attention);
      EXPECT_TRUE(step.values.has_value());
      EXPECT_GE(step.time_ms, 0.0);
    }
  }
  EXPECT_GT(passed, 600);
}

}  // namespace
}  // namespace orvik
