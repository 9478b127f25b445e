#pragma once
// Runs the embedded Python programs through the first interpreter that works, and the doctor and
// convert commands built on that.
#include <string>
#include <string_view>
#include <vector>

#include "util/result.hpp"

namespace orvik {

// $KALTERA_PYTHON (when set and valid UTF-8, even empty), ".venv/bin/python", "python3".
std::vector<std::string> python_candidates();

// Standard output of the first candidate that exits with status 0, or one failure line per
// candidate ("{candidate}: {start error or trimmed standard error}").
std::expected<std::string, std::vector<std::string>> run_python_script(
    std::string_view script, const std::vector<std::string>& args);

// The failure lines of run_python_script joined with `separator` between neighbours.
std::string join_failures(const std::vector<std::string>& failures, std::string_view separator);

CommandResult cmd_doctor(const std::vector<std::string>& words);
CommandResult cmd_convert(const std::vector<std::string>& words);

}  // namespace orvik
