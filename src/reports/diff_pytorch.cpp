// The PyTorch diff: storage totals, fingerprints and recovered parameter names of two
// checkpoints. It has no interpretation lines.
#include "reports/diff.hpp"
#include "reports/primitives.hpp"
#include "util/output.hpp"

namespace orvik {
namespace {

CommandResult print_pytorch_json(const PyTorchSummary& old_summary,
                                 const PyTorchSummary& new_summary) {
  JsonValue object = JsonValue::object();
  object["new"] = pytorch_summary_to_value(new_summary);
  object["old"] = pytorch_summary_to_value(old_summary);
  object["type"] = "pytorch";
  return print_json(object);
}

}  // namespace

CommandResult diff_pytorch(const PyTorchSummary& old_summary, const PyTorchSummary& new_summary,
                           bool json) {
  if (json) return print_pytorch_json(old_summary, new_summary);

  print_diff_header("PyTorch", old_summary.path, new_summary.path);

  print_line("Structure:");
  print_size_change_row("File size", old_summary.bytes, new_summary.bytes);
  print_count_change_row("Tensors (storages)", old_summary.tensor_count, new_summary.tensor_count);
  print_count_change_row("Parameters (est)", old_summary.estimated_parameter_count,
                         new_summary.estimated_parameter_count);
  print_size_change_row("Parameter bytes", old_summary.total_parameter_bytes,
                        new_summary.total_parameter_bytes);
  print_text_change_row("Dominant dtype", old_summary.dominant_dtype, new_summary.dominant_dtype);

  print_line();
  print_line("Parameter-like Internals:");
  print_fingerprint_change_row("Full artifact fingerprint", old_summary.file_fingerprint,
                               new_summary.file_fingerprint);
  print_fingerprint_change_row("Learned-state fingerprint (sampled)",
                               old_summary.learned_state_fingerprint,
                               new_summary.learned_state_fingerprint);

  print_line();
  print_line("Parameter Names:");
  print_count_change_row("Recovered names", old_summary.param_names.size(),
                         new_summary.param_names.size());
  print_feature_name_changes(old_summary.param_names, new_summary.param_names);
  return {};
}

}  // namespace orvik
