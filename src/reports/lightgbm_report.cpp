#include "reports/lightgbm_report.hpp"

#include <cstdint>
#include <optional>
#include <string_view>

#include <fmt/core.h>

#include "lightgbm/lightgbm_reader.hpp"
#include "reports/inspect_common.hpp"
#include "reports/primitives.hpp"
#include "util/format.hpp"
#include "util/output.hpp"
#include "util/text.hpp"

namespace orvik {
namespace {

constexpr std::string_view kUsage =
    "usage: orvik lightgbm [--json] [--limit 20] <model.lgb|model.txt> [more...]";

}  // namespace

std::optional<std::uint64_t> lightgbm_max_leaf_slots(const LightGbmSummary& summary) {
  if (!summary.num_leaves) return std::nullopt;
  return checked_mul(summary.num_trees, *summary.num_leaves);
}

std::optional<std::string> lightgbm_max_depth_text(const LightGbmSummary& summary) {
  if (!summary.max_depth) return std::nullopt;
  return depth_text(*summary.max_depth);
}

namespace {

void print_report(const LightGbmSummary& s, const std::string&, const InspectOptions& options) {
  print_line("LightGBM Model Summary");
  print_line("----------------------");
  print_line(fmt::format("Model: {}", s.path));
  print_line("Format: LightGBM text model");
  print_line(fmt::format("File size: {}", format_size(s.bytes)));
  if (s.version) print_line(fmt::format("Format version: {}", *s.version));

  print_line();
  print_line("Structure:");
  print_line(fmt::format("  Trees: {}", s.num_trees));
  print_field_row("Configured leaves / tree", optional_count_text(s.num_leaves));
  print_field_row("Max leaf slots (trees * leaves)",
                  optional_count_text(lightgbm_max_leaf_slots(s)));
  print_field_row("Classes", optional_count_text(s.num_class));
  print_field_row("Features", optional_count_text(s.num_features));

  print_line();
  print_line("Training Config:");
  print_field_row("Objective", s.objective);
  print_field_row("Boosting", s.boosting);
  print_field_row("Metric", s.metric);
  print_field_row("Learning rate", optional_fixed_text(s.learning_rate, 4));
  print_field_row("Configured iterations", optional_count_text(s.num_iterations));
  print_field_row("Max depth", lightgbm_max_depth_text(s));

  print_line();
  print_line("Parameter-like Internals:");
  print_line(
      fmt::format("  Full artifact fingerprint: {}", format_fingerprint(s.file_fingerprint)));
  print_line(fmt::format("  Metadata fingerprint: {}",
                         s.metadata_fingerprint ? format_fingerprint(*s.metadata_fingerprint)
                                                : std::string("unknown")));
  print_line(fmt::format("  Learned-state fingerprint: {}",
                         format_fingerprint(s.learned_state_fingerprint)));
  print_line(
      "  Note: learned-state fingerprint hashes the leaf-value lines as a proxy for the learned "
      "tree outputs.");

  print_line();
  print_line("Feature Names:");
  print_name_list(s.feature_names, options.limit, "found", "  none found in model header");
}

}  // namespace

CommandResult cmd_lightgbm(const std::vector<std::string>& words) {
  const auto options = scan_inspect_words(words, DeepOption::Refused, kUsage);
  if (!options) return fail(options.error());
  return run_inspect<LightGbmSummary>(
      *options, read_lightgbm, stream_json_documents<LightGbmSummary, write_lightgbm_summary>,
      print_report);
}

}  // namespace orvik
