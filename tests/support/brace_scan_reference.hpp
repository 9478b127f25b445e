#pragma once
// The embedded-JSON scan of CatBoost files exactly as the format's readers describe it, kept only
// as the reference the fast scan is checked against (unit tests and the fuzz harness): from every
// '{', walk; an unclosed walk moves the scan one byte on, a closed one moves it past the closing
// brace. Quadratic on floods of unclosed braces, so only for small inputs.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace orvik::testing_support {

// Offset of the brace that closes the '{' at `i`, if the walk from `i` finds one.
inline std::optional<std::size_t> literal_walk(std::string_view bytes, std::size_t i) {
  std::size_t depth = 0;
  bool in_string = false;
  bool escape = false;
  for (std::size_t k = i; k < bytes.size(); ++k) {
    const char c = bytes[k];
    if (!in_string) {
      if (c == '"') in_string = true;
      if (c == '{') ++depth;
      if (c == '}') {
        if (depth < 2) return k;
        --depth;
      }
    } else if (escape) {
      escape = false;
    } else if (c == '"') {
      in_string = false;
    } else if (c == '\\') {
      escape = true;
    }
  }
  return std::nullopt;
}

// Every closed span [start, end) in scan order.
inline std::vector<std::pair<std::size_t, std::size_t>> literal_spans(std::string_view bytes) {
  std::vector<std::pair<std::size_t, std::size_t>> spans;
  std::size_t i = 0;
  while (i < bytes.size()) {
    const std::optional<std::size_t> close =
        bytes[i] == '{' ? literal_walk(bytes, i) : std::nullopt;
    if (!close) {
      ++i;
      continue;
    }
    spans.emplace_back(i, *close + 1);
    i = *close + 1;
  }
  return spans;
}

}  // namespace orvik::testing_support
