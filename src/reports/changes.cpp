#include "reports/changes.hpp"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <utility>

#include "util/format.hpp"
#include "util/name_sort.hpp"

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

// The name at `at` and the first name after it that differs from it.
std::pair<std::string_view, NameList::Iterator> distinct_name(NameList::Iterator at,
                                                              NameList::Iterator end) {
  const std::string_view name = *at;
  do {
    ++at;
  } while (at != end && *at == name);
  return {name, at};
}

// The change between two lists already in ascending order (as the CatBoost reader delivers its
// names), by walking both once.
NameSetChange merged_change(const NameList& old_names, const NameList& new_names) {
  NameSetChange change;
  auto old_at = old_names.begin();
  auto new_at = new_names.begin();
  while (old_at != old_names.end() || new_at != new_names.end()) {
    const int order = old_at == old_names.end()   ? 1
                      : new_at == new_names.end() ? -1
                                                  : (*old_at).compare(*new_at);
    if (order <= 0) {
      const auto [name, after] = distinct_name(old_at, old_names.end());
      if (order < 0) change.removed.push_back(name);
      old_at = after;
    }
    if (order >= 0) {
      const auto [name, after] = distinct_name(new_at, new_names.end());
      if (order > 0) change.added.push_back(name);
      new_at = after;
    }
  }
  return change;
}

// The change between two lists in any order: the names of both are sorted together, so that equal
// names end up side by side whichever list holds them, and no name is compared with another. A
// name at the same place in both lists (most of them, between versions of one model) is sorted
// once, marked as being in both.
NameSetChange sorted_change(const NameList& old_names, const NameList& new_names) {
  const std::string_view old_text = old_names.text();
  const std::string_view new_text = new_names.text();
  NameSort names(old_text, new_text, old_names.size() + new_names.size());
  const auto add_old = [&](std::string_view name, bool in_both) {
    names.add(static_cast<std::size_t>(name.data() - old_text.data()), name.size(), in_both);
  };
  const auto add_new = [&](std::string_view name) {
    names.add(old_text.size() + static_cast<std::size_t>(name.data() - new_text.data()),
              name.size());
  };
  auto old_at = old_names.begin();
  auto new_at = new_names.begin();
  for (; old_at != old_names.end() && new_at != new_names.end(); ++old_at, ++new_at) {
    const bool same = *old_at == *new_at;
    add_old(*old_at, same);
    if (!same) add_new(*new_at);
  }
  for (; old_at != old_names.end(); ++old_at)
    add_old(*old_at, false);
  for (; new_at != new_names.end(); ++new_at)
    add_new(*new_at);
  names.sort();
  NameSetChange change;
  for (std::size_t i = 0; i < names.size();) {
    bool in_old = false;
    bool in_new = false;
    std::size_t j = i;
    do {
      if (names.is_marked(j)) {
        in_old = in_new = true;
      } else {
        (names.in_second(j) ? in_new : in_old) = true;
      }
      ++j;
    } while (j < names.size() && names.is_repeat(j));
    if (!in_old) change.added.push_back(names.name(i));
    if (!in_new) change.removed.push_back(names.name(i));
    i = j;
  }
  return change;
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
  if (old_names == new_names) return {};
  if (std::is_sorted(old_names.begin(), old_names.end()) &&
      std::is_sorted(new_names.begin(), new_names.end())) {
    return merged_change(old_names, new_names);
  }
  return sorted_change(old_names, new_names);
}

NameSetChange op_type_change(const std::vector<OpCount>& old_counts,
                             const std::vector<OpCount>& new_counts) {
  return set_change(op_types(old_counts), op_types(new_counts));
}

}  // namespace orvik
