#include "reports/catboost_report.hpp"

#include <cstdint>
#include <optional>
#include <string_view>

#include <fmt/core.h>

#include "python_bridge/feature_processing.hpp"
#include "reports/inspect_common.hpp"
#include "reports/primitives.hpp"
#include "util/format.hpp"
#include "util/output.hpp"
#include "util/text.hpp"

namespace orvik {
namespace {

constexpr std::string_view kUsage =
    "usage: orvik catboost [--deep] [--json] [--limit 20] <model.cbm> [more.cbm...]";

std::string_view format_text(const CatBoostSummary& summary) {
  return summary.has_cbm1_magic ? "CatBoost binary model (CBM1)" : "unknown binary";
}

std::optional<std::string> float_text(std::optional<double> value) {
  if (!value) return std::nullopt;
  return format_float(*value);
}

// The seven training settings, in the summary object and again as the inspect document's
// "training_config" (keys sort, so the order written does not matter).
void add_training_json(JsonValue& object, const CatBoostSummary& summary) {
  object["loss"] = optional_text_json(summary.loss);
  object["eval_metric"] = optional_text_json(summary.eval_metric);
  object["learning_rate"] = optional_float_json(summary.learning_rate);
  object["l2_leaf_reg"] = optional_float_json(summary.l2_leaf_reg);
  object["grow_policy"] = optional_text_json(summary.grow_policy);
  object["bootstrap"] = optional_text_json(summary.bootstrap);
  object["train_finish_time"] = optional_text_json(summary.train_finish_time);
}

void print_report(const CatBoostSummary& summary, const std::string& path,
                  const InspectOptions& options) {
  print_line("CatBoost Model Summary");
  print_line("----------------------");
  print_line(fmt::format("Model: {}", summary.path));
  print_line(fmt::format("Format: {}", format_text(summary)));
  print_line(fmt::format("File size: {}", format_size(summary.file_size_bytes)));

  print_line();
  print_line("Execution Plan:");
  print_line("  Input row");
  print_line("   |");
  print_line("   v");
  print_line("  Quantize numeric/categorical features");
  print_line("   |");
  print_line("   v");
  print_line("  Traverse symmetric tree ensemble");
  print_line("   |");
  print_line("   v");
  print_line("  Sum leaf values");

  const std::optional<std::uint64_t> split_checks = catboost_split_checks_per_row(summary);
  print_line();
  print_line("Estimated Cost:");
  print_field_row("Trees / row", optional_count_text(summary.iterations));
  print_field_row("Configured/max split checks / row", optional_count_text(split_checks));
  print_field_row("Max leaf slots", optional_count_text(catboost_max_leaf_slots(summary)));
  if (split_checks) {
    print_line(fmt::format("  Why: {} trees * depth {} = {} split checks / row",
                           *summary.iterations, *summary.depth, *split_checks));
  }

  print_line();
  print_line("Training:");
  print_field_row("Loss", summary.loss);
  print_field_row("Eval metric", summary.eval_metric);
  print_field_row("Learning rate", optional_fixed_text(summary.learning_rate, 4));
  print_field_row("Best learn RMSE", optional_fixed_text(summary.best_learn_rmse, 6));
  print_field_row("Train finished", summary.train_finish_time);

  print_line();
  print_line("Tree Config:");
  print_field_row("Iterations", optional_count_text(summary.iterations));
  print_field_row("Depth", optional_count_text(summary.depth));
  print_field_row("Grow policy", summary.grow_policy);
  print_field_row("L2 leaf reg", float_text(summary.l2_leaf_reg));
  print_field_row("Bootstrap", summary.bootstrap);

  print_line();
  print_line("Recovered Feature Names:");
  print_name_list(summary.feature_names, options.limit, "recovered",
                  "  none recovered from binary metadata");

  print_line();
  print_line("Note:");
  print_line("  This inspects embedded CatBoost metadata without executing the model.");
  print_line("  Feature names are recovered best-effort from CBM strings.");
  print_line("  Feature importance and exact tree structure need CatBoost's native tooling.");

  if (options.deep) {
    print_line();
    print_feature_processing(path, summary.feature_names);
  }
}

}  // namespace

std::optional<std::uint64_t> catboost_split_checks_per_row(const CatBoostSummary& summary) {
  if (!summary.iterations || !summary.depth) return std::nullopt;
  return checked_mul(*summary.iterations, *summary.depth);
}

std::optional<std::uint64_t> catboost_max_leaf_slots(const CatBoostSummary& summary) {
  if (!summary.iterations || !summary.depth || *summary.depth >= 64) return std::nullopt;
  return checked_mul(*summary.iterations, std::uint64_t{1} << *summary.depth);
}

JsonValue catboost_summary_json(const CatBoostSummary& summary) {
  JsonValue out = JsonValue::object();
  out["path"] = summary.path;
  out["format"] = format_text(summary);
  out["file_size_bytes"] = summary.file_size_bytes;
  out["trees"] = optional_count_json(summary.iterations);
  out["depth"] = optional_count_json(summary.depth);
  out["configured_max_split_checks_per_row"] =
      optional_count_json(catboost_split_checks_per_row(summary));
  out["max_leaf_slots"] = optional_count_json(catboost_max_leaf_slots(summary));
  out["feature_count_recovered"] = summary.feature_names.size();
  add_training_json(out, summary);
  out["best_learn_rmse"] = optional_float_json(summary.best_learn_rmse);
  return out;
}

namespace {

// Without `with_names` the names are an empty placeholder, for a writer that streams them.
JsonValue inspect_json(const CatBoostSummary& summary, bool with_names) {
  JsonValue out = JsonValue::object();
  out["kind"] = "catboost_inspect";
  out["model_type"] = "CatBoost";
  out["summary"] = catboost_summary_json(summary);

  JsonValue fingerprints = JsonValue::object();
  fingerprints["full_artifact"] = format_fingerprint(summary.file_fingerprint);
  fingerprints["metadata"] = optional_fingerprint_json(summary.metadata_fingerprint);
  fingerprints["learned_state"] = format_fingerprint(summary.learned_state_fingerprint);
  out["fingerprints"] = std::move(fingerprints);

  JsonValue training = JsonValue::object();
  add_training_json(training, summary);
  out["training_config"] = std::move(training);

  JsonValue metrics = JsonValue::object();
  metrics["best_learn_rmse"] = optional_float_json(summary.best_learn_rmse);
  out["metrics"] = std::move(metrics);

  JsonValue features = JsonValue::object();
  features["recovered_count"] = summary.feature_names.size();
  features["recovered_names"] =
      with_names ? name_array_json<JsonValue>(summary.feature_names) : JsonValue::array();
  out["features"] = std::move(features);

  out["note"] = JsonValue::array(
      {"Recovered feature names come from static artifact inspection and may be incomplete.",
       "Use `orvik inspect --deep <model.cbm>` for decoded feature processing, borders, tree "
       "splits, and leaf changes when Python catboost is available."});
  return out;
}

}  // namespace

JsonValue catboost_inspect_json(const CatBoostSummary& summary) {
  return inspect_json(summary, true);
}

void write_catboost_inspect_json(JsonStream& out, const CatBoostSummary& summary) {
  const JsonValue document = inspect_json(summary, false);
  out.begin_object();
  for (const auto& [key, value] : document.items()) {
    out.key(key);
    if (key == "features") {
      write_object_with_names(out, value, "recovered_names", summary.feature_names);
    } else {
      out.value(value);
    }
  }
  out.end();
}

CommandResult cmd_catboost(const std::vector<std::string>& words) {
  const Result<InspectOptions> options = scan_inspect_words(words, DeepOption::Accepted, kUsage);
  if (!options) return fail(options.error());
  if (options->deep && options->json) return fail("--deep cannot be combined with --json yet.");
  return run_inspect<CatBoostSummary>(
      *options, read_catboost, stream_json_documents<CatBoostSummary, write_catboost_inspect_json>,
      print_report);
}

}  // namespace orvik
