#pragma once
// One run of an external program with both output streams captured: the launcher under the
// Python bridge.
#include <string>
#include <vector>

#include "util/result.hpp"

namespace orvik {

struct ProcessOutput {
  // True only when the child ended normally with exit status 0 (not by a signal).
  bool exited_zero = false;
  std::string stdout_bytes;
  std::string stderr_bytes;
};

// Starts `program` (a path, absolute or relative to the working directory, or a bare name looked
// up through PATH) with argv[0] = `program` followed by `args`, each one argument and no shell.
// The child inherits the environment and the working directory, reads the null device and holds
// no descriptor of ours beyond its three standard streams. Both output streams are read whole
// (neither can stall the other) and the child is always waited for.
// The error is the system error text of a start failure ("No such file or directory (os error
// 2)", "Permission denied (os error 13)"), or of a failure while collecting the output.
Result<ProcessOutput> run_process(const std::string& program, const std::vector<std::string>& args);

}  // namespace orvik
