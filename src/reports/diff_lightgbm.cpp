// The LightGBM diff: structure, fingerprints, training config and feature names of two text
// models, ending in four plain-language interpretation lines.
#include "reports/diff.hpp"
#include "reports/lightgbm_report.hpp"
#include "reports/primitives.hpp"
#include "util/output.hpp"

namespace orvik {
namespace {

// The two records hold the feature names, which a header can list by the million.
void write_lightgbm_diff_json(JsonStream& out, const LightGbmSummary& old_summary,
                              const LightGbmSummary& new_summary) {
  write_record_pair(out, "lightgbm", old_summary, new_summary, write_lightgbm_summary_value);
}

void print_lightgbm_sections(const LightGbmSummary& old_summary,
                             const LightGbmSummary& new_summary) {
  print_line("Structure:");
  print_size_change_row("File size", old_summary.bytes, new_summary.bytes);
  print_count_change_row("Trees", old_summary.num_trees, new_summary.num_trees);
  print_optional_count_change_row("Configured leaves / tree", old_summary.num_leaves,
                                  new_summary.num_leaves);
  print_optional_count_change_row("Max leaf slots", lightgbm_max_leaf_slots(old_summary),
                                  lightgbm_max_leaf_slots(new_summary));
  print_optional_count_change_row("Classes", old_summary.num_class, new_summary.num_class);
  print_optional_count_change_row("Features", old_summary.num_features, new_summary.num_features);

  print_section_heading("Parameter-like Internals:");
  print_fingerprint_rows(old_summary, new_summary);
  print_line(
      "  Note: learned-state fingerprint hashes the leaf-value lines; a change means the trees' "
      "learned outputs differ.");

  print_section_heading("Training Config:");
  print_text_change_row("Objective", old_summary.objective, new_summary.objective);
  print_text_change_row("Boosting", old_summary.boosting, new_summary.boosting);
  print_text_change_row("Metric", old_summary.metric, new_summary.metric);
  print_float_change_row("Learning rate", old_summary.learning_rate, new_summary.learning_rate);
  print_optional_count_change_row("Configured iterations", old_summary.num_iterations,
                                  new_summary.num_iterations);
  print_text_change_row("Max depth", lightgbm_max_depth_text(old_summary),
                        lightgbm_max_depth_text(new_summary));

  print_names_section("Features:", "Feature names", old_summary.feature_names,
                      new_summary.feature_names);

  print_section_heading("Interpretation:");
  // Two absent leaf counts compare equal.
  print_verdict_line(old_summary.num_trees == new_summary.num_trees &&
                         old_summary.num_leaves == new_summary.num_leaves,
                     "  Structure is unchanged: same tree count and configured leaves.",
                     "  Structure changed: tree count or configured leaves differ.");
  print_verdict_line(lightgbm_config_equal(old_summary, new_summary),
                     "  Training config looks unchanged (objective, boosting, learning rate, "
                     "leaves, depth, metric).",
                     "  Training config changed (one of objective/boosting/learning "
                     "rate/leaves/depth/metric differs).");
  // Position by position: a reordering counts as a change here, though the name-change block
  // (a set comparison) finds nothing added or removed.
  print_verdict_line(old_summary.feature_names == new_summary.feature_names,
                     "  Feature names are unchanged.", "  Feature names changed.");
  print_verdict_line(
      old_summary.learned_state_fingerprint == new_summary.learned_state_fingerprint,
      "  Learned-state fingerprint is identical, so the trees' leaf values are unchanged.",
      "  Learned-state fingerprint changed, so the trees' leaf values differ (a real retrain).");
}

}  // namespace

const DiffFormat<LightGbmSummary> kLightGbmDiff = {
    "LightGBM", read_lightgbm, nullptr, print_lightgbm_sections, write_lightgbm_diff_json};

CommandResult diff_lightgbm(const LightGbmSummary& old_summary, const LightGbmSummary& new_summary,
                            bool json) {
  return render_diff(kLightGbmDiff, old_summary, new_summary, json);
}

}  // namespace orvik
