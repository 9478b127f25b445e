#include "util/output.hpp"

#include <cstdio>

namespace orvik {

void print_line(std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fputc('\n', stdout);
}

void print_raw(std::string_view text) { std::fwrite(text.data(), 1, text.size(), stdout); }

}  // namespace orvik
