#include "python_bridge/feature_processing.hpp"

#include <algorithm>
#include <string_view>

#include <fmt/core.h>

#include "embedded_scripts.hpp"
#include "python_bridge/python_bridge.hpp"
#include "util/output.hpp"
#include "util/text.hpp"

namespace orvik {
namespace {

// The fallback lists at most this many names, whatever limit the report itself uses.
constexpr std::size_t kFallbackNameLimit = 24;

// The first non-empty line of the failures joined by newlines, each line trimmed and a carriage
// return before its newline dropped; "unknown" when every line is empty.
std::string failure_reason(const std::vector<std::string>& failures) {
  const std::string joined = join_failures(failures, "\n");
  std::string_view rest = joined;
  while (true) {
    const std::size_t newline = rest.find('\n');
    std::string_view line = rest.substr(0, newline);
    if (newline != std::string_view::npos && !line.empty() && line.back() == '\r') {
      line.remove_suffix(1);
    }
    const std::string_view trimmed = trim_white_space(line);
    if (!trimmed.empty()) return std::string(trimmed);
    if (newline == std::string_view::npos) break;
    rest.remove_prefix(newline + 1);
  }
  return "unknown";
}

}  // namespace

void print_feature_processing(const std::string& model_path, const NameList& feature_names) {
  auto decoded = run_python_script(scripts::FEATURE_PROCESSING_SCRIPT, {model_path});
  if (decoded) {
    print_raw(*decoded);
    return;
  }
  print_line("Feature Processing:");
  print_line("  Exact float/categorical feature typing unavailable.");
  print_line(fmt::format("  Reason: {}", failure_reason(decoded.error())));
  print_line(fmt::format("  Recovered feature names: {}", feature_names.size()));
  const std::size_t shown = std::min(feature_names.size(), kFallbackNameLimit);
  auto name = feature_names.begin();
  for (std::size_t i = 0; i < shown; ++i, ++name) {
    print_line(fmt::format("    {}", *name));
  }
  if (feature_names.size() > shown) {
    print_line(fmt::format("    ... {} more", feature_names.size() - shown));
  }
}

}  // namespace orvik
