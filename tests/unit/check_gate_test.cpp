// The check gate: percentages, growth rules, every refusal in its detection order, and the
// invariant pipelines rely on: a refusal prints nothing, a report's status matches the exit.
#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "capture_stdout.hpp"
#include "check/check.hpp"
#include "main/dispatch.hpp"

namespace orvik {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNan = std::numeric_limits<double>::quiet_NaN();

std::string data(const std::string& relative) {
  return std::string(ORVIK_TEST_DATA) + "/" + relative;
}

// The error text, or "" on success.
template <class T>
std::string error_of(const std::expected<T, std::string>& result) {
  return result ? std::string() : result.error();
}

struct Outcome {
  CommandResult result;
  std::string out;
};

Outcome run(const std::vector<std::string>& words) {
  Outcome outcome;
  outcome.out = testing_support::capture_stdout([&] { outcome.result = cmd_check(words); });
  return outcome;
}

TEST(CheckPercentage, ParsesOrRefusesTheWordAsPassed) {
  for (const auto& [word, value] :
       std::vector<std::pair<std::string, double>>{{"20%", 20},
                                                   {"20", 20},
                                                   {"20%%", 20},
                                                   {" 20% ", 20},
                                                   {"\xc2\xa0"
                                                    "20%\t",
                                                    20},
                                                   {"+2.5e1", 25},
                                                   {"0", 0},
                                                   {"inf", kInf},
                                                   {"Infinity%", kInf}}) {
    EXPECT_EQ(parse_percentage(word), value) << word;
  }
  EXPECT_TRUE(std::isnan(parse_percentage("NaN").value_or(0)));
  const std::string invalid = "`: invalid float literal";
  const std::string empty = "`: cannot parse float from empty string";
  for (const auto& [word, error] : std::vector<std::pair<std::string, std::string>>{
           {"-0", "percentage must be non-negative: -0"},
           {"-0%", "percentage must be non-negative: -0%"},
           {"-nan", "percentage must be non-negative: -nan"},
           {"", "parse percentage `" + empty},
           {" %% ", "parse percentage ` %% " + empty},
           {"20 %", "parse percentage `20 %" + invalid},
           {"%20", "parse percentage `%20" + invalid},
           {"0x10", "parse percentage `0x10" + invalid}}) {
    EXPECT_EQ(error_of(parse_percentage(word)), error) << word;
  }
}

TEST(CheckGrowth, PassesWhenTheLimitIsAtLeastTheGrowth) {
  struct Row {
    std::uint64_t old_value, new_value;
    double limit;
    bool passed;
    std::string detail;
  };
  for (const Row& row :
       std::vector<Row>{{1000, 1250, 10, false, "25.00% <= 10.00% (1000 -> 1250)"},
                        {1000, 1250, 25, true, "25.00% <= 25.00% (1000 -> 1250)"},
                        {10, 5, 0, true, "-50.00% <= 0.00% (10 -> 5)"},
                        {3, 4, kInf, true, "33.33% <= inf% (3 -> 4)"},
                        {3, 4, kNan, false, "33.33% <= NaN% (3 -> 4)"},
                        {0, 0, 0, true, "0.00% <= 0.00% (0 -> 0)"},
                        {0, 0, kNan, false, "0.00% <= NaN% (0 -> 0)"},
                        {0, 7, kInf, false, "undefined growth from zero baseline (0 -> 7)"}}) {
    const CheckResult result = growth_check("size", row.old_value, row.new_value, row.limit);
    EXPECT_EQ(result.name, "size");
    EXPECT_EQ(result.passed, row.passed) << row.detail;
    EXPECT_EQ(result.detail, row.detail);
  }
}

// Every refusal, in the order the gate detects them; none prints a line.
TEST(CheckCommand, RefusesBeforeAnyLineInDetectionOrder) {
  const std::string usage =
      "usage: orvik check [--max-size-growth 20%] [--max-ops-growth 25%] "
      "[--max-parameter-growth 30%] [--fail-on-feature-change] "
      "[--fail-on-training-config-change] [--fail-on-new-op] <old-model> <new-model>";
  const std::string mismatch = "cannot check different or unsupported artifact types: ";
  const std::string only_onnx = " is only supported for ONNX artifacts.";
  const std::string missing = ": No such file or directory (os error 2)";
  const std::string cbm = data("catboost/single_tree.cbm");
  const std::vector<std::pair<std::vector<std::string>, std::string>> rows = {
      {{}, usage},
      {{"a.cbm"}, usage},
      {{"a.cbm", "b.cbm", "c.cbm"}, usage},
      {{"--max-size-growth", "20%", "a.cbm"}, usage},
      {{"a", "b", "--Max-size-growth", "--bogus"}, "unknown check option `--Max-size-growth`"},
      {{"--", "a", "b"}, "unknown check option `--`"},
      {{"--max-size-growth", "x", "--bogus"}, "parse percentage `x`: invalid float literal"},
      {{"--max-size-growth", "--fail-on-new-op", "a.cbm", "b.cbm"},
       "parse percentage `--fail-on-new-op`: invalid float literal"},
      {{"--max-ops-growth", "-0", "a", "b"}, "percentage must be non-negative: -0"},
      {{"a.cbm", "b.cbm", "--max-ops-growth"}, "--max-ops-growth needs a percentage"},
      {{"--max-parameter-growth"}, "--max-parameter-growth needs a percentage"},
      {{"-", "x"}, mismatch + "unknown vs unknown"},
      {{"a.txt", "b.cbm"}, mismatch + "unknown vs CatBoost"},
      {{"a.cbm", "b.onnx"}, mismatch + "CatBoost vs ONNX"},
      {{"a.json", "b.pt"}, mismatch + "tensor plan JSON vs PyTorch"},
      {{"a.lgb", cbm}, mismatch + "LightGBM vs CatBoost"},
      {{"a.json", "b.json"},
       "check supports CatBoost, LightGBM, ONNX, and PyTorch artifacts, not tensor plan JSON."},
      // The refusals of a kind, in its order whatever the order of the words, before any read.
      {{"--fail-on-new-op", "--max-parameter-growth", "1", "--max-ops-growth", "1", "a.cbm",
        "b.cbm"},
       "--max-ops-growth" + only_onnx},
      {{"--fail-on-new-op", "--max-parameter-growth", "1", "a.cbm", "b.cbm"},
       "--max-parameter-growth" + only_onnx},
      {{"--fail-on-new-op", "--fail-on-feature-change", "a.lgb", "b.lgb"},
       "--fail-on-new-op" + only_onnx},
      {{"--fail-on-training-config-change", "--fail-on-new-op", "a.pt", "b.pt"},
       "--fail-on-new-op" + only_onnx},
      {{"--max-parameter-growth", "5", "--fail-on-training-config-change", "a.pt", "b.pt"},
       "--fail-on-training-config-change is only supported for CatBoost/LightGBM artifacts."},
      {{"--fail-on-training-config-change", "--fail-on-feature-change", "a.onnx", "b.onnx"},
       "--fail-on-feature-change is only supported for CatBoost artifacts."},
      {{"--fail-on-training-config-change", "--max-ops-growth", "5", "a.onnx", "b.onnx"},
       "--fail-on-training-config-change is only supported for CatBoost artifacts."},
      {{"--fail-on-new-op", "a.onnx", "b.onnx"}, "read a.onnx" + missing},
      {{"a.cbm", "b.cbm"}, "read a.cbm" + missing},
      {{cbm, "b.cbm"}, "read b.cbm" + missing}};
  for (const auto& [words, error] : rows) {
    const Outcome outcome = run(words);
    EXPECT_EQ(error_of(outcome.result), error);
    EXPECT_EQ(outcome.out, "") << error;
  }
}

// Random option sets over fixture pairs of every kind (and a few stray words): whatever the
// words, a refusal prints nothing, and a report ends in the status its exit code says.
TEST(CheckCommand, StatusLineAlwaysMatchesTheOutcome) {
  const std::vector<std::vector<std::string>> kinds = {
      {data("catboost/float_binary.cbm"), data("catboost/float_regression.cbm"),
       data("catboost/synthetic/no_depth.cbm"), data("catboost/synthetic/magic_only.cbm")},
      {data("diff/lgb/base.lgb"), data("diff/lgb/renamed_features.lgb"),
       data("diff/lgb/depth_6.lgb"), data("diff/lgb/binary.txt")},
      {data("diff/torch/mlp_state_dict.pt"), data("diff/torch/via_bytesio_archive_prefix.pt"),
       data("diff/torch/mlp_state_dict_legacy.pt"), data("diff/torch/truncated.pt")},
      {data("onnx/mlp_helper.onnx"), data("onnx/mlp_from_torch.onnx"),
       data("onnx/if_subgraph.onnx"), data("onnx/typed_fields_sparse.onnx")},
      {"missing.cbm", "-", "--bogus", "x.json"}};
  const std::vector<std::string> options = {
      "--max-size-growth",        "--max-ops-growth", "--max-parameter-growth",
      "--fail-on-feature-change", "--fail-on-new-op", "--fail-on-training-config-change"};
  const std::vector<std::string> values = {"20%", "0", "-0", "nan", "inf", "1e3", " 5 %", "-"};
  std::mt19937 rng(20240611);
  const auto below = [&rng](std::size_t n) {
    return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng);
  };
  int reports = 0;
  int failures = 0;
  for (int i = 0; i < 2000; ++i) {
    std::vector<std::string> words;
    for (std::size_t o = 0; o < options.size(); ++o) {
      if (below(3) != 0) continue;
      words.push_back(options[o]);
      if (o < 3) words.push_back(values[below(values.size())]);
    }
    const std::vector<std::string>& kind = kinds[below(kinds.size())];
    for (int p = 0; p < 2; ++p) {
      const std::vector<std::string>& from = below(10) == 0 ? kinds[below(kinds.size())] : kind;
      words.insert(words.begin() + static_cast<std::ptrdiff_t>(below(words.size() + 1)),
                   from[below(from.size())]);
    }
    const Outcome outcome = run(words);
    const std::string error = error_of(outcome.result);
    if (!outcome.result && error != "check failed") {
      EXPECT_EQ(outcome.out, "") << error;
      continue;
    }
    ++reports;
    failures += outcome.result ? 0 : 1;
    EXPECT_TRUE(outcome.out.starts_with("Model Check\n-----------\nType: ")) << outcome.out;
    EXPECT_TRUE(outcome.out.ends_with(outcome.result ? "\nStatus: PASS\n" : "\nStatus: FAIL\n"))
        << outcome.out;
    EXPECT_EQ(outcome.out.find("  FAIL ") == std::string::npos, outcome.result.has_value());
  }
  // The walk reaches both verdicts, not only refusals.
  EXPECT_GT(reports, 150);
  EXPECT_GT(failures, 50);
}

}  // namespace
}  // namespace orvik
