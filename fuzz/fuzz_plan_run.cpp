// libFuzzer harness for plan execution: any plan text is read, built and run with values and
// heatmaps. Any outcome is fine except a crash, a sanitizer report or a hang; a plan that fails
// the static analysis must fail the run with the analysis's message, and one that passes must
// either run every layer or stop at a kernel's own message. Plans are kept small (a few
// thousand zero values, no tensor above 256 KiB) so that the search stays fast; the size limits
// themselves do not depend on the size.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "model/analysis.hpp"
#include "model/execution.hpp"
#include "model/model.hpp"
#include "model/plan_schema.hpp"
#include "util/text.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  if (!orvik::is_valid_utf8(text)) return 0;
  auto spec = orvik::deserialize_model_spec(text);
  if (!spec) return 0;
  const auto model = orvik::build_model(std::move(*spec), orvik::ZeroBudget{1u << 12});
  if (!model) return 0;
  const auto analysis = orvik::analyze_model(*model);
  if (analysis) {
    const auto largest = std::max_element(
        analysis->tensors.begin(), analysis->tensors.end(),
        [](const orvik::TensorInfo& a, const orvik::TensorInfo& b) { return a.bytes < b.bytes; });
    if (largest->bytes > (256u << 10) || analysis->total_ops > (1u << 24)) return 0;
  }
  const auto run = orvik::execute_model(*model, true, true, [](orvik::ExecStep&&) {});
  if (!analysis) {
    if (run || run.error() != analysis.error()) std::abort();
    return 0;
  }
  if (run && run->step_count != model->layers.size()) std::abort();
  return 0;
}
