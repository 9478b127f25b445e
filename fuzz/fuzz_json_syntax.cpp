// libFuzzer harness for the CatBoost reader's JSON handling: on every UTF-8 input, the quick
// syntax check must give the JSON library's verdict, and the streaming compact rewrite must equal
// the library's value tree written compactly, with the same answers to the two member lookups.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string_view>

#include "cbm/compact_json.hpp"
#include "cbm/json_syntax.hpp"
#include "util/json.hpp"
#include "util/text.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  if (!orvik::is_valid_utf8(text)) return 0;
  orvik::JsonValue tree;
  try {
    tree = orvik::JsonValue::parse(text.begin(), text.end(), nullptr, false);
  } catch (...) {
    std::abort();
  }
  const bool accepted = !tree.is_discarded();
  if (orvik::is_json_text(text) != accepted) std::abort();
  const std::optional<orvik::CompactJson> compact = orvik::compact_json(text);
  if (compact.has_value() != accepted) std::abort();
  if (!compact) return 0;
  const auto written = orvik::write_json(tree, orvik::JsonStyle::Compact);
  if (!written || *written != compact->text) std::abort();
  const bool params = tree.is_object() && tree.contains("boosting_options");
  const bool metrics = tree.is_object() && tree.contains("metrics") &&
                       tree["metrics"].is_object() && tree["metrics"].contains("learn_best_error");
  if (compact->flags.has_boosting_options != params ||
      compact->flags.has_learn_best_error != metrics) {
    std::abort();
  }
  return 0;
}
