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
#include <array>
#include <cstdint>
#include <deque>
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
enum class LayerKind : std::uint8_t { Linear, SelfAttention, Relu, Gelu, Softmax };

// The size fields of the layer kinds: Linear's in, out and out_features, SelfAttention's tokens,
// features, head_dim and value_dim.
enum class LayerSize : std::uint8_t { In, Out, OutFeatures, Tokens, Features, HeadDim, ValueDim };

// The tensor fields: Linear's weights and bias, SelfAttention's wq, wk and wv.
enum class LayerTensor : std::uint8_t { Weights, Bias, Wq, Wk, Wv };
inline constexpr std::size_t kLayerTensorFields = 5;

// One layer: its kind and the fields of that kind (every field optional; absent and null are
// both nothing). Fields of the other kinds are always nothing.
//
// A plan may list a million layers, most of them without tensors, so the record stays small
// (176 bytes): sizes sit in one array with a bit each for "given", and the tensors, when a
// layer writes any out, in a list of its own.
struct LayerSpec {
  LayerKind kind = LayerKind::Relu;
  std::optional<std::string> name;
  std::optional<std::string> explain;

  std::optional<std::uint64_t> size(LayerSize field) const {
    if (((given_sizes_ >> static_cast<unsigned>(field)) & 1) == 0) return std::nullopt;
    return sizes_[static_cast<std::size_t>(field)];
  }
  void set_size(LayerSize field, std::optional<std::uint64_t> value);

  // The tensor, or null when the layer does not give it.
  const TensorSpec* tensor(LayerTensor field) const;
  TensorSpec* tensor(LayerTensor field);
  void set_tensor(LayerTensor field, std::optional<TensorSpec> value);

 private:
  std::uint8_t given_sizes_ = 0;                    // bit i: sizes_[i] was given
  std::array<std::uint64_t, 7> sizes_{};            // by LayerSize
  std::vector<std::optional<TensorSpec>> tensors_;  // by LayerTensor; empty when none is given
};

// The top level of a plan; only `layers` is required.
struct ModelSpec {
  std::optional<std::string> name;
  std::optional<std::string> description;
  std::optional<TensorSpec> input;
  std::optional<std::vector<std::uint64_t>> input_shape;
  // A deque: a long list grows without moving its records, and building releases each record
  // from the front as it goes.
  std::deque<LayerSpec> layers;
  std::optional<std::vector<std::string>> labels;
};

// Reads a whole plan document (valid UTF-8). The error is the first problem's message followed
// by " at line {} column {}": the schema's messages, the type messages ("invalid type: null,
// expected a sequence"), and the syntax messages ("trailing characters", "EOF while parsing a
// value", ...). Only white space may follow the top-level value.
Result<ModelSpec> deserialize_model_spec(std::string_view text);

}  // namespace orvik
