// libFuzzer harness: the quick JSON check that guards the CatBoost reader's parsing must give
// the JSON library's verdict on every UTF-8 input.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "cbm/json_syntax.hpp"
#include "util/json.hpp"
#include "util/text.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  if (!orvik::is_valid_utf8(text)) return 0;
  bool accepted = false;
  try {
    accepted = !orvik::JsonValue::parse(text.begin(), text.end(), nullptr, false).is_discarded();
  } catch (...) {
    accepted = false;
  }
  if (orvik::is_json_text(text) != accepted) std::abort();
  return 0;
}
