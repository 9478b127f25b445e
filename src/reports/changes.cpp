#include "reports/changes.hpp"

#include <algorithm>
#include <cmath>
#include <iterator>

#include "util/format.hpp"

namespace orvik {
namespace {

// Changes smaller than this many percent read "same" in explain-diff.
constexpr double kSamePercent = 0.005;

// Sorted, without repeats; the views point into `names`.
std::vector<std::string_view> sorted_set(const std::vector<std::string>& names) {
  std::vector<std::string_view> out(names.begin(), names.end());
  std::sort(out.begin(), out.end());
  out.erase(std::unique(out.begin(), out.end()), out.end());
  return out;
}

std::vector<std::string_view> missing_from(const std::vector<std::string_view>& from,
                                           const std::vector<std::string_view>& other) {
  std::vector<std::string_view> out;
  std::set_difference(from.begin(), from.end(), other.begin(), other.end(),
                      std::back_inserter(out));
  return out;
}

}  // namespace

std::optional<double> percent_growth(std::uint64_t old_value, std::uint64_t new_value) {
  if (old_value == 0) {
    if (new_value == 0) return 0.0;
    return std::nullopt;
  }
  const auto old_f = static_cast<double>(old_value);
  const auto new_f = static_cast<double>(new_value);
  return (new_f - old_f) * 100.0 / old_f;
}

std::string percent_change_text(std::uint64_t old_value, std::uint64_t new_value) {
  const std::optional<double> growth = percent_growth(old_value, new_value);
  if (!growth) return "n/a (from zero)";
  if (std::fabs(*growth) < kSamePercent) return "same";
  return format_fixed_signed(*growth, 0) + "%";
}

NameSetChange name_set_change(const std::vector<std::string>& old_names,
                              const std::vector<std::string>& new_names) {
  const std::vector<std::string_view> old_set = sorted_set(old_names);
  const std::vector<std::string_view> new_set = sorted_set(new_names);
  return {missing_from(new_set, old_set), missing_from(old_set, new_set)};
}

}  // namespace orvik
