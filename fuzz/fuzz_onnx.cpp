// libFuzzer harness for the ONNX model reader. Any outcome is fine except a crash, a sanitizer
// report, a hang or an outsized allocation. A failure must carry one of the reader's messages; a
// summary must agree with itself (histogram, cost rows and totals) and its value forms must write
// as JSON (every text in it was checked as UTF-8). Seeds: tests/data/onnx; fuzz_onnx.dict holds
// the operator and attribute names the reader reacts to (-dict=fuzz/fuzz_onnx.dict).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "onnx/onnx_reader.hpp"
#include "util/text.hpp"

namespace {

bool is_reader_message(const std::string& message) {
  return orvik::starts_with(message, "protobuf ") ||
         orvik::starts_with(message, "unsupported protobuf wire type ") ||
         orvik::starts_with(message, "invalid UTF-8 string in ONNX protobuf: ") ||
         message == "ONNX ModelProto did not contain graph field";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  auto summary = orvik::read_onnx_bytes("fuzz.onnx", bytes);
  if (!summary) {
    if (!is_reader_message(summary.error())) std::abort();
    return 0;
  }
  const orvik::OnnxSummary& s = *summary;
  if (s.file_size_bytes != size || s.node_costs.size() != s.nodes.size()) std::abort();
  std::uint64_t nodes = 0;
  for (std::size_t i = 0; i < s.op_counts.size(); ++i) {
    nodes += s.op_counts[i].count;
    if (i > 0 && s.op_counts[i - 1].count < s.op_counts[i].count) std::abort();
  }
  if (nodes != s.nodes.size()) std::abort();
  std::uint64_t ops = 0;
  for (const orvik::OnnxNodeCost& cost : s.node_costs)
    ops += cost.estimated_ops.value_or(0);
  if (ops != s.estimated_ops) std::abort();
  std::uint64_t values = 0;
  for (const orvik::OnnxInitializer& t : s.initializers)
    values += orvik::onnx_value_count(t);
  if (values != s.parameter_values) std::abort();
  orvik::JsonValue forms = orvik::JsonValue::array();
  for (const auto* list : {&s.inputs, &s.outputs}) {
    for (const orvik::OnnxValueInfo& v : *list)
      forms.push_back(orvik::value_info_to_value(v));
  }
  for (const orvik::OnnxOpsetImport& o : s.opset_imports)
    forms.push_back(orvik::opset_import_to_value(o));
  if (!orvik::write_json(forms)) std::abort();
  return 0;
}
