#pragma once
// The `onnx` command (also `inspect` of an ONNX model): the "ONNX Model Summary" of one model as
// text, or one JSON object of kind "onnx_inspect". Also the JSON objects that describe a summary,
// an initializer and a node cost, which the ONNX diff reuses, and the element-type names.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "onnx/onnx_reader.hpp"
#include "util/json.hpp"
#include "util/result.hpp"

namespace orvik {

// Words: "--json", "--limit N" (rows listed per section, 20 by default) and exactly one path;
// "--deep" and any other word are taken as the path. Errors: the usage line, "--limit needs a
// number", "parse --limit: {}", "unexpected argument `{}`" for a second path, and the reader's
// error; all of them before anything is printed.
CommandResult cmd_onnx(const std::vector<std::string>& words);

// The "ONNX Model Summary" text report; `limit` caps the rows of the inputs, outputs, operator mix
// and initializers (the five costliest nodes are listed whatever it says).
void print_onnx_report(const OnnxSummary& summary, std::uint64_t limit);

// "float32", "uint8", "int8", "uint16", "int16", "int32", "int64", "bool", "float16", "float64",
// "uint32", "uint64", "bfloat16" for the codes 1 to 7 and 9 to 13 and 16; "unknown" for 8
// (string), 14 and 15 (complex), any other code and no code.
std::string_view onnx_dtype_name(std::optional<std::int32_t> code);

// The graph inputs whose name is not the name of any initializer, in input order.
std::vector<const OnnxValueInfo*> inputs_without_initializers(const OnnxSummary& summary);

// One "{domain}={version}" per opset import, "{domain}=?" without a version; an empty domain is
// written "ai.onnx".
std::vector<std::string> format_opset_imports(const std::vector<OnnxOpsetImport>& opsets);

// Whether an initializer's data lives outside the model file: external_data entries, or
// data_location 1.
bool onnx_external_data(const OnnxInitializer& initializer);

// The summary object of the inspect report, also "old" and "new" of the diff.
JsonValue onnx_summary_json(const OnnxSummary& summary);

// One initializer without its name: shape, dtype, data_type, values, estimated_bytes,
// raw_data_bytes, the two fingerprints, external_data, external_data_entries, data_location.
JsonValue onnx_tensor_json(const OnnxInitializer& initializer);

// {"name": name, "tensor": onnx_tensor_json}; initializer_json takes the initializer's own name.
JsonValue named_tensor_json(std::string_view name, const OnnxInitializer& initializer);
JsonValue initializer_json(const OnnxInitializer& initializer);

// {"estimated_ops", "name", "op_type"} of a row that has an estimate (0 stands in for none).
JsonValue node_cost_json(const OnnxNodeCost& cost);

// The whole `--json` document of one model.
JsonValue onnx_inspect_json(const OnnxSummary& summary);

}  // namespace orvik
