#pragma once
// The shape every diff shares: both files are read with the kind's reader (the old one first; a
// failed read prints nothing), then one JSON value, or the text report: the common header and the
// kind's sections. The per-kind diffs are declared at the end.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "artifact_kind/artifact_kind.hpp"
#include "cbm/catboost_reader.hpp"
#include "lightgbm/lightgbm_reader.hpp"
#include "onnx/onnx_reader.hpp"
#include "pt/pytorch_reader.hpp"
#include "reports/changes.hpp"
#include "reports/primitives.hpp"
#include "util/json.hpp"
#include "util/output.hpp"
#include "util/result.hpp"

namespace orvik {

// The six lines that open every diff report:
//   "Model Diff", "----------", "Type: {type_word}", "Old: {old_name}", "New: {new_name}", "".
// The type word is "CatBoost", "LightGBM", "ONNX" or "PyTorch"; the names are the display names
// the readers store in their summaries (`path`), not the paths as typed.
void print_diff_header(std::string_view type_word, std::string_view old_name,
                       std::string_view new_name);

// How one kind of artifact is diffed. `print_sections` prints the text report below the header,
// starting with its first section heading; `json` builds the whole JSON document, and
// `write_json`, when a kind has it, writes the same document to a stream as it goes (kinds whose
// documents can hold lists of millions of entries; `json` may then be left unset).
template <class Summary>
struct DiffFormat {
  std::string_view type_word;
  Result<Summary> (*read)(const std::string& path);
  JsonValue (*json)(const Summary& old_summary, const Summary& new_summary);
  void (*print_sections)(const Summary& old_summary, const Summary& new_summary);
  void (*write_json)(JsonStream& out, const Summary& old_summary,
                     const Summary& new_summary) = nullptr;
};

// The JSON document (streamed when the kind can, else printed with print_json), or the header
// and the sections.
template <class Summary>
CommandResult render_diff(const DiffFormat<Summary>& format, const Summary& old_summary,
                          const Summary& new_summary, bool json) {
  if (json && format.write_json != nullptr) {
    return print_json_stream(
        [&](JsonStream& out) { format.write_json(out, old_summary, new_summary); });
  }
  if (json) return print_json(format.json(old_summary, new_summary));
  print_diff_header(format.type_word, old_summary.path, new_summary.path);
  format.print_sections(old_summary, new_summary);
  return {};
}

// Reads the old file, then the new one, and renders them. A read error is the result, unchanged,
// and nothing is printed; the new file is not read when the old one fails.
template <class Summary>
CommandResult diff_files(const DiffFormat<Summary>& format, const std::string& old_path,
                         const std::string& new_path, bool json) {
  const Result<SummaryPair<Summary>> pair = read_pair(format.read, old_path, new_path);
  if (!pair) return fail(pair.error());
  return render_diff(format, pair->old_summary, pair->new_summary, json);
}

// With `deep`, "Note: --deep is currently only used for CatBoost artifacts." and an empty line:
// the diffs that decode nothing deeper say so and carry on.
void print_deep_note(bool deep);

// The diff of the two files (paths as typed) of a format that decodes nothing deeper: the deep
// note, then diff_files.
template <const auto& format>
CommandResult diff_paths(const std::string& old_path, const std::string& new_path, bool deep,
                         bool json) {
  print_deep_note(deep);
  return diff_files(format, old_path, new_path, json);
}

// Section pieces of the text reports.

// An empty line, then the heading ("Training Config:"); the first section after the header
// prints its heading alone.
void print_section_heading(std::string_view heading);

// "Full artifact fingerprint", "Metadata fingerprint" and "Learned-state fingerprint" change rows
// of two summaries that carry those three fingerprints (CatBoost, LightGBM).
template <class Summary>
void print_fingerprint_rows(const Summary& old_summary, const Summary& new_summary) {
  print_fingerprint_change_row("Full artifact fingerprint", old_summary.file_fingerprint,
                               new_summary.file_fingerprint);
  print_fingerprint_change_row("Metadata fingerprint", old_summary.metadata_fingerprint,
                               new_summary.metadata_fingerprint);
  print_fingerprint_change_row("Learned-state fingerprint", old_summary.learned_state_fingerprint,
                               new_summary.learned_state_fingerprint);
}

// The names section: heading, the count change row under `count_label`, then the
// "Feature name changes:" block.
void print_names_section(std::string_view heading, std::string_view count_label,
                         const NameList& old_names, const NameList& new_names);

// One interpretation line: `if_true` when the test holds, else `if_false`; an empty text prints
// nothing, for lines that appear only under their condition.
void print_verdict_line(bool holds, std::string_view if_true, std::string_view if_false = {});

// {"new": new_record, "old": old_record, "type": type}: the JSON of the diffs that carry the two
// summary records whole.
JsonValue record_pair_json(std::string_view type, JsonValue old_record, JsonValue new_record);
// The same written piece by piece; `write` writes one summary's record.
template <class Summary>
void write_record_pair(JsonStream& out, std::string_view type, const Summary& old_summary,
                       const Summary& new_summary,
                       void (*write)(JsonStream& out, const Summary& summary)) {
  out.begin_object();
  out.key("new");
  write(out, new_summary);
  out.key("old");
  write(out, old_summary);
  out.key("type");
  out.string(type);
  out.end();
}

// The per-kind diffs.

// The CatBoost diff of two paths as typed: the text report ending in the deep-diff hint, or with
// `deep` the report and then the deep diff (whose failure is the result, after the report), or
// with `json` the object of catboost_diff_json. Never both `deep` and `json`.
CommandResult diff_catboost(const std::string& old_path, const std::string& new_path, bool deep,
                            bool json);
JsonValue catboost_diff_json(const CatBoostSummary& old_summary,
                             const CatBoostSummary& new_summary);
extern const DiffFormat<CatBoostSummary> kCatBoostDiff;

// The LightGBM diff report, or with `json` the object {"new", "old", "type": "lightgbm"}.
CommandResult diff_lightgbm(const LightGbmSummary& old_summary, const LightGbmSummary& new_summary,
                            bool json);
extern const DiffFormat<LightGbmSummary> kLightGbmDiff;

// The PyTorch diff report, or with `json` the object {"new", "old", "type": "pytorch"}.
CommandResult diff_pytorch(const PyTorchSummary& old_summary, const PyTorchSummary& new_summary,
                           bool json);
extern const DiffFormat<PyTorchSummary> kPyTorchDiff;

// The ONNX diff: totals, initializer tensors added, removed or changed, and operator count
// changes; with `json` the "onnx_diff" object. See diff_onnx.hpp.
extern const DiffFormat<OnnxSummary> kOnnxDiff;

}  // namespace orvik
