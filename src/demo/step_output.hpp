#pragma once
// How the lessons and the attention demo print one step, whole or one at a time.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "util/result.hpp"

namespace orvik {

// The step's title; each line after two spaces; the values text, when there is one, and a line
// break; an empty line; and with `pause` the step-mode pause, whose error is returned.
CommandResult print_step(std::string_view title, const std::vector<std::string>& lines,
                         const std::optional<std::string>& values, bool pause);

}  // namespace orvik
