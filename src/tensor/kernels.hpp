#pragma once
// The seven tensor kernels. Each borrows its inputs, returns a fresh output with the monotonic
// time the kernel took, and computes in 32-bit floats exactly as described per kernel: the stated
// loop order, every product rounded before it is added (no fused multiply-add), and the C
// library's expf and tanhf. A failing kernel returns only its message.
#include <chrono>

#include "tensor/tensor.hpp"
#include "util/result.hpp"

namespace orvik {

struct OpOutput {
  Tensor tensor;
  // From the kernel's start reading (at entry for add_tensors, gelu, relu and scale; after the
  // shape checks for transpose2d, softmax and matmul) until the output is complete.
  std::chrono::nanoseconds elapsed;
};

// A kernel time in milliseconds: (whole seconds + nanoseconds / 1e9) * 1000, in doubles.
double elapsed_ms(std::chrono::nanoseconds elapsed);

// [rows, cols] -> [cols, rows] with out[j * rows + i] = x[i * cols + j].
// Fails with "transpose2d expects a rank-2 tensor".
Result<OpOutput> transpose2d(const Tensor& x);

// Over the last dimension, row by row: m = the row's largest value skipping NaN (negative
// infinity when there is none), e = expf(v - m), s = the sum of the e values in index order from
// 0, each e / s. A NaN or a positive infinity in a row makes the whole row NaN. A last dimension
// of 0 gives the empty tensor of the same shape. Fails with
// "softmax needs at least one dimension" on a rank-0 tensor.
Result<OpOutput> softmax(const Tensor& x);

// Equal shapes: element by element. Otherwise, when b has rank 1 and a's last dimension equals
// b's only dimension d: out[i] = a[i] + b[i mod d] (bias broadcast; one-sided). The output has
// a's shape. Fails with "cannot add {} and {}" (a's shape, b's shape).
Result<OpOutput> add_tensors(const Tensor& a, const Tensor& b);

// [m, k] @ [k, n] -> [m, n]; for each i, then j, then p from 0: acc = acc + a[i, p] * b[p, j]
// starting from 0. Fails with "matmul currently expects rank-2 tensors" (checked first), then
// "cannot matmul {} @ {}; inner dimensions differ", then, before anything is allocated,
// "cannot matmul {} @ {}; the result would hold more than {} values" (kMaxTensorValues).
Result<OpOutput> matmul(const Tensor& a, const Tensor& b);

// The tanh approximation: c = ((v * v) * v) * 0.044715; t = tanhf((c + v) * sqrt(2 / pi));
// (t + 1) * (v * 0.5), each step rounded to a 32-bit float.
OpOutput gelu(const Tensor& x);

// v when v > 0, else +0.0 (NaN and negative zero included).
OpOutput relu(const Tensor& x);

// v * factor.
OpOutput scale(const Tensor& x, float factor);

}  // namespace orvik
