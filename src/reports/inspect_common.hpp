#pragma once
// What the per-format inspect commands (catboost, lightgbm, pytorch, onnx) share: their option
// scan, the runner over their paths, the capped listings, and the texts of optional values in
// report rows.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <fmt/core.h>

#include "reports/primitives.hpp"
#include "util/json.hpp"
#include "util/name_list.hpp"
#include "util/output.hpp"
#include "util/result.hpp"

namespace orvik {

struct InspectOptions {
  bool deep = false;
  bool json = false;
  std::uint64_t limit = 20;
  std::vector<std::string> paths;  // every word that is not an option, in order
};

// Whether "--deep" is an option of the command, refused the moment it is met, or a word like any
// other (taken as a path).
enum class DeepOption { Accepted, Refused, Path };

// Whether the command takes any number of paths, or one: a second path then fails at once with
// "unexpected argument `{}`" naming it, before any later word is looked at.
enum class PathCount { Many, One };

// Scans the words in order: "--limit" and its value ("--limit needs a number", "parse --limit:
// {}"), "--json", "--deep"; everything else (also an unknown "--word" or an empty word) is a path.
// No path at all fails with `usage`.
Result<InspectOptions> scan_inspect_words(const std::vector<std::string>& words, DeepOption deep,
                                          std::string_view usage,
                                          PathCount path_count = PathCount::Many);

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

// The JSON document of an inspect command: one object for one summary, an array of them for
// several.
template <class Summary, JsonValue (*to_json)(const Summary&)>
CommandResult print_json_documents(const std::vector<Summary>& summaries) {
  if (summaries.size() == 1) return print_json(to_json(summaries.front()));
  std::vector<JsonValue> documents;
  documents.reserve(summaries.size());
  for (const Summary& summary : summaries)
    documents.push_back(to_json(summary));
  return print_json(documents);
}

// The same document written piece by piece by `write`, for summaries with long name lists.
template <class Summary, void (*write)(JsonStream&, const Summary&)>
CommandResult stream_json_documents(const std::vector<Summary>& summaries) {
  return print_json_stream([&](JsonStream& out) { write_documents(out, summaries, write); });
}

// `print_row` of the first `limit` items (any sized range), then "  ... N more" when some are
// left over.
template <class Items, class PrintRow>
void print_limited_rows(const Items& items, std::uint64_t limit, PrintRow print_row) {
  const std::size_t shown = limit < items.size() ? static_cast<std::size_t>(limit) : items.size();
  auto item = items.begin();
  for (std::size_t i = 0; i < shown; ++i, ++item)
    print_row(*item);
  if (items.size() > shown) print_line(fmt::format("  ... {} more", items.size() - shown));
}

// "  {count_label}: N", then the first `limit` names as "  {name}", then "  ... N more";
// `none_line` alone when there are no names.
void print_name_list(const NameList& names, std::uint64_t limit, std::string_view count_label,
                     std::string_view none_line);

// a * b, absent when it overflows 64 bits.
std::optional<std::uint64_t> checked_mul(std::uint64_t a, std::uint64_t b);

// Row values: absent stays absent (the row prints "unknown").
std::optional<std::string> optional_count_text(std::optional<std::uint64_t> value);
std::optional<std::string> optional_fixed_text(std::optional<double> value, int decimals);

}  // namespace orvik
