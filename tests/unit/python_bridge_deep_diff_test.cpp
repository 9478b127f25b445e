// The deep-diff program run through the real bridge, against the stand-in catboost package serving
// CatBoost's own JSON exports and hand-made ones.
#include "python_bridge/deep_diff.hpp"

#include <filesystem>
#include <string>

#include <fmt/core.h>
#include <gtest/gtest.h>

#include "capture_stdout.hpp"
#include "files.hpp"
#include "python_bridge_env.hpp"

namespace orvik {
namespace {

namespace fs = std::filesystem;
using namespace testing_support;

class DeepDiff : public testing::Test {
 protected:
  // Standard output of a successful run.
  std::string diff(const std::string& old_path, const std::string& new_path) {
    CommandResult result;
    std::string out =
        capture_stdout([&] { result = print_catboost_deep_diff(old_path, new_path); });
    EXPECT_TRUE(result) << result.error();
    return out;
  }

  // A model of the stand-in: a file holding only the CBM1 signature, with its export beside it.
  std::string model(const std::string& name, const std::string& export_json) {
    write_file(dir_ / (name + ".cbm"), "CBM1");
    write_file(dir_ / (name + "_model.json"), export_json);
    return dir_ / (name + ".cbm");
  }

  StandinCatboost standin_;
  const ScratchDir& dir_ = standin_.dir;
  const ScratchDir& python_tmp_ = standin_.python_tmp;
};

// Every change counter of a model against itself is 0, symmetric and non-symmetric trees alike,
// and the exports are gone when the program ends.
TEST_F(DeepDiff, RealModelAgainstItselfChangesNothing) {
  for (const char* name :
       {"single_tree", "multi_cat", "large_features", "nonsym_binary", "nonsym_regression"}) {
    const std::string path = kData + "/catboost/" + name + ".cbm";
    const std::string out = diff(path, path);
    for (const char* line :
         {"\n  Trees removed / added: 0 / 0\n", "\n  Split positions changed: 0\n",
          "\n  Trees with leaf value changes: 0 / ", "\n  Trees with changed leaf count: 0\n",
          "\n  Trees with leaf weight changes: 0 / ", "\n  Float features with border changes: 0\n",
          "\n  Border positions changed: 0\n", "\n  Borders added / removed: 0 / 0\n",
          "\n  Float feature list changes:\n    none\n  Categorical feature list changes:\n    "
          "none\n  Feature type changes:\n    none\n\nSplit Type Mix:\n"}) {
      EXPECT_NE(out.find(line), std::string::npos) << name << " lacks " << line << out;
    }
    EXPECT_EQ(out.find("Split type changes:"), std::string::npos) << name;
    EXPECT_NE(out.find("mean_abs=0, median_abs=0, max_abs=0\n"), std::string::npos) << name;
  }
  EXPECT_TRUE(fs::is_empty(python_tmp_.path()));
}

// Symmetric trees against nested ones (a lone leaf among them), more trees, no leaf weights, a
// feature moving from the float to the categorical list, 22 float features with changed borders,
// and statistics whose six significant digits need rounding or an exponent.
TEST_F(DeepDiff, HandMadeExportsCoverEveryBlock) {
  const std::string split_f0 =
      R"({"border": 0.5, "float_feature_index": 0, "split_type": "FloatFeature"})";
  const auto split = [](int feature, double border) {
    return fmt::format(
        R"({{"border": {}, "float_feature_index": {}, "split_type": "FloatFeature"}})", border,
        feature);
  };
  std::string old_floats;
  std::string new_floats;
  for (int i = 0; i < 23; ++i) {
    old_floats += fmt::format(
        R"({}{{"flat_feature_index": {}, "feature_id": "", "borders": [0.5]}})", i ? "," : "", i);
    if (i == 22) continue;
    const char* borders = i == 1 ? "[0.5, 1.0]" : i == 2 ? "[0.75]" : "[0.25]";
    new_floats +=
        fmt::format(R"({}{{"flat_feature_index": {}, "feature_id": "{}", "borders": {}}})",
                    i ? "," : "", i, i == 0 ? "age" : "", borders);
  }
  const std::string old_path = model(
      "old",
      R"({"oblivious_trees": [{"splits": [)" + split_f0 + "," + split(1, 1.5) +
          R"(], "leaf_values": [0.1, 0.2, 0.3, 0.4]},
          {"splits": [{"cat_feature_index": 0, "split_type": "OneHotFeature"}],
           "leaf_values": [[1, true], -1]}],
         "scale_and_bias": [1, [0]],
         "features_info": {"float_features": [)" +
          old_floats +
          R"(], "categorical_features": [{"flat_feature_index": 23, "feature_id": "city"}]}})");
  const std::string new_path = model(
      "new", R"({"trees": [{"split": )" + split_f0 + R"(, "left": {"value": 0.1},
           "right": {"split": )" +
                 split(1, 2.5) + R"(, "left": {"value": 0.2000004}, "right": {"value": 2500000.5}}},
          {"value": 5},
          {"split": {"split_type": "OnlineCtr"}, "left": {"value": 0}, "right": {"value": 0}},
          {"split": )" +
                 split(2, 1) + R"(, "left": {"split": )" + split(3, 1) +
                 R"(, "left": {"value": 1}, "right": {"value": 2}}, "right": {"value": 3}}],
         "features_info": {"float_features": [)" +
                 new_floats + R"(, {"flat_feature_index": 30, "borders": [1, 2, 3]}],
           "categorical_features": [{"flat_feature_index": 22}, {"flat_feature_index": 23, "feature_id": "city"}]}})");

  std::string changed_borders =
      "    0 -> 0: age: borders 1 -> 1, changed positions 1\n"
      "    1: borders 1 -> 2, changed positions 0\n";
  for (int i = 2; i < 20; ++i)
    changed_borders += fmt::format("    {}: borders 1 -> 1, changed positions 1\n", i);
  EXPECT_EQ(diff(old_path, new_path),
            "CatBoost Deep Diff\n"
            "------------------\n"
            "Requires: Python catboost package\n"
            "\n"
            "Decoded Structure:\n"
            "  Trees: 2 -> 4\n"
            "  Trees removed / added: 0 / 2\n"
            "  Depth sets: [1, 2] -> [0, 1, 2]\n"
            "  Same depth by paired tree: 1 / 2\n"
            "  Trees with split changes: 4 / 4\n"
            "  Split positions same: 1\n"
            "  Split positions changed: 5\n"
            "  Split type changes:\n"
            "    added -> FloatFeature: 2\n"
            "    FloatFeature -> FloatFeature: 1\n"
            "    added -> OnlineCtr: 1\n"
            "\n"
            "Leaf Values:\n"
            "  Trees with leaf value changes: 4 / 4\n"
            "  Paired trees with same leaf count: 0\n"
            "  Trees with changed leaf count: 4\n"
            "  Leaf value diffs for paired slots: changed 3 / 4, mean_abs=625001, median_abs=2, "
            "max_abs=2.5e+06\n"
            "\n"
            "Leaf Weights:\n"
            "  Trees with leaf weight changes: 2 / 4\n"
            "  Leaf weight diffs for paired slots: changed 0 / 0\n"
            "\n"
            "Scale/Bias:\n"
            "  [1, [0]] -> None\n"
            "\n"
            "Feature Processing:\n"
            "  Float features: 23 -> 23\n"
            "  Categorical features: 1 -> 2\n"
            "  Total float borders: 23 -> 26\n"
            "  Float features with border changes: 22\n"
            "  Border positions changed: 21\n"
            "  Borders added / removed: 4 / 1\n"
            "  Float feature list changes:\n"
            "    Added:\n"
            "      30\n"
            "    Removed:\n"
            "      22\n"
            "  Categorical feature list changes:\n"
            "    Added:\n"
            "      22\n"
            "  Feature type changes:\n"
            "    22: float -> categorical\n"
            "  Float features with changed borders:\n" +
                changed_borders +
                "    ... 2 more\n"
                "\n"
                "Split Type Mix:\n"
                "  Old: {'FloatFeature': 2, 'OneHotFeature': 1}\n"
                "  New: {'FloatFeature': 4, 'OnlineCtr': 1}\n");

  // The other way round the extra trees are removed ones.
  const std::string reverse = diff(new_path, old_path);
  EXPECT_NE(reverse.find("  Trees removed / added: 2 / 0\n"), std::string::npos) << reverse;
  EXPECT_NE(reverse.find("  Split type changes:\n"
                         "    FloatFeature -> removed: 2\n"
                         "    FloatFeature -> FloatFeature: 1\n"
                         "    OnlineCtr -> removed: 1\n"),
            std::string::npos)
      << reverse;
}

TEST_F(DeepDiff, FailureListsEveryCandidateOnItsOwnLine) {
  ScopedEnv configured("KALTERA_PYTHON", fake_python("broken"));
  ScopedEnv path("PATH", kFakePython + "/no_python");
  CommandResult result;
  EXPECT_EQ(capture_stdout([&] { result = print_catboost_deep_diff("a.cbm", "b.cbm"); }), "");
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error(),
            "CatBoost deep diff needs Python with `catboost` installed. Tried:\n"
            "  " +
                fake_python("broken") +
                ": fake python: this interpreter is broken\n"
                "  .venv/bin/python: No such file or directory (os error 2)\n"
                "  python3: No such file or directory (os error 2)");

  // A model the package rejects: the traceback's last line closes the candidate's entry.
  write_file(dir_ / "bad.cbm", "CBM2");
  ScopedEnv system_path("PATH", kSystemPath);
  ScopedEnv no_configured("KALTERA_PYTHON", std::nullopt);
  result = print_catboost_deep_diff("bad.cbm", "bad.cbm");
  ASSERT_FALSE(result);
  EXPECT_TRUE(
      result.error().ends_with("catboost.core.CatBoostError: Incorrect model file descriptor"))
      << result.error();
}

}  // namespace
}  // namespace orvik
