#include "reports/onnx_report.hpp"

#include <algorithm>
#include <functional>
#include <span>

#include <fmt/core.h>
#include <fmt/format.h>

#include "onnx/onnx_cost.hpp"
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

// A node cost row with an estimate, as the reports list it.
struct CostRow {
  std::size_t index = 0;  // of the node
  std::uint64_t ops = 0;
  std::string name;
};

// The node cost rows that have an estimate, by estimate descending, the first `count` of them;
// equal estimates keep node order, or with `by_name` go by name ascending first (then node order).
// Only `count` rows are kept while the nodes are looked at, so a graph of millions of nodes costs
// no list of them.
std::vector<CostRow> costliest_nodes(const OnnxSummary& summary, std::size_t count, bool by_name) {
  const auto before = [by_name](const CostRow& a, const CostRow& b) {
    if (a.ops != b.ops) return a.ops > b.ops;
    return by_name && a.name < b.name;
  };
  std::vector<CostRow> rows;
  for (std::size_t i = 0; i < summary.node_costs.size() && count > 0; ++i) {
    const std::optional<std::uint64_t> ops = summary.node_costs[i].estimated_ops;
    if (!ops) continue;
    // A row that cannot make the list needs no name.
    if (rows.size() == count && (*ops < rows.back().ops || (*ops == rows.back().ops && !by_name))) {
      continue;
    }
    CostRow row{i, *ops, onnx_node_cost_name(summary.nodes[i], i)};
    if (rows.size() == count && !before(row, rows.back())) continue;
    // After the rows it ties with: they come from earlier nodes.
    rows.insert(std::upper_bound(rows.begin(), rows.end(), row, before), std::move(row));
    if (rows.size() > count) rows.pop_back();
  }
  return rows;
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
    // Piece by piece: a model can import millions of opsets.
    print_raw("  Opsets: ");
    for (std::size_t i = 0; i < s.opset_imports.size(); ++i) {
      if (i > 0) print_raw(", ");
      print_raw(format_opset_import(s.opset_imports[i]));
    }
    print_line();
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
  const std::vector<CostRow> costliest = costliest_nodes(s, kTextCostRows, false);
  if (!costliest.empty()) print_line("  Most expensive:");
  for (const CostRow& row : costliest) {
    print_line(fmt::format("    {} {} {} ops", pad_right(row.name, 24),
                           pad_right(s.nodes[row.index].op_type, 12), row.ops));
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

std::vector<const OnnxInitializer*> initializers_by_name(const OnnxSummary& summary) {
  std::vector<const OnnxInitializer*> by_name;
  for (const OnnxInitializer& initializer : summary.initializers) {
    if (!by_name.empty() && by_name.back()->name == initializer.name) {
      by_name.back() = &initializer;
    } else {
      by_name.push_back(&initializer);
    }
  }
  // Pointers into one list: among equal names, address order is file order.
  std::sort(by_name.begin(), by_name.end(), [](const auto* a, const auto* b) {
    return a->name != b->name ? a->name < b->name : a < b;
  });
  const auto last_of_each = std::unique(by_name.rbegin(), by_name.rend(),
                                        [](auto* a, auto* b) { return a->name == b->name; });
  by_name.erase(by_name.begin(), last_of_each.base());
  return by_name;
}

std::vector<const OnnxValueInfo*> inputs_without_initializers(const OnnxSummary& summary) {
  std::vector<const OnnxValueInfo*> inputs;
  if (summary.inputs.empty()) return inputs;
  const std::vector<const OnnxInitializer*> initializers = initializers_by_name(summary);
  const auto is_initializer = [&initializers](std::string_view name) {
    return std::ranges::binary_search(initializers, name, std::less<>(),
                                      [](const OnnxInitializer* i) { return i->name; });
  };
  for (const OnnxValueInfo& input : summary.inputs) {
    if (!is_initializer(input.name)) inputs.push_back(&input);
  }
  return inputs;
}

std::string format_opset_import(const OnnxOpsetImport& opset) {
  const std::string_view domain = opset.domain.empty() ? "ai.onnx" : opset.domain;
  return opset.version ? fmt::format("{}={}", domain, *opset.version) : fmt::format("{}=?", domain);
}

bool onnx_external_data(const OnnxInitializer& initializer) {
  return initializer.external_data_entries != 0 || initializer.data_location == 1;
}

namespace {

template <class Out>
void write_number(Out& out, std::uint64_t value) {
  out.value(JsonValue(value));
}

template <class Out>
void write_optional_text(Out& out, const std::optional<std::string>& text) {
  if (text) {
    out.string(*text);
  } else {
    out.value(JsonValue(nullptr));
  }
}

// An array of `write(out, item)` for each item.
template <class Out, class Items, class Write>
void write_array(Out& out, const Items& items, Write write) {
  out.begin_array();
  for (const auto& item : items)
    write(out, item);
  out.end();
}

// [operator type, count] per entry.
template <class Out>
void write_op_counts(Out& out, const std::vector<OpCount>& op_counts) {
  write_array(out, op_counts, [](Out& out, const OpCount& entry) {
    out.begin_array();
    out.string(entry.op_type);
    write_number(out, entry.count);
    out.end();
  });
}

}  // namespace

template <class Out>
void write_onnx_summary_json(Out& out, const OnnxSummary& summary) {
  out.begin_object();
  out.key("estimated_ops");
  write_number(out, summary.estimated_ops);
  out.key("file_size_bytes");
  write_number(out, summary.file_size_bytes);
  out.key("format");
  out.string("ONNX ModelProto");
  out.key("graph");
  write_optional_text(out, summary.graph_name);
  out.key("initializers");
  write_number(out, summary.initializers.size());
  out.key("inputs");
  write_array(out, summary.inputs, write_value_info_json<Out>);
  out.key("ir_version");
  out.value(optional_json(summary.ir_version));
  out.key("nodes");
  write_number(out, summary.nodes.size());
  out.key("op_counts");
  write_op_counts(out, summary.op_counts);
  out.key("outputs");
  write_array(out, summary.outputs, write_value_info_json<Out>);
  out.key("parameter_memory_bytes");
  write_number(out, summary.parameter_memory_bytes);
  out.key("parameter_values");
  write_number(out, summary.parameter_values);
  out.key("path");
  out.string(summary.path);
  out.key("producer");
  write_optional_text(out, summary.producer);
  out.key("value_info_entries");
  write_number(out, summary.value_info_entries);
  out.end();
}

template <class Out>
void write_onnx_tensor_json(Out& out, const OnnxInitializer& initializer) {
  out.begin_object();
  out.key("data_fingerprint");
  out.value(optional_fingerprint_json(initializer.data_fingerprint));
  out.key("data_location");
  out.value(optional_json(initializer.data_location));
  out.key("data_type");
  out.value(optional_json(initializer.data_type));
  out.key("dtype");
  out.string(onnx_dtype_name(initializer.data_type));
  out.key("estimated_bytes");
  write_number(out, estimated_bytes(initializer));
  out.key("external_data");
  out.value(JsonValue(onnx_external_data(initializer)));
  out.key("external_data_entries");
  write_number(out, initializer.external_data_entries);
  out.key("external_data_fingerprint");
  out.value(optional_fingerprint_json(initializer.external_data_fingerprint));
  out.key("raw_data_bytes");
  write_number(out, initializer.raw_data_bytes);
  out.key("shape");
  write_array(out, initializer.dims, [](Out& out, std::int64_t dim) { out.value(JsonValue(dim)); });
  out.key("values");
  write_number(out, onnx_value_count(initializer));
  out.end();
}

template <class Out>
void write_named_tensor_json(Out& out, std::string_view name, const OnnxInitializer& initializer) {
  out.begin_object();
  out.key("name");
  out.string(name);
  out.key("tensor");
  write_onnx_tensor_json(out, initializer);
  out.end();
}

template <class Out>
void write_onnx_inspect_json(Out& out, const OnnxSummary& summary) {
  out.begin_object();
  out.key("initializers");
  write_array(out, summary.initializers, [](Out& out, const OnnxInitializer& initializer) {
    write_named_tensor_json(out, initializer.name, initializer);
  });
  out.key("kind");
  out.string("onnx_inspect");
  out.key("model_type");
  out.string("ONNX");
  out.key("most_expensive_ops");
  write_array(out, costliest_nodes(summary, kJsonCostRows, true),
              [&summary](Out& out, const CostRow& row) {
                out.begin_object();
                out.key("estimated_ops");
                write_number(out, row.ops);
                out.key("name");
                out.string(row.name);
                out.key("op_type");
                out.string(summary.nodes[row.index].op_type);
                out.end();
              });
  out.key("note");
  out.begin_array();
  out.string(kNoteExecution);
  out.string(kNoteEstimates);
  out.end();
  out.key("operator_mix");
  write_op_counts(out, summary.op_counts);
  out.key("opsets");
  write_array(out, summary.opset_imports, write_opset_import_json<Out>);
  out.key("summary");
  write_onnx_summary_json(out, summary);
  out.end();
}

// Both outputs of each writer, for the other reports and the value forms.
template void write_onnx_summary_json(JsonStream&, const OnnxSummary&);
template void write_onnx_summary_json(JsonBuilder&, const OnnxSummary&);
template void write_onnx_tensor_json(JsonStream&, const OnnxInitializer&);
template void write_onnx_tensor_json(JsonBuilder&, const OnnxInitializer&);
template void write_named_tensor_json(JsonStream&, std::string_view, const OnnxInitializer&);
template void write_named_tensor_json(JsonBuilder&, std::string_view, const OnnxInitializer&);
template void write_onnx_inspect_json(JsonStream&, const OnnxSummary&);
template void write_onnx_inspect_json(JsonBuilder&, const OnnxSummary&);

JsonValue onnx_summary_json(const OnnxSummary& summary) {
  return build_json([&](JsonBuilder& out) { write_onnx_summary_json(out, summary); });
}

JsonValue onnx_inspect_json(const OnnxSummary& summary) {
  return build_json([&](JsonBuilder& out) { write_onnx_inspect_json(out, summary); });
}

CommandResult cmd_onnx(const std::vector<std::string>& words) {
  const Result<InspectOptions> options =
      scan_inspect_words(words, DeepOption::Path, kUsage, PathCount::One);
  if (!options) return fail(options.error());
  return run_inspect<OnnxSummary>(*options, read_onnx,
                                  stream_json_documents<OnnxSummary, write_onnx_inspect_json>,
                                  print_report);
}

}  // namespace orvik
