#include "reports/onnx_report.hpp"

#include <algorithm>
#include <set>
#include <span>

#include <fmt/core.h>
#include <fmt/format.h>

#include "reports/inspect_common.hpp"
#include "reports/primitives.hpp"
#include "util/format.hpp"
#include "util/output.hpp"
#include "util/text.hpp"

namespace orvik {
namespace {

constexpr std::string_view kUsage = "usage: orvik onnx [--json] [--limit 20] <model.onnx>";

// Most expensive nodes listed by the text report; the JSON lists up to ten.
constexpr std::size_t kTextCostRows = 5;
constexpr std::size_t kJsonCostRows = 10;

constexpr std::string_view kNoteExecution =
    "This is static ONNX graph inspection, not model execution.";
constexpr std::string_view kNoteEstimates =
    "Op estimates are best-effort and depend on static shapes in the file.";

// The node cost rows that have an estimate, by estimate descending; equal estimates keep node
// order (a stable sort), or with `by_name` go by name ascending.
std::vector<const OnnxNodeCost*> costliest_nodes(const OnnxSummary& summary, bool by_name) {
  std::vector<const OnnxNodeCost*> rows;
  for (const OnnxNodeCost& cost : summary.node_costs) {
    if (cost.estimated_ops) rows.push_back(&cost);
  }
  std::stable_sort(rows.begin(), rows.end(), [by_name](const auto* a, const auto* b) {
    if (*a->estimated_ops != *b->estimated_ops) return *a->estimated_ops > *b->estimated_ops;
    return by_name && a->name < b->name;
  });
  return rows;
}

JsonValue op_counts_json(const std::vector<OpCount>& op_counts) {
  return json_array_of(op_counts, [](const OpCount& entry) {
    return JsonValue::array({entry.op_type, entry.count});
  });
}

std::uint64_t estimated_bytes(const OnnxInitializer& initializer) {
  return onnx_value_count(initializer) * onnx_element_size(initializer.data_type);
}

// "  {name} {shape} {dtype}" per value info, within the limit; "  unknown" when there are none.
void print_value_info_rows(std::span<const OnnxValueInfo* const> rows, std::uint64_t limit) {
  if (rows.empty()) {
    print_line("  unknown");
    return;
  }
  print_limited_rows(rows, limit, [](const OnnxValueInfo* info) {
    print_line(fmt::format("  {} {} {}", info->name, format_dim_texts(info->shape),
                           onnx_dtype_name(info->elem_type)));
  });
}

std::string initializer_row(const OnnxInitializer& initializer) {
  std::string suffix;
  if (initializer.raw_data_bytes != 0) {
    suffix = fmt::format(", raw {}", format_size(initializer.raw_data_bytes));
  } else if (onnx_external_data(initializer)) {
    suffix = ", external data";
  }
  return fmt::format("  {} {} {} values / {}{}", initializer.name, format_dims(initializer.dims),
                     onnx_value_count(initializer), format_size(estimated_bytes(initializer)),
                     suffix);
}

void print_report(const OnnxSummary& summary, const std::string&, const InspectOptions& options) {
  print_onnx_report(summary, options.limit);
}

}  // namespace

void print_onnx_report(const OnnxSummary& s, std::uint64_t limit) {
  print_underlined("ONNX Model Summary");
  print_line(fmt::format("Model: {}", s.path));
  print_line("Format: ONNX ModelProto");
  print_line(fmt::format("File size: {}", format_size(s.file_size_bytes)));
  print_field_row("IR version",
                  s.ir_version ? std::optional(fmt::format("{}", *s.ir_version)) : std::nullopt);
  print_field_row("Producer", s.producer);
  print_field_row("Graph", s.graph_name);
  if (!s.opset_imports.empty()) {
    print_line(fmt::format("  Opsets: {}", fmt::join(format_opset_imports(s.opset_imports), ", ")));
  }

  print_line();
  print_line("Graph:");
  print_line(fmt::format("  Nodes: {}", s.nodes.size()));
  print_line(fmt::format("  Initializers: {}", s.initializers.size()));
  print_line(fmt::format("  Value info entries: {}", s.value_info_entries));
  print_line(fmt::format("  Parameters: {} values / {}", s.parameter_values,
                         format_size(s.parameter_memory_bytes)));

  print_line();
  print_line("Inputs:");
  print_value_info_rows(inputs_without_initializers(s), limit);
  print_line();
  print_line("Outputs:");
  std::vector<const OnnxValueInfo*> outputs;
  for (const OnnxValueInfo& output : s.outputs)
    outputs.push_back(&output);
  print_value_info_rows(outputs, limit);

  print_line();
  print_line("Operator Mix:");
  if (s.op_counts.empty()) print_line("  none");
  print_limited_rows(std::span(s.op_counts), limit, [](const OpCount& entry) {
    print_line(fmt::format("  {} {}", pad_right(entry.op_type, 24), entry.count));
  });

  print_line();
  print_line("Estimated Cost:");
  if (s.estimated_ops != 0) {
    print_line(fmt::format("  Estimated ops: {}", s.estimated_ops));
  } else {
    print_line("  unknown");
  }
  const std::vector<const OnnxNodeCost*> costliest = costliest_nodes(s, false);
  if (!costliest.empty()) print_line("  Most expensive:");
  for (std::size_t i = 0; i < costliest.size() && i < kTextCostRows; ++i) {
    print_line(fmt::format("    {} {} {} ops", pad_right(costliest[i]->name, 24),
                           pad_right(costliest[i]->op_type, 12), *costliest[i]->estimated_ops));
  }

  print_line();
  print_line("Initializers:");
  if (s.initializers.empty()) print_line("  none");
  print_limited_rows(std::span(s.initializers), limit, [](const OnnxInitializer& initializer) {
    print_line(initializer_row(initializer));
  });

  print_line();
  print_line("Note:");
  print_line(fmt::format("  {}", kNoteExecution));
  print_line(fmt::format("  {}", kNoteEstimates));
  print_line("  Run ONNX shape inference before inspection for better cost estimates.");
}

std::string_view onnx_dtype_name(std::optional<std::int32_t> code) {
  switch (code.value_or(0)) {
    case 1:
      return "float32";
    case 2:
      return "uint8";
    case 3:
      return "int8";
    case 4:
      return "uint16";
    case 5:
      return "int16";
    case 6:
      return "int32";
    case 7:
      return "int64";
    case 9:
      return "bool";
    case 10:
      return "float16";
    case 11:
      return "float64";
    case 12:
      return "uint32";
    case 13:
      return "uint64";
    case 16:
      return "bfloat16";
    default:
      return "unknown";
  }
}

std::vector<const OnnxValueInfo*> inputs_without_initializers(const OnnxSummary& summary) {
  std::set<std::string_view> initializer_names;
  for (const OnnxInitializer& initializer : summary.initializers)
    initializer_names.insert(initializer.name);
  std::vector<const OnnxValueInfo*> inputs;
  for (const OnnxValueInfo& input : summary.inputs) {
    if (!initializer_names.contains(input.name)) inputs.push_back(&input);
  }
  return inputs;
}

std::vector<std::string> format_opset_imports(const std::vector<OnnxOpsetImport>& opsets) {
  std::vector<std::string> texts;
  texts.reserve(opsets.size());
  for (const OnnxOpsetImport& opset : opsets) {
    const std::string_view domain =
        opset.domain.empty() ? std::string_view("ai.onnx") : std::string_view(opset.domain);
    texts.push_back(opset.version ? fmt::format("{}={}", domain, *opset.version)
                                  : fmt::format("{}=?", domain));
  }
  return texts;
}

bool onnx_external_data(const OnnxInitializer& initializer) {
  return initializer.external_data_entries != 0 || initializer.data_location == 1;
}

JsonValue onnx_summary_json(const OnnxSummary& summary) {
  JsonValue out = JsonValue::object();
  out["path"] = summary.path;
  out["format"] = "ONNX ModelProto";
  out["file_size_bytes"] = summary.file_size_bytes;
  out["ir_version"] = optional_json(summary.ir_version);
  out["producer"] = optional_text_json(summary.producer);
  out["graph"] = optional_text_json(summary.graph_name);
  out["nodes"] = summary.nodes.size();
  out["initializers"] = summary.initializers.size();
  out["value_info_entries"] = summary.value_info_entries;
  out["parameter_values"] = summary.parameter_values;
  out["parameter_memory_bytes"] = summary.parameter_memory_bytes;
  out["estimated_ops"] = summary.estimated_ops;
  out["inputs"] = json_array_of(summary.inputs, value_info_to_value);
  out["outputs"] = json_array_of(summary.outputs, value_info_to_value);
  out["op_counts"] = op_counts_json(summary.op_counts);
  return out;
}

JsonValue onnx_tensor_json(const OnnxInitializer& initializer) {
  JsonValue out = JsonValue::object();
  out["shape"] = initializer.dims;
  out["dtype"] = onnx_dtype_name(initializer.data_type);
  out["data_type"] = optional_json(initializer.data_type);
  out["values"] = onnx_value_count(initializer);
  out["estimated_bytes"] = estimated_bytes(initializer);
  out["raw_data_bytes"] = initializer.raw_data_bytes;
  out["data_fingerprint"] = optional_fingerprint_json(initializer.data_fingerprint);
  out["external_data"] = onnx_external_data(initializer);
  out["external_data_entries"] = initializer.external_data_entries;
  out["external_data_fingerprint"] =
      optional_fingerprint_json(initializer.external_data_fingerprint);
  out["data_location"] = optional_json(initializer.data_location);
  return out;
}

JsonValue named_tensor_json(std::string_view name, const OnnxInitializer& initializer) {
  JsonValue out = JsonValue::object();
  out["name"] = name;
  out["tensor"] = onnx_tensor_json(initializer);
  return out;
}

JsonValue initializer_json(const OnnxInitializer& initializer) {
  return named_tensor_json(initializer.name, initializer);
}

JsonValue node_cost_json(const OnnxNodeCost& cost) {
  JsonValue out = JsonValue::object();
  out["name"] = cost.name;
  out["op_type"] = cost.op_type;
  out["estimated_ops"] = cost.estimated_ops.value_or(0);
  return out;
}

JsonValue onnx_inspect_json(const OnnxSummary& summary) {
  JsonValue out = JsonValue::object();
  out["kind"] = "onnx_inspect";
  out["model_type"] = "ONNX";
  out["summary"] = onnx_summary_json(summary);
  out["opsets"] = json_array_of(summary.opset_imports, opset_import_to_value);
  out["operator_mix"] = op_counts_json(summary.op_counts);
  std::vector<const OnnxNodeCost*> costliest = costliest_nodes(summary, true);
  costliest.resize(std::min(costliest.size(), kJsonCostRows));
  out["most_expensive_ops"] =
      json_array_of(costliest, [](const OnnxNodeCost* cost) { return node_cost_json(*cost); });
  out["initializers"] = json_array_of(summary.initializers, initializer_json);
  out["note"] = JsonValue::array({kNoteExecution, kNoteEstimates});
  return out;
}

CommandResult cmd_onnx(const std::vector<std::string>& words) {
  const Result<InspectOptions> options =
      scan_inspect_words(words, DeepOption::Path, kUsage, PathCount::One);
  if (!options) return fail(options.error());
  return run_inspect<OnnxSummary>(
      *options, read_onnx, print_json_documents<OnnxSummary, onnx_inspect_json>, print_report);
}

}  // namespace orvik
