#include "reports/changes.hpp"

#include <algorithm>
#include <cmath>
#include <iterator>

#include "util/format.hpp"

namespace orvik {
namespace {

// Changes smaller than this many percent read "same" in explain-diff.
constexpr double kSamePercent = 0.005;

// Sorted in byte order, without repeats.
std::vector<std::string_view> sorted_set(std::vector<std::string_view> names) {
  std::sort(names.begin(), names.end());
  names.erase(std::unique(names.begin(), names.end()), names.end());
  return names;
}

std::vector<std::string_view> missing_from(const std::vector<std::string_view>& from,
                                           const std::vector<std::string_view>& other) {
  std::vector<std::string_view> out;
  std::set_difference(from.begin(), from.end(), other.begin(), other.end(),
                      std::back_inserter(out));
  return out;
}

NameSetChange set_change(std::vector<std::string_view> old_names,
                         std::vector<std::string_view> new_names) {
  const std::vector<std::string_view> old_set = sorted_set(std::move(old_names));
  const std::vector<std::string_view> new_set = sorted_set(std::move(new_names));
  return {missing_from(new_set, old_set), missing_from(old_set, new_set)};
}

std::vector<std::string_view> op_types(const std::vector<OpCount>& counts) {
  std::vector<std::string_view> out;
  out.reserve(counts.size());
  for (const OpCount& count : counts)
    out.push_back(count.op_type);
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

NameSetChange name_set_change(const NameList& old_names, const NameList& new_names) {
  return set_change({old_names.begin(), old_names.end()}, {new_names.begin(), new_names.end()});
}

NameSetChange op_type_change(const std::vector<OpCount>& old_counts,
                             const std::vector<OpCount>& new_counts) {
  return set_change(op_types(old_counts), op_types(new_counts));
}

}  // namespace orvik
