// The ONNX diff: size and count totals, the initializer tensors added, removed or changed, and
// the operator types whose node count changed. It has no interpretation lines.
#include "reports/diff_onnx.hpp"

#include <map>

#include <fmt/core.h>

#include "reports/diff.hpp"
#include "reports/onnx_report.hpp"
#include "reports/primitives.hpp"
#include "util/output.hpp"
#include "util/text.hpp"

namespace orvik {
namespace {

// Name -> initializer; a later initializer of a name replaces an earlier one.
std::map<std::string_view, const OnnxInitializer*> initializers_by_name(
    const OnnxSummary& summary) {
  std::map<std::string_view, const OnnxInitializer*> by_name;
  for (const OnnxInitializer& initializer : summary.initializers)
    by_name.insert_or_assign(initializer.name, &initializer);
  return by_name;
}

std::string named_description(const OnnxInitializer* initializer) {
  return fmt::format("{} {}", initializer->name, describe_onnx_tensor(*initializer));
}

// One list of the tensor-change block, each entry written by `describe`.
template <class Entries, class Describe>
void print_tensor_list(std::string_view heading, const Entries& entries, Describe describe) {
  std::vector<std::string> lines;
  lines.reserve(entries.size());
  for (const auto& entry : entries)
    lines.push_back(describe(entry));
  print_change_list(heading, std::vector<std::string_view>(lines.begin(), lines.end()));
}

JsonValue onnx_diff_json(const OnnxSummary& old_summary, const OnnxSummary& new_summary) {
  JsonValue changes = JsonValue::object();
  changes["file_size_bytes"] =
      change_json(old_summary.file_size_bytes, new_summary.file_size_bytes);
  changes["nodes"] = change_json(old_summary.nodes.size(), new_summary.nodes.size());
  changes["initializers"] =
      change_json(old_summary.initializers.size(), new_summary.initializers.size());
  changes["parameter_values"] =
      change_json(old_summary.parameter_values, new_summary.parameter_values);
  changes["parameter_memory_bytes"] =
      change_json(old_summary.parameter_memory_bytes, new_summary.parameter_memory_bytes);
  changes["estimated_ops"] = change_json(old_summary.estimated_ops, new_summary.estimated_ops);

  const OnnxTensorChanges tensors = onnx_tensor_changes(old_summary, new_summary);
  const auto named = [](const OnnxInitializer* tensor) { return initializer_json(*tensor); };
  JsonValue parameter_tensors = JsonValue::object();
  parameter_tensors["added"] = json_array_of(tensors.added, named);
  parameter_tensors["removed"] = json_array_of(tensors.removed, named);
  parameter_tensors["changed"] =
      json_array_of(tensors.changed, [](const OnnxTensorChanges::Changed& change) {
        return changed_tensor_json(change.old_tensor->name, *change.old_tensor, *change.new_tensor);
      });
  parameter_tensors["added_count"] = tensors.added.size();
  parameter_tensors["removed_count"] = tensors.removed.size();
  parameter_tensors["changed_count"] = tensors.changed.size();

  JsonValue op_changes = JsonValue::array();
  for (const OpCountChange& change : onnx_op_count_changes(old_summary, new_summary)) {
    if (auto json = op_count_change_json(change.op_type, change.old_count, change.new_count)) {
      op_changes.push_back(std::move(*json));
    }
  }

  JsonValue out = JsonValue::object();
  out["kind"] = "onnx_diff";
  out["model_type"] = "ONNX";
  out["old"] = onnx_summary_json(old_summary);
  out["new"] = onnx_summary_json(new_summary);
  out["changes"] = std::move(changes);
  out["parameter_tensors"] = std::move(parameter_tensors);
  out["operator_count_changes"] = std::move(op_changes);
  return out;
}

void print_onnx_sections(const OnnxSummary& old_summary, const OnnxSummary& new_summary) {
  print_size_change_row("File size", old_summary.file_size_bytes, new_summary.file_size_bytes);
  print_count_change_row("Nodes", old_summary.nodes.size(), new_summary.nodes.size());
  print_count_change_row("Initializers", old_summary.initializers.size(),
                         new_summary.initializers.size());
  print_count_change_row("Parameter values", old_summary.parameter_values,
                         new_summary.parameter_values);
  print_size_change_row("Parameter memory", old_summary.parameter_memory_bytes,
                        new_summary.parameter_memory_bytes);
  print_count_change_row("Estimated ops", old_summary.estimated_ops, new_summary.estimated_ops);

  print_section_heading("Parameter Tensors:");
  // Counts every initializer, duplicates of a name included; the block compares one per name.
  print_count_change_row("Initializer tensors", old_summary.initializers.size(),
                         new_summary.initializers.size());
  const OnnxTensorChanges tensors = onnx_tensor_changes(old_summary, new_summary);
  print_line("Parameter tensor changes:");
  if (tensors.added.empty() && tensors.removed.empty() && tensors.changed.empty()) {
    print_line("  none detected from initializer metadata");
  } else {
    print_tensor_list("Added", tensors.added, named_description);
    print_tensor_list("Removed", tensors.removed, named_description);
    print_tensor_list("Changed", tensors.changed, [](const OnnxTensorChanges::Changed& change) {
      return fmt::format("{} -> {}", named_description(change.old_tensor),
                         describe_onnx_tensor(*change.new_tensor));
    });
  }

  print_section_heading("Operator Count Changes:");
  for (const OpCountChange& change : onnx_op_count_changes(old_summary, new_summary)) {
    print_line(fmt::format("  {} {} -> {} ({})", pad_right(change.op_type, 24), change.old_count,
                           change.new_count, count_delta_text(change.old_count, change.new_count)));
  }
}

}  // namespace

bool onnx_tensor_equal(const OnnxInitializer& a, const OnnxInitializer& b) {
  return a.dims == b.dims && a.data_type == b.data_type && a.data_location == b.data_location &&
         a.data_fingerprint == b.data_fingerprint &&
         a.external_data_entries == b.external_data_entries &&
         a.external_data_fingerprint == b.external_data_fingerprint;
}

std::string describe_onnx_tensor(const OnnxInitializer& initializer) {
  std::string suffix;
  if (onnx_external_data(initializer)) {
    suffix = ", external data";
  } else if (initializer.data_fingerprint) {
    suffix = fmt::format(", data 0x{:016x}", *initializer.data_fingerprint);
  }
  return fmt::format("{} {}{}", onnx_dtype_name(initializer.data_type),
                     format_dims(initializer.dims), suffix);
}

OnnxTensorChanges onnx_tensor_changes(const OnnxSummary& old_summary,
                                      const OnnxSummary& new_summary) {
  const auto old_by_name = initializers_by_name(old_summary);
  const auto new_by_name = initializers_by_name(new_summary);
  OnnxTensorChanges changes;
  for (const auto& [name, tensor] : new_by_name) {
    if (!old_by_name.contains(name)) changes.added.push_back(tensor);
  }
  for (const auto& [name, old_tensor] : old_by_name) {
    const auto found = new_by_name.find(name);
    if (found == new_by_name.end()) {
      changes.removed.push_back(old_tensor);
    } else if (!onnx_tensor_equal(*old_tensor, *found->second)) {
      changes.changed.push_back({old_tensor, found->second});
    }
  }
  return changes;
}

std::vector<OpCountChange> onnx_op_count_changes(const OnnxSummary& old_summary,
                                                 const OnnxSummary& new_summary) {
  // Each op_counts list names a type once, so the map gathers both counts of every type.
  std::map<std::string_view, OpCountChange> by_type;
  for (const OpCount& entry : old_summary.op_counts)
    by_type[entry.op_type].old_count = entry.count;
  for (const OpCount& entry : new_summary.op_counts)
    by_type[entry.op_type].new_count = entry.count;
  std::vector<OpCountChange> changes;
  for (auto& [op_type, change] : by_type) {
    if (change.old_count == change.new_count) continue;
    change.op_type = op_type;
    changes.push_back(change);
  }
  return changes;
}

JsonValue changed_tensor_json(std::string_view name, const OnnxInitializer& old_tensor,
                              const OnnxInitializer& new_tensor) {
  JsonValue out = JsonValue::object();
  out["name"] = name;
  out["old"] = onnx_tensor_json(old_tensor);
  out["new"] = onnx_tensor_json(new_tensor);
  return out;
}

std::optional<JsonValue> op_count_change_json(std::string_view op_type, std::uint64_t old_count,
                                              std::uint64_t new_count) {
  if (old_count == new_count) return std::nullopt;
  JsonValue out = JsonValue::object();
  out["op"] = op_type;
  out["old"] = old_count;
  out["new"] = new_count;
  out["delta"] = delta_json(old_count, new_count);
  return out;
}

const DiffFormat<OnnxSummary> kOnnxDiff = {"ONNX", read_onnx, onnx_diff_json, print_onnx_sections};

CommandResult diff_onnx(const std::string& old_path, const std::string& new_path, bool json) {
  return diff_files(kOnnxDiff, old_path, new_path, json);
}

}  // namespace orvik
