#include "onnx/onnx_cost.hpp"

#include <algorithm>
#include <array>
#include <initializer_list>
#include <map>
#include <string_view>
#include <utility>

#include <fmt/core.h>

#include "onnx/onnx_reader.hpp"

namespace orvik {
namespace {

using Dims = std::span<const std::int64_t>;
using Estimate = std::optional<std::uint64_t>;

constexpr std::array<std::string_view, 11> kElementwiseOps = {"Add",
                                                              "Sub",
                                                              "Mul",
                                                              "Div",
                                                              "Relu",
                                                              "Tanh",
                                                              "Gelu",
                                                              "Sigmoid",
                                                              "Softmax",
                                                              "BatchNormalization",
                                                              "LayerNormalization"};

std::uint64_t wrapping_product(Dims dims) {
  std::uint64_t product = 1;
  for (const std::int64_t dim : dims)
    product *= static_cast<std::uint64_t>(dim);
  return product;
}

// The estimate times each factor, absent once a product overflows.
Estimate guarded_product(Estimate estimate, std::initializer_list<std::uint64_t> factors) {
  for (const std::uint64_t factor : factors) {
    if (!estimate || __builtin_mul_overflow(*estimate, factor, &*estimate)) return std::nullopt;
  }
  return estimate;
}

bool is_negative(std::int64_t dim) {
  return dim < 0;
}

bool flag_set(const std::map<std::string, std::int64_t>& attributes, std::string_view name) {
  const auto found = attributes.find(std::string(name));
  return found != attributes.end() && found->second != 0;
}

// The shape of a node's input or output at `index`, when the node has it and the map states it.
const std::vector<std::int64_t>* shape_of(const std::vector<std::string>& names, std::size_t index,
                                          const ShapeMap& shapes) {
  if (index >= names.size()) return nullptr;
  const auto found = shapes.find(names[index]);
  return found == shapes.end() ? nullptr : &found->second;
}

}  // namespace

Estimate estimate_gemm_ops(Dims a, Dims b, const std::map<std::string, std::int64_t>& attributes) {
  if (a.size() != 2 || b.size() != 2) return std::nullopt;
  const bool trans_a = flag_set(attributes, "transA");
  const bool trans_b = flag_set(attributes, "transB");
  const std::int64_t m = trans_a ? a[1] : a[0];
  const std::int64_t k = trans_a ? a[0] : a[1];
  const std::int64_t k2 = trans_b ? b[1] : b[0];
  const std::int64_t n = trans_b ? b[0] : b[1];
  if (k != k2 || is_negative(m)) return std::nullopt;
  return guarded_product(2, {static_cast<std::uint64_t>(m), static_cast<std::uint64_t>(n),
                             static_cast<std::uint64_t>(k)});
}

Estimate estimate_matmul_ops(Dims a, Dims b) {
  if (a.size() < 2 || b.size() < 2) return std::nullopt;
  const std::int64_t k = a[a.size() - 1];
  if (k != b[b.size() - 2]) return std::nullopt;
  const std::int64_t m = a[a.size() - 2];
  const std::int64_t n = b[b.size() - 1];
  const Dims batch_a = a.first(a.size() - 2);
  const Dims batch_b = b.first(b.size() - 2);
  Estimate factor = 2;
  if (!batch_a.empty() || !batch_b.empty()) {
    Estimate batch = 1;
    for (std::size_t i = 0; i < std::max(batch_a.size(), batch_b.size()); ++i) {
      const std::int64_t da = i < batch_a.size() ? batch_a[batch_a.size() - 1 - i] : 1;
      const std::int64_t db = i < batch_b.size() ? batch_b[batch_b.size() - 1 - i] : 1;
      if (da != db && da != 1 && db != 1) return std::nullopt;
      batch = guarded_product(batch, {static_cast<std::uint64_t>(da == 1 ? db : da)});
      if (!batch) return std::nullopt;
    }
    factor = guarded_product(batch, {2});
  }
  return guarded_product(factor, {static_cast<std::uint64_t>(m), static_cast<std::uint64_t>(n),
                                  static_cast<std::uint64_t>(k)});
}

namespace {

// Conv with the two spatial products already taken.
Estimate conv_ops(Dims weight, Dims output, std::uint64_t spatial_out, std::uint64_t kernel) {
  if (weight.size() < 3 || output.size() < 3 || is_negative(output[0])) return std::nullopt;
  return guarded_product(
      2, {static_cast<std::uint64_t>(output[0]), static_cast<std::uint64_t>(output[1]), spatial_out,
          static_cast<std::uint64_t>(weight[1]), kernel});
}

using Shape = const std::vector<std::int64_t>*;

// What the estimates already worked out for shapes of one graph. A file can name one long shape
// from many nodes; without this, n bytes could ask for about n² steps.
struct CostMemo {
  std::map<std::pair<Shape, std::size_t>, std::uint64_t> products;  // wrapping, from a dim on
  std::map<std::pair<Shape, Shape>, Estimate> matmuls;

  std::uint64_t product(Shape shape, std::size_t from) {
    if (shape->size() <= from) return 1;
    const auto [entry, added] = products.try_emplace({shape, from}, 0);
    if (added) entry->second = wrapping_product(Dims(*shape).subspan(from));
    return entry->second;
  }

  Estimate matmul(Shape a, Shape b) {
    const auto [entry, added] = matmuls.try_emplace({a, b}, std::nullopt);
    if (added) entry->second = estimate_matmul_ops(*a, *b);
    return entry->second;
  }
};

Estimate estimate_with(const OnnxNode& node, const ShapeMap& shapes, CostMemo& memo) {
  const std::string_view op = node.op_type;
  if (std::find(kElementwiseOps.begin(), kElementwiseOps.end(), op) != kElementwiseOps.end()) {
    const auto* output = shape_of(node.outputs, 0, shapes);
    if (output == nullptr) return std::nullopt;
    return memo.product(output, 0);
  }
  if (op == "Gemm" || op == "MatMul") {
    const auto* a = shape_of(node.inputs, 0, shapes);
    const auto* b = shape_of(node.inputs, 1, shapes);
    if (a == nullptr || b == nullptr) return std::nullopt;
    return op == "Gemm" ? estimate_gemm_ops(*a, *b, node.attributes) : memo.matmul(a, b);
  }
  if (op == "Conv") {
    const auto* weight = shape_of(node.inputs, 1, shapes);
    const auto* output = shape_of(node.outputs, 0, shapes);
    if (weight == nullptr || output == nullptr) return std::nullopt;
    return conv_ops(*weight, *output, memo.product(output, 2), memo.product(weight, 2));
  }
  return std::nullopt;
}

}  // namespace

Estimate estimate_conv_ops(Dims weight, Dims output) {
  return conv_ops(weight, output, output.size() < 3 ? 1 : wrapping_product(output.subspan(2)),
                  weight.size() < 3 ? 1 : wrapping_product(weight.subspan(2)));
}

Estimate estimate_node_ops(const OnnxNode& node, const ShapeMap& shapes) {
  CostMemo memo;
  return estimate_with(node, shapes, memo);
}

std::vector<OnnxNodeCost> node_cost_rows(const std::vector<OnnxNode>& nodes,
                                         const ShapeMap& shapes) {
  std::vector<OnnxNodeCost> rows;
  rows.reserve(nodes.size());
  CostMemo memo;
  for (std::size_t i = 0; i < nodes.size(); ++i) {
    const OnnxNode& node = nodes[i];
    OnnxNodeCost row;
    row.name = node.name && !node.name->empty() ? *node.name : fmt::format("node_{}", i + 1);
    row.op_type = node.op_type;
    row.estimated_ops = estimate_with(node, shapes, memo);
    rows.push_back(std::move(row));
  }
  return rows;
}

}  // namespace orvik
