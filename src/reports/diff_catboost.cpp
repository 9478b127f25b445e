// The CatBoost diff: structure, fingerprints, training config, the learn RMSE and the recovered
// feature names of two CatBoost binary models, ending in plain-language interpretation lines and
// either the hint to run the deep diff or, with --deep, the deep diff itself.
#include <optional>
#include <string>

#include <fmt/core.h>

#include "python_bridge/deep_diff.hpp"
#include "reports/catboost_report.hpp"
#include "reports/changes.hpp"
#include "reports/diff.hpp"
#include "reports/primitives.hpp"
#include "util/format.hpp"
#include "util/output.hpp"

namespace orvik {
namespace {

// The verdicts read iterations and depth only; an absent value equals only an absent one, so the
// derived split checks and leaf slots agree too.
bool same_structure(const CatBoostSummary& old_summary, const CatBoostSummary& new_summary) {
  return old_summary.iterations == new_summary.iterations && old_summary.depth == new_summary.depth;
}

// The learn RMSE note, only when both values are known and differ (a NaN on either side prints
// nothing). The change is relative to the old value, and 0 when the old value is 0.
void print_rmse_note(std::optional<double> old_rmse, std::optional<double> new_rmse) {
  if (!old_rmse || !new_rmse) return;
  const double old_value = *old_rmse;
  const double new_value = *new_rmse;
  std::string_view direction;
  double change = 0.0;
  if (new_value > old_value) {
    direction = "increased";
    change = new_value - old_value;
  } else if (old_value > new_value) {
    direction = "decreased";
    change = old_value - new_value;
  } else {
    return;
  }
  const double percent = old_value == 0.0 ? 0.0 : change * 100.0 / old_value;
  print_line(fmt::format(
      "  Note: learn RMSE {} by {}%. Lower is usually better if this metric is comparable.",
      direction, format_fixed(percent, 2)));
}

void print_catboost_sections(const CatBoostSummary& old_summary,
                             const CatBoostSummary& new_summary) {
  print_line("Structure:");
  print_size_change_row("File size", old_summary.file_size_bytes, new_summary.file_size_bytes);
  print_optional_count_change_row("Trees", old_summary.iterations, new_summary.iterations);
  print_optional_count_change_row("Depth", old_summary.depth, new_summary.depth);
  print_optional_count_change_row("Configured/max split checks / row",
                                  catboost_split_checks_per_row(old_summary),
                                  catboost_split_checks_per_row(new_summary));
  print_optional_count_change_row("Max leaf slots", catboost_max_leaf_slots(old_summary),
                                  catboost_max_leaf_slots(new_summary));

  print_section_heading("Parameter-like Internals:");
  print_fingerprint_rows(old_summary, new_summary);
  print_line("  Note: CatBoost does not expose PyTorch-style parameter tensors here.");
  print_line(
      "  Learned-state fingerprint hashes the non-JSON binary body as a proxy for split borders, "
      "leaves, and categorical stats.");

  print_section_heading("Training Config:");
  print_text_change_row("Loss", old_summary.loss, new_summary.loss);
  print_text_change_row("Eval metric", old_summary.eval_metric, new_summary.eval_metric);
  print_float_change_row("Learning rate", old_summary.learning_rate, new_summary.learning_rate);
  print_float_change_row("L2 leaf reg", old_summary.l2_leaf_reg, new_summary.l2_leaf_reg);
  print_text_change_row("Grow policy", old_summary.grow_policy, new_summary.grow_policy);
  print_text_change_row("Bootstrap", old_summary.bootstrap, new_summary.bootstrap);
  print_text_change_row("Train finished", old_summary.train_finish_time,
                        new_summary.train_finish_time);

  print_section_heading("Metrics:");
  print_float_change_row("Best learn RMSE", old_summary.best_learn_rmse,
                         new_summary.best_learn_rmse);
  print_rmse_note(old_summary.best_learn_rmse, new_summary.best_learn_rmse);

  print_names_section("Features:", "Recovered feature names", old_summary.feature_names,
                      new_summary.feature_names);

  print_section_heading("Interpretation:");
  const bool structure_unchanged = same_structure(old_summary, new_summary);
  print_verdict_line(
      structure_unchanged,
      "  Structure is unchanged: same tree count, configured depth, and estimated row cost.",
      "  Structure changed: inference cost or ensemble shape may differ.");
  print_verdict_line(catboost_config_equal(old_summary, new_summary),
                     "  Training config looks unchanged from embedded metadata.",
                     "  Training config changed in embedded metadata.");
  print_verdict_line(old_summary.feature_names == new_summary.feature_names,
                     "  Recovered feature names are unchanged.",
                     "  Recovered feature names changed.");
  print_verdict_line(
      structure_unchanged && old_summary.file_size_bytes != new_summary.file_size_bytes,
      "  File size changed despite identical coarse structure; likely leaf values, borders, "
      "metadata, or categorical statistics changed.");
  print_verdict_line(
      old_summary.learned_state_fingerprint != new_summary.learned_state_fingerprint,
      "  Learned-state fingerprint changed, so internal CatBoost parameters likely changed even "
      "if tree count/depth did not.");
}

}  // namespace

JsonValue catboost_diff_json(const CatBoostSummary& old_summary,
                             const CatBoostSummary& new_summary) {
  JsonValue changes = JsonValue::object();
  changes["file_size_bytes"] =
      change_json(old_summary.file_size_bytes, new_summary.file_size_bytes);
  changes["trees"] = count_change_json(old_summary.iterations, new_summary.iterations);
  changes["depth"] = count_change_json(old_summary.depth, new_summary.depth);
  changes["configured_max_split_checks_per_row"] = count_change_json(
      catboost_split_checks_per_row(old_summary), catboost_split_checks_per_row(new_summary));
  changes["max_leaf_slots"] =
      count_change_json(catboost_max_leaf_slots(old_summary), catboost_max_leaf_slots(new_summary));
  changes["learning_rate"] =
      float_change_json(old_summary.learning_rate, new_summary.learning_rate);
  changes["l2_leaf_reg"] = float_change_json(old_summary.l2_leaf_reg, new_summary.l2_leaf_reg);
  changes["loss"] = text_change_json(old_summary.loss, new_summary.loss);
  changes["eval_metric"] = text_change_json(old_summary.eval_metric, new_summary.eval_metric);
  changes["grow_policy"] = text_change_json(old_summary.grow_policy, new_summary.grow_policy);
  changes["bootstrap"] = text_change_json(old_summary.bootstrap, new_summary.bootstrap);
  changes["train_finish_time"] =
      text_change_json(old_summary.train_finish_time, new_summary.train_finish_time);
  changes["best_learn_rmse"] =
      float_change_json(old_summary.best_learn_rmse, new_summary.best_learn_rmse);

  JsonValue fingerprints = JsonValue::object();
  fingerprints["full_artifact"] =
      fingerprint_change_json(old_summary.file_fingerprint, new_summary.file_fingerprint);
  fingerprints["metadata"] =
      fingerprint_change_json(old_summary.metadata_fingerprint, new_summary.metadata_fingerprint);
  fingerprints["learned_state"] = fingerprint_change_json(old_summary.learned_state_fingerprint,
                                                          new_summary.learned_state_fingerprint);

  const NameSetChange names = name_set_change(old_summary.feature_names, new_summary.feature_names);
  JsonValue features = JsonValue::object();
  features["recovered_count"] =
      change_json(old_summary.feature_names.size(), new_summary.feature_names.size());
  features["added"] = names.added;
  features["removed"] = names.removed;
  features["changed"] = old_summary.feature_names != new_summary.feature_names;

  JsonValue out = JsonValue::object();
  out["kind"] = "catboost_diff";
  out["model_type"] = "CatBoost";
  out["old"] = catboost_summary_json(old_summary);
  out["new"] = catboost_summary_json(new_summary);
  out["changes"] = std::move(changes);
  out["fingerprints"] = std::move(fingerprints);
  out["features"] = std::move(features);
  out["note"] = JsonValue::array(
      {"CatBoost does not expose PyTorch-style parameter tensors in the CBM metadata.",
       "The learned-state fingerprint hashes the non-JSON binary body as a proxy for split "
       "borders, leaves, and categorical stats."});
  return out;
}

const DiffFormat<CatBoostSummary> kCatBoostDiff = {"CatBoost", read_catboost, catboost_diff_json,
                                                   print_catboost_sections};

CommandResult diff_catboost(const std::string& old_path, const std::string& new_path, bool deep,
                            bool json) {
  const CommandResult report = diff_files(kCatBoostDiff, old_path, new_path, json);
  if (!report || json) return report;
  if (deep) {
    // The text report stays on standard output whether or not the deep diff can run.
    print_line();
    return print_catboost_deep_diff(old_path, new_path);
  }
  print_section_heading("Deep Diff:");
  print_line(
      "  Run `orvik diff --deep <old.cbm> <new.cbm>` to decode trees, splits, leaf values, "
      "borders, and feature typing with CatBoost.");
  return {};
}

}  // namespace orvik
