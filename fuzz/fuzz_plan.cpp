// libFuzzer harness for tensor plans: the plan reader, building and the static analysis with
// every view of it. Any outcome is fine except a crash, a sanitizer report, a hang or an outsized
// allocation; a failed read must carry its position, and an analysis must hold one record per
// layer in each of its per-layer lists.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "model/analysis.hpp"
#include "model/model.hpp"
#include "model/plan_schema.hpp"
#include "model/views.hpp"
#include "util/text.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  // Plan files that are not UTF-8 end before the reader sees them.
  if (!orvik::is_valid_utf8(text)) return 0;
  auto spec = orvik::deserialize_model_spec(text);
  if (!spec) {
    if (spec.error().find(" at line ") == std::string::npos) std::abort();
    return 0;
  }
  const std::size_t layer_count = spec->layers.size();
  // A million zero values at most, so that plans of large sizes do not slow the search down; the
  // budget's own check is the same at any size.
  auto model = orvik::build_model(std::move(*spec), orvik::ZeroBudget{1u << 20});
  if (!model) return 0;
  if (model->layers.size() != layer_count) std::abort();
  const auto analysis = orvik::analyze_model(*model);
  if (!analysis) {
    if (!analysis.error().starts_with("Validation failed\n\nLayer: ")) std::abort();
    return 0;
  }
  if (analysis->layer_reports.size() != layer_count ||
      analysis->walkthrough_steps.size() != layer_count ||
      analysis->quiz_questions.size() != layer_count || analysis->cost_rows.size() != layer_count ||
      analysis->operations.size() != layer_count ||
      analysis->shape_flow.size() != layer_count + 1 ||
      analysis->plan_steps.size() != layer_count + 1 || analysis->tensors.empty()) {
    std::abort();
  }
  const auto trace = orvik::trace_view(*model);
  if (!trace || trace->top_operations.size() > 3) std::abort();
  if (!orvik::compare_view(*model) || !orvik::inspect_view(*model) ||
      !orvik::validate_view(*model) || !orvik::why_view(*model) ||
      !orvik::walkthrough_view(*model) || !orvik::quiz_view(*model)) {
    std::abort();
  }
  return 0;
}
