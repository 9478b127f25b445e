#pragma once
// The tensor lab's report commands: each loads the plan named by its first word (further words
// are ignored), takes one view of the plan's analysis, and prints it. Without a word each fails
// with its usage line; a load error or a "Validation failed" message is the command's error,
// returned before anything is printed.
#include <string_view>

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

// quiz: asks the output shape of every layer on standard input, one line per answer, and ends
// with the score. A reply matches when it equals the answer once every White_Space character is
// removed from both ("[1,8]" and " [ 1 ,\t8 ] " match "[1, 8]"); end of input is an empty,
// wrong reply. A failed flush or read (or a reply that is not UTF-8) ends the quiz with the I/O
// error's text and no score.
CommandResult cmd_quiz(const Words& words);

// Whether a quiz reply names the answer's shape: equal once every White_Space character is gone.
bool shape_reply_matches(std::string_view reply, std::string_view answer);

}  // namespace orvik
