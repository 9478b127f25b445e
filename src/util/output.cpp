#include "util/output.hpp"

#include <cstdio>

namespace orvik {

// fwrite's buffer must not be null even for zero bytes, and an empty view may carry a null data().
void print_line(std::string_view text) {
  if (!text.empty()) std::fwrite(text.data(), 1, text.size(), stdout);
  std::fputc('\n', stdout);
}

void print_raw(std::string_view text) {
  if (!text.empty()) std::fwrite(text.data(), 1, text.size(), stdout);
}

}  // namespace orvik
