#include "onnx/onnx_reader.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <utility>

#include <fmt/core.h>
#include <fmt/format.h>

#include "onnx/onnx_cost.hpp"
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

// The number of length-delimited fields of each number below counts.size() in a message, so that
// its lists are allocated once at their size. Counting stops at a malformed field; the walk that
// decodes the message fails there.
template <std::size_t N>
std::array<std::size_t, N> count_messages(std::string_view message) {
  std::array<std::size_t, N> counts{};
  ProtoFieldReader reader(message);
  ProtoField field;
  while (reader.next(field)) {
    if (field.wire_type == kWireLengthDelimited && field.number < N) ++counts[field.number];
  }
  return counts;
}

// Sets (last wins) or appends a selected text field, which must be UTF-8. The text is still a
// view into the file: a message's decoder copies what it keeps into the arena once the message is
// read, so a field repeated a million times is copied once.
template <class Target>
Result<void> take_text(const ProtoField& field, Target& target) {
  auto text = read_proto_string(field.payload);
  if (!text) return fail(std::move(text.error()));
  if constexpr (std::is_same_v<Target, std::vector<std::string_view>>) {
    target.push_back(*text);
  } else {
    target = *text;
  }
  return {};
}

// The texts of a list, then the list itself, copied into `arena`.
std::span<const std::string_view> copy_texts(Arena& arena, std::vector<std::string_view>& texts) {
  for (std::string_view& text : texts)
    text = arena.copy_text(text);
  return arena.copy_list(texts);
}

// What one read works with: the arena of the summary, which keeps everything the summary holds;
// one for the value_info entries, which only the cost estimates read and which go with the read;
// and the lists of the message being decoded, reused from message to message.
struct ReadState {
  explicit ReadState(Arena& kept_arena) : kept(kept_arena) {}

  Arena& kept;
  Arena dropped;
  std::vector<std::string_view> inputs;
  std::vector<std::string_view> outputs;
  std::vector<OnnxAttribute> attributes;
  std::vector<std::int64_t> dims;
  std::vector<std::string_view> shape;
};

Result<void> read_opset_import(ReadState& state, std::string_view message, OnnxOpsetImport& opset) {
  auto read = visit_proto_fields(message, [&](const ProtoField& field) -> Result<void> {
    switch (tag(field)) {
      case tag(1, kWireLengthDelimited):
        return take_text(field, opset.domain);
      case tag(2, kWireVarint):
        opset.version = static_cast<std::int64_t>(field.value);
        break;
    }
    return {};
  });
  if (!read) return read;
  opset.domain = state.kept.copy_text(opset.domain);
  return {};
}

// Only the attributes that carry an integer matter: their name (1) and value i (3).
Result<void> read_attribute(std::string_view message, std::vector<OnnxAttribute>& attributes) {
  std::optional<std::string_view> name;
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
  if (read && name && value) attributes.push_back({*name, *value});
  return read;
}

// The attributes in name order, each name once with its last value, copied into `arena`.
std::span<const OnnxAttribute> copy_attributes(Arena& arena,
                                               std::vector<OnnxAttribute>& attributes) {
  std::stable_sort(attributes.begin(), attributes.end(),
                   [](const OnnxAttribute& a, const OnnxAttribute& b) { return a.name < b.name; });
  // Of a run of one name, the last (in wire order) stays.
  const auto last_of_run =
      std::unique(attributes.rbegin(), attributes.rend(),
                  [](const OnnxAttribute& a, const OnnxAttribute& b) { return a.name == b.name; });
  attributes.erase(attributes.begin(), last_of_run.base());
  for (OnnxAttribute& attribute : attributes)
    attribute.name = arena.copy_text(attribute.name);
  return arena.copy_list(attributes);
}

Result<void> read_node(ReadState& state, std::string_view message, OnnxNode& node) {
  state.inputs.clear();
  state.outputs.clear();
  state.attributes.clear();
  std::optional<std::string_view> op_type;
  auto read = visit_proto_fields(message, [&](const ProtoField& field) -> Result<void> {
    switch (tag(field)) {
      case tag(1, kWireLengthDelimited):
        return take_text(field, state.inputs);
      case tag(2, kWireLengthDelimited):
        return take_text(field, state.outputs);
      case tag(3, kWireLengthDelimited):
        return take_text(field, node.name);
      case tag(4, kWireLengthDelimited):
        return take_text(field, op_type);
      case tag(5, kWireLengthDelimited):
        return read_attribute(field.payload, state.attributes);
    }
    return {};
  });
  if (!read) return read;
  Arena& arena = state.kept;
  if (op_type) node.op_type = arena.copy_text(*op_type);
  if (node.name) node.name = arena.copy_text(*node.name);
  node.inputs = copy_texts(arena, state.inputs);
  node.outputs = copy_texts(arena, state.outputs);
  node.attributes = copy_attributes(arena, state.attributes);
  return {};
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

Result<void> read_tensor(ReadState& state, std::string_view message, OnnxInitializer& tensor) {
  state.dims.clear();
  auto read = visit_proto_fields(message, [&](const ProtoField& field) -> Result<void> {
    if (is_data_field(field.number)) fold_field(tensor.data_fingerprint, field);
    switch (tag(field)) {
      case tag(1, kWireVarint):
        state.dims.push_back(static_cast<std::int64_t>(field.value));
        break;
      case tag(1, kWireLengthDelimited):
        return read_packed_dims(field.payload, state.dims);
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
  if (!read) return read;
  tensor.name = state.kept.copy_text(tensor.name);
  tensor.dims = state.kept.copy_list(state.dims);
  return {};
}

// A Dimension: "?" until a dim_value (1) or dim_param (2) sets it; the last one wins. Its text is
// made in `arena` once the message is read.
Result<void> read_dimension(std::string_view message, Arena& arena,
                            std::vector<std::string_view>& shape) {
  std::optional<ProtoField> last;
  auto read = visit_proto_fields(message, [&](const ProtoField& field) -> Result<void> {
    switch (tag(field)) {
      case tag(1, kWireVarint):
        last = field;
        break;
      case tag(2, kWireLengthDelimited):
        if (auto text = read_proto_string(field.payload); !text) return fail(text.error());
        last = field;
        break;
    }
    return {};
  });
  if (!read) return read;
  if (!last) {
    shape.push_back("?");
  } else if (last->wire_type == kWireVarint) {
    char digits[24];
    const auto end =
        std::to_chars(digits, digits + sizeof digits, static_cast<std::int64_t>(last->value)).ptr;
    shape.push_back(arena.copy_text({digits, end}));
  } else {
    shape.push_back(arena.copy_text(last->payload));
  }
  return {};
}

Result<void> read_shape(std::string_view message, Arena& arena,
                        std::vector<std::string_view>& shape) {
  return visit_proto_fields(message, [&](const ProtoField& field) -> Result<void> {
    if (tag(field) != tag(1, kWireLengthDelimited)) return {};
    return read_dimension(field.payload, arena, shape);
  });
}

// TypeProto.tensor_type: elem_type (1) and shape (2); each shape replaces the earlier one.
Result<void> read_tensor_type(ReadState& state, std::string_view message, Arena& arena,
                              OnnxValueInfo& info) {
  return visit_proto_fields(message, [&](const ProtoField& field) -> Result<void> {
    switch (tag(field)) {
      case tag(1, kWireVarint):
        info.elem_type = low_i32(field.value);
        break;
      case tag(2, kWireLengthDelimited):
        state.shape.clear();
        return read_shape(field.payload, arena, state.shape);
    }
    return {};
  });
}

// A TypeProto: only its first tensor_type is decoded; any other type leaves no element type and
// no shape. Each type field of a value info replaces both.
Result<void> read_type(ReadState& state, std::string_view message, Arena& arena,
                       OnnxValueInfo& info) {
  info.elem_type.reset();
  state.shape.clear();
  bool have_tensor_type = false;
  return visit_proto_fields(message, [&](const ProtoField& field) -> Result<void> {
    if (have_tensor_type || tag(field) != tag(1, kWireLengthDelimited)) return {};
    have_tensor_type = true;
    return read_tensor_type(state, field.payload, arena, info);
  });
}

// A value info whose texts and shape `arena` keeps.
Result<void> read_value_info(ReadState& state, std::string_view message, Arena& arena,
                             OnnxValueInfo& info) {
  state.shape.clear();
  auto read = visit_proto_fields(message, [&](const ProtoField& field) -> Result<void> {
    switch (tag(field)) {
      case tag(1, kWireLengthDelimited):
        return take_text(field, info.name);
      case tag(2, kWireLengthDelimited):
        return read_type(state, field.payload, arena, info);
    }
    return {};
  });
  if (!read) return read;
  info.name = arena.copy_text(info.name);
  info.shape = arena.copy_list(state.shape);
  return {};
}

// A graph goes straight into the summary, all but its value_info entries, which only the cost
// estimates read. Only the last graph counts, whole, so each one starts from nothing.
Result<void> read_graph(ReadState& state, std::string_view message, OnnxSummary& graph,
                        std::vector<OnnxValueInfo>& value_info) {
  const auto counts = count_messages<14>(message);
  graph.graph_name.reset();
  const auto start_list = [](auto& list, std::uint64_t count) {
    list = {};
    list.reserve(count);
  };
  start_list(graph.nodes, counts[1]);
  start_list(graph.initializers, counts[5]);
  start_list(graph.inputs, counts[11]);
  start_list(graph.outputs, counts[12]);
  start_list(value_info, counts[13]);
  return visit_proto_fields(message, [&](const ProtoField& field) -> Result<void> {
    const std::string_view payload = field.payload;
    switch (tag(field)) {
      case tag(1, kWireLengthDelimited):
        return read_node(state, payload, graph.nodes.emplace_back());
      case tag(2, kWireLengthDelimited): {
        std::optional<std::string_view> name;
        if (auto taken = take_text(field, name); !taken) return taken;
        graph.graph_name = std::string(*name);
        break;
      }
      case tag(5, kWireLengthDelimited):
        return read_tensor(state, payload, graph.initializers.emplace_back());
      case tag(11, kWireLengthDelimited):
        return read_value_info(state, payload, state.kept, graph.inputs.emplace_back());
      case tag(12, kWireLengthDelimited):
        return read_value_info(state, payload, state.kept, graph.outputs.emplace_back());
      case tag(13, kWireLengthDelimited):
        return read_value_info(state, payload, state.dropped, value_info.emplace_back());
    }
    return {};
  });
}

// Counts per op_type, by count descending and then op_type ascending. Runs of one type are
// counted first: a graph of millions of nodes mostly repeats a few types, and then the counting
// holds a few entries, not one per node.
std::vector<OpCount> count_operators(const std::vector<OnnxNode>& nodes) {
  std::vector<OpCount> ops;
  for (const OnnxNode& node : nodes) {
    if (ops.empty() || ops.back().op_type != node.op_type) ops.push_back({node.op_type, 0});
    ops.back().count += 1;
  }
  std::sort(ops.begin(), ops.end(),
            [](const OpCount& a, const OpCount& b) { return a.op_type < b.op_type; });
  std::size_t kept = 0;
  for (std::size_t i = 0; i < ops.size(); ++i) {
    if (kept > 0 && ops[kept - 1].op_type == ops[i].op_type) {
      ops[kept - 1].count += ops[i].count;
    } else {
      ops[kept++] = ops[i];
    }
  }
  ops.resize(kept);
  ops.shrink_to_fit();
  std::sort(ops.begin(), ops.end(), [](const OpCount& a, const OpCount& b) {
    return a.count != b.count ? a.count > b.count : a.op_type < b.op_type;
  });
  return ops;
}

// A value info enters the shape map only when every dimension text is a plain unsigned decimal.
void insert_stated_shape(ShapeMap& shapes, const OnnxValueInfo& info) {
  std::vector<std::int64_t> dims;
  dims.reserve(info.shape.size());
  for (const std::string_view text : info.shape) {
    auto value = parse_u64(text);
    if (!value) return;
    dims.push_back(static_cast<std::int64_t>(*value));
  }
  shapes.insert_or_assign(info.name, std::move(dims));
}

// The shapes of the names the cost estimates look up, and no others.
ShapeMap build_shape_map(const OnnxSummary& graph, const std::vector<OnnxValueInfo>& value_info) {
  ShapeMap shapes;
  const std::vector<std::string_view> needed = cost_shape_names(graph.nodes);
  if (needed.empty()) return shapes;
  const auto is_needed = [&needed](std::string_view name) {
    return std::binary_search(needed.begin(), needed.end(), name);
  };
  for (const auto* list : {&graph.inputs, &graph.outputs, &value_info}) {
    for (const OnnxValueInfo& info : *list) {
      if (is_needed(info.name)) insert_stated_shape(shapes, info);
    }
  }
  for (const OnnxInitializer& initializer : graph.initializers) {
    if (!is_needed(initializer.name)) continue;
    shapes.insert_or_assign(initializer.name, std::vector<std::int64_t>(initializer.dims.begin(),
                                                                        initializer.dims.end()));
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
  ReadState state(summary.arena);
  std::vector<OnnxValueInfo> value_info;
  bool have_graph = false;
  summary.opset_imports.reserve(count_messages<9>(bytes)[8]);
  auto read = visit_proto_fields(bytes, [&](const ProtoField& field) -> Result<void> {
    switch (tag(field)) {
      case tag(1, kWireVarint):
        summary.ir_version = static_cast<std::int64_t>(field.value);
        break;
      case tag(2, kWireLengthDelimited): {
        std::optional<std::string_view> producer;
        if (auto taken = take_text(field, producer); !taken) return taken;
        summary.producer = std::string(*producer);
        break;
      }
      case tag(7, kWireLengthDelimited):
        have_graph = true;
        return read_graph(state, field.payload, summary, value_info);
      case tag(8, kWireLengthDelimited):
        return read_opset_import(state, field.payload, summary.opset_imports.emplace_back());
    }
    return {};
  });
  if (!read) return fail(std::move(read.error()));
  if (!have_graph) return fail("ONNX ModelProto did not contain graph field");

  summary.path = display_name(path);
  if (!is_valid_utf8(summary.path)) summary.path = path;
  summary.file_size_bytes = bytes.size();
  summary.op_counts = count_operators(summary.nodes);
  summary.node_costs = node_cost_rows(summary.nodes, build_shape_map(summary, value_info));
  for (const OnnxNodeCost& cost : summary.node_costs)
    summary.estimated_ops += cost.estimated_ops.value_or(0);
  for (const OnnxInitializer& initializer : summary.initializers) {
    const std::uint64_t values = onnx_value_count(initializer);
    summary.parameter_values += values;
    summary.parameter_memory_bytes += values * onnx_element_size(initializer.data_type);
  }
  summary.value_info_entries = value_info.size();
  return summary;
}

std::optional<std::int64_t> onnx_attribute(std::span<const OnnxAttribute> attributes,
                                           std::string_view name) {
  const auto found = std::ranges::lower_bound(attributes, name, {}, &OnnxAttribute::name);
  if (found == attributes.end() || found->name != name) return std::nullopt;
  return found->value;
}

std::string format_dim_texts(std::span<const std::string_view> shape) {
  if (shape.empty()) return "?";
  return fmt::format("[{}]", fmt::join(shape, ", "));
}

std::string format_dims(std::span<const std::int64_t> dims) {
  if (dims.empty()) return "scalar";
  std::string text = "[";
  for (std::size_t i = 0; i < dims.size(); ++i) {
    if (i > 0) text += ", ";
    text += fmt::format("{}", static_cast<std::uint64_t>(dims[i]));
  }
  return text + "]";
}

JsonValue opset_import_to_value(const OnnxOpsetImport& opset) {
  return build_json([&](JsonBuilder& out) { write_opset_import_json(out, opset); });
}

JsonValue value_info_to_value(const OnnxValueInfo& value_info) {
  return build_json([&](JsonBuilder& out) { write_value_info_json(out, value_info); });
}

}  // namespace orvik
