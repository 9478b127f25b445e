#include "reports/lightgbm_report.hpp"

#include <cstdint>
#include <optional>
#include <string_view>

#include <fmt/core.h>

#include "lightgbm/lightgbm_reader.hpp"
#include "reports/primitives.hpp"
#include "util/format.hpp"
#include "util/output.hpp"
#include "util/text.hpp"

namespace orvik {
namespace {

constexpr std::string_view kUsage =
    "usage: orvik lightgbm [--json] [--limit 20] <model.lgb|model.txt> [more...]";

struct Options {
  bool json = false;
  std::uint64_t limit = 20;
  std::vector<std::string> paths;
};

Result<Options> scan_options(const std::vector<std::string>& words) {
  Options options;
  for (std::size_t i = 0; i < words.size(); ++i) {
    const std::string& word = words[i];
    if (word == "--json") {
      options.json = true;
    } else if (word == "--deep") {
      // Refused the moment it is met, before any later word or any file.
      return fail("--deep inspection is currently only supported for CatBoost artifacts.");
    } else if (word == "--limit") {
      if (i + 1 >= words.size()) return fail("--limit needs a number");
      auto limit = parse_u64(words[i + 1]);
      if (!limit) return fail(fmt::format("parse --limit: {}", limit.error()));
      options.limit = *limit;
      ++i;
    } else {
      options.paths.push_back(word);
    }
  }
  if (options.paths.empty()) return fail(std::string(kUsage));
  return options;
}

std::optional<std::string> count_text(std::optional<std::uint64_t> value) {
  if (!value) return std::nullopt;
  return fmt::format("{}", *value);
}

// Trees times leaves per tree; absent when the leaf count is unknown or the product overflows.
std::optional<std::uint64_t> max_leaf_slots(const LightGbmSummary& s) {
  if (!s.num_leaves) return std::nullopt;
  std::uint64_t product = 0;
  if (__builtin_mul_overflow(s.num_trees, *s.num_leaves, &product)) return std::nullopt;
  return product;
}

void print_report(const LightGbmSummary& s, std::uint64_t limit) {
  print_line("LightGBM Model Summary");
  print_line("----------------------");
  print_line(fmt::format("Model: {}", s.path));
  print_line("Format: LightGBM text model");
  print_line(fmt::format("File size: {}", format_size(s.bytes)));
  if (s.version) print_line(fmt::format("Format version: {}", *s.version));

  print_line();
  print_line("Structure:");
  print_line(fmt::format("  Trees: {}", s.num_trees));
  print_field_row("Configured leaves / tree", count_text(s.num_leaves));
  print_field_row("Max leaf slots (trees * leaves)", count_text(max_leaf_slots(s)));
  print_field_row("Classes", count_text(s.num_class));
  print_field_row("Features", count_text(s.num_features));

  print_line();
  print_line("Training Config:");
  print_field_row("Objective", s.objective);
  print_field_row("Boosting", s.boosting);
  print_field_row("Metric", s.metric);
  print_field_row("Learning rate",
                  s.learning_rate ? std::optional<std::string>(format_fixed(*s.learning_rate, 4))
                                  : std::nullopt);
  print_field_row("Configured iterations", count_text(s.num_iterations));
  print_field_row("Max depth", s.max_depth ? std::optional<std::string>(depth_text(*s.max_depth))
                                           : std::nullopt);

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
  if (s.feature_names.empty()) {
    print_line("  none found in model header");
    return;
  }
  print_line(fmt::format("  found: {}", s.feature_names.size()));
  const std::uint64_t count = s.feature_names.size();
  const std::uint64_t shown = limit < count ? limit : count;
  for (std::uint64_t i = 0; i < shown; ++i)
    print_line(fmt::format("  {}", s.feature_names[i]));
  if (count > shown) print_line(fmt::format("  ... {} more", count - shown));
}

CommandResult print_json_records(const std::vector<std::string>& paths) {
  std::vector<LightGbmSummary> summaries;
  summaries.reserve(paths.size());
  for (const auto& path : paths) {
    auto summary = read_lightgbm(path);
    if (!summary) return fail(std::move(summary.error()));
    summaries.push_back(std::move(*summary));
  }
  auto text = summaries.size() == 1 ? serialize_lightgbm_summary(summaries.front())
                                    : serialize_lightgbm_summaries(summaries);
  if (!text) return fail(fmt::format("serialize JSON: {}", text.error()));
  print_line(*text);
  return {};
}

}  // namespace

CommandResult cmd_lightgbm(const std::vector<std::string>& words) {
  auto options = scan_options(words);
  if (!options) return fail(std::move(options.error()));
  if (options->json) return print_json_records(options->paths);
  bool first = true;
  for (const auto& path : options->paths) {
    if (!first) print_line();
    first = false;
    auto summary = read_lightgbm(path);
    if (!summary) return fail(std::move(summary.error()));
    print_report(*summary, options->limit);
  }
  return {};
}

}  // namespace orvik
