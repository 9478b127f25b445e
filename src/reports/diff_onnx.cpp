// The ONNX diff: size and count totals, the initializer tensors added, removed or changed, and
// the operator types whose node count changed. It has no interpretation lines.
#include "reports/diff_onnx.hpp"

#include <algorithm>

#include <fmt/core.h>

#include "reports/diff.hpp"
#include "reports/onnx_report.hpp"
#include "reports/primitives.hpp"
#include "util/output.hpp"
#include "util/text.hpp"

namespace orvik {
namespace {

// Walks two lists, each in ascending order of `key` with each key once, side by side: calls
// visit(old_entry, new_entry) once per key, in ascending order, with null for the list that lacks
// the key.
template <class T, class Key, class Visit>
void merge_by_key(const std::vector<const T*>& old_list, const std::vector<const T*>& new_list,
                  Key key, Visit visit) {
  auto old_it = old_list.begin();
  auto new_it = new_list.begin();
  while (old_it != old_list.end() || new_it != new_list.end()) {
    if (new_it == new_list.end() || (old_it != old_list.end() && key(**old_it) < key(**new_it))) {
      visit(*old_it++, nullptr);
    } else if (old_it == old_list.end() || key(**new_it) < key(**old_it)) {
      visit(nullptr, *new_it++);
    } else {
      visit(*old_it++, *new_it++);
    }
  }
}

std::string named_description(const OnnxInitializer* initializer) {
  return fmt::format("{} {}", initializer->name, describe_onnx_tensor(*initializer));
}

// One list of the tensor-change block, each listed entry written by `describe`.
template <class Entries, class Describe>
void print_tensor_list(std::string_view heading, const Entries& entries, Describe describe) {
  print_change_list(heading, entries.size(), [&](std::size_t i) { return describe(entries[i]); });
}

template <class Out>
void write_changed_tensor_json(Out& out, std::string_view name, const OnnxInitializer& old_tensor,
                               const OnnxInitializer& new_tensor) {
  out.begin_object();
  out.key("name");
  out.string(name);
  out.key("new");
  write_onnx_tensor_json(out, new_tensor);
  out.key("old");
  write_onnx_tensor_json(out, old_tensor);
  out.end();
}

template <class Out>
void write_named_tensors(Out& out, const std::vector<const OnnxInitializer*>& tensors) {
  out.begin_array();
  for (const OnnxInitializer* tensor : tensors)
    write_named_tensor_json(out, tensor->name, *tensor);
  out.end();
}

template <class Out>
void write_diff_json(Out& out, const OnnxSummary& old_summary, const OnnxSummary& new_summary) {
  out.begin_object();
  out.key("changes");
  out.begin_object();
  out.key("estimated_ops");
  out.value(change_json(old_summary.estimated_ops, new_summary.estimated_ops));
  out.key("file_size_bytes");
  out.value(change_json(old_summary.file_size_bytes, new_summary.file_size_bytes));
  out.key("initializers");
  out.value(change_json(old_summary.initializers.size(), new_summary.initializers.size()));
  out.key("nodes");
  out.value(change_json(old_summary.nodes.size(), new_summary.nodes.size()));
  out.key("parameter_memory_bytes");
  out.value(change_json(old_summary.parameter_memory_bytes, new_summary.parameter_memory_bytes));
  out.key("parameter_values");
  out.value(change_json(old_summary.parameter_values, new_summary.parameter_values));
  out.end();
  out.key("kind");
  out.string("onnx_diff");
  out.key("model_type");
  out.string("ONNX");
  out.key("new");
  write_onnx_summary_json(out, new_summary);
  out.key("old");
  write_onnx_summary_json(out, old_summary);
  out.key("operator_count_changes");
  out.begin_array();
  for (const OpCountChange& change : onnx_op_count_changes(old_summary, new_summary)) {
    if (auto json = op_count_change_json(change.op_type, change.old_count, change.new_count)) {
      out.value(*json);
    }
  }
  out.end();

  const OnnxTensorChanges tensors = onnx_tensor_changes(old_summary, new_summary);
  out.key("parameter_tensors");
  out.begin_object();
  out.key("added");
  write_named_tensors(out, tensors.added);
  out.key("added_count");
  out.value(JsonValue(tensors.added.size()));
  out.key("changed");
  out.begin_array();
  for (const OnnxTensorChanges::Changed& change : tensors.changed) {
    write_changed_tensor_json(out, change.old_tensor->name, *change.old_tensor, *change.new_tensor);
  }
  out.end();
  out.key("changed_count");
  out.value(JsonValue(tensors.changed.size()));
  out.key("removed");
  write_named_tensors(out, tensors.removed);
  out.key("removed_count");
  out.value(JsonValue(tensors.removed.size()));
  out.end();
  out.end();
}

JsonValue onnx_diff_json(const OnnxSummary& old_summary, const OnnxSummary& new_summary) {
  return build_json([&](JsonBuilder& out) { write_diff_json(out, old_summary, new_summary); });
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

// The entries of an operator histogram in ascending byte order of their types.
std::vector<const OpCount*> op_counts_by_type(const std::vector<OpCount>& op_counts) {
  std::vector<const OpCount*> by_type;
  by_type.reserve(op_counts.size());
  for (const OpCount& entry : op_counts)
    by_type.push_back(&entry);
  std::sort(by_type.begin(), by_type.end(),
            [](const auto* a, const auto* b) { return a->op_type < b->op_type; });
  return by_type;
}

}  // namespace

bool onnx_tensor_equal(const OnnxInitializer& a, const OnnxInitializer& b) {
  return std::ranges::equal(a.dims, b.dims) && a.data_type == b.data_type &&
         a.data_location == b.data_location && a.data_fingerprint == b.data_fingerprint &&
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
  const std::vector<const OnnxInitializer*> old_by_name = initializers_by_name(old_summary);
  const std::vector<const OnnxInitializer*> new_by_name = initializers_by_name(new_summary);
  OnnxTensorChanges changes;
  merge_by_key(
      old_by_name, new_by_name, [](const OnnxInitializer& tensor) { return tensor.name; },
      [&](const OnnxInitializer* old_tensor, const OnnxInitializer* new_tensor) {
        if (old_tensor == nullptr) {
          changes.added.push_back(new_tensor);
        } else if (new_tensor == nullptr) {
          changes.removed.push_back(old_tensor);
        } else if (!onnx_tensor_equal(*old_tensor, *new_tensor)) {
          changes.changed.push_back({old_tensor, new_tensor});
        }
      });
  return changes;
}

std::vector<OpCountChange> onnx_op_count_changes(const OnnxSummary& old_summary,
                                                 const OnnxSummary& new_summary) {
  // Each histogram names a type once, so one merge of the two sorted lists pairs the counts.
  const std::vector<const OpCount*> old_by_type = op_counts_by_type(old_summary.op_counts);
  const std::vector<const OpCount*> new_by_type = op_counts_by_type(new_summary.op_counts);
  std::vector<OpCountChange> changes;
  merge_by_key(
      old_by_type, new_by_type, [](const OpCount& entry) { return entry.op_type; },
      [&](const OpCount* old_entry, const OpCount* new_entry) {
        const std::uint64_t old_count = old_entry != nullptr ? old_entry->count : 0;
        const std::uint64_t new_count = new_entry != nullptr ? new_entry->count : 0;
        const std::string_view op_type = (old_entry != nullptr ? old_entry : new_entry)->op_type;
        if (old_count != new_count) changes.push_back({op_type, old_count, new_count});
      });
  return changes;
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

void write_onnx_diff_json(JsonStream& out, const OnnxSummary& old_summary,
                          const OnnxSummary& new_summary) {
  write_diff_json(out, old_summary, new_summary);
}

const DiffFormat<OnnxSummary> kOnnxDiff = {"ONNX", read_onnx, onnx_diff_json, print_onnx_sections,
                                           write_onnx_diff_json};

}  // namespace orvik
