#include "reports/inspect_common.hpp"

#include <fmt/core.h>

#include "util/format.hpp"
#include "util/output.hpp"
#include "util/text.hpp"

namespace orvik {

Result<InspectOptions> scan_inspect_words(const std::vector<std::string>& words, DeepOption deep,
                                          std::string_view usage, PathCount path_count) {
  InspectOptions options;
  for (std::size_t i = 0; i < words.size(); ++i) {
    const std::string& word = words[i];
    if (word == "--limit") {
      if (i + 1 >= words.size()) return fail("--limit needs a number");
      const Result<std::uint64_t> limit = parse_u64(words[i + 1]);
      if (!limit) return fail(fmt::format("parse --limit: {}", limit.error()));
      options.limit = *limit;
      ++i;
    } else if (word == "--json") {
      options.json = true;
    } else if (word == "--deep" && deep != DeepOption::Path) {
      // Refused the moment it is met, before any later word or any file.
      if (deep == DeepOption::Refused) {
        return fail("--deep inspection is currently only supported for CatBoost artifacts.");
      }
      options.deep = true;
    } else if (path_count == PathCount::One && !options.paths.empty()) {
      return fail(fmt::format("unexpected argument `{}`", word));
    } else {
      options.paths.push_back(word);
    }
  }
  if (options.paths.empty()) return fail(std::string(usage));
  return options;
}

void print_name_list(const NameList& names, std::uint64_t limit, std::string_view count_label,
                     std::string_view none_line) {
  if (names.empty()) {
    print_line(none_line);
    return;
  }
  print_line(fmt::format("  {}: {}", count_label, names.size()));
  print_limited_rows(names, limit,
                     [](std::string_view name) { print_line(fmt::format("  {}", name)); });
}

std::optional<std::uint64_t> checked_mul(std::uint64_t a, std::uint64_t b) {
  std::uint64_t product = 0;
  if (__builtin_mul_overflow(a, b, &product)) return std::nullopt;
  return product;
}

std::optional<std::string> optional_count_text(std::optional<std::uint64_t> value) {
  if (!value) return std::nullopt;
  return fmt::format("{}", *value);
}

std::optional<std::string> optional_fixed_text(std::optional<double> value, int decimals) {
  if (!value) return std::nullopt;
  return format_fixed(*value, decimals);
}

}  // namespace orvik
