#include "check/check.hpp"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <initializer_list>

#include <fmt/core.h>
#include <fmt/ranges.h>

#include "cbm/catboost_reader.hpp"
#include "lightgbm/lightgbm_reader.hpp"
#include "onnx/onnx_reader.hpp"
#include "pt/pytorch_reader.hpp"
#include "reports/changes.hpp"
#include "util/format.hpp"
#include "util/output.hpp"
#include "util/text.hpp"

namespace orvik {
namespace {

constexpr std::string_view kUsage =
    "usage: orvik check [--max-size-growth 20%] [--max-ops-growth 25%] "
    "[--max-parameter-growth 30%] [--fail-on-feature-change] [--fail-on-training-config-change] "
    "[--fail-on-new-op] <old-model> <new-model>";

struct GrowthOption {
  std::string_view word;
  std::optional<double> CheckOptions::*field;
};
constexpr GrowthOption kGrowthOptions[] = {
    {"--max-size-growth", &CheckOptions::max_size_growth},
    {"--max-ops-growth", &CheckOptions::max_ops_growth},
    {"--max-parameter-growth", &CheckOptions::max_parameter_growth},
};

struct SwitchOption {
  std::string_view word;
  bool CheckOptions::*field;
};
constexpr SwitchOption kSwitchOptions[] = {
    {"--fail-on-feature-change", &CheckOptions::fail_on_feature_change},
    {"--fail-on-training-config-change", &CheckOptions::fail_on_training_config_change},
    {"--fail-on-new-op", &CheckOptions::fail_on_new_op},
};

// The refusals a kind makes of options it cannot evaluate, each with its own message.
constexpr std::string_view kOpsOnlyOnnx = "--max-ops-growth is only supported for ONNX artifacts.";
constexpr std::string_view kParametersOnlyOnnx =
    "--max-parameter-growth is only supported for ONNX artifacts.";
constexpr std::string_view kNewOpOnlyOnnx =
    "--fail-on-new-op is only supported for ONNX artifacts.";

struct Refusal {
  bool given;
  std::string_view message;
};

// The first option given that the kind refuses, in the order listed.
CommandResult refuse(std::initializer_list<Refusal> refusals) {
  for (const Refusal& refusal : refusals) {
    if (refusal.given) return fail(std::string(refusal.message));
  }
  return {};
}

// What the tree-model kinds (CatBoost, LightGBM) refuse: the rules that need a graph.
CommandResult refuse_graph_options(const CheckOptions& options) {
  return refuse({{options.max_ops_growth.has_value(), kOpsOnlyOnnx},
                 {options.max_parameter_growth.has_value(), kParametersOnlyOnnx},
                 {options.fail_on_new_op, kNewOpOnlyOnnx}});
}

template <class Option, std::size_t N>
const Option* find_option(const Option (&options)[N], std::string_view word) {
  for (const Option& option : options) {
    if (option.word == word) return &option;
  }
  return nullptr;
}

CheckResult names_unchanged(std::string_view name, const NameList& old_names,
                            const NameList& new_names, std::string_view noun) {
  // Position by position, as the readers deliver the lists.
  return make_check_result(name, old_names == new_names,
                           fmt::format("{} -> {} {}", old_names.size(), new_names.size(), noun));
}

// A growth rule is evaluated only when its limit was given.
void add_growth_rule(std::vector<CheckResult>& results, std::string_view name,
                     std::uint64_t old_value, std::uint64_t new_value,
                     std::optional<double> limit) {
  if (limit) results.push_back(growth_check(name, old_value, new_value, *limit));
}

template <class Summary>
using RuleSet = std::vector<CheckResult> (*)(const Summary&, const Summary&, const CheckOptions&);

// Reads the old file, then the new one (a reader's error ends the command before any line), then
// evaluates the rules, prints the full report and decides.
template <class Summary>
CommandResult check_pair(std::string_view type_name, const std::string& old_path,
                         const std::string& new_path,
                         Result<Summary> (*read)(const std::string& path), RuleSet<Summary> rules,
                         const CheckOptions& options) {
  const Result<SummaryPair<Summary>> pair = read_pair(read, old_path, new_path);
  if (!pair) return fail(pair.error());
  const std::vector<CheckResult> results = rules(pair->old_summary, pair->new_summary, options);
  print_check_report(type_name, pair->old_summary.path, pair->new_summary.path, results);
  return check_verdict(results);
}

std::vector<CheckResult> catboost_rules(const CatBoostSummary& old_s, const CatBoostSummary& new_s,
                                        const CheckOptions& options) {
  std::vector<CheckResult> results;
  add_growth_rule(results, "file size growth", old_s.file_size_bytes, new_s.file_size_bytes,
                  options.max_size_growth);
  if (options.fail_on_feature_change) {
    results.push_back(names_unchanged("recovered feature names unchanged", old_s.feature_names,
                                      new_s.feature_names, "recovered names"));
  }
  if (options.fail_on_training_config_change) {
    results.push_back(make_check_result("training config unchanged",
                                        catboost_config_equal(old_s, new_s),
                                        "loss/eval metric/learning rate/L2/grow policy/bootstrap"));
  }
  return results;
}

std::vector<CheckResult> lightgbm_rules(const LightGbmSummary& old_s, const LightGbmSummary& new_s,
                                        const CheckOptions& options) {
  std::vector<CheckResult> results;
  add_growth_rule(results, "file size growth", old_s.bytes, new_s.bytes, options.max_size_growth);
  if (options.fail_on_feature_change) {
    results.push_back(names_unchanged("feature names unchanged", old_s.feature_names,
                                      new_s.feature_names, "feature names"));
  }
  if (options.fail_on_training_config_change) {
    results.push_back(
        make_check_result("training config unchanged", lightgbm_config_equal(old_s, new_s),
                          "objective/boosting/learning rate/leaves/max depth/metric"));
  }
  return results;
}

std::vector<CheckResult> onnx_rules(const OnnxSummary& old_s, const OnnxSummary& new_s,
                                    const CheckOptions& options) {
  std::vector<CheckResult> results;
  add_growth_rule(results, "file size growth", old_s.file_size_bytes, new_s.file_size_bytes,
                  options.max_size_growth);
  add_growth_rule(results, "estimated ops growth", old_s.estimated_ops, new_s.estimated_ops,
                  options.max_ops_growth);
  add_growth_rule(results, "parameter growth", old_s.parameter_values, new_s.parameter_values,
                  options.max_parameter_growth);
  if (options.fail_on_new_op) {
    // Only types the new graph introduces count; removed ones do not matter.
    const std::vector<std::string_view> added =
        op_type_change(old_s.op_counts, new_s.op_counts).added;
    results.push_back(make_check_result(
        "no new ONNX operators", added.empty(),
        added.empty() ? std::string("operator set unchanged")
                      : fmt::format("new operators: {}", fmt::join(added, ", "))));
  }
  return results;
}

std::vector<CheckResult> pytorch_rules(const PyTorchSummary& old_s, const PyTorchSummary& new_s,
                                       const CheckOptions& options) {
  std::vector<CheckResult> results;
  add_growth_rule(results, "file size growth", old_s.bytes, new_s.bytes, options.max_size_growth);
  add_growth_rule(results, "parameter growth", old_s.estimated_parameter_count,
                  new_s.estimated_parameter_count, options.max_parameter_growth);
  if (options.fail_on_feature_change) {
    results.push_back(names_unchanged("parameter names unchanged", old_s.param_names,
                                      new_s.param_names, "recovered names"));
  }
  return results;
}

}  // namespace

Result<CheckWords> scan_check_words(const std::vector<std::string>& words) {
  CheckWords out;
  for (std::size_t i = 0; i < words.size(); ++i) {
    const std::string& word = words[i];
    if (const GrowthOption* growth = find_option(kGrowthOptions, word)) {
      // The next word is the value even when it looks like an option.
      if (i + 1 >= words.size()) return fail(fmt::format("{} needs a percentage", word));
      Result<double> limit = parse_percentage(words[++i]);
      if (!limit) return fail(std::move(limit.error()));
      out.options.*growth->field = *limit;
    } else if (const SwitchOption* flag = find_option(kSwitchOptions, word)) {
      out.options.*flag->field = true;
    } else if (starts_with(word, "--")) {
      return fail(fmt::format("unknown check option `{}`", word));
    } else {
      out.paths.push_back(&word);
    }
  }
  if (out.paths.size() != 2) return fail(std::string(kUsage));
  return out;
}

Result<double> parse_percentage(const std::string& word) {
  std::string_view text = trim_white_space(word);
  while (ends_with(text, "%"))
    text.remove_suffix(1);
  const Result<double> value = parse_f64(text);
  if (!value) return fail(fmt::format("parse percentage `{}`: {}", word, value.error()));
  // The sign bit, not the value: -0 (and a negative NaN) is refused too.
  if (std::signbit(*value)) return fail(fmt::format("percentage must be non-negative: {}", word));
  return *value;
}

CheckResult growth_check(std::string_view name, std::uint64_t old_value, std::uint64_t new_value,
                         double limit) {
  const std::optional<double> growth = percent_growth(old_value, new_value);
  if (!growth) {
    return make_check_result(
        name, false,
        fmt::format("undefined growth from zero baseline ({} -> {})", old_value, new_value));
  }
  // False when either side is NaN, so a NaN limit fails every growth rule.
  const bool passed = limit >= *growth;
  return make_check_result(name, passed,
                           fmt::format("{}% <= {}% ({} -> {})", format_fixed(*growth, 2),
                                       format_fixed(limit, 2), old_value, new_value));
}

CheckResult make_check_result(std::string_view name, bool passed, std::string detail) {
  return CheckResult{std::string(name), std::move(detail), passed};
}

CommandResult check_catboost(const std::string& old_path, const std::string& new_path,
                             const CheckOptions& options) {
  if (auto refused = refuse_graph_options(options); !refused) return refused;
  return check_pair<CatBoostSummary>("CatBoost", old_path, new_path, read_catboost, catboost_rules,
                                     options);
}

CommandResult check_lightgbm(const std::string& old_path, const std::string& new_path,
                             const CheckOptions& options) {
  if (auto refused = refuse_graph_options(options); !refused) return refused;
  return check_pair<LightGbmSummary>("LightGBM", old_path, new_path, read_lightgbm, lightgbm_rules,
                                     options);
}

CommandResult check_onnx(const std::string& old_path, const std::string& new_path,
                         const CheckOptions& options) {
  if (auto refused =
          refuse({{options.fail_on_feature_change,
                   "--fail-on-feature-change is only supported for CatBoost artifacts."},
                  {options.fail_on_training_config_change,
                   "--fail-on-training-config-change is only supported for CatBoost artifacts."}});
      !refused) {
    return refused;
  }
  return check_pair<OnnxSummary>("ONNX", old_path, new_path, read_onnx, onnx_rules, options);
}

CommandResult check_pytorch(const std::string& old_path, const std::string& new_path,
                            const CheckOptions& options) {
  if (auto refused = refuse({{options.max_ops_growth.has_value(), kOpsOnlyOnnx},
                             {options.fail_on_new_op, kNewOpOnlyOnnx},
                             {options.fail_on_training_config_change,
                              "--fail-on-training-config-change is only supported for "
                              "CatBoost/LightGBM artifacts."}});
      !refused) {
    return refused;
  }
  return check_pair<PyTorchSummary>("PyTorch", old_path, new_path, read_pytorch, pytorch_rules,
                                    options);
}

void print_check_report(std::string_view type_name, std::string_view old_name,
                        std::string_view new_name, const std::vector<CheckResult>& results) {
  print_line("Model Check");
  print_line("-----------");
  print_line(fmt::format("Type: {}", type_name));
  print_line(fmt::format("Old: {}", old_name));
  print_line(fmt::format("New: {}", new_name));
  print_line();
  print_line("Checks:");
  if (results.empty()) {
    print_line("  PASS artifact pair is readable; no check rules were configured");
  }
  bool all_passed = true;
  for (const CheckResult& result : results) {
    print_line(
        fmt::format("  {} {}: {}", result.passed ? "PASS" : "FAIL", result.name, result.detail));
    all_passed = all_passed && result.passed;
  }
  print_line();
  print_line(all_passed ? "Status: PASS" : "Status: FAIL");
}

CommandResult check_verdict(const std::vector<CheckResult>& results) {
  for (const CheckResult& result : results) {
    if (!result.passed) return fail("check failed");
  }
  return {};
}

}  // namespace orvik
