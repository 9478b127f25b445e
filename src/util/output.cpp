#include "util/output.hpp"

#include <cstdio>
#include <string>

namespace orvik {

// fwrite's buffer must not be null even for zero bytes, and an empty view may carry a null data().
void print_line(std::string_view text) {
  if (!text.empty()) std::fwrite(text.data(), 1, text.size(), stdout);
  std::fputc('\n', stdout);
}

void print_raw(std::string_view text) {
  if (!text.empty()) std::fwrite(text.data(), 1, text.size(), stdout);
}

void print_underlined(std::string_view title) {
  print_line(title);
  print_line(std::string(title.size(), '-'));
}

}  // namespace orvik
