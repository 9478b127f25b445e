#include "tensor/tensor.hpp"

#include <fmt/format.h>

#include "util/format.hpp"

namespace orvik {

std::optional<std::uint64_t> element_count(std::span<const std::uint64_t> shape) {
  for (const std::uint64_t dim : shape) {
    if (dim == 0) return 0;
  }
  std::uint64_t count = 1;
  for (const std::uint64_t dim : shape) {
    if (__builtin_mul_overflow(count, dim, &count)) return std::nullopt;
  }
  return count;
}

Result<Tensor> make_tensor(std::vector<std::uint64_t> shape, std::vector<float> data) {
  const std::optional<std::uint64_t> count = element_count(shape);
  if (!count) {
    return fail(fmt::format("shape {} holds more values than a 64-bit count can hold",
                            format_shape(shape)));
  }
  if (*count != data.size()) {
    return fail(fmt::format("shape {} expects {} values, got {}", format_shape(shape), *count,
                            data.size()));
  }
  return Tensor{std::move(shape), std::move(data)};
}

std::string format_shape(std::span<const std::uint64_t> shape) {
  return fmt::format("[{}]", fmt::join(shape, ", "));
}

namespace {

void append_values(std::string& out, std::span<const float> values) {
  out.push_back('[');
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (i > 0) out.append(", ");
    out.append(format_fixed(values[i], 4));
  }
  out.push_back(']');
}

}  // namespace

std::string format_f32_list(std::span<const float> values) {
  std::string out;
  append_values(out, values);
  return out;
}

std::string format_tensor_values(std::string_view name, const Tensor& tensor) {
  if (tensor.shape.size() != 2) {
    return fmt::format("  {} values: {}", name, format_f32_list(tensor.data));
  }
  std::string out = fmt::format("  {} values:\n", name);
  const std::uint64_t rows = tensor.shape[0];
  const std::uint64_t cols = tensor.shape[1];
  const std::span<const float> data(tensor.data);
  for (std::uint64_t row = 0; row < rows; ++row) {
    if (row > 0) out.push_back('\n');
    out.append("    ");
    append_values(out, data.subspan(row * cols, cols));
  }
  return out;
}

}  // namespace orvik
