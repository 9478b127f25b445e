#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "capture_stdout.hpp"
#include "embedded_scripts.hpp"
#include "files.hpp"
#include "python_bridge/python_bridge.hpp"
#include "python_bridge_env.hpp"

namespace orvik {
namespace {

namespace fs = std::filesystem;
using namespace testing_support;
using Words = std::vector<std::string>;

const std::string kPython = kData + "/python";

// Debian's python3 with the stand-in packages, run from an empty working folder.
class Convert : public testing::Test {
 protected:
  ScratchDir dir_;
  ScopedCwd cwd_{dir_.path()};
  ScopedEnv kaltera_{"KALTERA_PYTHON", std::nullopt};
  ScopedEnv path_{"PATH", kSystemPath};
  ScopedEnv pythonpath_{"PYTHONPATH", kStandin};
  ScopedEnv bytecode_{"PYTHONDONTWRITEBYTECODE", "1"};

  // Runs convert and returns its output; the command must succeed.
  std::string convert(const Words& words) {
    CommandResult result;
    std::string out = capture_stdout([&] { result = cmd_convert(words); });
    EXPECT_TRUE(result.has_value()) << result.error();
    return out;
  }
};

// An interpreter that leaves a file behind when anything starts it.
class NoProcessStarts : public testing::Test {
 protected:
  void SetUp() override {
    write_file(dir_ / "python3", "#!/bin/sh\n: > \"$ORVIK_STARTED_MARKER\"\n");
    fs::permissions(dir_ / "python3", fs::perms::owner_all);
  }
  bool started() const { return fs::exists(dir_ / "started"); }

  ScratchDir dir_;
  ScopedCwd cwd_{dir_.path()};
  ScopedEnv kaltera_{"KALTERA_PYTHON", dir_ / "python3"};
  ScopedEnv path_{"PATH", dir_.path()};
  ScopedEnv marker_{"ORVIK_STARTED_MARKER", dir_ / "started"};
};

TEST_F(NoProcessStarts, OptionErrorsComeBeforeAnyInterpreter) {
  const std::string usage = "usage: orvik convert <model.pkl|mlflow-model-dir> [--out path]";
  const std::vector<std::pair<Words, std::string>> cases = {
      {{}, usage},
      {{"-o", "out.txt"}, usage},
      {{"--out", "--json"}, usage},
      {{"model.pkl", "--out"}, "--out needs a path"},
      {{"-o"}, "--out needs a path"},
      {{"--force", "model.pkl"}, "unknown convert option `--force`"},
      {{"model.pkl", "--"}, "unknown convert option `--`"},
      {{"model.pkl", "other.pkl"}, "convert takes one source path"},
      {{"-x", "model.pkl"}, "convert takes one source path"},
      {{"a.pkl", "b.pkl", "--force"}, "convert takes one source path"},
  };
  for (const auto& [words, message] : cases) {
    auto result = cmd_convert(words);
    ASSERT_FALSE(result.has_value());
    EXPECT_EQ(result.error(), message);
  }
  EXPECT_FALSE(started());
}

TEST_F(NoProcessStarts, DoctorUsageErrorStartsNothing) {
  for (const Words& words : {Words{"--verbose"}, Words{"--json", "json"}, Words{""}}) {
    auto result = cmd_doctor(words);
    ASSERT_FALSE(result.has_value());
    EXPECT_EQ(result.error(), "usage: orvik doctor [--json]");
  }
  EXPECT_FALSE(started());
  // The same interpreter does start for valid words.
  capture_stdout([] { EXPECT_TRUE(cmd_doctor({}).has_value()); });
  EXPECT_TRUE(started());
}

TEST_F(Convert, DefaultOutputReplacesTheExtension) {
  fs::copy_file(kPython + "/lgb_booster.pkl", dir_ / "booster.pkl");
  EXPECT_EQ(convert({dir_ / "booster.pkl"}),
            "converted LightGBM model -> " + (dir_ / "booster.txt") + "\n");
  EXPECT_EQ(slurp(dir_ / "booster.txt"), slurp(kPython + "/regression_first2.txt"));

  fs::copy_file(kPython + "/catboost_classifier.pkl", dir_ / "classifier.v2.pkl");
  EXPECT_EQ(convert({"classifier.v2.pkl"}), "converted CatBoost model -> classifier.v2.cbm\n");
  EXPECT_EQ(slurp(dir_ / "classifier.v2.cbm"), slurp(kPython + "/catboost/single_tree.cbm"));
}

TEST_F(Convert, DefaultOutputAppendsTheExtensionWhenThereIsNone) {
  fs::copy_file(kPython + "/lgb_regressor.pkl", dir_ / "regressor");
  EXPECT_EQ(convert({"regressor"}), "converted LightGBM model -> regressor.txt\n");
  EXPECT_TRUE(fs::exists(dir_ / "regressor.txt"));
}

TEST_F(Convert, EmptyOutputPathMeansTheDefault) {
  fs::copy_file(kPython + "/lgb_booster.pkl", dir_ / "model.pkl");
  EXPECT_EQ(convert({"model.pkl", "--out", ""}), "converted LightGBM model -> model.txt\n");
  EXPECT_TRUE(fs::exists(dir_ / "model.txt"));
}

TEST_F(Convert, MlflowDirectoryGetsModelFileInside) {
  fs::copy(kPython + "/mlflow_lightgbm", dir_ / "exported");
  EXPECT_EQ(convert({"exported/"}), "converted LightGBM model -> exported/model.txt\n");
  EXPECT_EQ(slurp(dir_ / "exported/model.txt"), slurp(kPython + "/regression_first2.txt"));

  fs::copy(kPython + "/mlflow_catboost", dir_ / "cb");
  EXPECT_EQ(convert({"cb"}), "converted CatBoost model -> cb/model.cbm\n");
  EXPECT_EQ(slurp(dir_ / "cb/model.cbm"), slurp(kPython + "/catboost/single_tree.cbm"));
}

TEST_F(Convert, ExplicitOutputPath) {
  EXPECT_EQ(convert({kPython + "/lgb_regressor.pkl", "-o", dir_ / "chosen.model"}),
            "converted LightGBM model -> " + (dir_ / "chosen.model") + "\n");
  EXPECT_EQ(slurp(dir_ / "chosen.model"), slurp(kPython + "/regression_first2.txt"));
}

TEST_F(Convert, ScriptWithoutSourceExplainsItself) {
  auto out = run_python_script(scripts::CONVERT_SCRIPT, {});
  ASSERT_FALSE(out.has_value());
  EXPECT_EQ(out.error().back(), "python3: convert: missing source path");
}

TEST_F(Convert, ScriptFailuresBecomeFailureLines) {
  auto no_flavors = cmd_convert({kPython + "/mlflow_without_flavors"});
  ASSERT_FALSE(no_flavors.has_value());
  EXPECT_TRUE(no_flavors.error().ends_with(
      "mlflow.exceptions.MlflowException: Model does not have the \"python_function\" flavor"))
      << no_flavors.error();

  auto missing = cmd_convert({"missing.pkl"});
  ASSERT_FALSE(missing.has_value());
  EXPECT_TRUE(missing.error().starts_with(
      "convert needs Python with the model's library installed (lightgbm or catboost).\n"
      "Point KALTERA_PYTHON at a suitable interpreter. Tried:\n"
      ".venv/bin/python: No such file or directory (os error 2)\n"
      "python3: Traceback (most recent call last):\n"))
      << missing.error();
  EXPECT_TRUE(missing.error().ends_with(
      "FileNotFoundError: [Errno 2] No such file or directory: 'missing.pkl'"))
      << missing.error();
}

TEST_F(Convert, LightgbmModelWithoutLightgbmCannotBeLoaded) {
  ScopedEnv pythonpath("PYTHONPATH", kStandin + "/variants/without_lightgbm:" + kStandin);
  auto result = cmd_convert({kPython + "/lgb_booster.pkl", "-o", dir_ / "out.txt"});
  ASSERT_FALSE(result.has_value());
  EXPECT_TRUE(result.error().ends_with("ModuleNotFoundError: No module named 'lightgbm'"))
      << result.error();
  EXPECT_FALSE(fs::exists(dir_ / "out.txt"));
}

}  // namespace
}  // namespace orvik
