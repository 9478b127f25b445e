#pragma once
// The tensor lab's value type: a shape and its 32-bit float values in row-major order, the
// checked constructor every tensor goes through, and the texts that show shapes and values.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "util/result.hpp"

namespace orvik {

// The most values one tensor of the lab may hold (2^26, 256 MiB of floats). The zero-filled
// tensors of a plan stay within it together, and a kernel whose output would exceed it fails.
inline constexpr std::uint64_t kMaxTensorValues = std::uint64_t{1} << 26;

// Invariant: data.size() equals the product of the dimensions (1 for an empty shape, a rank-0
// tensor holding one value). Every tensor is made by make_tensor or by a kernel that keeps the
// invariant, so kernels rely on it without checking it again. A dimension may be 0.
struct Tensor {
  std::vector<std::uint64_t> shape;  // outermost first
  std::vector<float> data;           // the last dimension varies fastest
};

// The product of the dimensions (1 for an empty shape), or nothing when it does not fit in 64
// bits. A shape with a zero dimension counts 0 values however large the others are.
std::optional<std::uint64_t> element_count(std::span<const std::uint64_t> shape);

// Takes both lists over. Fails with "shape {} expects {} values, got {}" (shape text, count,
// data length) when the count differs from the data length, and with "shape {} holds more values
// than a 64-bit count can hold" when the count overflows.
Result<Tensor> make_tensor(std::vector<std::uint64_t> shape, std::vector<float> data);

// "[2, 3]", "[7]", "[]".
std::string format_shape(std::span<const std::uint64_t> shape);

// Each value with four decimals (the exact float rounded half to even, "-0.0000" kept, "NaN",
// "inf", "-inf"), joined by ", " inside "[" and "]": "[0.1000, -2.5000]"; "[]" when empty.
std::string format_f32_list(std::span<const float> values);

// Rank 2: "  {name} values:\n" then one "    [v, v, ...]" line per row, rows separated by "\n"
// with none after the last (0 rows: the header alone, with its newline; 0 columns: "    []").
// Any other rank: "  {name} values: " and format_f32_list of all the values.
std::string format_tensor_values(std::string_view name, const Tensor& tensor);

}  // namespace orvik
