#pragma once
// The tensor lab's execution commands: run a plan once with its per-layer steps, or many times
// for a benchmark. Both refuse a plan that fails validation with the "Validation failed" message,
// before any kernel runs and before anything is printed.
#include "main/dispatch.hpp"
#include "util/result.hpp"

namespace orvik {

// run <plan> [--values] [--heatmap]: the model and input shape, every layer's step (its lines,
// the values and attention heatmap when asked for, its kernel time), the output values and, for
// a plan with labels, the prediction. Errors: "usage: orvik run examples/mlp.json [--values]
// [--heatmap]" without a path, "unexpected argument `{}`" for a second one, the plan's load,
// validation and kernel errors.
CommandResult cmd_run(const Words& words);

// bench <plan> [--iters N]: N runs (1000 by default) timed together. Errors: "usage: orvik bench
// examples/mlp.json [--iters 1000]" without any word, "usage: orvik bench examples/mlp.json"
// without a path, "--iters needs a number", "parse --iters: {}", "--iters must be greater than
// 0" (at once, before the plan is read), "unexpected argument `{}`", and the plan's errors.
CommandResult cmd_bench(const Words& words);

}  // namespace orvik
