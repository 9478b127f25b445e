#include "reports/explain_diff.hpp"

#include <cstdint>
#include <map>
#include <optional>
#include <string_view>

#include <fmt/core.h>

#include "artifact_kind/artifact_kind.hpp"
#include "cbm/catboost_reader.hpp"
#include "lightgbm/lightgbm_reader.hpp"
#include "pt/pytorch_reader.hpp"
#include "reports/catboost_report.hpp"
#include "reports/changes.hpp"
#include "reports/inspect_common.hpp"
#include "reports/lightgbm_report.hpp"
#include "reports/primitives.hpp"
#include "util/format.hpp"
#include "util/output.hpp"
#include "util/text.hpp"

namespace orvik {
namespace {

// Initializer dimensions in this range count towards the hidden-size estimate.
constexpr std::int64_t kMinHiddenSize = 2;
constexpr std::int64_t kMaxHiddenSize = 8192;

// At most this many names are printed on an added or removed line.
constexpr std::size_t kNamesPerLine = 8;

std::string text_or_unknown(const std::optional<std::string>& value) {
  return value.value_or("unknown");
}

std::string count_or_unknown(std::optional<std::uint64_t> value) {
  return optional_count_text(value).value_or("unknown");
}

// "same" when both are absent or both present and equal (a NaN never equals itself).
template <class T>
std::string_view change_mark(const std::optional<T>& old_value, const std::optional<T>& new_value) {
  return old_value == new_value ? "same" : "changed";
}

// The change text of a row of names; `none_text` when neither version has any.
std::string name_change_text(const NameList& old_names, const NameList& new_names,
                             const NameSetChange& change, std::string_view none_text) {
  if (old_names.empty() && new_names.empty()) return std::string(none_text);
  if (change.empty()) return "same set";
  return fmt::format("+{} added, -{} removed", change.added.size(), change.removed.size());
}

// "{label} a, b, c" on one line, at most eight names and then ", ... N more"; nothing when empty.
void print_name_list(std::string_view label, const std::vector<std::string_view>& names) {
  if (names.empty()) return;
  std::string line(label);
  line += ' ';
  for (std::size_t i = 0; i < names.size() && i < kNamesPerLine; ++i) {
    if (i > 0) line += ", ";
    line += names[i];
  }
  if (names.size() > kNamesPerLine) {
    line += fmt::format(", ... {} more", names.size() - kNamesPerLine);
  }
  print_line(line);
}

void print_name_changes(const NameSetChange& change) {
  print_name_list("    added:  ", change.added);
  print_name_list("    removed:", change.removed);
}

// One architecture or training row; `lead` is the indented label padded to its column.
void print_pair_row(std::string_view lead, std::string_view old_text, std::string_view new_text,
                    std::string_view change) {
  print_line(fmt::format("{}{} -> {} ({})", lead, old_text, new_text, change));
}

void print_text_pair_row(std::string_view lead, const std::optional<std::string>& old_text,
                         const std::optional<std::string>& new_text) {
  print_pair_row(lead, text_or_unknown(old_text), text_or_unknown(new_text),
                 change_mark(old_text, new_text));
}

std::string float_or_unknown(std::optional<double> value) {
  return value ? format_float(*value) : std::string("unknown");
}

void print_float_pair_row(std::string_view lead, std::optional<double> old_value,
                          std::optional<double> new_value) {
  print_pair_row(lead, float_or_unknown(old_value), float_or_unknown(new_value),
                 change_mark(old_value, new_value));
}

void print_count_pair_row(std::string_view lead, std::uint64_t old_count, std::uint64_t new_count) {
  print_pair_row(lead, fmt::format("{}", old_count), fmt::format("{}", new_count),
                 percent_change_text(old_count, new_count));
}

void print_file_size_line(std::uint64_t old_bytes, std::uint64_t new_bytes) {
  print_line(fmt::format("File size: {} -> {} ({})", format_size(old_bytes), format_size(new_bytes),
                         percent_change_text(old_bytes, new_bytes)));
}

void print_leaf_slot_growth(std::optional<std::uint64_t> old_slots,
                            std::optional<std::uint64_t> new_slots) {
  const std::string growth =
      old_slots && new_slots ? percent_change_text(*old_slots, *new_slots) : std::string("unknown");
  print_line(fmt::format("Estimated leaf-slot growth: {}", growth));
}

// The seven lines that open every explanation, up to the "Architecture:" heading.
void print_explanation_header(ArtifactKind kind, std::string_view old_name,
                              std::string_view new_name) {
  print_line("Model Change Explanation");
  print_line("------------------------");
  print_line(fmt::format("Type: {}", artifact_kind_label(kind)));
  print_line(fmt::format("Old: {}", old_name));
  print_line(fmt::format("New: {}", new_name));
  print_line();
  print_line("Architecture:");
}

// The learned-state line, after an empty line.
void print_learned_state(Fingerprint old_value, Fingerprint new_value, std::string_view unchanged,
                         std::string_view changed) {
  print_line();
  print_line(old_value == new_value ? unchanged : changed);
}

void print_summary(std::string_view summary_line, std::string_view note) {
  print_line();
  print_line("Summary:");
  print_line(summary_line);
  print_line();
  print_line(note);
}

std::string_view catboost_verdict(const CatBoostSummary& old_s, const CatBoostSummary& new_s,
                                  const NameSetChange& names) {
  if (!names.empty()) return "feature set changed";
  if (!catboost_config_equal(old_s, new_s)) return "training config changed";
  if (old_s.iterations != new_s.iterations || old_s.depth != new_s.depth) {
    return "same spec, retrained with different tree count/depth";
  }
  return "same spec and features, retrained";
}

std::string_view lightgbm_verdict(const LightGbmSummary& old_s, const LightGbmSummary& new_s,
                                  const NameSetChange& names) {
  if (!names.empty()) return "feature set changed";
  if (!lightgbm_config_equal(old_s, new_s)) return "training config changed";
  if (old_s.num_trees == new_s.num_trees && old_s.num_leaves == new_s.num_leaves) {
    return "same spec and features, retrained";
  }
  return "same spec, retrained with more/fewer trees";
}

std::string_view pytorch_verdict(const PyTorchSummary& old_s, const PyTorchSummary& new_s,
                                 const NameSetChange& names) {
  if (old_s.param_names.empty() && new_s.param_names.empty()) {
    return "weights compared (parameter names not recovered)";
  }
  if (!names.empty()) return "parameter set changed (layers added/removed)";
  if (old_s.estimated_parameter_count == new_s.estimated_parameter_count) {
    return "same architecture, retrained/finetuned";
  }
  return "same layers, parameter count changed (resized)";
}

}  // namespace

void explain_catboost_diff(const CatBoostSummary& old_s, const CatBoostSummary& new_s) {
  print_explanation_header(ArtifactKind::CatBoost, old_s.path, new_s.path);
  const NameSetChange names = name_set_change(old_s.feature_names, new_s.feature_names);
  const std::string trees_change = old_s.iterations && new_s.iterations
                                       ? percent_change_text(*old_s.iterations, *new_s.iterations)
                                       : std::string("unknown");
  print_pair_row("  Trees:             ", count_or_unknown(old_s.iterations),
                 count_or_unknown(new_s.iterations), trees_change);
  print_pair_row("  Depth:             ", count_or_unknown(old_s.depth),
                 count_or_unknown(new_s.depth), change_mark(old_s.depth, new_s.depth));
  print_pair_row(
      "  Features (recovered): ", fmt::format("{}", old_s.feature_names.size()),
      fmt::format("{}", new_s.feature_names.size()),
      name_change_text(old_s.feature_names, new_s.feature_names, names, "names not recovered"));
  print_name_changes(names);

  print_line();
  print_line("Training config:");
  print_text_pair_row("  Loss:              ", old_s.loss, new_s.loss);
  print_text_pair_row("  Eval metric:       ", old_s.eval_metric, new_s.eval_metric);
  print_float_pair_row("  Learning rate:     ", old_s.learning_rate, new_s.learning_rate);
  print_text_pair_row("  Grow policy:       ", old_s.grow_policy, new_s.grow_policy);

  print_line();
  print_file_size_line(old_s.file_size_bytes, new_s.file_size_bytes);
  print_leaf_slot_growth(catboost_max_leaf_slots(old_s), catboost_max_leaf_slots(new_s));

  print_learned_state(old_s.learned_state_fingerprint, new_s.learned_state_fingerprint,
                      "Learned state: unchanged",
                      "Learned state: CHANGED (split borders / leaf values differ)");

  print_summary(fmt::format("  {}.", catboost_verdict(old_s, new_s, names)),
                "Note: heuristic summary; run `diff --deep` for exact split/leaf changes.");
}

void explain_lightgbm_diff(const LightGbmSummary& old_s, const LightGbmSummary& new_s) {
  print_explanation_header(ArtifactKind::LightGbm, old_s.path, new_s.path);
  const NameSetChange names = name_set_change(old_s.feature_names, new_s.feature_names);
  print_count_pair_row("  Trees:             ", old_s.num_trees, new_s.num_trees);
  print_line(fmt::format("  Leaves / tree:     {} -> {}", count_or_unknown(old_s.num_leaves),
                         count_or_unknown(new_s.num_leaves)));
  print_pair_row(
      "  Features:          ", count_or_unknown(old_s.num_features),
      count_or_unknown(new_s.num_features),
      name_change_text(old_s.feature_names, new_s.feature_names, names, "names not in header"));
  print_name_changes(names);

  print_line();
  print_line("Training config:");
  print_text_pair_row("  Objective:         ", old_s.objective, new_s.objective);
  print_text_pair_row("  Boosting:          ", old_s.boosting, new_s.boosting);
  print_text_pair_row("  Metric:            ", old_s.metric, new_s.metric);
  print_float_pair_row("  Learning rate:     ", old_s.learning_rate, new_s.learning_rate);
  print_pair_row("  Max depth:         ", text_or_unknown(lightgbm_max_depth_text(old_s)),
                 text_or_unknown(lightgbm_max_depth_text(new_s)),
                 change_mark(old_s.max_depth, new_s.max_depth));

  print_line();
  print_file_size_line(old_s.bytes, new_s.bytes);
  print_leaf_slot_growth(lightgbm_max_leaf_slots(old_s), lightgbm_max_leaf_slots(new_s));

  print_learned_state(old_s.learned_state_fingerprint, new_s.learned_state_fingerprint,
                      "Learned state: unchanged (identical leaf values)",
                      "Learned state: CHANGED (a real retrain - leaf values differ)");

  std::string features;
  if (old_s.feature_names.empty() && new_s.feature_names.empty()) {
    features = "unknown";
  } else if (names.empty()) {
    features = "unchanged";
  } else {
    features = fmt::format("+{}/-{}", names.added.size(), names.removed.size());
  }
  print_summary(fmt::format("  {}; trees {}, features {}.", lightgbm_verdict(old_s, new_s, names),
                            percent_change_text(old_s.num_trees, new_s.num_trees), features),
                "Note: parsed natively from the LightGBM text model.");
}

void explain_pytorch_diff(const PyTorchSummary& old_s, const PyTorchSummary& new_s) {
  print_explanation_header(ArtifactKind::PyTorch, old_s.path, new_s.path);
  const NameSetChange names = name_set_change(old_s.param_names, new_s.param_names);
  print_count_pair_row("  Tensors:           ", old_s.tensor_count, new_s.tensor_count);
  print_pair_row(
      "  Parameters (est):  ", human_count_text(old_s.estimated_parameter_count),
      human_count_text(new_s.estimated_parameter_count),
      percent_change_text(old_s.estimated_parameter_count, new_s.estimated_parameter_count));
  print_text_pair_row("  Dominant dtype:    ", old_s.dominant_dtype, new_s.dominant_dtype);
  print_pair_row(
      "  Param names:       ", fmt::format("{}", old_s.param_names.size()),
      fmt::format("{}", new_s.param_names.size()),
      name_change_text(old_s.param_names, new_s.param_names, names, "names not recovered"));
  print_name_changes(names);

  print_line();
  print_file_size_line(old_s.bytes, new_s.bytes);

  print_learned_state(old_s.learned_state_fingerprint, new_s.learned_state_fingerprint,
                      "Learned state: unchanged (sampled weight bytes identical)",
                      "Learned state: CHANGED (sampled weight bytes differ - a real "
                      "retrain/finetune)");

  print_summary(
      fmt::format(
          "  {}; params {}.", pytorch_verdict(old_s, new_s, names),
          percent_change_text(old_s.estimated_parameter_count, new_s.estimated_parameter_count)),
      "Note: static read of the torch.save zip (no torch); shapes are not decoded and the weight "
      "fingerprint is sampled.");
}

void explain_onnx_diff(const OnnxSummary& old_s, const OnnxSummary& new_s) {
  print_explanation_header(ArtifactKind::Onnx, old_s.path, new_s.path);
  const std::optional<std::uint64_t> old_layers = onnx_attention_layer_estimate(old_s.op_counts);
  const std::optional<std::uint64_t> new_layers = onnx_attention_layer_estimate(new_s.op_counts);
  print_line(fmt::format("  Attention layers:  {} -> {}", count_or_unknown(old_layers),
                         count_or_unknown(new_layers)));
  print_line(fmt::format("  Hidden size:       {} -> {}",
                         count_or_unknown(estimate_hidden_size(old_s.initializers)),
                         count_or_unknown(estimate_hidden_size(new_s.initializers))));
  const std::string parameters =
      percent_change_text(old_s.parameter_values, new_s.parameter_values);
  print_pair_row("  Parameters:        ", human_count_text(old_s.parameter_values),
                 human_count_text(new_s.parameter_values), parameters);
  print_count_pair_row("  Nodes:             ", old_s.nodes.size(), new_s.nodes.size());

  const std::string cost = percent_change_text(old_s.estimated_ops, new_s.estimated_ops);
  print_line();
  print_line(fmt::format("Estimated inference cost (static op proxy): {}", cost));

  const NameSetChange ops = op_type_change(old_s.op_counts, new_s.op_counts);
  print_line();
  print_line(ops.added.empty() ? "New operators introduced: none" : "New operators introduced:");
  for (std::string_view op : ops.added)
    print_line(fmt::format("  {}", op));
  if (!ops.removed.empty()) print_line("Operators removed:");
  for (std::string_view op : ops.removed)
    print_line(fmt::format("  {}", op));

  // The same words whether the estimate grew or fell.
  const std::string summary =
      old_layers && new_layers && *old_layers != *new_layers
          ? fmt::format(
                "  Grew from ~{} to ~{} attention layers; parameters {}, estimated cost {}.",
                *old_layers, *new_layers, parameters, cost)
          : fmt::format("  Parameters {}, estimated cost {}.", parameters, cost);
  print_summary(summary,
                "Note: static heuristic over ONNX ops and shapes; cost is an op-count proxy, not "
                "measured latency.");
}

std::uint64_t op_type_count(const std::vector<OpCount>& op_counts, std::string_view op_type) {
  for (const OpCount& count : op_counts) {
    if (count.op_type == op_type) return count.count;
  }
  return 0;
}

std::optional<std::uint64_t> onnx_attention_layer_estimate(const std::vector<OpCount>& op_counts) {
  if (const std::uint64_t attention = op_type_count(op_counts, "Attention"); attention > 0) {
    return attention;
  }
  if (const std::uint64_t softmax = op_type_count(op_counts, "Softmax"); softmax > 0) {
    return softmax;
  }
  const std::uint64_t layer_norms = op_type_count(op_counts, "LayerNormalization");
  if (layer_norms >= 2) return layer_norms / 2;
  return std::nullopt;
}

std::optional<std::uint64_t> estimate_hidden_size(
    const std::vector<OnnxInitializer>& initializers) {
  std::map<std::int64_t, std::uint64_t> occurrences;
  for (const OnnxInitializer& initializer : initializers) {
    if (initializer.dims.size() < 2) continue;
    for (const std::int64_t dim : initializer.dims) {
      if (dim >= kMinHiddenSize && dim <= kMaxHiddenSize) ++occurrences[dim];
    }
  }
  std::optional<std::uint64_t> best;
  std::uint64_t best_count = 0;
  // Ascending values, so on equal counts the later (larger) one wins.
  for (const auto& [dim, count] : occurrences) {
    if (count >= best_count) {
      best = static_cast<std::uint64_t>(dim);
      best_count = count;
    }
  }
  return best;
}

std::vector<std::string> positional_args(const std::vector<std::string>& words) {
  std::vector<std::string> out;
  for (const std::string& word : words) {
    if (!starts_with(word, "--")) out.push_back(word);
  }
  return out;
}

}  // namespace orvik
