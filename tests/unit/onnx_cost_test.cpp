// Operator cost estimates: one table of nodes over one shape map, and the row names.
#include "onnx/onnx_cost.hpp"

#include <gtest/gtest.h>

#include "onnx/onnx_reader.hpp"

namespace orvik {
namespace {

constexpr std::int64_t kHuge = std::int64_t{1} << 40;

// The nodes' lists live as long as the test program; attributes come in name order.
OnnxNode node(std::string_view op, std::vector<std::string_view> inputs,
              std::vector<std::string_view> outputs, std::vector<OnnxAttribute> attributes = {}) {
  static Arena lists;
  return {op, lists.copy_list(inputs), lists.copy_list(outputs), std::nullopt,
          lists.copy_list(attributes)};
}

TEST(OnnxCost, EstimateTable) {
  const ShapeMap shapes = {{"y234", {2, 3, 4}},
                           {"scalar", {}},
                           {"a23", {2, 3}},
                           {"b34", {3, 4}},
                           {"b43", {4, 3}},
                           {"b54", {5, 4}},
                           {"a233", {2, 3, 3}},
                           {"m2134", {2, 1, 3, 4}},
                           {"m546", {5, 4, 6}},
                           {"m234", {2, 3, 4}},
                           {"m345", {3, 4, 5}},
                           {"m34", {3, 4}},
                           {"m4", {4}},
                           {"w8333", {8, 3, 3, 3}},
                           {"y18", {1, 8, 30, 30}},
                           {"w83", {8, 3}},
                           {"big", {kHuge, kHuge}},
                           {"wrap", {kHuge, kHuge, 1 << 24}},
                           {"neg", {-1, 3}},
                           {"", {7}}};
  const struct {
    OnnxNode node;
    std::optional<std::uint64_t> expected;
  } cases[] = {
      {node("Relu", {}, {"y234"}), 24},
      {node("LayerNormalization", {}, {"scalar"}), 1},
      {node("Relu", {}, {"missing"}), std::nullopt},
      {node("Relu", {"y234"}, {}), std::nullopt},
      {node("relu", {}, {"y234"}), std::nullopt},
      {node("Cast", {}, {"y234"}), std::nullopt},
      {node("Add", {}, {""}), 7},      // an empty name is looked up like any other
      {node("Mul", {}, {"wrap"}), 0},  // elementwise products wrap: 2^104 mod 2^64
      {node("Gemm", {"a23", "b34"}, {}), 48},
      {node("Gemm", {"a23", "b43"}, {}, {{"transB", 1}}), 48},
      {node("Gemm", {"a23", "b34"}, {}, {{"transA", 0}}), 48},
      {node("Gemm", {"b43", "b34"}, {}, {{"transA", 1}, {"transB", 7}}), 2 * 3 * 3 * 4},
      {node("Gemm", {"a23", "b54"}, {}), std::nullopt},
      {node("Gemm", {"a233", "b34"}, {}), std::nullopt},
      {node("Gemm", {"a23"}, {}), std::nullopt},
      {node("Gemm", {"big", "big"}, {}), std::nullopt},  // 2^121: guarded
      {node("Gemm", {"neg", "b34"}, {}), std::nullopt},
      {node("MatMul", {"m2134", "m546"}, {}), 1440},         // batch 5 · 2
      {node("MatMul", {"m234", "m345"}, {}), std::nullopt},  // batch 2 against 3
      {node("MatMul", {"m34", "m4"}, {}), std::nullopt},
      {node("MatMul", {"a23", "b34"}, {}), 48},
      {node("MatMul", {"big", "big"}, {}), std::nullopt},
      {node("Conv", {"x", "w8333"}, {"y18"}), 2ull * 1 * 8 * 900 * 3 * 9},
      {node("Conv", {"x", "w83"}, {"y18"}), std::nullopt},
      {node("Conv", {"x"}, {"y18"}), std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(estimate_node_ops(c.node, shapes), c.expected)
        << c.node.op_type << " " << testing::PrintToString(c.node.inputs)
        << testing::PrintToString(c.node.outputs);
  }
  EXPECT_EQ(estimate_node_ops(node("Relu", {}, {"y234"}), {}), std::nullopt);
}

TEST(OnnxCost, RowNamesAndOrder) {
  std::vector<OnnxNode> nodes(4, node("Relu", {}, {"y"}));
  nodes[0].name = "same";
  nodes[1].name = "same";
  nodes[3].name = "";
  const auto rows = node_cost_rows(nodes, {{"y", {5}}});
  ASSERT_EQ(rows.size(), nodes.size());
  std::vector<std::string> names;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    names.push_back(onnx_node_cost_name(nodes[i], i));
    EXPECT_EQ(rows[i].estimated_ops, 5u);
  }
  EXPECT_EQ(names, (std::vector<std::string>{"same", "same", "node_3", "node_4"}));
}

}  // namespace
}  // namespace orvik
