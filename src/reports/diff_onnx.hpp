#pragma once
// What the ONNX diff compares: initializers matched by name and compared by their metadata and
// fingerprints (no tensor data beyond those), and operator types whose node count changed.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "onnx/onnx_reader.hpp"
#include "util/json.hpp"

namespace orvik {

// Equal for the diff: dims, data_type, data_location, data_fingerprint, external_data_entries
// and external_data_fingerprint agree (absent agrees only with absent). The name and the raw data
// size are not compared.
bool onnx_tensor_equal(const OnnxInitializer& a, const OnnxInitializer& b);

// "{dtype} {dims}{suffix}": the suffix is ", external data" for data stored outside the file,
// else ", data 0x{:016x}" with the data fingerprint when there is one, else nothing.
std::string describe_onnx_tensor(const OnnxInitializer& initializer);

// Initializers of two models matched by name; of several initializers of one name in a model the
// last counts. Every list is in ascending byte order of the names and points into the summaries;
// apart from them, the comparison holds one pointer per initializer.
struct OnnxTensorChanges {
  struct Changed {
    const OnnxInitializer* old_tensor;
    const OnnxInitializer* new_tensor;
  };
  std::vector<const OnnxInitializer*> added;    // names only the new model has
  std::vector<const OnnxInitializer*> removed;  // names only the old model has
  std::vector<Changed> changed;                 // both have, not onnx_tensor_equal
};
OnnxTensorChanges onnx_tensor_changes(const OnnxSummary& old_summary,
                                      const OnnxSummary& new_summary);

// An operator type whose node count differs between the two models (0 where a model lacks it).
struct OpCountChange {
  std::string_view op_type;  // points into the summaries
  std::uint64_t old_count = 0;
  std::uint64_t new_count = 0;
};
// In ascending byte order of the operator type.
std::vector<OpCountChange> onnx_op_count_changes(const OnnxSummary& old_summary,
                                                 const OnnxSummary& new_summary);

// {"delta", "new", "old", "op"}; nothing when the counts are equal.
std::optional<JsonValue> op_count_change_json(std::string_view op_type, std::uint64_t old_count,
                                              std::uint64_t new_count);

// The "onnx_diff" document, written as it goes.
void write_onnx_diff_json(JsonStream& out, const OnnxSummary& old_summary,
                          const OnnxSummary& new_summary);

}  // namespace orvik
