#pragma once
// Quantities that diff, explain-diff and check compute over two versions of one artifact,
// computed once here so the three commands can never disagree on them. Where the commands differ,
// it is in how they treat the result, and those differences are listed here:
//
//   percent growth, (new - old) * 100 / old in 64-bit floats:
//     check         a zero baseline with a non-zero new value fails its rule ("undefined growth
//                   from zero baseline"); 0 -> 0 is a growth of 0; printed as "{:.2}%", no sign.
//     explain-diff  a zero baseline reads "n/a (from zero)"; below 0.005 in magnitude (0 -> 0
//                   included) it reads "same"; else signed, rounded to an integer with ties to
//                   even, "{:+.0}%".
//   name-set change, added and removed names of two lists taken as sets:
//     diff and explain-diff list them in ascending byte order, duplicates collapsed; check does
//     not use sets: its name rules compare the lists position by position, so a reordering of a
//     LightGBM or PyTorch list fails them.
//   operator-type change of two ONNX graphs, as a name-set change:
//     check fails "no new ONNX operators" on any added type and ignores removed ones;
//     explain-diff lists both.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "onnx/onnx_reader.hpp"
#include "util/name_list.hpp"
#include "util/result.hpp"

namespace orvik {

// Two versions of one artifact, as read by the kind's reader.
template <class Summary>
struct SummaryPair {
  Summary old_summary;
  Summary new_summary;
};

// Reads the old file, then the new one. The first reader error is the result, unchanged; the new
// file is not read when the old one fails. Callers print nothing before both are read.
template <class Summary>
Result<SummaryPair<Summary>> read_pair(Result<Summary> (*read)(const std::string& path),
                                       const std::string& old_path, const std::string& new_path) {
  Result<Summary> old_summary = read(old_path);
  if (!old_summary) return fail(std::move(old_summary.error()));
  Result<Summary> new_summary = read(new_path);
  if (!new_summary) return fail(std::move(new_summary.error()));
  return SummaryPair<Summary>{std::move(*old_summary), std::move(*new_summary)};
}

// (new - old) * 100 / old with both converted to 64-bit floats first; 0 when both are 0; absent
// when old is 0 and new is not (no baseline to grow from).
std::optional<double> percent_growth(std::uint64_t old_value, std::uint64_t new_value);

// explain-diff's text of a percent growth: "same", "n/a (from zero)", or "+25%" / "-33%" / "+0%".
std::string percent_change_text(std::uint64_t old_value, std::uint64_t new_value);

// Names of the new list missing from the old one (added) and of the old list missing from the new
// one (removed), each in ascending byte order without repeats. The views point into the lists.
struct NameSetChange {
  std::vector<std::string_view> added;
  std::vector<std::string_view> removed;

  bool empty() const { return added.empty() && removed.empty(); }
};
NameSetChange name_set_change(const NameList& old_names, const NameList& new_names);
// The views would outlive a list made just for the call (from a vector of strings).
NameSetChange name_set_change(NameList&&, const NameList&) = delete;
NameSetChange name_set_change(const NameList&, NameList&&) = delete;
NameSetChange name_set_change(NameList&&, NameList&&) = delete;

// The same over the operator types of two ONNX graphs: added are the types the new graph
// introduces, removed the types it no longer uses.
NameSetChange op_type_change(const std::vector<OpCount>& old_counts,
                             const std::vector<OpCount>& new_counts);

}  // namespace orvik
