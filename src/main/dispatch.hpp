#pragma once
// The front door: the command table, usage and tour texts, the step-mode pause, and the commands
// that take any kind of artifact (inspect, explain, diff, explain-diff, check). Those find the
// path's kind in one table of what every kind has (its report, explanation, diff, change
// explanation and check, or the text it refuses with) and hand over to that room.
#include <string>
#include <vector>

#include "util/input.hpp"  // wait_for_enter, the step-mode pause
#include "util/result.hpp"

namespace orvik {

using Words = std::vector<std::string>;

// Runs the command named by the first word with the remaining words; no words prints the usage.
CommandResult dispatch_command(const Words& args);

// diff [--deep] [--json] <old-model> <new-model>.
CommandResult cmd_diff(const Words& words);
// explain-diff <old-model> <new-model>; every word beginning with "--" is ignored.
CommandResult cmd_explain_diff(const Words& words);
// check [rules] <old-model> <new-model>.
CommandResult cmd_check(const Words& words);

}  // namespace orvik
