#include "reports/explain_artifact.hpp"

#include <cstdint>
#include <optional>

#include <fmt/core.h>

#include "python_bridge/feature_processing.hpp"
#include "reports/catboost_report.hpp"
#include "reports/inspect_common.hpp"
#include "reports/primitives.hpp"
#include "util/format.hpp"
#include "util/output.hpp"

namespace orvik {
namespace {

std::optional<std::string> fingerprint_text(std::optional<Fingerprint> value) {
  if (!value) return std::nullopt;
  return format_fingerprint(*value);
}

}  // namespace

void explain_catboost_artifact(const CatBoostSummary& summary, const std::string& path) {
  print_line("CatBoost Artifact Explanation");
  print_line("-----------------------------");
  print_line(fmt::format("Model: {}", summary.path));
  print_line();
  print_line(summary.has_cbm1_magic
                 ? "This model appears to be a CatBoost binary model."
                 : "This file does not have the standard CatBoost CBM1 signature.");

  print_line();
  print_line("Evidence:");
  if (summary.has_cbm1_magic) print_line("  - CBM1 binary signature");
  if (summary.iterations) {
    print_line(fmt::format("  - {} trees / boosting iterations", *summary.iterations));
  }
  if (summary.depth) print_line(fmt::format("  - maximum symmetric-tree depth {}", *summary.depth));
  if (summary.grow_policy) print_line(fmt::format("  - grow policy: {}", *summary.grow_policy));
  if (summary.loss) print_line(fmt::format("  - optimized loss: {}", *summary.loss));
  if (!summary.feature_names.empty()) {
    print_line(fmt::format("  - {} recovered feature names in embedded metadata",
                           summary.feature_names.size()));
  }

  print_line();
  print_line("Estimated Inference Shape:");
  print_field_row("Trees / row", optional_count_text(summary.iterations));
  print_field_row("Configured/max depth", optional_count_text(summary.depth));
  print_field_row("Configured/max split checks / row",
                  optional_count_text(catboost_split_checks_per_row(summary)));
  print_field_row("Max leaf slots", optional_count_text(catboost_max_leaf_slots(summary)));
  print_line(fmt::format("  File size: {}", format_size(summary.file_size_bytes)));

  print_line();
  print_line("Training Metadata:");
  print_field_row("Loss", summary.loss);
  print_field_row("Eval metric", summary.eval_metric);
  print_field_row("Learning rate", optional_fixed_text(summary.learning_rate, 6));
  print_field_row("L2 leaf reg", optional_fixed_text(summary.l2_leaf_reg, 6));
  print_field_row("Bootstrap", summary.bootstrap);
  print_field_row("Train finished", summary.train_finish_time);
  print_field_row("Best learn RMSE", optional_fixed_text(summary.best_learn_rmse, 6));

  print_line();
  // Always runs: every CatBoost explanation tries the interpreters, with a built-in fallback.
  print_feature_processing(path, summary.feature_names);

  print_line();
  print_line("Learned State:");
  print_line(
      fmt::format("  Full artifact fingerprint: {}", format_fingerprint(summary.file_fingerprint)));
  print_field_row("Metadata fingerprint", fingerprint_text(summary.metadata_fingerprint));
  print_line(fmt::format("  Learned-state fingerprint: {}",
                         format_fingerprint(summary.learned_state_fingerprint)));
  print_line(
      "  CatBoost stores learned split borders, leaves, and categorical statistics in the binary "
      "body.");

  print_line();
  print_line("How to read this:");
  print_line("  This is a tree ensemble, not a tensor graph.");
  print_line(
      "  Runtime cost is mostly tree traversal: roughly trees * depth split checks per row.");
  print_line(
      "  Same tree count/depth does not mean same model; learned splits, borders, CTRs, and leaf "
      "values can still change.");
  print_line("  To compare two CatBoost versions deeply, run:");
  print_line("    orvik diff --deep <old.cbm> <new.cbm>");
}

}  // namespace orvik
