#include "demo/step_output.hpp"

#include "util/input.hpp"
#include "util/output.hpp"

namespace orvik {

CommandResult print_step(std::string_view title, const std::vector<std::string>& lines,
                         const std::optional<std::string>& values, bool pause) {
  print_line(title);
  for (const auto& line : lines) {
    print_raw("  ");
    print_line(line);
  }
  if (values) print_line(*values);
  print_line();
  if (pause) return wait_for_enter();
  return {};
}

}  // namespace orvik
