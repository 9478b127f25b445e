// libFuzzer harness for the CatBoost reader. Any outcome is fine except a crash, a sanitizer
// report, a hang or an outsized allocation. The input is read as given and behind the "CBM1"
// signature (so most inputs reach the scan); a summary must agree with the bytes and render as
// JSON; on small inputs the fast brace scan must match the walk from every position.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "artifact_kind/artifact_kind.hpp"
#include "brace_scan_reference.hpp"
#include "cbm/brace_scan.hpp"
#include "cbm/catboost_reader.hpp"
#include "reports/catboost_report.hpp"
#include "util/json.hpp"

namespace {

void check_scan(std::string_view bytes) {
  const auto expected = orvik::testing_support::literal_spans(bytes);
  const std::vector<orvik::BraceSpan> found = orvik::find_brace_spans(bytes);
  if (found.size() != expected.size()) std::abort();
  for (std::size_t s = 0; s < found.size(); ++s) {
    if (found[s].start != expected[s].first || found[s].end != expected[s].second) std::abort();
  }
}

void check_summary(std::string_view bytes) {
  const auto summary = orvik::read_catboost_bytes("fuzz.cbm", bytes);
  const bool signed_file = bytes.size() >= 4 && bytes.substr(0, 4) == "CBM1";
  if (summary.has_value() != signed_file) std::abort();
  if (!summary) return;
  if (summary->file_size_bytes != bytes.size()) std::abort();
  if (summary->file_fingerprint != orvik::fnv1a64(orvik::kFnvOffsetBasis, bytes)) std::abort();
  if (!summary->metadata_fingerprint &&
      summary->learned_state_fingerprint != summary->file_fingerprint) {
    std::abort();
  }
  if (std::adjacent_find(summary->feature_names.begin(), summary->feature_names.end(),
                         std::greater_equal<>()) != summary->feature_names.end()) {
    std::abort();
  }
  if (!orvik::write_json(orvik::catboost_inspect_json(*summary))) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  check_summary(bytes);
  const std::string signed_bytes = "CBM1" + std::string(bytes);
  check_summary(signed_bytes);
  if (size <= 4096) check_scan(bytes);
  return 0;
}
