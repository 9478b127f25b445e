#include "tensor/kernels.hpp"

#include <cmath>
#include <limits>

#include <fmt/format.h>

namespace orvik {

namespace {

using Clock = std::chrono::steady_clock;

std::chrono::nanoseconds since(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - start);
}

// Applies `f` to every value into a new tensor of x's shape.
template <class F>
OpOutput map_values(const Tensor& x, F f) {
  const auto start = Clock::now();
  std::vector<float> out(x.data.size());
  for (std::size_t i = 0; i < out.size(); ++i)
    out[i] = f(x.data[i]);
  Tensor tensor{x.shape, std::move(out)};
  return OpOutput{std::move(tensor), since(start)};
}

}  // namespace

double elapsed_ms(std::chrono::nanoseconds elapsed) {
  const auto whole = std::chrono::duration_cast<std::chrono::seconds>(elapsed);
  const auto nanos = (elapsed - whole).count();
  return (static_cast<double>(whole.count()) + static_cast<double>(nanos) / 1e9) * 1000.0;
}

Result<OpOutput> transpose2d(const Tensor& x) {
  if (x.shape.size() != 2) return fail("transpose2d expects a rank-2 tensor");
  const auto start = Clock::now();
  const std::uint64_t rows = x.shape[0];
  const std::uint64_t cols = x.shape[1];
  std::vector<float> out(x.data.size(), 0.0f);
  // An empty tensor may still have a huge dimension ([2^60, 0]); counting through its rows would
  // take forever, so the loops run only when there are values.
  if (!out.empty()) {
    for (std::uint64_t i = 0; i < rows; ++i) {
      for (std::uint64_t j = 0; j < cols; ++j)
        out[j * rows + i] = x.data[i * cols + j];
    }
  }
  Tensor tensor{{cols, rows}, std::move(out)};
  return OpOutput{std::move(tensor), since(start)};
}

Result<OpOutput> softmax(const Tensor& x) {
  if (x.shape.empty()) return fail("softmax needs at least one dimension");
  const auto start = Clock::now();
  Tensor tensor = x;
  const std::uint64_t width = x.shape.back();
  if (width > 0) {
    for (std::size_t row = 0; row < tensor.data.size(); row += width) {
      float* const values = tensor.data.data() + row;
      float m = -std::numeric_limits<float>::infinity();
      for (std::uint64_t i = 0; i < width; ++i) {
        if (values[i] > m) m = values[i];  // NaN never compares greater
      }
      float s = 0.0f;
      for (std::uint64_t i = 0; i < width; ++i) {
        values[i] = ::expf(values[i] - m);
        s = s + values[i];
      }
      for (std::uint64_t i = 0; i < width; ++i)
        values[i] = values[i] / s;
    }
  }
  return OpOutput{std::move(tensor), since(start)};
}

Result<OpOutput> add_tensors(const Tensor& a, const Tensor& b) {
  const auto start = Clock::now();
  std::vector<float> out(a.data.size());
  if (a.shape == b.shape) {
    for (std::size_t i = 0; i < out.size(); ++i)
      out[i] = a.data[i] + b.data[i];
  } else if (b.shape.size() == 1 && !a.shape.empty() && a.shape.back() == b.shape[0]) {
    // add_bias_last_dim. With d == 0, a holds no values and the loop never takes i % 0.
    const std::size_t d = b.data.size();
    for (std::size_t i = 0; i < out.size(); ++i)
      out[i] = a.data[i] + b.data[i % d];
  } else {
    return fail(fmt::format("cannot add {} and {}", format_shape(a.shape), format_shape(b.shape)));
  }
  Tensor tensor{a.shape, std::move(out)};
  return OpOutput{std::move(tensor), since(start)};
}

Result<OpOutput> matmul(const Tensor& a, const Tensor& b) {
  if (a.shape.size() != 2 || b.shape.size() != 2) {
    return fail("matmul currently expects rank-2 tensors");
  }
  if (a.shape[1] != b.shape[0]) {
    return fail(fmt::format("cannot matmul {} @ {}; inner dimensions differ", format_shape(a.shape),
                            format_shape(b.shape)));
  }
  const std::uint64_t m = a.shape[0];
  const std::uint64_t k = a.shape[1];
  const std::uint64_t n = b.shape[1];
  // The only kernel whose output can outgrow its inputs (with k == 0 both inputs are empty).
  const std::uint64_t limit = kMaxTensorValues;
  if (m != 0 && n > limit / m) {
    return fail(fmt::format("cannot matmul {} @ {}; the result would hold more than {} values",
                            format_shape(a.shape), format_shape(b.shape), limit));
  }
  const auto start = Clock::now();
  std::vector<float> out(m * n, 0.0f);
  const float* const lhs = a.data.data();
  const float* const rhs = b.data.data();
  // An empty result ([2^60, 0]) needs no work; the row loop alone would never end.
  for (std::uint64_t i = 0; i < m && !out.empty(); ++i) {
    for (std::uint64_t j = 0; j < n; ++j) {
      float acc = 0.0f;
      for (std::uint64_t p = 0; p < k; ++p) {
        const float product = lhs[i * k + p] * rhs[p * n + j];
        acc = acc + product;
      }
      out[i * n + j] = acc;
    }
  }
  Tensor tensor{{m, n}, std::move(out)};
  return OpOutput{std::move(tensor), since(start)};
}

OpOutput gelu(const Tensor& x) {
  return map_values(x, [](float v) {
    const float c = ((v * v) * v) * 0.044715f;
    const float t = ::tanhf((c + v) * 0.7978845834732056f);
    return (t + 1.0f) * (v * 0.5f);
  });
}

OpOutput relu(const Tensor& x) {
  return map_values(x, [](float v) { return v > 0.0f ? v : 0.0f; });
}

OpOutput scale(const Tensor& x, float factor) {
  return map_values(x, [factor](float v) { return v * factor; });
}

}  // namespace orvik
