#pragma once
// The tensor-plan document as it is read: the three plain records and their reader. Nothing is
// defaulted or checked here beyond the document's own form; plan building gives the records
// meaning.
//
// Every record reads from a JSON object (keys matched exactly, unknown keys skipped, a repeated
// key fails with "duplicate field `{}`", a missing required one with "missing field `{}`") or
// from a JSON array holding every field by position, null for an absent one ("invalid length
// {}, expected struct ModelSpec with 6 elements" when it ends early). A layer is tagged by its
// "type" key, which may stand anywhere among its keys, or by the first element of its array.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "util/result.hpp"

namespace orvik {

// A tensor written out in a plan. `data` holds each JSON number as the nearest 32-bit float
// (infinite beyond the float range); whether its length fits `shape` is checked when building.
struct TensorSpec {
  std::vector<std::uint64_t> shape;
  std::vector<float> data;
};

// The tag order, also the order of the tags in the unknown-variant message.
enum class LayerKind { Linear, SelfAttention, Relu, Gelu, Softmax };

// One layer: its kind and the fields of that kind (every field optional; absent and null are
// both nothing). Fields of the other kinds are always nothing.
struct LayerSpec {
  LayerKind kind = LayerKind::Relu;
  std::optional<std::string> name;
  std::optional<std::string> explain;
  // Linear: "weights", "bias", "in", "out", "out_features".
  std::optional<TensorSpec> weights;
  std::optional<TensorSpec> bias;
  std::optional<std::uint64_t> in;
  std::optional<std::uint64_t> out;
  std::optional<std::uint64_t> out_features;
  // SelfAttention: "wq", "wk", "wv", "tokens", "features", "head_dim", "value_dim".
  std::optional<TensorSpec> wq;
  std::optional<TensorSpec> wk;
  std::optional<TensorSpec> wv;
  std::optional<std::uint64_t> tokens;
  std::optional<std::uint64_t> features;
  std::optional<std::uint64_t> head_dim;
  std::optional<std::uint64_t> value_dim;
};

// The top level of a plan; only `layers` is required.
struct ModelSpec {
  std::optional<std::string> name;
  std::optional<std::string> description;
  std::optional<TensorSpec> input;
  std::optional<std::vector<std::uint64_t>> input_shape;
  std::vector<LayerSpec> layers;
  std::optional<std::vector<std::string>> labels;
};

// Reads a whole plan document (valid UTF-8). The error is the first problem's message followed
// by " at line {} column {}": the schema's messages, the type messages ("invalid type: null,
// expected a sequence"), and the syntax messages ("trailing characters", "EOF while parsing a
// value", ...). Only white space may follow the top-level value.
Result<ModelSpec> deserialize_model_spec(std::string_view text);

}  // namespace orvik
