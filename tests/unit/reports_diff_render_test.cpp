// Text and JSON renderings of the LightGBM and PyTorch diffs over hand-built summaries.
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

#include <gtest/gtest.h>

#include "reports/diff.hpp"
#include "util/json.hpp"

namespace orvik {
namespace {

template <class F>
std::string capture(F&& body) {
  testing::internal::CaptureStdout();
  body();
  return testing::internal::GetCapturedStdout();
}

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
  EXPECT_EQ(capture([] { print_diff_header("ONNX", "a.onnx", "b.onnx"); }),
            "Model Diff\n----------\nType: ONNX\nOld: a.onnx\nNew: b.onnx\n\n");
}

TEST(DiffLightgbm, FullTextReport) {
  std::string out;
  out = capture([&] { EXPECT_TRUE(diff_lightgbm(lightgbm_old(), lightgbm_new(), false)); });
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
  std::string out = capture([&] { EXPECT_TRUE(diff_lightgbm(a, b, false)); });
  EXPECT_NE(out.find("Max leaf slots:\n  21 -> 14 (-7)\n"), std::string::npos) << out;

  // 2 x 2^63 does not fit in 64 bits: the side is absent, so the row is unknown.
  a.num_leaves = std::uint64_t{1} << 63;
  b.num_leaves = std::uint64_t{1} << 63;
  b.num_trees = 1;
  out = capture([&] { EXPECT_TRUE(diff_lightgbm(a, b, false)); });
  EXPECT_NE(out.find("Configured leaves / tree:\n  9223372036854775808 -> 9223372036854775808 "
                     "(same)\nMax leaf slots:\n  unknown\n"),
            std::string::npos)
      << out;
}

TEST(DiffLightgbm, NanLearningRateNeverEqual) {
  LightGbmSummary a = lightgbm_old();
  a.learning_rate = std::numeric_limits<double>::quiet_NaN();
  const LightGbmSummary b = a;
  const std::string out = capture([&] { EXPECT_TRUE(diff_lightgbm(a, b, false)); });
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
  const std::string out = capture([&] { EXPECT_TRUE(diff_lightgbm(a, lightgbm_new(), true)); });
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
  std::string out = capture([&] { EXPECT_TRUE(diff_pytorch(pytorch_old(), b, false)); });
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
      capture([&] { EXPECT_TRUE(diff_pytorch(pytorch_old(), pytorch_old(), true)); });
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
    const std::string out = capture([&] {
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
