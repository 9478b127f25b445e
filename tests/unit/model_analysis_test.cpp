// Plan building and the static analysis: every building message, the validation messages in
// check order, and the analysis's numbers and records.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "model/analysis.hpp"
#include "model/model.hpp"
#include "model/plan_schema.hpp"
#include "tensor/tensor.hpp"

namespace orvik {
namespace {

Result<Model> build(const std::string& text) {
  auto spec = deserialize_model_spec(text);
  if (!spec) return fail("parse: " + spec.error());
  return build_model(std::move(*spec));
}

// The built shapes, or the building error.
std::string built(const std::string& text) {
  const auto model = build(text);
  if (!model) return model.error();
  std::string out = model->name + " " + format_shape(model->input.shape);
  for (const Layer& layer : model->layers) {
    out += " | " + layer.name;
    if (!layer.tensors.empty()) out += " ";
    for (const auto& tensor : layer.tensors)
      out += format_shape(tensor->shape);
  }
  return out;
}

TEST(PlanBuilding, ShapesAndMessages) {
  struct Case {
    std::string text;
    std::string want;
  };
  const std::string big = "4294967296";
  const Case cases[] = {
      {R"({"input_shape": [2, 4], "layers": [{"type": "linear", "out": 3}]})",
       "model [2, 4] | layer_1 [4, 3][3]"},
      {R"({"layers": [{"type": "linear", "in": 8, "out_features": 2}, {"type": "relu", "name": ""},
                      {"type": "linear", "name": "n", "out": 1}, {"type": "gelu"}]})",
       "model [1, 8] | layer_1 [8, 2][2] |  | n [2, 1][1] | layer_4"},
      {R"({"layers": [{"type": "linear", "weights": [[3, 2], [1, 2, 3, 4, 5, 6]], "out": 2}]})",
       "model [1, 3] | layer_1 [3, 2][2]"},
      {R"({"name": "a", "layers": [{"type": "self_attention", "tokens": 4, "head_dim": 2}]})",
       "a [4, 2] | layer_1 [2, 2][2, 2][2, 2]"},
      {R"({"layers": [{"type": "self_attention", "tokens": 3, "wq": [[5, 1], [1, 2, 3, 4, 5]],
                       "wk": [[5, 1], [1, 2, 3, 4, 5]], "wv": [[1], [1]]}]})",
       "model [3, 5] | layer_1 [5, 1][5, 1][1]"},
      {R"({"input_shape": [4, 8], "layers": [
            {"type": "self_attention", "head_dim": 4, "value_dim": 2},
            {"type": "self_attention", "tokens": 4, "features": 3, "head_dim": 1},
            {"type": "linear", "out": 5}]})",
       "model [4, 8] | layer_1 [8, 4][8, 4][8, 2] | layer_2 [3, 1][3, 1][3, 1] | layer_3 [1, "
       "5][5]"},
      {R"({"input": [[1, 2], [7, 8]], "input_shape": [9], "layers": []})", "model [1, 2]"},
      {R"({"input_shape": [2, 0], "layers": [{"type": "linear", "out": 0}]})",
       "model [2, 0] | layer_1 [0, 0][0]"},
      // A rank-0 input leaves the running shape as it was; the analysis rejects the layer.
      {R"({"input": [[], [1]], "layers": [{"type": "linear", "weights": [[1, 1], [1]],
                                           "bias": [[1], [0]]}]})",
       "model [] | layer_1 [1, 1][1]"},
      {R"({"layers": []})", "model must define input, input_shape, or at least one layer"},
      {R"({"layers": [{"type": "relu"}]})",
       "first layer needs input, input_shape, or a shape-bearing linear/self_attention layer"},
      {R"({"layers": [{"type": "linear", "out": 2}]})",
       "shape-only linear first layer needs `in` or weights shape"},
      {R"({"layers": [{"type": "linear", "weights": [[], [1]], "out": 2}]})",
       "shape-only linear first layer needs `in` or weights shape"},
      {R"({"layers": [{"type": "self_attention", "head_dim": 2}]})",
       "shape-only self_attention first layer needs `tokens` or input_shape"},
      {R"({"layers": [{"type": "self_attention", "tokens": 2, "value_dim": 2}]})",
       "shape-only self_attention first layer needs `features`, `head_dim`, or Wq shape"},
      {R"({"input_shape": [2, 3, 4], "layers": [{"type": "linear", "in": 4, "out": 2}]})",
       "shape-only linear layer needs rank-2 input [batch, in_features]"},
      {R"({"input_shape": [2, 4], "layers": [{"type": "linear", "in": 4}]})",
       "shape-only linear layer needs `out`"},
      {R"({"input_shape": [2, 4], "layers": [{"type": "linear", "weights": [[4, 1], [1, 2, 3, 4]]}]})",
       "shape-only linear layer needs `out`"},
      {R"({"input_shape": [4], "layers": [{"type": "self_attention", "head_dim": 2}]})",
       "shape-only self_attention layer needs rank-2 input [tokens, features]"},
      {R"({"input_shape": [4, 8], "layers": [{"type": "self_attention", "tokens": 5, "head_dim": 2}]})",
       "shape-only self_attention tokens=5 does not match input tokens=4"},
      {R"({"input_shape": [4, 8], "layers": [{"type": "self_attention", "value_dim": 2}]})",
       "shape-only self_attention layer needs `head_dim`"},
      {R"({"input": {"shape": [2, 3], "data": [1, 2, 3, 4, 5]}, "layers": []})",
       "input: shape [2, 3] expects 6 values, got 5"},
      {R"({"input_shape": [1, 4], "layers": [{"type": "linear", "weights": [[4, 3], [0,0,0,0,0,0,0,0,0,0,0]]}]})",
       "weights: shape [4, 3] expects 12 values, got 11"},
      {R"({"input_shape": [1, 1], "layers": [{"type": "linear", "out": 1, "bias": [[2], [1]]}]})",
       "bias: shape [2] expects 2 values, got 1"},
      {R"({"input_shape": [1, 1], "layers": [{"type": "self_attention", "head_dim": 1,
                                              "wk": [[1, 1], []]}]})",
       "Wk: shape [1, 1] expects 1 values, got 0"},
      {R"({"input_shape": [)" + big + ", " + big + R"(], "layers": []})",
       "input: shape [4294967296, 4294967296] holds more values than a 64-bit count can hold"},
      {R"({"input": [[)" + big + ", " + big + R"(], []], "layers": []})",
       "input: shape [4294967296, 4294967296] holds more values than a 64-bit count can hold"},
      {R"({"input_shape": [65536, 65536], "layers": []})",
       "input: shape [65536, 65536] needs 4294967296 zero values, more than the 67108864 left "
       "for the zero-filled tensors of one plan"},
      {R"({"input_shape": [1, 8192], "layers": [{"type": "linear", "out": 8192}]})",
       "weights: shape [8192, 8192] needs 67108864 zero values, more than the 67100672 left "
       "for the zero-filled tensors of one plan"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(built(c.text), c.want) << c.text;
  EXPECT_EQ(load_model("no/such/plan.json").error(),
            "read no/such/plan.json: No such file or directory (os error 2)");
}

std::string analyzed(const std::string& text) {
  const auto model = build(text);
  if (!model) return "build: " + model.error();
  const auto analysis = analyze_model(*model);
  if (!analysis) return analysis.error();
  return "ops " + std::to_string(analysis->total_ops) + ", params " +
         std::to_string(analysis->param_bytes) + " B, peak " +
         std::to_string(analysis->peak_activation_bytes) + " B";
}

TEST(PlanAnalysis, ValidationMessagesInCheckOrder) {
  const std::string head = "Validation failed\n\nLayer: ";
  struct Case {
    std::string text;
    std::string want;
  };
  const Case cases[] = {
      {R"({"input_shape": [4], "layers": [{"type": "linear", "name": "fc", "in": 4, "out": 2,
                                          "weights": [[4], [1, 2, 3, 4]]}]})",
       head +
           "fc\nProblem:\n  Linear expects rank-2 input [batch, in_features].\n  Got input [4]."},
      {R"({"input_shape": [1, 4], "layers": [{"type": "linear", "out": 2, "weights": [[4], [1, 2, 3, 4]]}]})",
       head + "layer_1\nProblem:\n  Linear weights must be rank-2 [in_features, out_features].\n"
              "  Got weights [4]."},
      {R"({"input_shape": [2, 4], "layers": [{"type": "linear", "in": 5, "out": 3}]})",
       head + "layer_1\nProblem:\n  Cannot multiply input [2, 4] by weights [5, 3].\n\nWhy:\n"
              "  Linear uses input @ weights.\n  For A @ B, A columns must equal B rows.\n"
              "  Got 4 and 5.\n\nFix:\n  Change weights shape to [4, 3], or change the previous "
              "layer output to [batch, 5]."},
      {R"({"input_shape": [2, 4], "layers": [{"type": "linear", "out": 3, "bias": [[1, 3], [0, 0, 0]]}]})",
       head + "layer_1\nProblem:\n  Bias shape [1, 3] does not match output features [3].\n\n"
              "Why:\n  Linear computes input @ weights + bias.\n  Bias must have one value per "
              "output feature.\n\nFix:\n  Change bias shape to [3]."},
      {R"({"input_shape": [2, 3, 4], "layers": [{"type": "self_attention", "name": "att",
            "wq": [[4, 1], [0, 0, 0, 0]], "wk": [[4, 1], [0, 0, 0, 0]], "wv": [[4, 1], [0, 0, 0, 0]]}]})",
       head + "att\nProblem:\n  Self-attention expects rank-2 input [tokens, features].\n"
              "  Got input [2, 3, 4]."},
      {R"({"input_shape": [4, 8], "layers": [{"type": "self_attention", "head_dim": 2,
            "wq": [[8, 1, 1], [0, 0, 0, 0, 0, 0, 0, 0]], "wk": [[3], [0, 0, 0]]}]})",
       head + "layer_1\nProblem:\n  Wq must be rank-2 [features, projection_dim].\n"
              "  Got Wq [8, 1, 1]."},
      {R"({"input_shape": [4, 8], "layers": [{"type": "self_attention", "head_dim": 2,
            "wv": [[8], [0, 0, 0, 0, 0, 0, 0, 0]]}]})",
       head + "layer_1\nProblem:\n  Wv must be rank-2 [features, projection_dim].\n"
              "  Got Wv [8]."},
      {R"({"input_shape": [4, 8], "layers": [{"type": "self_attention", "head_dim": 1,
            "wk": [[2, 1], [0, 0]], "wv": [[3], [0, 0, 0]]}]})",
       head + "layer_1\nProblem:\n  Input [4, 8] cannot multiply Wk [2, 1].\n\nWhy:\n"
              "  Self-attention starts with X @ Wk.\n  X columns must equal Wk rows.\n"
              "  Got 8 and 2.\n\nFix:\n  Change Wk shape to [8, projection_dim]."},
      {R"({"input_shape": [4, 8], "layers": [{"type": "self_attention", "head_dim": 2,
            "wk": [[8, 3], [0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0]]}]})",
       head + "layer_1\nProblem:\n  Q shape [tokens, 2] cannot score against K shape [tokens, 3]."
              "\n\nWhy:\n  Attention scores use Q @ K^T, so Q and K must share head_dim.\n\n"
              "Fix:\n  Make Wq and Wk output the same head_dim."},
      // Activations accept any shape; a rank-0 input leaves a linear layer to the analysis.
      {R"({"input": [[], [1]], "layers": [{"type": "relu"}, {"type": "softmax"}]})",
       "ops 2, params 0 B, peak 4 B"},
      {R"({"input_shape": [2, 3, 4], "layers": [{"type": "softmax"}]})",
       "ops 24, params 0 B, peak 96 B"},
      {R"({"input": [[], [1]], "layers": [{"type": "linear", "weights": [[1, 1], [1]],
                                           "bias": [[1], [0]]}]})",
       head + "layer_1\nProblem:\n  Linear expects rank-2 input [batch, in_features].\n"
              "  Got input []."},
      {R"({"input_shape": [2, 4], "layers": [{"type": "linear", "out": 3}]})",
       "ops 54, params 60 B, peak 32 B"},
      {R"({"input_shape": [4, 8], "layers": [{"type": "self_attention", "head_dim": 2,
                                              "value_dim": 3}]})",
       "ops 608, params 224 B, peak 128 B"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(analyzed(c.text), c.want) << c.text;
}

TEST(PlanAnalysis, RecordsOfEachList) {
  const auto model = build(R"({"input_shape": [4, 8], "layers": [
      {"type": "self_attention", "name": "att", "head_dim": 2, "value_dim": 3},
      {"type": "linear", "name": "fc", "out": 3}, {"type": "gelu"}]})");
  ASSERT_TRUE(model) << model.error();
  const auto a = analyze_model(*model);
  ASSERT_TRUE(a) << a.error();
  EXPECT_EQ(a->plan_steps, (std::vector<std::string>{"Input", "SelfAttention", "Linear", "GELU"}));
  std::string tensors;
  for (const TensorInfo& t : a->tensors) {
    tensors += t.name + t.shape + std::to_string(t.bytes) + " ";
  }
  EXPECT_EQ(tensors,
            "input[4, 8]128 att.Q[4, 2]32 att.K[4, 2]32 att.V[4, 3]48 att.scores[4, 4]64 "
            "att.attention[4, 4]64 att.output[4, 3]48 fc.output[4, 3]48 ");
  ASSERT_EQ(a->attention_costs.size(), 1u);
  const AttentionCost& c = a->attention_costs[0];
  EXPECT_EQ(std::vector<std::uint64_t>({c.q_proj, c.k_proj, c.v_proj, c.scores, c.mix, c.total,
                                        c.tokens, c.head_dim, c.value_dim}),
            std::vector<std::uint64_t>({128, 128, 192, 64, 96, 608, 4, 2, 3}));
  EXPECT_EQ(a->cost_rows[0].label, "att (attention)");
  EXPECT_EQ(a->cost_rows[0].memory, 64u);  // max(4*T*Dk, 4*T*Dv, 4*T*T, 4*T*Dv)
  EXPECT_EQ(a->operations[1].name, "fc: input @ weights + bias");
  EXPECT_EQ(a->operations[1].ops, 4u * 3 * (2 * 3 + 1));
  EXPECT_EQ(a->operations[2].name, "layer_3: GELU");
  EXPECT_EQ(a->shape_flow.back().label, "layer_3");
  EXPECT_EQ(a->shape_flow.back().shape, "[4, 3]");
  EXPECT_EQ(a->quiz_questions[0].answer, "[4, 3]");
  EXPECT_EQ(a->quiz_questions[1].why,
            "[batch, in_features] @ [in_features, out_features] -> [batch, out_features], so "
            "[4, 3] @ [3, 3] -> [4, 3]");
  EXPECT_EQ(a->walkthrough_steps[0].lines[10],
            "Interpretation: each token compares with every token, producing 16 pairwise "
            "comparisons.");
  EXPECT_EQ(a->peak_activation_bytes, 128u);
}

}  // namespace
}  // namespace orvik
