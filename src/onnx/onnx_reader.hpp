#pragma once
// Static reader of ONNX models (a serialized ModelProto), decoded with the wire decoder and no
// ONNX library: model metadata, opset imports, the graph's nodes, initializers, inputs and
// outputs, an operator histogram, per-node cost estimates, parameter totals and one fingerprint
// per initializer. Only the handful of fields named below are read; everything else is skipped.
//
// Field selection follows protobuf: a message is checked whole before any of its fields is used;
// a known field with an unexpected wire type is skipped; a singular field takes its last
// occurrence; a repeated field appends; a sub-message is decoded when its field is reached, so
// its errors end the read there. Counts and totals are unsigned 64-bit and wrap on overflow.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "artifact_kind/artifact_kind.hpp"
#include "util/arena.hpp"
#include "util/json.hpp"
#include "util/result.hpp"

namespace orvik {

// The texts and lists of the records below are views into the arena of the summary that holds
// them (or, for records made by hand, into storage that outlives them): a file of millions of tiny
// entries costs a few words per entry, not a string or vector object per field.

// One OperatorSetIdProto.
struct OnnxOpsetImport {
  std::string_view domain;  // empty when absent
  std::optional<std::int64_t> version;
};

// One integer attribute of a node.
struct OnnxAttribute {
  std::string_view name;
  std::int64_t value = 0;
};

// One NodeProto.
struct OnnxNode {
  std::string_view op_type = "Unknown";  // "Unknown" when absent; a present empty one stays empty
  std::span<const std::string_view> inputs;  // empty names kept, so positions hold
  std::span<const std::string_view> outputs;
  std::optional<std::string_view> name;
  // Only attributes with both a name and an integer value (field i), in ascending byte order of
  // their names, each name once: a later one replaces an earlier one. Float, string, tensor, graph
  // and list attributes are never stored.
  std::span<const OnnxAttribute> attributes;
};

// One TensorProto of the graph's initializer list.
struct OnnxInitializer {
  std::string_view name;                      // empty when absent
  std::span<const std::int64_t> dims;         // packed and unpacked forms read alike
  std::optional<std::int32_t> data_type;      // the TensorProto data type code
  std::optional<std::int32_t> data_location;  // 1: external
  std::uint64_t raw_data_bytes = 0;           // length of the (last) raw_data payload
  std::uint64_t external_data_entries = 0;
  // FNV-1a over the inline data fields in wire order (float_data, int32_data, string_data,
  // int64_data, raw_data, double_data, uint64_data, any wire type): for each, its number as four
  // little-endian bytes, its wire type as one byte, then its payload, or, when the payload is
  // empty (a varint, an empty length-delimited field), the varint value as eight little-endian
  // bytes. Keys and length prefixes are not hashed, so packed, unpacked and raw forms of the same
  // numbers differ. Absent when the tensor has no data field.
  std::optional<Fingerprint> data_fingerprint;
  // The same fold over the external_data entries (field 13, each payload taken as bytes); absent
  // when there are none.
  std::optional<Fingerprint> external_data_fingerprint;
};

// One ValueInfoProto: a graph input, output or value_info entry.
struct OnnxValueInfo {
  std::string_view name;                  // empty when absent
  std::optional<std::int32_t> elem_type;  // the tensor element type code
  // One text per dimension: the signed decimal dim_value, the dim_param, or "?" for neither.
  // Empty when the type is not a tensor type or states no shape.
  std::span<const std::string_view> shape;
};

// The cost row of one node: its estimate from the shapes the file states (onnx_cost.hpp). The
// row's name and operator type are the node's (onnx_node_cost_name).
struct OnnxNodeCost {
  std::optional<std::uint64_t> estimated_ops;
};

struct OpCount {
  std::string_view op_type;
  std::uint64_t count = 0;
};

struct OnnxSummary {
  std::string path;  // display name; the path as passed when that name is not UTF-8
  std::uint64_t file_size_bytes = 0;
  std::optional<std::int64_t> ir_version;
  std::optional<std::string> producer;  // producer_name
  std::optional<std::string> graph_name;
  std::vector<OnnxOpsetImport> opset_imports;
  // From the last graph field of the model; earlier ones are decoded (and may fail the read) but
  // leave nothing behind.
  std::vector<OnnxNode> nodes;
  std::vector<OnnxInitializer> initializers;
  std::vector<OnnxValueInfo> inputs;
  std::vector<OnnxValueInfo> outputs;
  std::uint64_t value_info_entries = 0;  // the entries themselves only feed the cost estimates
  std::vector<OpCount> op_counts;  // by count descending, ties by op_type ascending (byte order)
  std::vector<OnnxNodeCost> node_costs;      // one per node, in node order
  std::uint64_t parameter_values = 0;        // sum of the initializers' value counts
  std::uint64_t parameter_memory_bytes = 0;  // sum of value count times element size
  std::uint64_t estimated_ops = 0;           // sum of the node estimates that are present
  // The texts and lists the records above view. A summary moves; it cannot be copied.
  Arena arena;
};

// Reads the model at `path` (mapped, not copied, when it is a regular file). Errors: "read {}: {}"
// (path as passed, system error text), a wire decoder message unchanged (see proto_wire.hpp;
// neither the path nor the field is added), and "ONNX ModelProto did not contain graph field"
// when no graph field of wire type 2 is present.
Result<OnnxSummary> read_onnx(const std::string& path);

// The same for bytes already in memory; `path` gives only the display name.
Result<OnnxSummary> read_onnx_bytes(const std::string& path, std::string_view bytes);

// Number of values of an initializer: the product of its dims, wrapping; 1 for a scalar.
std::uint64_t onnx_value_count(const OnnxInitializer& initializer);

// Bytes per element of a data type code: 1 for UINT8, INT8 and BOOL (2, 3, 9); 2 for UINT16,
// INT16, FLOAT16 and BFLOAT16 (4, 5, 10, 16); 8 for INT64, DOUBLE and UINT64 (7, 11, 13); 4 for
// every other code (FLOAT, INT32, UINT32, STRING, COMPLEX64, COMPLEX128, unknown ones) and none.
std::uint64_t onnx_element_size(std::optional<std::int32_t> data_type);

// The value of the attribute `name` of a node's attributes, when they have it.
std::optional<std::int64_t> onnx_attribute(std::span<const OnnxAttribute> attributes,
                                           std::string_view name);

// A value info's shape texts as "[batch, 3]"; "?" when there are none.
std::string format_dim_texts(std::span<const std::string_view> shape);

// Initializer dims as "[1, 3]", each as the unsigned decimal of its 64-bit pattern (so -1 prints
// 18446744073709551615); "scalar" when there are none.
std::string format_dims(std::span<const std::int64_t> dims);

// {"domain": text, "version": number or null}, written to a JsonStream or a JsonBuilder with its
// keys in ascending order; opset_import_to_value builds it.
template <class Out>
void write_opset_import_json(Out& out, const OnnxOpsetImport& opset) {
  out.begin_object();
  out.key("domain");
  out.string(opset.domain);
  out.key("version");
  out.value(optional_json(opset.version));
  out.end();
}
JsonValue opset_import_to_value(const OnnxOpsetImport& opset);

// {"elem_type": number or null, "name": text, "shape": [texts]}, the same two ways.
template <class Out>
void write_value_info_json(Out& out, const OnnxValueInfo& value_info) {
  out.begin_object();
  out.key("elem_type");
  out.value(optional_json(value_info.elem_type));
  out.key("name");
  out.string(value_info.name);
  out.key("shape");
  out.begin_array();
  for (const std::string_view dim : value_info.shape)
    out.string(dim);
  out.end();
  out.end();
}
JsonValue value_info_to_value(const OnnxValueInfo& value_info);

}  // namespace orvik
