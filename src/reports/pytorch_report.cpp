#include "reports/pytorch_report.hpp"

#include <cstdint>
#include <string_view>

#include <fmt/core.h>

#include "pt/pytorch_reader.hpp"
#include "reports/inspect_common.hpp"
#include "reports/primitives.hpp"
#include "util/format.hpp"
#include "util/output.hpp"
#include "util/text.hpp"

namespace orvik {
namespace {

constexpr std::string_view kUsage =
    "usage: orvik pytorch [--json] [--limit 20] <model.pt|model.pth> [more...]";

void print_report(const PyTorchSummary& s, const std::string&, const InspectOptions& options) {
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
  print_name_list(s.param_names, options.limit, "found", "  none recovered from the pickle");
}

}  // namespace

CommandResult cmd_pytorch(const std::vector<std::string>& words) {
  const auto options = scan_inspect_words(words, DeepOption::Refused, kUsage);
  if (!options) return fail(options.error());
  return run_inspect<PyTorchSummary>(*options, read_pytorch,
                                     stream_json_documents<PyTorchSummary, write_pytorch_summary>,
                                     print_report);
}

}  // namespace orvik
