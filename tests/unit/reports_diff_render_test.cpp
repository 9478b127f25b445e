// Text and JSON renderings of the LightGBM, PyTorch and CatBoost diffs over hand-built summaries.
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "capture_stdout.hpp"
#include "main/dispatch.hpp"
#include "reports/diff.hpp"
#include "util/json.hpp"

namespace orvik {
namespace {

using testing_support::capture_stdout;

LightGbmSummary lightgbm_old() {
  LightGbmSummary s;
  s.path = "old.txt";
  s.bytes = 1023;
  s.file_fingerprint = 0x1;
  s.learned_state_fingerprint = 0xabc;
  s.num_class = 1;
  s.num_trees = 10;
  s.num_features = 6;
  s.objective = "binary";
  s.boosting = "gbdt";
  s.num_leaves = 7;
  s.learning_rate = 0.1;
  s.max_depth = -1;
  s.num_iterations = 10;
  s.feature_names = {"a", "b", "c"};
  return s;
}

LightGbmSummary lightgbm_new() {
  LightGbmSummary s = lightgbm_old();
  s.path = "new.txt";
  s.bytes = 1024;
  s.file_fingerprint = 0x2;
  s.metadata_fingerprint = 0xff;
  s.num_trees = 12;
  s.num_features = 5;
  s.boosting.reset();
  s.num_leaves.reset();
  s.learning_rate = 0.05;
  s.max_depth = 8;
  s.num_iterations = 12;
  s.feature_names = {"b", "c", "d"};
  return s;
}

TEST(DiffHeader, PrintsSixLines) {
  EXPECT_EQ(capture_stdout([] { print_diff_header("ONNX", "a.onnx", "b.onnx"); }),
            "Model Diff\n----------\nType: ONNX\nOld: a.onnx\nNew: b.onnx\n\n");
}

TEST(DiffLightgbm, FullTextReport) {
  std::string out;
  out = capture_stdout([&] { EXPECT_TRUE(diff_lightgbm(lightgbm_old(), lightgbm_new(), false)); });
  EXPECT_EQ(out,
            "Model Diff\n"
            "----------\n"
            "Type: LightGBM\n"
            "Old: old.txt\n"
            "New: new.txt\n"
            "\n"
            "Structure:\n"
            "File size:\n"
            "  1023 B -> 1.0 KiB (+1)\n"
            "Trees:\n"
            "  10 -> 12 (+2)\n"
            "Configured leaves / tree:\n"
            "  unknown\n"
            "Max leaf slots:\n"
            "  unknown\n"
            "Classes:\n"
            "  1 -> 1 (same)\n"
            "Features:\n"
            "  6 -> 5 (-1)\n"
            "\n"
            "Parameter-like Internals:\n"
            "Full artifact fingerprint:\n"
            "  0x0000000000000001 -> 0x0000000000000002 (changed)\n"
            "Metadata fingerprint:\n"
            "  unknown -> 0x00000000000000ff\n"
            "Learned-state fingerprint:\n"
            "  0x0000000000000abc -> 0x0000000000000abc (same)\n"
            "  Note: learned-state fingerprint hashes the leaf-value lines; a change means the "
            "trees' learned outputs differ.\n"
            "\n"
            "Training Config:\n"
            "Objective:\n"
            "  binary -> binary (same)\n"
            "Boosting:\n"
            "  gbdt -> unknown\n"
            "Metric:\n"
            "  unknown\n"
            "Learning rate:\n"
            "  0.100000 -> 0.050000 (-0.050000)\n"
            "Configured iterations:\n"
            "  10 -> 12 (+2)\n"
            "Max depth:\n"
            "  unlimited -> 8 (changed)\n"
            "\n"
            "Features:\n"
            "Feature names:\n"
            "  3 -> 3 (same)\n"
            "Feature name changes:\n"
            "  Added:\n"
            "    d\n"
            "  Removed:\n"
            "    a\n"
            "\n"
            "Interpretation:\n"
            "  Structure changed: tree count or configured leaves differ.\n"
            "  Training config changed (one of objective/boosting/learning "
            "rate/leaves/depth/metric differs).\n"
            "  Feature names changed.\n"
            "  Learned-state fingerprint is identical, so the trees' leaf values are unchanged.\n");
}

TEST(DiffLightgbm, MaxLeafSlotsIsCheckedProduct) {
  LightGbmSummary a = lightgbm_old();
  LightGbmSummary b = lightgbm_old();
  a.num_trees = 3;
  b.num_trees = 2;
  std::string out = capture_stdout([&] { EXPECT_TRUE(diff_lightgbm(a, b, false)); });
  EXPECT_NE(out.find("Max leaf slots:\n  21 -> 14 (-7)\n"), std::string::npos) << out;

  // 2 x 2^63 does not fit in 64 bits: the side is absent, so the row is unknown.
  a.num_leaves = std::uint64_t{1} << 63;
  b.num_leaves = std::uint64_t{1} << 63;
  b.num_trees = 1;
  out = capture_stdout([&] { EXPECT_TRUE(diff_lightgbm(a, b, false)); });
  EXPECT_NE(out.find("Configured leaves / tree:\n  9223372036854775808 -> 9223372036854775808 "
                     "(same)\nMax leaf slots:\n  unknown\n"),
            std::string::npos)
      << out;
}

TEST(DiffLightgbm, NanLearningRateNeverEqual) {
  LightGbmSummary a = lightgbm_old();
  a.learning_rate = std::numeric_limits<double>::quiet_NaN();
  const LightGbmSummary b = a;
  const std::string out = capture_stdout([&] { EXPECT_TRUE(diff_lightgbm(a, b, false)); });
  EXPECT_NE(out.find("  Structure is unchanged: same tree count and configured leaves.\n"
                     "  Training config changed (one of objective/boosting/learning "
                     "rate/leaves/depth/metric differs).\n"
                     "  Feature names are unchanged.\n"),
            std::string::npos)
      << out;
}

TEST(DiffLightgbm, JsonHasNewOldType) {
  LightGbmSummary a = lightgbm_old();
  a.learning_rate = std::numeric_limits<double>::infinity();
  const std::string out =
      capture_stdout([&] { EXPECT_TRUE(diff_lightgbm(a, lightgbm_new(), true)); });
  ASSERT_TRUE(out.starts_with("{\n  \"new\": {\n")) << out;
  ASSERT_TRUE(out.ends_with("\n  },\n  \"type\": \"lightgbm\"\n}\n")) << out;
  const auto value = parse_json(out);
  ASSERT_TRUE(value) << value.error();
  EXPECT_EQ(value->size(), 3u);
  EXPECT_EQ((*value)["old"]["path"], "old.txt");
  EXPECT_EQ((*value)["new"]["path"], "new.txt");
  EXPECT_TRUE((*value)["old"]["learning_rate"].is_null());
  EXPECT_EQ((*value)["new"]["metadata_fingerprint"], 255u);
  EXPECT_EQ((*value)["old"]["max_depth"], -1);
  // Members of the summaries come out in ascending key order.
  EXPECT_LT(out.find("\"boosting\""), out.find("\"bytes\""));
  EXPECT_LT(out.find("\"bytes\""), out.find("\"feature_names\""));
}

PyTorchSummary pytorch_old() {
  PyTorchSummary s;
  s.path = "old.pt";
  s.bytes = 6232;
  s.is_zip = true;
  s.tensor_count = 9;
  s.total_parameter_bytes = 3224;
  s.estimated_parameter_count = 806;
  s.dominant_dtype = "float32";
  s.param_names = {"fc1.weight", "fc1.bias"};
  s.torch_version = "3";
  s.file_fingerprint = 0x0123456789abcdefULL;
  s.learned_state_fingerprint = 0xfedcba9876543210ULL;
  return s;
}

TEST(DiffPytorch, FullTextReport) {
  PyTorchSummary b = pytorch_old();
  b.path = "new.pt";
  b.bytes = 747;
  b.tensor_count = 1;
  b.total_parameter_bytes = 24;
  b.estimated_parameter_count = 3;
  b.dominant_dtype.reset();
  b.param_names = {"w"};
  b.file_fingerprint = 0x10;
  std::string out = capture_stdout([&] { EXPECT_TRUE(diff_pytorch(pytorch_old(), b, false)); });
  EXPECT_EQ(out,
            "Model Diff\n"
            "----------\n"
            "Type: PyTorch\n"
            "Old: old.pt\n"
            "New: new.pt\n"
            "\n"
            "Structure:\n"
            "File size:\n"
            "  6.1 KiB -> 747 B (-5485)\n"
            "Tensors (storages):\n"
            "  9 -> 1 (-8)\n"
            "Parameters (est):\n"
            "  806 -> 3 (-803)\n"
            "Parameter bytes:\n"
            "  3.1 KiB -> 24 B (-3200)\n"
            "Dominant dtype:\n"
            "  float32 -> unknown\n"
            "\n"
            "Parameter-like Internals:\n"
            "Full artifact fingerprint:\n"
            "  0x0123456789abcdef -> 0x0000000000000010 (changed)\n"
            "Learned-state fingerprint (sampled):\n"
            "  0xfedcba9876543210 -> 0xfedcba9876543210 (same)\n"
            "\n"
            "Parameter Names:\n"
            "Recovered names:\n"
            "  2 -> 1 (-1)\n"
            "Feature name changes:\n"
            "  Added:\n"
            "    w\n"
            "  Removed:\n"
            "    fc1.bias\n"
            "    fc1.weight\n");
}

TEST(DiffPytorch, JsonHasNewOldType) {
  const std::string out =
      capture_stdout([&] { EXPECT_TRUE(diff_pytorch(pytorch_old(), pytorch_old(), true)); });
  ASSERT_TRUE(out.starts_with("{\n  \"new\": {\n    \"bytes\": 6232,\n")) << out;
  ASSERT_TRUE(out.ends_with("\n  },\n  \"type\": \"pytorch\"\n}\n")) << out;
  const auto value = parse_json(out);
  ASSERT_TRUE(value) << value.error();
  EXPECT_EQ((*value)["old"]["file_fingerprint"], 0x0123456789abcdefULL);
  EXPECT_EQ((*value)["old"]["learned_state_fingerprint"], 0xfedcba9876543210ULL);
}

TEST(DiffCommand, WordChecksNeedNoFiles) {
  const auto run = [](std::vector<std::string> words) {
    std::string error;
    const std::string out = capture_stdout([&] {
      const auto result = cmd_diff(words);
      ASSERT_FALSE(result);
      error = result.error();
    });
    EXPECT_EQ(out, "");
    return error;
  };
  const std::string usage = "usage: orvik diff [--deep] [--json] <old-model> <new-model>";
  EXPECT_EQ(run({}), usage);
  EXPECT_EQ(run({"--deep", "--json", "a.cbm"}), usage);
  EXPECT_EQ(run({"--limit", "a.lgb", "b.lgb"}), usage);
  EXPECT_EQ(run({"--json", "--deep", "--json", "missing.cbm", "missing2.cbm"}),
            "--deep cannot be combined with --json yet.");
  EXPECT_EQ(run({"a.json", "b.json"}),
            "tensor plan diff is not supported yet. Use trace, compare, why, or validate "
            "instead.");
  EXPECT_EQ(run({"--deep", "a.json", "b.pt"}),
            "cannot diff different or unsupported artifact types: tensor plan JSON vs PyTorch");
  EXPECT_EQ(run({"--deep", "a.cbm", "b.onnx"}),
            "cannot diff different or unsupported artifact types: CatBoost vs ONNX");
  EXPECT_EQ(run({"missing.txt", "missing.txt"}),
            "cannot diff different or unsupported artifact types: unknown vs unknown");
  EXPECT_EQ(run({"missing.txt", "b.pt"}),
            "cannot diff different or unsupported artifact types: unknown vs PyTorch");
}

}  // namespace
}  // namespace orvik

namespace orvik {
namespace {

CatBoostSummary catboost_summary() {
  CatBoostSummary s;
  s.path = "old.cbm";
  s.file_size_bytes = 2048;
  s.has_cbm1_magic = true;
  s.iterations = 100;
  s.depth = 6;
  s.learning_rate = 0.03;
  s.l2_leaf_reg = 3;
  s.loss = "RMSE";
  s.best_learn_rmse = 0.5;
  s.feature_names = {"age_years", "user_id"};
  s.file_fingerprint = 1;
  s.learned_state_fingerprint = 3;
  return s;
}

// The lines of one section of a text report: from its heading to the next empty line.
std::string section(const std::string& report, const std::string& heading) {
  const std::string text = "\n" + report;
  const std::size_t start = text.find("\n" + heading + "\n");
  if (start == std::string::npos) return "missing " + heading;
  const std::size_t end = text.find("\n\n", start + 1);
  return text.substr(start + 1, end == std::string::npos ? end : end - start);
}

std::string catboost_text(const CatBoostSummary& a, const CatBoostSummary& b) {
  return capture_stdout([&] { kCatBoostDiff.print_sections(a, b); });
}

TEST(DiffCatboost, RmseNoteFollowsTheDirectionOfTheChange) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const struct {
    std::optional<double> old_rmse, new_rmse;
    std::string expected;
  } cases[] = {
      {0.5, 0.4,
       "  0.500000 -> 0.400000 (-0.100000)\n  Note: learn RMSE decreased by 20.00%. Lower is "
       "usually better if this metric is comparable.\n"},
      {0.4, 0.5,
       "  0.400000 -> 0.500000 (+0.100000)\n  Note: learn RMSE increased by 25.00%. Lower is "
       "usually better if this metric is comparable.\n"},
      {0.0, 0.1,
       "  0.000000 -> 0.100000 (+0.100000)\n  Note: learn RMSE increased by 0.00%. Lower is "
       "usually better if this metric is comparable.\n"},
      {std::nullopt, 0.1, "  unknown\n"},
      {0.25, 0.25, "  0.250000 -> 0.250000 (same)\n"},
      {nan, 0.1, "  NaN -> 0.100000 (NaN)\n"},
  };
  for (const auto& c : cases) {
    CatBoostSummary a = catboost_summary();
    CatBoostSummary b = a;
    a.best_learn_rmse = c.old_rmse;
    b.best_learn_rmse = c.new_rmse;
    EXPECT_EQ(section(catboost_text(a, b), "Metrics:"),
              "Metrics:\nBest learn RMSE:\n" + c.expected);
  }
}

TEST(DiffCatboost, LeafSlotsAbsentFromDepth64OrOverflow) {
  CatBoostSummary a = catboost_summary();
  CatBoostSummary b = a;
  a.iterations = 3;
  a.depth = 64;
  b.iterations = std::uint64_t{1} << 61;
  b.depth = 3;
  EXPECT_EQ(section(catboost_text(a, b), "Structure:"),
            "Structure:\nFile size:\n  2.0 KiB -> 2.0 KiB (same)\n"
            "Trees:\n  3 -> 2305843009213693952 (+2305843009213693949)\n"
            "Depth:\n  64 -> 3 (-61)\n"
            "Configured/max split checks / row:\n  192 -> 6917529027641081856 "
            "(+6917529027641081664)\n"
            "Max leaf slots:\n  unknown\n");
  const JsonValue json = catboost_diff_json(a, b);
  EXPECT_EQ(json["changes"]["max_leaf_slots"],
            JsonValue::parse(R"({"changed": false, "delta": null, "new": null, "old": null})"));
  EXPECT_EQ(json["changes"]["configured_max_split_checks_per_row"]["delta"],
            6917529027641081664ULL);
}

TEST(DiffCatboost, InterpretationLines) {
  CatBoostSummary a = catboost_summary();
  a.depth.reset();  // absent on both sides still counts as the same structure
  CatBoostSummary b = a;
  EXPECT_EQ(section(catboost_text(a, b), "Interpretation:"),
            "Interpretation:\n"
            "  Structure is unchanged: same tree count, configured depth, and estimated row cost.\n"
            "  Training config looks unchanged from embedded metadata.\n"
            "  Recovered feature names are unchanged.\n");

  b.file_size_bytes = 4096;
  b.learned_state_fingerprint = 4;
  b.l2_leaf_reg = 3.5;
  b.feature_names = {"user_id", "age_years"};
  EXPECT_EQ(section(catboost_text(a, b), "Interpretation:"),
            "Interpretation:\n"
            "  Structure is unchanged: same tree count, configured depth, and estimated row "
            "cost.\n"
            "  Training config changed in embedded metadata.\n"
            "  Recovered feature names changed.\n"
            "  File size changed despite identical coarse structure; likely leaf values, borders, "
            "metadata, or categorical statistics changed.\n"
            "  Learned-state fingerprint changed, so internal CatBoost parameters likely changed "
            "even if tree count/depth did not.\n");
}

TEST(DiffCatboost, JsonFeaturesAndFingerprints) {
  CatBoostSummary a = catboost_summary();
  CatBoostSummary b = a;
  b.feature_names = {"age_years", "zip_code", "zip_code"};
  b.metadata_fingerprint = 0xff;
  const JsonValue json = catboost_diff_json(a, b);
  EXPECT_EQ(json["features"], JsonValue::parse(R"({"added": ["zip_code"], "changed": true,
      "removed": ["user_id"], "recovered_count": {"changed": true, "delta": 1, "new": 3, "old": 2}})"));
  EXPECT_EQ(json["fingerprints"]["metadata"],
            JsonValue::parse(R"({"changed": true, "new": "0x00000000000000ff", "old": null})"));
}

}  // namespace
}  // namespace orvik
