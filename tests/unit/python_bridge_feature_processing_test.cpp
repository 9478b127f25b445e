#include "python_bridge/feature_processing.hpp"

#include <filesystem>
#include <string>
#include <vector>

#include <fmt/core.h>
#include <gtest/gtest.h>

#include "capture_stdout.hpp"
#include "files.hpp"
#include "python_bridge_env.hpp"

namespace orvik {
namespace {

namespace fs = std::filesystem;
using namespace testing_support;

const std::string kModels = kData + "/python/catboost";

class FeatureProcessing : public testing::Test {
 protected:
  std::string section(const std::string& model_path, const std::vector<std::string>& names = {}) {
    return capture_stdout([&] { print_feature_processing(model_path, names); });
  }

  StandinCatboost standin_;
  const ScratchDir& dir_ = standin_.dir;
  const ScratchDir& python_tmp_ = standin_.python_tmp;
};

TEST_F(FeatureProcessing, FloatFeaturesOfARealModel) {
  EXPECT_EQ(section(kModels + "/single_tree.cbm", {"ignored"}),
            "Feature Processing:\n"
            "  Float features: 3\n"
            "  Categorical features: 0\n"
            "  Total float borders: 4\n"
            "  Float feature list:\n"
            "    0 (2 borders)\n"
            "    1 (1 borders)\n"
            "    2 (1 borders)\n");
  EXPECT_TRUE(fs::is_empty(python_tmp_.path()));
}

TEST_F(FeatureProcessing, CategoricalFeaturesUseTheirFlatIndex) {
  EXPECT_EQ(section(kModels + "/multi_cat.cbm"),
            "Feature Processing:\n"
            "  Float features: 2\n"
            "  Categorical features: 3\n"
            "  Total float borders: 60\n"
            "  Float feature list:\n"
            "    0 (46 borders)\n"
            "    1 (14 borders)\n"
            "  Categorical feature list:\n"
            "    2\n"
            "    3\n"
            "    4\n");
}

TEST_F(FeatureProcessing, ListsStopAfterTwentyFourFeatures) {
  const std::string out = section(kModels + "/large_features.cbm");
  EXPECT_TRUE(
      out.starts_with("Feature Processing:\n"
                      "  Float features: 50\n"
                      "  Categorical features: 0\n"
                      "  Total float borders: 843\n"
                      "  Float feature list:\n"
                      "    0 (95 borders)\n"))
      << out;
  EXPECT_TRUE(
      out.ends_with("    22 (7 borders)\n"
                    "    23 (10 borders)\n"
                    "    ... 26 more\n"))
      << out;
}

TEST_F(FeatureProcessing, LabelsFallBackFromFlatIndexToIndexToPosition) {
  fs::copy_file(kModels + "/single_tree.cbm", dir_ / "named.cbm");
  std::string categorical;
  for (int i = 0; i < 30; ++i) {
    if (i > 0) categorical += ",";
    categorical +=
        fmt::format(R"({{"flat_feature_index": {}, "feature_id": "city_{}"}})", i + 10, i);
  }
  write_file(
      dir_ / "named_model.json",
      R"({"features_info": {"float_features": [)"
      R"({"flat_feature_index": 0, "feature_index": 4, "feature_id": "age", "borders": [1.5, 2.5]},)"
      R"({"feature_index": 5, "name": "income"},)"
      R"({"feature_id": "", "name": "", "borders": [0.5]},)"
      R"({"flat_feature_index": 7, "feature_id": "", "name": "fallback name", "borders": null}],)"
      R"("categorical_features": [)" +
          categorical + "]}}");
  std::string expected =
      "Feature Processing:\n"
      "  Float features: 4\n"
      "  Categorical features: 30\n"
      "  Total float borders: 3\n"
      "  Float feature list:\n"
      "    0: age (2 borders)\n"
      "    5: income (0 borders)\n"
      "    2 (1 borders)\n"
      "    7: fallback name (0 borders)\n"
      "  Categorical feature list:\n";
  for (int i = 0; i < 24; ++i)
    expected += fmt::format("    {}: city_{}\n", i + 10, i);
  expected += "    ... 6 more\n";
  EXPECT_EQ(section("named.cbm"), expected);
}

TEST_F(FeatureProcessing, ExportWithoutFeaturesInfo) {
  fs::copy_file(kModels + "/single_tree.cbm", dir_ / "bare.cbm");
  write_file(dir_ / "bare_model.json", R"({"oblivious_trees": []})");
  EXPECT_EQ(section("bare.cbm"),
            "Feature Processing:\n"
            "  Float features: 0\n"
            "  Categorical features: 0\n"
            "  Total float borders: 0\n");
}

TEST_F(FeatureProcessing, FallbackWhenNoInterpreterStarts) {
  ScopedEnv path("PATH", kFakePython + "/no_python");
  EXPECT_EQ(section(kModels + "/single_tree.cbm", {"alpha", "beta", "gamma"}),
            "Feature Processing:\n"
            "  Exact float/categorical feature typing unavailable.\n"
            "  Reason: .venv/bin/python: No such file or directory (os error 2)\n"
            "  Recovered feature names: 3\n"
            "    alpha\n"
            "    beta\n"
            "    gamma\n");
}

TEST_F(FeatureProcessing, FallbackListsAtMostTwentyFourNames) {
  ScopedEnv path("PATH", kFakePython + "/no_python");
  std::vector<std::string> names;
  std::string listed;
  for (int i = 0; i < 30; ++i) {
    names.push_back(fmt::format("f{:02}", i));
    if (i < 24) listed += fmt::format("    f{:02}\n", i);
  }
  EXPECT_EQ(section("missing.cbm", names),
            "Feature Processing:\n"
            "  Exact float/categorical feature typing unavailable.\n"
            "  Reason: .venv/bin/python: No such file or directory (os error 2)\n"
            "  Recovered feature names: 30\n" +
                listed + "    ... 6 more\n");

  names.resize(24);
  EXPECT_TRUE(section("missing.cbm", names).ends_with("    f23\n"));
  EXPECT_TRUE(section("missing.cbm", {}).ends_with("  Recovered feature names: 0\n"));
}

TEST_F(FeatureProcessing, ReasonIsTheFirstNonEmptyTrimmedLine) {
  ScopedEnv configured("KALTERA_PYTHON", fake_python("crlf_error"));
  EXPECT_EQ(section("model.cbm", {"x"}),
            "Feature Processing:\n"
            "  Exact float/categorical feature typing unavailable.\n"
            "  Reason: " +
                fake_python("crlf_error") +
                ": fake python: first line\n"
                "  Recovered feature names: 1\n"
                "    x\n");
}

TEST_F(FeatureProcessing, PythonErrorsEndInTheFallback) {
  // Debian's python3 first, once without catboost and once with a model file that is missing.
  ScopedEnv configured("KALTERA_PYTHON", "python3");
  const std::string traceback_reason = "  Reason: python3: Traceback (most recent call last):\n";
  {
    ScopedEnv pythonpath("PYTHONPATH", kStandin + "/variants/without_catboost");
    ScopedEnv path("PATH", kSystemPath);
    const std::string out = section(kModels + "/single_tree.cbm");
    EXPECT_NE(out.find(traceback_reason), std::string::npos) << out;
  }
  const std::string out = section("no-such-model.cbm");
  EXPECT_NE(out.find(traceback_reason), std::string::npos) << out;
  EXPECT_TRUE(fs::is_empty(python_tmp_.path()));
}

}  // namespace
}  // namespace orvik
