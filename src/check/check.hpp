#pragma once
// The `check` gate a build pipeline runs between two versions of one model artifact: the chosen
// rules (growth limits in percent, fail-on-change switches) are evaluated over both files, a
// "Model Check" report lists one PASS or FAIL line per rule, and any failed rule ends the command
// with "check failed" (exit status 1) after the full report. Every other problem (a bad option,
// wrong paths, kinds, an option the kind does not support, an unreadable file) is refused before
// any line is printed.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "util/result.hpp"

namespace orvik {

struct CheckOptions {
  std::optional<double> max_size_growth;  // percent
  std::optional<double> max_ops_growth;
  std::optional<double> max_parameter_growth;
  bool fail_on_feature_change = false;
  bool fail_on_training_config_change = false;
  bool fail_on_new_op = false;
};

// One evaluated rule.
struct CheckResult {
  std::string name;
  std::string detail;
  bool passed = false;
};

// The rules and the two paths (views into the words) of `orvik check [rules] <old-model>
// <new-model>`. Walks the words by position: the first bad word ends the walk with its message
// ("{option} needs a percentage", a parse_percentage message, "unknown check option `{}`"), and
// anything but two paths is the usage line.
struct CheckWords {
  CheckOptions options;
  std::vector<const std::string*> paths;
};
Result<CheckWords> scan_check_words(const std::vector<std::string>& words);

// The value of a growth option: blanks around it and every trailing "%" removed, then a decimal
// float (inf and nan included). "parse percentage `{}`: {}" or
// "percentage must be non-negative: {}" (also for -0) with the word as passed.
Result<double> parse_percentage(const std::string& word);

// Passes when `limit` >= the percent growth from old to new (a NaN on either side fails); a zero
// baseline with a non-zero new value always fails.
CheckResult growth_check(std::string_view name, std::uint64_t old_value, std::uint64_t new_value,
                         double limit);

CheckResult make_check_result(std::string_view name, bool passed, std::string detail);

// The rule sets, one per artifact kind: refuse the options the kind does not support, read the old
// file and then the new one, evaluate, print the report, decide.
CommandResult check_catboost(const std::string& old_path, const std::string& new_path,
                             const CheckOptions& options);
CommandResult check_lightgbm(const std::string& old_path, const std::string& new_path,
                             const CheckOptions& options);
CommandResult check_onnx(const std::string& old_path, const std::string& new_path,
                         const CheckOptions& options);
CommandResult check_pytorch(const std::string& old_path, const std::string& new_path,
                            const CheckOptions& options);

void print_check_report(std::string_view type_name, std::string_view old_name,
                        std::string_view new_name, const std::vector<CheckResult>& results);

// "check failed" when any result failed, else success.
CommandResult check_verdict(const std::vector<CheckResult>& results);

}  // namespace orvik
