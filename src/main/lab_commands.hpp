#pragma once
// The tensor lab's report commands: each loads the plan named by its first word (further words
// are ignored), takes one view of the plan's analysis, and prints it. Without a word each fails
// with its usage line; a load error or a "Validation failed" message is the command's error,
// returned before anything is printed.
#include "main/dispatch.hpp"
#include "util/result.hpp"

namespace orvik {

// trace, summary: the model summary, execution plan, hot path, largest tensor, most expensive
// operation and potential bottlenecks.
CommandResult cmd_trace(const Words& words);
// compare: operations, memory and share of compute per layer.
CommandResult cmd_compare(const Words& words);
// why: the cost breakdown of every self-attention layer.
CommandResult cmd_why(const Words& words);
// validate: "Validation: ok", the totals and the shape flow.
CommandResult cmd_validate(const Words& words);
// tensor-inspect: the totals and every layer's report.
CommandResult cmd_tensor_inspect(const Words& words);
// explain-model, walkthrough: every layer explained step by step.
CommandResult cmd_explain_model(const Words& words);

}  // namespace orvik
