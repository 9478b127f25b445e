#pragma once
// The front door: the command table, usage and tour texts, the generic inspect and explain
// routing, and the step-mode pause.
#include <string>
#include <vector>

#include "util/input.hpp"  // wait_for_enter, the step-mode pause
#include "util/result.hpp"

namespace orvik {

using Words = std::vector<std::string>;

// Runs the command named by the first word with the remaining words; no words prints the usage.
CommandResult dispatch_command(const Words& args);

CommandResult print_usage(const Words& words);
CommandResult cmd_tour(const Words& words);
CommandResult cmd_inspect(const Words& words);
CommandResult cmd_explain(const Words& words);

}  // namespace orvik
