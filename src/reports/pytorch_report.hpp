#pragma once
// The `pytorch` / `pt` command: a summary of one or more PyTorch checkpoints, as text or as the
// record JSON.
#include <string>
#include <vector>

#include "util/result.hpp"

namespace orvik {

// Words: "--json", "--limit N" (parameter names listed per checkpoint, 20 by default) and paths.
CommandResult cmd_pytorch(const std::vector<std::string>& words);

}  // namespace orvik
