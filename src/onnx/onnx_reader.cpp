#include "onnx/onnx_reader.hpp"

#include <algorithm>
#include <type_traits>
#include <utility>

#include <fmt/core.h>
#include <fmt/format.h>

#include "onnx/proto_wire.hpp"
#include "util/file.hpp"
#include "util/text.hpp"

namespace orvik {
namespace {

// A field number and wire type as one switch label.
constexpr std::uint64_t tag(std::uint32_t number, std::uint8_t wire_type) {
  return std::uint64_t{number} << 3 | wire_type;
}

std::uint64_t tag(const ProtoField& field) {
  return tag(field.number, field.wire_type);
}

// The low 32 bits of a varint, as a signed number.
std::int32_t low_i32(std::uint64_t value) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
}

// Assigns (last wins) or appends a selected text field; the text must be UTF-8.
template <class Target>
Result<void> take_text(const ProtoField& field, Target& target) {
  auto text = read_proto_string(field.payload);
  if (!text) return fail(std::move(text.error()));
  if constexpr (std::is_same_v<Target, std::vector<std::string>>) {
    target.push_back(std::move(*text));
  } else {
    target = std::move(*text);
  }
  return {};
}

// Decodes a sub-message into a fresh record and hands it to `keep` (which appends it or replaces
// an earlier one), so a later occurrence replaces an earlier one whole.
template <class Record, class Decode, class Keep>
Result<void> take_message(const ProtoField& field, Decode decode, Keep keep) {
  Record record;
  if (auto decoded = decode(field.payload, record); !decoded) return decoded;
  keep(std::move(record));
  return {};
}

struct OnnxGraph {
  std::optional<std::string> name;
  std::vector<OnnxNode> nodes;
  std::vector<OnnxInitializer> initializers;
  std::vector<OnnxValueInfo> inputs;
  std::vector<OnnxValueInfo> outputs;
  std::vector<OnnxValueInfo> value_info;
};

Result<void> read_opset_import(std::string_view message, OnnxOpsetImport& opset) {
  return visit_proto_fields(message, [&](const ProtoField& field) -> Result<void> {
    switch (tag(field)) {
      case tag(1, kWireLengthDelimited):
        return take_text(field, opset.domain);
      case tag(2, kWireVarint):
        opset.version = static_cast<std::int64_t>(field.value);
        break;
    }
    return {};
  });
}

// Only the attributes that carry an integer matter: their name (1) and value i (3).
Result<void> read_attribute(std::string_view message, OnnxNode& node) {
  std::optional<std::string> name;
  std::optional<std::int64_t> value;
  auto read = visit_proto_fields(message, [&](const ProtoField& field) -> Result<void> {
    switch (tag(field)) {
      case tag(1, kWireLengthDelimited):
        return take_text(field, name);
      case tag(3, kWireVarint):
        value = static_cast<std::int64_t>(field.value);
        break;
    }
    return {};
  });
  if (read && name && value) node.attributes.insert_or_assign(std::move(*name), *value);
  return read;
}

Result<void> read_node(std::string_view message, OnnxNode& node) {
  return visit_proto_fields(message, [&](const ProtoField& field) -> Result<void> {
    switch (tag(field)) {
      case tag(1, kWireLengthDelimited):
        return take_text(field, node.inputs);
      case tag(2, kWireLengthDelimited):
        return take_text(field, node.outputs);
      case tag(3, kWireLengthDelimited):
        return take_text(field, node.name);
      case tag(4, kWireLengthDelimited):
        return take_text(field, node.op_type);
      case tag(5, kWireLengthDelimited):
        return read_attribute(field.payload, node);
    }
    return {};
  });
}

// Folds one field into a running fingerprint: its number as four little-endian bytes, its wire
// type, then its payload, or its varint value as eight bytes when the payload is empty.
void fold_field(std::optional<Fingerprint>& fingerprint, const ProtoField& field) {
  Fingerprint state = fingerprint.value_or(kFnvOffsetBasis);
  for (int i = 0; i < 4; ++i) {
    state = fnv1a64_step(state, static_cast<unsigned char>(field.number >> (8 * i)));
  }
  state = fnv1a64_step(state, field.wire_type);
  state = field.payload.empty() ? fnv1a64_u64(state, field.value) : fnv1a64(state, field.payload);
  fingerprint = state;
}

bool is_data_field(std::uint32_t number) {
  // float_data, int32_data, string_data, int64_data, raw_data, double_data, uint64_data
  return (number >= 4 && number <= 7) || (number >= 9 && number <= 11);
}

Result<void> read_packed_dims(std::string_view payload, std::vector<std::int64_t>& dims) {
  std::size_t cursor = 0;
  while (cursor < payload.size()) {
    auto value = read_varint(payload, cursor);
    if (!value) return fail(std::move(value.error()));
    dims.push_back(static_cast<std::int64_t>(*value));
  }
  return {};
}

Result<void> read_tensor(std::string_view message, OnnxInitializer& tensor) {
  return visit_proto_fields(message, [&](const ProtoField& field) -> Result<void> {
    if (is_data_field(field.number)) fold_field(tensor.data_fingerprint, field);
    switch (tag(field)) {
      case tag(1, kWireVarint):
        tensor.dims.push_back(static_cast<std::int64_t>(field.value));
        break;
      case tag(1, kWireLengthDelimited):
        return read_packed_dims(field.payload, tensor.dims);
      case tag(2, kWireVarint):
        tensor.data_type = low_i32(field.value);
        break;
      case tag(8, kWireLengthDelimited):
        return take_text(field, tensor.name);
      case tag(9, kWireLengthDelimited):
        tensor.raw_data_bytes = field.payload.size();
        break;
      case tag(13, kWireLengthDelimited):
        fold_field(tensor.external_data_fingerprint, field);
        tensor.external_data_entries += 1;
        break;
      case tag(14, kWireVarint):
        tensor.data_location = low_i32(field.value);
        break;
    }
    return {};
  });
}

// A Dimension: "?" until a dim_value (1) or dim_param (2) sets it; the last one wins.
Result<void> read_dimension(std::string_view message, std::vector<std::string>& shape) {
  std::string text = "?";
  auto read = visit_proto_fields(message, [&](const ProtoField& field) -> Result<void> {
    switch (tag(field)) {
      case tag(1, kWireVarint):
        text = fmt::format("{}", static_cast<std::int64_t>(field.value));
        break;
      case tag(2, kWireLengthDelimited):
        return take_text(field, text);
    }
    return {};
  });
  if (read) shape.push_back(std::move(text));
  return read;
}

Result<void> read_shape(std::string_view message, std::vector<std::string>& shape) {
  return visit_proto_fields(message, [&](const ProtoField& field) -> Result<void> {
    if (tag(field) == tag(1, kWireLengthDelimited)) return read_dimension(field.payload, shape);
    return {};
  });
}

// TypeProto.tensor_type: elem_type (1) and shape (2); each shape replaces the earlier one.
Result<void> read_tensor_type(std::string_view message, OnnxValueInfo& info) {
  return visit_proto_fields(message, [&](const ProtoField& field) -> Result<void> {
    switch (tag(field)) {
      case tag(1, kWireVarint):
        info.elem_type = low_i32(field.value);
        break;
      case tag(2, kWireLengthDelimited):
        return take_message<std::vector<std::string>>(
            field, read_shape,
            [&](std::vector<std::string> shape) { info.shape = std::move(shape); });
    }
    return {};
  });
}

// A TypeProto: only its first tensor_type is decoded; any other type leaves no element type and
// no shape. Each type field of a value info replaces both.
Result<void> read_type(std::string_view message, OnnxValueInfo& info) {
  info.elem_type.reset();
  info.shape.clear();
  bool have_tensor_type = false;
  return visit_proto_fields(message, [&](const ProtoField& field) -> Result<void> {
    if (have_tensor_type || tag(field) != tag(1, kWireLengthDelimited)) return {};
    have_tensor_type = true;
    return read_tensor_type(field.payload, info);
  });
}

Result<void> read_value_info(std::string_view message, OnnxValueInfo& info) {
  return visit_proto_fields(message, [&](const ProtoField& field) -> Result<void> {
    switch (tag(field)) {
      case tag(1, kWireLengthDelimited):
        return take_text(field, info.name);
      case tag(2, kWireLengthDelimited):
        return read_type(field.payload, info);
    }
    return {};
  });
}

template <class Record>
auto append_to(std::vector<Record>& list) {
  return [&list](Record record) { list.push_back(std::move(record)); };
}

Result<void> read_graph(std::string_view message, OnnxGraph& graph) {
  return visit_proto_fields(message, [&](const ProtoField& field) -> Result<void> {
    switch (tag(field)) {
      case tag(1, kWireLengthDelimited):
        return take_message<OnnxNode>(field, read_node, append_to(graph.nodes));
      case tag(2, kWireLengthDelimited):
        return take_text(field, graph.name);
      case tag(5, kWireLengthDelimited):
        return take_message<OnnxInitializer>(field, read_tensor, append_to(graph.initializers));
      case tag(11, kWireLengthDelimited):
        return take_message<OnnxValueInfo>(field, read_value_info, append_to(graph.inputs));
      case tag(12, kWireLengthDelimited):
        return take_message<OnnxValueInfo>(field, read_value_info, append_to(graph.outputs));
      case tag(13, kWireLengthDelimited):
        return take_message<OnnxValueInfo>(field, read_value_info, append_to(graph.value_info));
    }
    return {};
  });
}

// Counts per op_type in byte order, then a stable sort by count descending.
std::vector<OpCount> count_operators(const std::vector<OnnxNode>& nodes) {
  std::map<std::string_view, std::uint64_t> counts;
  for (const OnnxNode& node : nodes)
    counts[node.op_type] += 1;
  std::vector<OpCount> ops;
  ops.reserve(counts.size());
  for (const auto& [op_type, count] : counts)
    ops.push_back({std::string(op_type), count});
  std::stable_sort(ops.begin(), ops.end(),
                   [](const OpCount& a, const OpCount& b) { return a.count > b.count; });
  return ops;
}

// A value info enters the shape map only when every dimension text is a plain unsigned decimal.
void insert_stated_shape(ShapeMap& shapes, const OnnxValueInfo& info) {
  std::vector<std::int64_t> dims;
  dims.reserve(info.shape.size());
  for (const std::string& text : info.shape) {
    auto value = parse_u64(text);
    if (!value) return;
    dims.push_back(static_cast<std::int64_t>(*value));
  }
  shapes.insert_or_assign(info.name, std::move(dims));
}

ShapeMap build_shape_map(const OnnxGraph& graph) {
  ShapeMap shapes;
  for (const auto* list : {&graph.inputs, &graph.outputs, &graph.value_info}) {
    for (const OnnxValueInfo& info : *list)
      insert_stated_shape(shapes, info);
  }
  for (const OnnxInitializer& initializer : graph.initializers) {
    shapes.insert_or_assign(initializer.name, initializer.dims);
  }
  return shapes;
}

}  // namespace

std::uint64_t onnx_value_count(const OnnxInitializer& initializer) {
  std::uint64_t count = 1;
  for (const std::int64_t dim : initializer.dims)
    count *= static_cast<std::uint64_t>(dim);
  return count;
}

std::uint64_t onnx_element_size(std::optional<std::int32_t> data_type) {
  switch (data_type.value_or(0)) {
    case 2:
    case 3:
    case 9:
      return 1;
    case 4:
    case 5:
    case 10:
    case 16:
      return 2;
    case 7:
    case 11:
    case 13:
      return 8;
    default:
      return 4;
  }
}

Result<OnnxSummary> read_onnx(const std::string& path) {
  return parse_file(path, nullptr,
                    [&](std::string_view bytes) { return read_onnx_bytes(path, bytes); });
}

Result<OnnxSummary> read_onnx_bytes(const std::string& path, std::string_view bytes) {
  OnnxSummary summary;
  std::optional<OnnxGraph> graph;
  auto read = visit_proto_fields(bytes, [&](const ProtoField& field) -> Result<void> {
    switch (tag(field)) {
      case tag(1, kWireVarint):
        summary.ir_version = static_cast<std::int64_t>(field.value);
        break;
      case tag(2, kWireLengthDelimited):
        return take_text(field, summary.producer);
      case tag(7, kWireLengthDelimited):
        return take_message<OnnxGraph>(field, read_graph,
                                       [&](OnnxGraph decoded) { graph = std::move(decoded); });
      case tag(8, kWireLengthDelimited):
        return take_message<OnnxOpsetImport>(field, read_opset_import,
                                             append_to(summary.opset_imports));
    }
    return {};
  });
  if (!read) return fail(std::move(read.error()));
  if (!graph) return fail("ONNX ModelProto did not contain graph field");

  summary.path = display_name(path);
  if (!is_valid_utf8(summary.path)) summary.path = path;
  summary.file_size_bytes = bytes.size();
  summary.op_counts = count_operators(graph->nodes);
  summary.node_costs = node_cost_rows(graph->nodes, build_shape_map(*graph));
  for (const OnnxNodeCost& cost : summary.node_costs)
    summary.estimated_ops += cost.estimated_ops.value_or(0);
  for (const OnnxInitializer& initializer : graph->initializers) {
    const std::uint64_t values = onnx_value_count(initializer);
    summary.parameter_values += values;
    summary.parameter_memory_bytes += values * onnx_element_size(initializer.data_type);
  }
  summary.value_info_entries = graph->value_info.size();
  summary.graph_name = std::move(graph->name);
  summary.nodes = std::move(graph->nodes);
  summary.initializers = std::move(graph->initializers);
  summary.inputs = std::move(graph->inputs);
  summary.outputs = std::move(graph->outputs);
  return summary;
}

std::string format_dim_texts(const std::vector<std::string>& shape) {
  if (shape.empty()) return "?";
  return fmt::format("[{}]", fmt::join(shape, ", "));
}

std::string format_dims(const std::vector<std::int64_t>& dims) {
  if (dims.empty()) return "scalar";
  std::string text = "[";
  for (std::size_t i = 0; i < dims.size(); ++i) {
    if (i > 0) text += ", ";
    text += fmt::format("{}", static_cast<std::uint64_t>(dims[i]));
  }
  return text + "]";
}

JsonValue opset_import_to_value(const OnnxOpsetImport& opset) {
  JsonValue value = JsonValue::object();
  value["domain"] = opset.domain;
  value["version"] = optional_json(opset.version);
  return value;
}

JsonValue value_info_to_value(const OnnxValueInfo& value_info) {
  JsonValue value = JsonValue::object();
  value["name"] = value_info.name;
  value["elem_type"] = optional_json(value_info.elem_type);
  value["shape"] = value_info.shape;
  return value;
}

}  // namespace orvik
