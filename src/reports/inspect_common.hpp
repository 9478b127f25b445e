#pragma once
// What the per-format inspect commands (catboost, lightgbm, pytorch) share: their option scan,
// the capped name listing, and the texts of optional values in report rows.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "util/output.hpp"
#include "util/result.hpp"

namespace orvik {

struct InspectOptions {
  bool deep = false;
  bool json = false;
  std::uint64_t limit = 20;
  std::vector<std::string> paths;  // every word that is not an option, in order
};

// Whether "--deep" is an option of the command or refused the moment it is met.
enum class DeepOption { Accepted, Refused };

// Scans the words in order: "--limit" and its value, "--json", "--deep"; everything else (also an
// unknown "--word" or an empty word) is a path. No path at all fails with `usage`.
Result<InspectOptions> scan_inspect_words(const std::vector<std::string>& words, DeepOption deep,
                                          std::string_view usage);

// Runs an inspect command over its paths. JSON: every path is read first (the first read error is
// the command's, with nothing printed), then one document for them all. Text: one report per path
// with an empty line between reports; a read error ends the command, earlier reports stay.
template <class Summary>
CommandResult run_inspect(const InspectOptions& options,
                          Result<Summary> (*read)(const std::string& path),
                          CommandResult (*print_json_document)(const std::vector<Summary>&),
                          void (*print_report)(const Summary&, const std::string& path,
                                               const InspectOptions&)) {
  if (options.json) {
    std::vector<Summary> summaries;
    summaries.reserve(options.paths.size());
    for (const std::string& path : options.paths) {
      Result<Summary> summary = read(path);
      if (!summary) return fail(std::move(summary.error()));
      summaries.push_back(std::move(*summary));
    }
    return print_json_document(summaries);
  }
  for (std::size_t i = 0; i < options.paths.size(); ++i) {
    if (i > 0) print_line();
    const Result<Summary> summary = read(options.paths[i]);
    if (!summary) return fail(summary.error());
    print_report(*summary, options.paths[i], options);
  }
  return {};
}

// "  {count_label}: N", then the first `limit` names as "  {name}", then "  ... N more";
// `none_line` alone when there are no names.
void print_name_list(const std::vector<std::string>& names, std::uint64_t limit,
                     std::string_view count_label, std::string_view none_line);

// a * b, absent when it overflows 64 bits.
std::optional<std::uint64_t> checked_mul(std::uint64_t a, std::uint64_t b);

// Row values: absent stays absent (the row prints "unknown").
std::optional<std::string> optional_count_text(std::optional<std::uint64_t> value);
std::optional<std::string> optional_fixed_text(std::optional<double> value, int decimals);

}  // namespace orvik
