// explain-diff and the artifact explanations over hand-built summaries: the percent texts,
// refusals, every verdict of each kind, the capped name lines, and the CatBoost shape estimates.
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "capture_stdout.hpp"
#include "main/dispatch.hpp"
#include "python_bridge_env.hpp"
#include "reports/changes.hpp"
#include "reports/explain_artifact.hpp"
#include "reports/explain_diff.hpp"

namespace orvik {
namespace {

using testing_support::capture_stdout;

TEST(PercentChangeText, SignedWholePercentTiesToEven) {
  struct Row {
    std::uint64_t old_value, new_value;
    std::string text;
  };
  for (const Row& row : std::vector<Row>{{0, 0, "same"},
                                         {0, 10, "n/a (from zero)"},
                                         {100, 125, "+25%"},
                                         {3, 2, "-33%"},
                                         {1000, 1003, "+0%"},
                                         {1000, 996, "-0%"},
                                         {800, 900, "+12%"},
                                         {200, 227, "+14%"},
                                         {100000, 100004, "same"},
                                         {5, 0, "-100%"}}) {
    EXPECT_EQ(percent_change_text(row.old_value, row.new_value), row.text) << row.text;
  }
  EXPECT_EQ(positional_args({"--json", "a", "-", "--", "", "-x", "b"}),
            (std::vector<std::string>{"a", "-", "", "-x", "b"}));
}

// Refusals come before any line: argument count, kinds, then the old file's read error.
TEST(ExplainDiff, RefusesBeforeAnyLine) {
  const std::string usage =
      "usage: orvik explain-diff <old-model> <new-model>  (.onnx, .cbm, or .lgb/.txt)";
  const std::string kinds =
      "explain-diff needs two artifacts of the same supported type (.onnx, .cbm, .lgb, .pt): ";
  for (const auto& [words, error] : std::vector<std::pair<std::vector<std::string>, std::string>>{
           {{"--json", "a.cbm"}, usage},
           {{"a.cbm", "b.cbm", "c.cbm"}, usage},
           {{"a.cbm", "b.onnx"}, kinds + "CatBoost vs ONNX"},
           {{"a.json", "b.json", "--deep"}, kinds + "tensor plan JSON vs tensor plan JSON"},
           {{"-", "x"}, kinds + "unknown vs unknown"},
           {{"a.pt", "b.pt"}, "open a.pt: No such file or directory (os error 2)"}}) {
    CommandResult result;
    EXPECT_EQ(capture_stdout([&] { result = cmd_explain_diff(words); }), "");
    EXPECT_EQ(result ? std::string() : result.error(), error);
  }
}

CatBoostSummary catboost_base() {
  CatBoostSummary s;
  s.path = "a.cbm";
  s.has_cbm1_magic = true;
  s.iterations = 100;
  s.depth = 6;
  s.loss = "RMSE";
  s.bootstrap = "MVS";
  s.feature_names = {"age", "city"};
  return s;
}

LightGbmSummary lightgbm_base(std::vector<std::string> names = {"f0", "f1"}) {
  LightGbmSummary s;
  s.num_trees = 10;
  s.num_leaves = 31;
  s.max_depth = -1;
  s.feature_names = std::move(names);
  return s;
}

PyTorchSummary pytorch_base(std::vector<std::string> names = {"fc.weight", "fc.bias"}) {
  PyTorchSummary s;
  s.estimated_parameter_count = 1000;
  s.param_names = std::move(names);
  return s;
}

// Explains `base` against `base` changed by each row; compares the line after "Summary:".
template <class S>
void expect_verdicts(const S& base, void (*explain)(const S&, const S&),
                     const std::vector<std::pair<std::function<void(S&)>, std::string>>& rows) {
  for (const auto& [change, verdict] : rows) {
    S changed = base;
    change(changed);
    const std::string out = capture_stdout([&] { explain(base, changed); });
    EXPECT_NE(out.find("\nSummary:\n  " + verdict + "\n"), std::string::npos) << out;
  }
}

TEST(ExplainDiff, EveryVerdictOfEachKind) {
  using C = CatBoostSummary;
  using L = LightGbmSummary;
  using P = PyTorchSummary;
  expect_verdicts<C>(
      catboost_base(), explain_catboost_diff,
      {{[](C&) {}, "same spec and features, retrained."},
       {[](C& s) { s.iterations = 150; }, "same spec, retrained with different tree count/depth."},
       {[](C& s) { s.depth.reset(); }, "same spec, retrained with different tree count/depth."},
       {[](C& s) { s.bootstrap = "Bayesian"; }, "training config changed."},
       {[](C& s) { s.feature_names = {"age"}, s.loss.reset(); }, "feature set changed."}});
  expect_verdicts<L>(
      lightgbm_base(), explain_lightgbm_diff,
      {{[](L&) {}, "same spec and features, retrained; trees same, features unchanged."},
       {[](L& s) {
          s.num_trees = 15, s.feature_names = {"f1", "f0", "f1"};
        },
        "same spec, retrained with more/fewer trees; trees +50%, features unchanged."},
       {[](L& s) { s.max_depth = 8; }, "training config changed; trees same, features unchanged."},
       {[](L& s) {
          s.feature_names = {"f0", "f2", "f3"};
        },
        "feature set changed; trees same, features +2/-1."}});
  expect_verdicts<L>(lightgbm_base({}), explain_lightgbm_diff,
                     {{[](L& s) { s.num_trees = 0; },
                       "same spec, retrained with more/fewer trees; trees -100%, features "
                       "unknown."}});
  expect_verdicts<P>(pytorch_base(), explain_pytorch_diff,
                     {{[](P&) {}, "same architecture, retrained/finetuned; params same."},
                      {[](P& s) { s.estimated_parameter_count = 1125; },
                       "same layers, parameter count changed (resized); params +12%."},
                      {[](P& s) { s.param_names = {"fc.weight"}; },
                       "parameter set changed (layers added/removed); params same."}});
  expect_verdicts<P>(pytorch_base({}), explain_pytorch_diff,
                     {{[](P& s) { s.estimated_parameter_count = 0; },
                       "weights compared (parameter names not recovered); params -100%."}});
}

TEST(ExplainDiff, NameLinesShowEightNamesThenACount) {
  const LightGbmSummary two = lightgbm_base();
  LightGbmSummary more =
      lightgbm_base({"f0", "f1", "n1", "n2", "n3", "n4", "n5", "n6", "n7", "n8"});
  EXPECT_NE(capture_stdout([&] { explain_lightgbm_diff(two, more); })
                .find("  Features:          unknown -> unknown (+8 added, -0 removed)\n"
                      "    added:   n1, n2, n3, n4, n5, n6, n7, n8\n\n"),
            std::string::npos);
  more.feature_names.push_back("n0");
  EXPECT_NE(capture_stdout([&] { explain_lightgbm_diff(more, two); })
                .find("(+0 added, -9 removed)\n"
                      "    removed: n0, n1, n2, n3, n4, n5, n6, n7, ... 1 more\n\n"),
            std::string::npos);
}

TEST(ExplainCatBoost, ShapeRowsWithDepth64AndWithoutDepth) {
  // No interpreter on the search path: the Feature Processing section takes its fallback at once.
  const testing_support::ScopedEnv no_python("PATH", testing_support::kFakePython + "/no_python");
  const testing_support::ScopedEnv no_override("KALTERA_PYTHON", std::nullopt);
  for (const auto& [change, shape] :
       std::vector<std::pair<std::function<void(CatBoostSummary&)>, std::string>>{
           {[](CatBoostSummary& s) { s.depth = 64, s.feature_names.clear(); },
            "  - maximum symmetric-tree depth 64\n  - optimized loss: RMSE\n\n"
            "Estimated Inference Shape:\n  Trees / row: 100\n  Configured/max depth: 64\n"
            "  Configured/max split checks / row: 6400\n  Max leaf slots: unknown\n"},
           {[](CatBoostSummary& s) { s.depth.reset(), s.iterations = 1ull << 62; },
            "  - 4611686018427387904 trees / boosting iterations\n  - optimized loss: RMSE\n"
            "  - 2 recovered feature names in embedded metadata\n\n"
            "Estimated Inference Shape:\n  Trees / row: 4611686018427387904\n"
            "  Configured/max depth: unknown\n  Configured/max split checks / row: unknown\n"
            "  Max leaf slots: unknown\n"},
           {[](CatBoostSummary& s) { s.depth = 63, s.iterations = 2; },
            "  Configured/max split checks / row: 126\n  Max leaf slots: unknown\n"}}) {
    CatBoostSummary summary = catboost_base();
    change(summary);
    const std::string out =
        capture_stdout([&] { explain_catboost_artifact(summary, "missing.cbm"); });
    EXPECT_NE(out.find(shape), std::string::npos) << out;
  }
}

std::vector<OpCount> ops(std::uint64_t softmax, std::uint64_t matmul, std::uint64_t gemm,
                         std::uint64_t layer_norm, std::uint64_t attention) {
  std::vector<OpCount> out;
  const std::pair<const char*, std::uint64_t> counts[] = {{"Softmax", softmax},
                                                          {"MatMul", matmul},
                                                          {"Gemm", gemm},
                                                          {"LayerNormalization", layer_norm},
                                                          {"Attention", attention}};
  for (const auto& [op, count] : counts) {
    if (count > 0) out.push_back({op, count});
  }
  return out;
}

// Their dims live as long as the test program.
std::vector<OnnxInitializer> initializers(const std::vector<std::vector<std::int64_t>>& shapes) {
  static Arena dims;
  std::vector<OnnxInitializer> out;
  for (const auto& shape : shapes) {
    out.emplace_back();
    out.back().dims = dims.copy_list(shape);
  }
  return out;
}

TEST(OnnxEstimates, AttentionLayersAndHiddenSize) {
  using Layers = std::optional<std::uint64_t>;
  EXPECT_EQ(onnx_attention_layer_estimate(ops(3, 0, 0, 9, 12)), Layers(12));
  EXPECT_EQ(onnx_attention_layer_estimate(ops(12, 0, 0, 25, 0)), Layers(12));
  EXPECT_EQ(onnx_attention_layer_estimate(ops(0, 0, 0, 3, 0)), Layers(1));
  EXPECT_EQ(onnx_attention_layer_estimate(ops(0, 5, 5, 1, 0)), std::nullopt);
  EXPECT_EQ(estimate_hidden_size(initializers({{768, 768}, {768, 3072}, {3072, 768}})), 768u);
  EXPECT_EQ(estimate_hidden_size(initializers({{64, 32}})), 64u);
  EXPECT_EQ(estimate_hidden_size(initializers({{2, 8192, 8193, 1, -768}, {768}})), 8192u);
  EXPECT_EQ(estimate_hidden_size(initializers({{768}, {512}, {1, 8193, -5}})), std::nullopt);
}

// The verdict sentence and the evidence block for scores 0 to 4, singular and plural.
TEST(ExplainOnnx, ScoresEvidenceAndNames) {
  struct Row {
    std::vector<OpCount> op_counts;
    std::string lines;
  };
  const std::string weak =
      "This model does not strongly look like a transformer from static ops alone.";
  for (const Row& row : std::vector<Row>{
           {{{"Conv", 3}, {"Relu", 3}},
            weak + "\n\nEvidence:\n  - no Softmax/MatMul/LayerNormalization pattern found\n\n"},
           {ops(0, 1, 1, 0, 0), weak + "\n\nEvidence:\n  - 1 MatMul node\n  - 1 Gemm node\n\n"},
           {ops(2, 0, 0, 1, 0),
            "This model has transformer-like signals.\n\nEvidence:\n  - 2 Softmax nodes\n"
            "  - 1 LayerNormalization operator\n\n"},
           {ops(12, 12, 0, 25, 0),
            "This model appears to be a transformer.\n\nEvidence:\n  - 12 Softmax nodes\n"
            "  - 12 MatMul nodes\n  - 25 LayerNormalization operators\n\n"},
           {ops(1, 2, 0, 1, 2),
            "appears to be a transformer.\n\nEvidence:\n  - 1 Softmax node\n  - 2 MatMul nodes\n"
            "  - 1 LayerNormalization operator\n  - 2 Attention operators\n\n"}}) {
    OnnxSummary summary;
    summary.op_counts = row.op_counts;
    EXPECT_NE(capture_stdout([&] { explain_onnx_architecture(summary); }).find(row.lines),
              std::string::npos)
        << row.lines;
  }
  EXPECT_EQ(transformer_score(ops(1, 1, 1, 1, 1)), 4);
  EXPECT_EQ(transformer_score(ops(0, 1, 0, 0, 0)), 0);

  // Names: ASCII letters only are lower-cased; output names count; "embed" alone does not.
  OnnxSummary named;
  named.nodes.resize(2);
  const std::string_view first_outputs[] = {"x"};
  std::string_view second_outputs[] = {"y", "SELF_ATTENTION/out"};
  named.nodes[0].outputs = first_outputs;
  named.nodes[1].outputs = second_outputs;
  named.initializers = initializers({{4}});
  named.initializers[0].name = "Word_Embeddings";
  const std::string evidence =
      "  - node names mention attention\n  - initializer names mention embeddings\n"
      "  - no Softmax/MatMul/LayerNormalization pattern found\n\n";
  EXPECT_NE(
      capture_stdout([&] { explain_onnx_architecture(named); }).find("Evidence:\n" + evidence),
      std::string::npos);
  second_outputs[1] = "self_attent\xc4\xb0on";  // U+0130 in place of the i
  named.initializers[0].name = "embed";
  EXPECT_NE(capture_stdout([&] {
              explain_onnx_architecture(named);
            }).find("Evidence:\n  - no Softmax/MatMul/LayerNormalization pattern found\n"),
            std::string::npos);
  EXPECT_TRUE(name_mentions("attention", "MultiHeadATTENTION"));
  EXPECT_FALSE(name_mentions("attention", "attentio"));
}

TEST(ExplainDiff, OnnxSummaryNamesTheAttentionChange) {
  OnnxSummary old_s;
  old_s.op_counts = ops(0, 0, 0, 0, 12);
  old_s.parameter_values = 1000;
  old_s.estimated_ops = 0;
  OnnxSummary new_s;
  new_s.op_counts = ops(0, 0, 0, 0, 24);
  new_s.parameter_values = 2000;
  new_s.estimated_ops = 10;
  const std::string grew = capture_stdout([&] { explain_onnx_diff(old_s, new_s); });
  EXPECT_NE(grew.find("  Attention layers:  12 -> 24\n"), std::string::npos) << grew;
  EXPECT_NE(grew.find("\n  Grew from ~12 to ~24 attention layers; parameters +100%, estimated "
                      "cost n/a (from zero).\n"),
            std::string::npos);
  new_s.op_counts = ops(0, 0, 0, 1, 0);
  const std::string unknown = capture_stdout([&] { explain_onnx_diff(new_s, old_s); });
  EXPECT_NE(unknown.find("  Attention layers:  unknown -> 12\n"), std::string::npos) << unknown;
  EXPECT_NE(unknown.find("\nNew operators introduced:\n  Attention\nOperators removed:\n"
                         "  LayerNormalization\n\nSummary:\n  Parameters -50%, estimated cost "
                         "-100%.\n"),
            std::string::npos)
      << unknown;
}

}  // namespace
}  // namespace orvik
