// libFuzzer harness for the LightGBM text reader. Any outcome is fine except a crash, a sanitizer
// report, a hang or an outsized allocation; a summary must also agree with the bytes it came from
// and survive both JSON forms (every text in it was decoded with replacement, so writing it
// cannot fail).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "artifact_kind/artifact_kind.hpp"
#include "lightgbm/lightgbm_reader.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  auto summary = orvik::read_lightgbm_bytes("fuzz.txt", bytes);
  if (!summary) return 0;
  if (summary->bytes != size) std::abort();
  if (summary->file_fingerprint != orvik::fnv1a64(orvik::kFnvOffsetBasis, bytes)) std::abort();
  if (!orvik::looks_like_lightgbm(bytes)) std::abort();
  if (!orvik::serialize_lightgbm_summary(*summary)) std::abort();
  (void)orvik::lightgbm_summary_to_value(*summary);
  return 0;
}
