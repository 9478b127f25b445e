#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tensor/kernels.hpp"
#include "tensor/tensor.hpp"

namespace orvik {
namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

Tensor t(std::vector<std::uint64_t> shape, std::vector<float> data) {
  auto made = make_tensor(std::move(shape), std::move(data));
  EXPECT_TRUE(made.has_value()) << made.error();
  return made.value_or(Tensor{});
}

// The values of a kernel's output as format_f32_list writes them, prefixed by the shape.
std::string text(const Result<OpOutput>& out) {
  if (!out) return "error: " + out.error();
  return format_shape(out->tensor.shape) + " " + format_f32_list(out->tensor.data);
}
std::string text(const OpOutput& out) {
  return text(Result<OpOutput>(out));
}

bool positive_zero(float v) {
  return v == 0.0f && !std::signbit(v);
}

TEST(MakeTensor, CountsAndMessages) {
  EXPECT_EQ(format_shape(t({}, {7.0f}).shape), "[]");
  EXPECT_TRUE(make_tensor({2, 0}, {}).has_value());
  EXPECT_TRUE(make_tensor({std::uint64_t{1} << 40, std::uint64_t{1} << 40, 0}, {}).has_value());
  EXPECT_EQ(make_tensor({}, {}).error(), "shape [] expects 1 values, got 0");
  EXPECT_EQ(make_tensor({2, 3}, {1, 2, 3, 4, 5}).error(), "shape [2, 3] expects 6 values, got 5");
  // 2^32 * 2^32 wraps to 0 in 64 bits; it must not pass for an empty data list.
  EXPECT_EQ(make_tensor({4294967296, 4294967296}, {}).error(),
            "shape [4294967296, 4294967296] holds more values than a 64-bit count can hold");
  EXPECT_EQ(element_count(std::vector<std::uint64_t>{}), 1u);
  EXPECT_EQ(element_count(std::vector<std::uint64_t>{3, 5, 7}), 105u);
}

TEST(Kernels, ShapesValuesAndMessages) {
  const Tensor m23 = t({2, 3}, {1, 2, 3, 4, 5, 6});
  struct Case {
    std::string got;
    std::string want;
  };
  const Case cases[] = {
      {text(transpose2d(m23)), "[3, 2] [1.0000, 4.0000, 2.0000, 5.0000, 3.0000, 6.0000]"},
      {text(transpose2d(t({0, 4}, {}))), "[4, 0] []"},
      {text(transpose2d(t({1ULL << 60, 0}, {}))), "[0, 1152921504606846976] []"},
      {text(transpose2d(t({3}, {1, 2, 3}))), "error: transpose2d expects a rank-2 tensor"},
      {text(softmax(t({2, 2}, {1, 2, 3, 4}))), "[2, 2] [0.2689, 0.7311, 0.2689, 0.7311]"},
      {text(softmax(t({2}, {1000, 1000}))), "[2] [0.5000, 0.5000]"},
      {text(softmax(t({2, 2}, {kNaN, 1, 0, 0}))), "[2, 2] [NaN, NaN, 0.5000, 0.5000]"},
      {text(softmax(t({3}, {kInf, 1, 2}))), "[3] [NaN, NaN, NaN]"},
      {text(softmax(t({2}, {-kInf, -kInf}))), "[2] [NaN, NaN]"},
      {text(softmax(t({2}, {kNaN, kNaN}))), "[2] [NaN, NaN]"},
      {text(softmax(t({0, 5}, {}))), "[0, 5] []"},
      {text(softmax(t({2, 0}, {}))), "[2, 0] []"},
      {text(softmax(t({}, {1}))), "error: softmax needs at least one dimension"},
      {text(add_tensors(m23, t({3}, {10, 20, 30}))),
       "[2, 3] [11.0000, 22.0000, 33.0000, 14.0000, 25.0000, 36.0000]"},
      {text(add_tensors(m23, m23)), "[2, 3] [2.0000, 4.0000, 6.0000, 8.0000, 10.0000, 12.0000]"},
      {text(add_tensors(m23, t({2}, {1, 2}))), "error: cannot add [2, 3] and [2]"},
      {text(add_tensors(t({3}, {1, 2, 3}), m23)), "error: cannot add [3] and [2, 3]"},
      {text(add_tensors(t({}, {1.5f}), t({}, {2}))), "[] [3.5000]"},
      {text(add_tensors(t({}, {1}), t({1}, {2}))), "error: cannot add [] and [1]"},
      {text(add_tensors(t({2, 0}, {}), t({0}, {}))), "[2, 0] []"},
      {text(matmul(m23, t({3, 2}, {1, 0, 0, 1, 1, 1}))),
       "[2, 2] [4.0000, 5.0000, 10.0000, 11.0000]"},
      {text(matmul(t({2, 0}, {}), t({0, 3}, {}))),
       "[2, 3] [0.0000, 0.0000, 0.0000, 0.0000, 0.0000, 0.0000]"},
      {text(matmul(t({1ULL << 60, 0}, {}), t({0, 0}, {}))), "[1152921504606846976, 0] []"},
      {text(matmul(t({3}, {1, 2, 3}), m23)), "error: matmul currently expects rank-2 tensors"},
      {text(matmul(t({3}, {1, 2, 3}), t({4}, {1, 2, 3, 4}))),
       "error: matmul currently expects rank-2 tensors"},
      {text(matmul(m23, m23)), "error: cannot matmul [2, 3] @ [2, 3]; inner dimensions differ"},
      {text(matmul(t({65536, 0}, {}), t({0, 2048}, {}))),
       "error: cannot matmul [65536, 0] @ [0, 2048]; the result would hold more than 67108864 "
       "values"},
      {text(gelu(t({5}, {0, 1, -1, 3, kNaN}))), "[5] [0.0000, 0.8412, -0.1588, 2.9964, NaN]"},
      {text(relu(t({2, 2}, {-1, 2, -0.0f, 0.5f}))), "[2, 2] [0.0000, 2.0000, 0.0000, 0.5000]"},
      {text(scale(m23, 0.5f)), "[2, 3] [0.5000, 1.0000, 1.5000, 2.0000, 2.5000, 3.0000]"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(c.got, c.want);
}

TEST(Kernels, FloatSemantics) {
  // Products are rounded before they are added: (1 + 2^-12)^2 rounds to 1 + 2^-11, which the
  // first product cancels exactly; a fused multiply-add would leave 2^-24.
  const float a = 1.0f + std::ldexp(1.0f, -12);
  const float b = 1.0f + std::ldexp(1.0f, -11);
  const auto fused = matmul(t({1, 2}, {-1, a}), t({2, 1}, {b, a}));
  ASSERT_TRUE(fused);
  EXPECT_TRUE(positive_zero(fused->tensor.data[0]));

  const OpOutput r = relu(t({3}, {kNaN, -0.0f, -3}));
  for (const float v : r.tensor.data)
    EXPECT_TRUE(positive_zero(v));
  EXPECT_TRUE(positive_zero(gelu(t({}, {0})).tensor.data[0]));
  // Softmax sums in index order in float: the values are expf(v - max) / s exactly.
  const auto s = softmax(t({3}, {0.1f, 0.2f, 0.3f}));
  ASSERT_TRUE(s);
  const float e0 = ::expf(0.1f - 0.3f), e1 = ::expf(0.2f - 0.3f), e2 = ::expf(0.0f);
  const float sum = (e0 + e1) + e2;
  EXPECT_EQ(s->tensor.data, (std::vector<float>{e0 / sum, e1 / sum, e2 / sum}));
}

TEST(TensorTexts, FourDecimalsAndLayouts) {
  EXPECT_EQ(format_f32_list({}), "[]");
  EXPECT_EQ(format_f32_list(std::vector<float>{0.1f, -2.5f, -0.0f, -0.00001f, kNaN, kInf, -kInf}),
            "[0.1000, -2.5000, -0.0000, -0.0000, NaN, inf, -inf]");
  // Exact binary ties round to even.
  EXPECT_EQ(format_f32_list(std::vector<float>{0.03125f, 0.09375f}), "[0.0312, 0.0938]");
  EXPECT_EQ(format_shape(std::vector<std::uint64_t>{7}), "[7]");
  EXPECT_EQ(format_tensor_values("x", t({2, 2}, {1, 2, 3, 4})),
            "  x values:\n    [1.0000, 2.0000]\n    [3.0000, 4.0000]");
  EXPECT_EQ(format_tensor_values("x", t({0, 3}, {})), "  x values:\n");
  EXPECT_EQ(format_tensor_values("x", t({2, 0}, {})), "  x values:\n    []\n    []");
  EXPECT_EQ(format_tensor_values("output", t({2}, {0.26894142f, 0.7310586f})),
            "  output values: [0.2689, 0.7311]");
  EXPECT_EQ(format_tensor_values("y", t({1, 1, 2}, {1, 2})), "  y values: [1.0000, 2.0000]");
  EXPECT_EQ(format_tensor_values("s", t({}, {5})), "  s values: [5.0000]");
}

}  // namespace
}  // namespace orvik
