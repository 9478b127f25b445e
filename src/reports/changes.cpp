#include "reports/changes.hpp"

#include <algorithm>
#include <bit>
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

// The names of two lists sorted together, so that equal names end up side by side whichever list
// holds them, and no name is compared with another.
class ListSort {
 public:
  ListSort(const NameList& old_names, const NameList& new_names, std::size_t most_names)
      : old_text_(old_names.text()),
        new_text_(new_names.text()),
        names_(old_text_, new_text_, most_names) {}

  // A name of the old list; `in_both` when it is known to be in the new one too.
  void add_old(std::string_view name, bool in_both) {
    names_.add(static_cast<std::size_t>(name.data() - old_text_.data()), name.size(), in_both);
  }
  void add_new(std::string_view name) {
    names_.add(old_text_.size() + static_cast<std::size_t>(name.data() - new_text_.data()),
               name.size());
  }

  // Calls visit(name, in_old, in_new) for every distinct name, in ascending byte order.
  template <class Visit>
  void for_each_name(Visit&& visit) {
    names_.sort();
    for (std::size_t i = 0; i < names_.size();) {
      bool in_old = false;
      bool in_new = false;
      std::size_t j = i;
      do {
        if (names_.is_marked(j)) {
          in_old = in_new = true;
        } else {
          (names_.in_second(j) ? in_new : in_old) = true;
        }
        ++j;
      } while (j < names_.size() && names_.is_repeat(j));
      visit(names_.name(i), in_old, in_new);
      i = j;
    }
  }

 private:
  std::string_view old_text_;
  std::string_view new_text_;
  NameSort names_;
};

// Calls visit(old_name, new_name) for the names at the same place in both lists, then
// visit(old_name, {}) or visit({}, new_name) for the names past the end of the shorter list.
// Stops, returning false, as soon as a visit does.
template <class Visit>
bool for_each_place(const NameList& old_names, const NameList& new_names, Visit&& visit) {
  auto old_at = old_names.begin();
  auto new_at = new_names.begin();
  for (; old_at != old_names.end() && new_at != new_names.end(); ++old_at, ++new_at) {
    if (!visit(std::optional<std::string_view>(*old_at), std::optional<std::string_view>(*new_at)))
      return false;
  }
  for (; old_at != old_names.end(); ++old_at) {
    if (!visit(std::optional<std::string_view>(*old_at), std::nullopt)) return false;
  }
  for (; new_at != new_names.end(); ++new_at) {
    if (!visit(std::nullopt, std::optional<std::string_view>(*new_at))) return false;
  }
  return true;
}

void add_change(NameSetChange& change, std::string_view name, bool in_old, bool in_new) {
  if (!in_old) change.added.push_back(name);
  if (!in_new) change.removed.push_back(name);
}

// The change between two lists in any order, all their names sorted together. A name at the same
// place in both lists is sorted once, as being in both.
NameSetChange sorted_change(const NameList& old_names, const NameList& new_names) {
  ListSort names(old_names, new_names, old_names.size() + new_names.size());
  for_each_place(
      old_names, new_names,
      [&](std::optional<std::string_view> old_name, std::optional<std::string_view> new_name) {
        const bool same = old_name && new_name && *old_name == *new_name;
        if (old_name) names.add_old(*old_name, same);
        if (new_name && !same) names.add_new(*new_name);
        return true;
      });
  NameSetChange change;
  names.for_each_name([&](std::string_view name, bool in_old, bool in_new) {
    add_change(change, name, in_old, in_new);
  });
  return change;
}

// Above one name in this many out of place, the names are sorted all together.
constexpr std::size_t kOutOfPlaceShare = 1024;

// One bit per possible name, most of them clear: a name whose bit is clear is none of the names
// the filter was made of, and that is found without comparing it with any of them.
class NameFilter {
 public:
  // Some 64 bits for each of at most `most_names` names, so that few other names find a set bit.
  explicit NameFilter(std::size_t most_names)
      : mask_(std::bit_ceil(std::max<std::size_t>(most_names * 64, 4096)) - 1),
        bits_((mask_ + 1) / 64) {}

  void add(std::string_view name) {
    const std::uint64_t bit = slot(name);
    bits_[bit / 64] |= std::uint64_t{1} << (bit % 64);
  }

  bool may_hold(std::string_view name) const {
    const std::uint64_t bit = slot(name);
    return (bits_[bit / 64] >> (bit % 64) & 1) != 0;
  }

 private:
  std::uint64_t slot(std::string_view name) const { return (quick_hash(name) >> 32) & mask_; }

  std::uint64_t mask_;
  std::vector<std::uint64_t> bits_;
};

// The change between two lists that agree at nearly every place (versions of one model with a few
// names renamed, or added or dropped at the end): only the names out of place can be added or
// removed. They are sorted among themselves, and those of one list only are looked for in the
// whole other list, where nearly every name passes the filter without a comparison. Absent when
// more than one name in kOutOfPlaceShare is out of place.
std::optional<NameSetChange> out_of_place_change(const NameList& old_names,
                                                 const NameList& new_names) {
  const std::size_t most = (old_names.size() + new_names.size()) / kOutOfPlaceShare;
  std::vector<std::string_view> old_out;
  std::vector<std::string_view> new_out;
  const bool few = for_each_place(
      old_names, new_names,
      [&](std::optional<std::string_view> old_name, std::optional<std::string_view> new_name) {
        if (old_name && new_name && *old_name == *new_name) return true;
        if (old_name) old_out.push_back(*old_name);
        if (new_name) new_out.push_back(*new_name);
        return old_out.size() + new_out.size() <= most;
      });
  if (!few) return std::nullopt;

  struct Candidate {
    std::string_view name;
    bool in_new;
    bool in_both = false;
  };
  std::vector<Candidate> candidates;  // ascending
  ListSort out_of_place(old_names, new_names, old_out.size() + new_out.size());
  for (const std::string_view name : old_out)
    out_of_place.add_old(name, false);
  for (const std::string_view name : new_out)
    out_of_place.add_new(name);
  NameFilter filter(old_out.size() + new_out.size());
  out_of_place.for_each_name([&](std::string_view name, bool in_old, bool in_new) {
    if (in_old && in_new) return;
    candidates.push_back({name, in_new});
    filter.add(name);
  });
  const auto look_up = [&](const NameList& list, bool in_new) {
    for (const std::string_view name : list) {
      if (!filter.may_hold(name)) continue;
      const auto found = std::lower_bound(
          candidates.begin(), candidates.end(), name,
          [](const Candidate& candidate, std::string_view key) { return candidate.name < key; });
      if (found != candidates.end() && found->name == name && found->in_new != in_new)
        found->in_both = true;
    }
  };
  look_up(old_names, false);
  look_up(new_names, true);
  NameSetChange change;
  for (const Candidate& candidate : candidates) {
    if (!candidate.in_both) add_change(change, candidate.name, !candidate.in_new, candidate.in_new);
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
  if (std::optional<NameSetChange> change = out_of_place_change(old_names, new_names))
    return std::move(*change);
  return sorted_change(old_names, new_names);
}

NameSetChange op_type_change(const std::vector<OpCount>& old_counts,
                             const std::vector<OpCount>& new_counts) {
  return set_change(op_types(old_counts), op_types(new_counts));
}

}  // namespace orvik
