#include "onnx/onnx_cost.hpp"

#include <algorithm>
#include <array>
#include <initializer_list>
#include <map>
#include <string_view>
#include <utility>

#include <fmt/core.h>

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

// The operators that have an estimate, by what they look up.
enum class CostKind { None, Elementwise, Gemm, MatMul, Conv };

CostKind cost_kind(std::string_view op) {
  if (std::find(kElementwiseOps.begin(), kElementwiseOps.end(), op) != kElementwiseOps.end()) {
    return CostKind::Elementwise;
  }
  if (op == "Gemm") return CostKind::Gemm;
  if (op == "MatMul") return CostKind::MatMul;
  if (op == "Conv") return CostKind::Conv;
  return CostKind::None;
}

// The names whose shapes an estimate looks up, in the order it needs them: the first output of
// an elementwise node, the first two inputs of Gemm and MatMul, the second input (the weight) and
// the first output of Conv. Null where the node has no name at that position or the kind needs
// no second shape.
std::array<const std::string_view*, 2> looked_up_names(const OnnxNode& node, CostKind kind) {
  const auto at = [](std::span<const std::string_view> names, std::size_t index) {
    return index < names.size() ? &names[index] : nullptr;
  };
  switch (kind) {
    case CostKind::Elementwise:
      return {at(node.outputs, 0), nullptr};
    case CostKind::Gemm:
    case CostKind::MatMul:
      return {at(node.inputs, 0), at(node.inputs, 1)};
    case CostKind::Conv:
      return {at(node.inputs, 1), at(node.outputs, 0)};
    case CostKind::None:
      break;
  }
  return {nullptr, nullptr};
}

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

bool flag_set(std::span<const OnnxAttribute> attributes, std::string_view name) {
  return onnx_attribute(attributes, name).value_or(0) != 0;
}

// Conv with the two spatial products (the wrapping products of Y[2], Y[3], ... and of W[2],
// W[3], ...) already taken: estimate_conv_ops works them out, a graph's estimates take them
// from what they worked out before.
Estimate conv_ops(Dims weight, Dims output, std::uint64_t spatial_out, std::uint64_t kernel) {
  if (weight.size() < 3 || output.size() < 3 || is_negative(output[0])) return std::nullopt;
  return guarded_product(
      2, {static_cast<std::uint64_t>(output[0]), static_cast<std::uint64_t>(output[1]), spatial_out,
          static_cast<std::uint64_t>(weight[1]), kernel});
}

using Shape = const std::vector<std::int64_t>*;

Shape shape_of(const std::string_view* name, const ShapeMap& shapes) {
  if (name == nullptr) return nullptr;
  const auto found = shapes.find(*name);
  return found == shapes.end() ? nullptr : &found->second;
}

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
  const CostKind kind = cost_kind(node.op_type);
  const auto [first_name, second_name] = looked_up_names(node, kind);
  const Shape first = shape_of(first_name, shapes);
  if (first == nullptr) return std::nullopt;
  if (kind == CostKind::Elementwise) return memo.product(first, 0);
  const Shape second = shape_of(second_name, shapes);
  if (second == nullptr) return std::nullopt;
  switch (kind) {
    case CostKind::Gemm:
      return estimate_gemm_ops(*first, *second, node.attributes);
    case CostKind::MatMul:
      return memo.matmul(first, second);
    case CostKind::Conv:
      return conv_ops(*first, *second, memo.product(second, 2), memo.product(first, 2));
    case CostKind::Elementwise:
    case CostKind::None:
      break;
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::uint64_t> estimate_gemm_ops(std::span<const std::int64_t> a,
                                               std::span<const std::int64_t> b,
                                               std::span<const OnnxAttribute> attributes) {
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

std::optional<std::uint64_t> estimate_matmul_ops(std::span<const std::int64_t> a,
                                                 std::span<const std::int64_t> b) {
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

std::optional<std::uint64_t> estimate_conv_ops(std::span<const std::int64_t> weight,
                                               std::span<const std::int64_t> output) {
  return conv_ops(weight, output, output.size() < 3 ? 1 : wrapping_product(output.subspan(2)),
                  weight.size() < 3 ? 1 : wrapping_product(weight.subspan(2)));
}

std::optional<std::uint64_t> estimate_node_ops(const OnnxNode& node, const ShapeMap& shapes) {
  CostMemo memo;
  return estimate_with(node, shapes, memo);
}

std::vector<std::string_view> cost_shape_names(const std::vector<OnnxNode>& nodes) {
  std::vector<std::string_view> names;
  for (const OnnxNode& node : nodes) {
    for (const std::string_view* name : looked_up_names(node, cost_kind(node.op_type))) {
      if (name != nullptr) names.push_back(*name);
    }
  }
  std::sort(names.begin(), names.end());
  names.erase(std::unique(names.begin(), names.end()), names.end());
  return names;
}

std::vector<OnnxNodeCost> node_cost_rows(const std::vector<OnnxNode>& nodes,
                                         const ShapeMap& shapes) {
  std::vector<OnnxNodeCost> rows;
  rows.reserve(nodes.size());
  CostMemo memo;
  for (const OnnxNode& node : nodes)
    rows.push_back({estimate_with(node, shapes, memo)});
  return rows;
}

std::string onnx_node_cost_name(const OnnxNode& node, std::size_t index) {
  if (node.name && !node.name->empty()) return std::string(*node.name);
  return fmt::format("node_{}", index + 1);
}

}  // namespace orvik
