#pragma once
// Static per-node operation counts for an ONNX graph: a proxy for compute cost taken only from
// the shapes the file states. Nothing is measured. A node whose operator is not modelled, or
// whose needed shapes the file does not state, has no estimate.
//
// Arithmetic: a wrapping product is a 64-bit multiplication that wraps around on overflow; a
// guarded product is an unsigned 64-bit multiplication whose overflow makes the whole estimate
// absent. Dimensions are read as their 64-bit patterns, so a negative one is a huge unsigned
// factor in a guarded product.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "onnx/onnx_reader.hpp"

namespace orvik {

// Tensor name -> dimensions, for the tensors whose shapes the file states as plain numbers.
// Names compare byte-wise; a later insert of a name replaces the earlier one. The names are views
// into the records the shapes come from.
using ShapeMap = std::map<std::string_view, std::vector<std::int64_t>, std::less<>>;

// The names whose shapes the estimates of these nodes look up, in ascending byte order without
// repeats: a shape map needs no other entry.
std::vector<std::string_view> cost_shape_names(const std::vector<OnnxNode>& nodes);

// One row per node, in node order.
std::vector<OnnxNodeCost> node_cost_rows(const std::vector<OnnxNode>& nodes,
                                         const ShapeMap& shapes);

// The name of the cost row of the node at 0-based `index`: the node's non-empty name, else
// "node_{i}" with its 1-based position.
std::string onnx_node_cost_name(const OnnxNode& node, std::size_t index);

// By exact op_type: "Add", "Sub", "Mul", "Div", "Relu", "Tanh", "Gelu", "Sigmoid", "Softmax",
// "BatchNormalization" and "LayerNormalization" cost the wrapping product of their first output's
// dims (1 for a scalar); "Gemm" and "MatMul" are estimated from their first two inputs, "Conv"
// from its second input (the weight) and first output. Absent for any other operator, and when a
// needed input or output is missing from the node or its name from the map.
std::optional<std::uint64_t> estimate_node_ops(const OnnxNode& node, const ShapeMap& shapes);

// 2·M·N·K for A [M, K] and B [K, N], each transposed when the attribute "transA" / "transB" is
// non-zero; M, N and K guarded. Absent unless both have two dims and the K sides agree, or when M
// is negative.
std::optional<std::uint64_t> estimate_gemm_ops(std::span<const std::int64_t> a,
                                               std::span<const std::int64_t> b,
                                               std::span<const OnnxAttribute> attributes);

// 2·batch·M·N·K for A [..., M, K] and B [..., K, N], every factor guarded. Batch dims (those before
// the last two) align from the right; a missing one counts 1, and a pair of dims broadcasts when
// they are equal or one of them is 1, otherwise the estimate is absent. Absent also when either
// has fewer than two dims or the K sides differ.
std::optional<std::uint64_t> estimate_matmul_ops(std::span<const std::int64_t> a,
                                                 std::span<const std::int64_t> b);

// 2 · Y[0] · Y[1] · (Y[2] · Y[3] ...) · W[1] · (W[2] · W[3] ...) for weight W and output Y: batch,
// output channels, output positions, input channels per group and kernel positions. The two
// spatial products wrap; the rest is guarded. Absent when either has fewer than three dims or
// Y[0] is negative.
std::optional<std::uint64_t> estimate_conv_ops(std::span<const std::int64_t> weight,
                                               std::span<const std::int64_t> output);

}  // namespace orvik
