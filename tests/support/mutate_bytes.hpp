#pragma once
// Random small edits of a byte string, for differential checks on damaged inputs.
#include <algorithm>
#include <cstddef>
#include <random>
#include <string>
#include <string_view>

namespace orvik::testing_support {

// Applies 1 to `max_edits` random edits at offsets in [first, min(last, size - 1)]: each inserts,
// replaces or removes one byte, inserted and replacing bytes drawn from `alphabet`.
inline void mutate_bytes(std::string& bytes, std::mt19937_64& rng, std::string_view alphabet,
                         int max_edits, std::size_t first = 0,
                         std::size_t last = std::string::npos) {
  const int edits = std::uniform_int_distribution<int>(1, max_edits)(rng);
  for (int e = 0; e < edits; ++e) {
    const std::size_t at = std::uniform_int_distribution<std::size_t>(
        first, std::min<std::size_t>(last, bytes.size() - 1))(rng);
    const char c =
        alphabet[std::uniform_int_distribution<std::size_t>(0, alphabet.size() - 1)(rng)];
    switch (std::uniform_int_distribution<int>(0, 2)(rng)) {
      case 0:
        bytes.insert(bytes.begin() + static_cast<std::ptrdiff_t>(at), c);
        break;
      case 1:
        bytes[at] = c;
        break;
      default:
        bytes.erase(at, 1);
        break;
    }
  }
}

}  // namespace orvik::testing_support
