#include "reports/pytorch_report.hpp"

#include <cstdint>
#include <string_view>

#include <fmt/core.h>

#include "pt/pytorch_reader.hpp"
#include "reports/primitives.hpp"
#include "util/format.hpp"
#include "util/output.hpp"
#include "util/text.hpp"

namespace orvik {
namespace {

constexpr std::string_view kUsage =
    "usage: orvik pytorch [--json] [--limit 20] <model.pt|model.pth> [more...]";

struct Options {
  bool json = false;
  std::uint64_t limit = 20;
  std::vector<std::string> paths;
};

Result<Options> scan_options(const std::vector<std::string>& words) {
  Options options;
  for (std::size_t i = 0; i < words.size(); ++i) {
    const std::string& word = words[i];
    if (word == "--json") {
      options.json = true;
    } else if (word == "--deep") {
      // Refused the moment it is met, before any later word or any file.
      return fail("--deep inspection is currently only supported for CatBoost artifacts.");
    } else if (word == "--limit") {
      if (i + 1 >= words.size()) return fail("--limit needs a number");
      auto limit = parse_u64(words[i + 1]);
      if (!limit) return fail(fmt::format("parse --limit: {}", limit.error()));
      options.limit = *limit;
      ++i;
    } else {
      options.paths.push_back(word);
    }
  }
  if (options.paths.empty()) return fail(std::string(kUsage));
  return options;
}

void print_report(const PyTorchSummary& s, std::uint64_t limit) {
  print_line("PyTorch Model Summary");
  print_line("---------------------");
  print_line(fmt::format("Model: {}", s.path));
  print_line(s.is_zip ? "Format: PyTorch (torch.save zip)" : "Format: PyTorch (legacy pickle)");
  print_line(fmt::format("File size: {}", format_size(s.bytes)));
  if (s.torch_version) print_line(fmt::format("Serialization version: {}", *s.torch_version));

  print_line();
  print_line("Structure:");
  if (s.is_zip) {
    print_line(fmt::format("  Tensors (storages): {}", s.tensor_count));
    print_line(
        fmt::format("  Parameters (est):   {}", human_count_text(s.estimated_parameter_count)));
    print_line(fmt::format("  Parameter bytes:    {}", format_size(s.total_parameter_bytes)));
  } else {
    print_line("  Tensors (storages): unknown (legacy pickle)");
    print_line("  Parameters (est):   unknown (legacy pickle does not store sizes as entries)");
    print_line("  Parameter bytes:    unknown (legacy pickle)");
  }
  print_field_row("Dominant dtype", s.dominant_dtype);

  print_line();
  print_line("Parameter-like Internals:");
  print_line(
      fmt::format("  Full artifact fingerprint: {}", format_fingerprint(s.file_fingerprint)));
  print_line(fmt::format("  Learned-state fingerprint (sampled): {}",
                         format_fingerprint(s.learned_state_fingerprint)));
  print_line(
      "  Note: parameter count is estimated from storage bytes / dtype; tensor shapes are not "
      "decoded.");

  print_line();
  print_line("Recovered Parameter Names:");
  if (s.param_names.empty()) {
    print_line("  none recovered from the pickle");
    return;
  }
  print_line(fmt::format("  found: {}", s.param_names.size()));
  const std::uint64_t count = s.param_names.size();
  const std::uint64_t shown = limit < count ? limit : count;
  for (std::uint64_t i = 0; i < shown; ++i)
    print_line(fmt::format("  {}", s.param_names[i]));
  if (count > shown) print_line(fmt::format("  ... {} more", count - shown));
}

CommandResult print_json_records(const std::vector<std::string>& paths) {
  std::vector<PyTorchSummary> summaries;
  summaries.reserve(paths.size());
  for (const auto& path : paths) {
    auto summary = read_pytorch(path);
    if (!summary) return fail(std::move(summary.error()));
    summaries.push_back(std::move(*summary));
  }
  auto text = summaries.size() == 1 ? serialize_pytorch_summary(summaries.front())
                                    : serialize_pytorch_summaries(summaries);
  if (!text) return fail(fmt::format("serialize JSON: {}", text.error()));
  print_line(*text);
  return {};
}

}  // namespace

CommandResult cmd_pytorch(const std::vector<std::string>& words) {
  auto options = scan_options(words);
  if (!options) return fail(std::move(options.error()));
  if (options->json) return print_json_records(options->paths);
  bool first = true;
  for (const auto& path : options->paths) {
    if (!first) print_line();
    first = false;
    auto summary = read_pytorch(path);
    if (!summary) return fail(std::move(summary.error()));
    print_report(*summary, options->limit);
  }
  return {};
}

}  // namespace orvik
