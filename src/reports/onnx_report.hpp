#pragma once
// The `onnx` command (also `inspect` of an ONNX model): the "ONNX Model Summary" of one model as
// text, or one JSON object of kind "onnx_inspect". Also the JSON objects that describe a summary
// and an initializer, which the ONNX diff reuses, the initializers by name, and the element-type
// names.
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

// The initializers in ascending byte order of their names, one per name: of several with one
// name, the last. A run of initializers of one name is one entry before the sort, so a flood of
// them costs no list as long as itself.
std::vector<const OnnxInitializer*> initializers_by_name(const OnnxSummary& summary);

// The graph inputs whose name is not the name of any initializer, in input order.
std::vector<const OnnxValueInfo*> inputs_without_initializers(const OnnxSummary& summary);

// "{domain}={version}", or "{domain}=?" without a version; an empty domain is written "ai.onnx".
std::string format_opset_import(const OnnxOpsetImport& opset);

// Whether an initializer's data lives outside the model file: external_data entries, or
// data_location 1.
bool onnx_external_data(const OnnxInitializer& initializer);

// The JSON objects of the ONNX reports. Each is written by one function, to a JsonStream (the
// commands, which write their documents as they go, so that a model of millions of entries costs
// no more memory in JSON than in text) or to a JsonBuilder (the value forms below); the members
// come in ascending key order, so both give the text a value tree prints.

// The summary object of the inspect report, also "old" and "new" of the diff.
template <class Out>
void write_onnx_summary_json(Out& out, const OnnxSummary& summary);
JsonValue onnx_summary_json(const OnnxSummary& summary);

// One initializer without its name: shape, dtype, data_type, values, estimated_bytes,
// raw_data_bytes, the two fingerprints, external_data, external_data_entries, data_location.
template <class Out>
void write_onnx_tensor_json(Out& out, const OnnxInitializer& initializer);

// {"name": name, "tensor": the initializer as above}.
template <class Out>
void write_named_tensor_json(Out& out, std::string_view name, const OnnxInitializer& initializer);

// The whole `--json` document of one model. Among its parts, "most_expensive_ops" lists up to
// ten {"estimated_ops", "name", "op_type"} objects of the nodes that have an estimate.
template <class Out>
void write_onnx_inspect_json(Out& out, const OnnxSummary& summary);
JsonValue onnx_inspect_json(const OnnxSummary& summary);

}  // namespace orvik
