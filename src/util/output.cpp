#include "util/output.hpp"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "util/file.hpp"
#include "util/text.hpp"

namespace orvik {
namespace {

// Standard output is one per process, and so is what is known about it.
struct StandardOutput {
  bool terminal = ::isatty(STDOUT_FILENO) == 1;
  int error = 0;  // errno of the first failed write or flush
};

StandardOutput& standard_output() {
  static StandardOutput out;
  return out;
}

void record_failure(StandardOutput& out) {
  if (out.error == 0) out.error = errno != 0 ? errno : EIO;
}

void write_out(std::string_view text) {
  StandardOutput& out = standard_output();
  // fwrite's buffer must not be null even for zero bytes, and an empty view may carry a null
  // data().
  if (out.error != 0 || text.empty()) return;
  std::string escaped;
  if (out.terminal && needs_terminal_escape(text)) {
    escaped = escape_for_terminal(text);
    text = escaped;
  }
  errno = 0;
  // A line-buffered fwrite whose flush fails still reports every byte taken; the stream's error
  // flag tells.
  if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::ferror(stdout)) {
    record_failure(out);
  }
}

}  // namespace

void print_line(std::string_view text) {
  write_out(text);
  write_out("\n");
}

void print_raw(std::string_view text) {
  write_out(text);
}

void print_underlined(std::string_view title) {
  print_line(title);
  print_line(std::string(title.size(), '-'));
}

CommandResult finish_output() {
  StandardOutput& out = standard_output();
  errno = 0;
  if (std::fflush(stdout) != 0) record_failure(out);
  // A flush elsewhere may have failed without passing through here.
  if (out.error == 0 && std::ferror(stdout)) out.error = EIO;
  if (out.error != 0) return fail(system_error_text(out.error));
  return {};
}

}  // namespace orvik
