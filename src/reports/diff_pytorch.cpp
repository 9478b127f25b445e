// The PyTorch diff: storage totals, fingerprints and recovered parameter names of two
// checkpoints. It has no interpretation lines.
#include "reports/diff.hpp"
#include "reports/primitives.hpp"
#include "util/output.hpp"

namespace orvik {
namespace {

JsonValue pytorch_diff_json(const PyTorchSummary& old_summary, const PyTorchSummary& new_summary) {
  return record_pair_json("pytorch", pytorch_summary_to_value(old_summary),
                          pytorch_summary_to_value(new_summary));
}

void print_pytorch_sections(const PyTorchSummary& old_summary, const PyTorchSummary& new_summary) {
  print_line("Structure:");
  print_size_change_row("File size", old_summary.bytes, new_summary.bytes);
  print_count_change_row("Tensors (storages)", old_summary.tensor_count, new_summary.tensor_count);
  print_count_change_row("Parameters (est)", old_summary.estimated_parameter_count,
                         new_summary.estimated_parameter_count);
  print_size_change_row("Parameter bytes", old_summary.total_parameter_bytes,
                        new_summary.total_parameter_bytes);
  print_text_change_row("Dominant dtype", old_summary.dominant_dtype, new_summary.dominant_dtype);

  print_section_heading("Parameter-like Internals:");
  print_fingerprint_change_row("Full artifact fingerprint", old_summary.file_fingerprint,
                               new_summary.file_fingerprint);
  print_fingerprint_change_row("Learned-state fingerprint (sampled)",
                               old_summary.learned_state_fingerprint,
                               new_summary.learned_state_fingerprint);

  // The name-change block is headed "Feature name changes:" here too.
  print_names_section("Parameter Names:", "Recovered names", old_summary.param_names,
                      new_summary.param_names);
}

}  // namespace

const DiffFormat<PyTorchSummary> kPyTorchDiff = {"PyTorch", read_pytorch, pytorch_diff_json,
                                                 print_pytorch_sections};

CommandResult diff_pytorch(const PyTorchSummary& old_summary, const PyTorchSummary& new_summary,
                           bool json) {
  return render_diff(kPyTorchDiff, old_summary, new_summary, json);
}

}  // namespace orvik
