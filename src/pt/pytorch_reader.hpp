#pragma once
// Static reader of PyTorch checkpoints: torch.save zip archives (stored entries) and legacy
// pickles. Reads only the zip tail, central directory, pickle, version entry and at most 1 MiB of
// each storage; never unpickles, never inflates.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "artifact_kind/artifact_kind.hpp"
#include "util/json.hpp"
#include "util/name_list.hpp"
#include "util/result.hpp"

namespace orvik {

// Field order is the key order of the record JSON.
struct PyTorchSummary {
  std::string path;  // display name
  std::uint64_t bytes = 0;
  bool is_zip = false;
  std::uint64_t tensor_count = 0;
  std::uint64_t total_parameter_bytes = 0;
  std::uint64_t estimated_parameter_count = 0;
  std::optional<std::string> dominant_dtype;
  NameList param_names;  // first occurrence order, each once
  std::optional<std::string> torch_version;
  Fingerprint file_fingerprint = 0;
  Fingerprint learned_state_fingerprint = 0;
};

Result<PyTorchSummary> read_pytorch(const std::string& path);

struct DtypeGuess {
  std::optional<std::string> dtype;  // absent when no storage class name occurs
  std::uint64_t element_size = 4;
};

// Parameter names from the pickle's string opcodes, first occurrence order, each once.
NameList recover_param_names(std::string_view pickle);
// The most frequent storage class name of the pickle, as a dtype name.
DtypeGuess guess_dominant_dtype(std::string_view pickle);

// The record JSON, keys in field order, written piece by piece.
void write_pytorch_summary(JsonStream& out, const PyTorchSummary& summary);
// The record JSON as pretty text (no trailing newline); several summaries as one array.
Result<std::string> serialize_pytorch_summary(const PyTorchSummary& summary);
Result<std::string> serialize_pytorch_summaries(const std::vector<PyTorchSummary>& summaries);
// The same members as a value tree (keys print in ascending order).
JsonValue pytorch_summary_to_value(const PyTorchSummary& summary);

}  // namespace orvik
