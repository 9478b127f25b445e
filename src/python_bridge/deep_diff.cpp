#include "python_bridge/deep_diff.hpp"

#include <fmt/core.h>

#include "embedded_scripts.hpp"
#include "python_bridge/python_bridge.hpp"
#include "util/output.hpp"

namespace orvik {

CommandResult print_catboost_deep_diff(const std::string& old_path, const std::string& new_path) {
  auto decoded = run_python_script(scripts::DEEP_DIFF_SCRIPT, {old_path, new_path});
  if (!decoded) {
    return fail(
        fmt::format("CatBoost deep diff needs Python with `catboost` installed. Tried:\n  {}",
                    join_failures(decoded.error(), "\n  ")));
  }
  print_raw(*decoded);
  return {};
}

}  // namespace orvik
