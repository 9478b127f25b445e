#include "util/input.hpp"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "util/file.hpp"
#include "util/output.hpp"
#include "util/text.hpp"

namespace orvik {

Result<std::string> read_input_line() {
  char* raw = nullptr;
  std::size_t capacity = 0;
  errno = 0;
  const ssize_t n = ::getline(&raw, &capacity, stdin);
  const int err = errno;
  const std::unique_ptr<char, decltype(&std::free)> line(raw, &std::free);
  // getline reports end of input and a failed read alike; the stream's error flag tells them apart.
  // A read that fails after part of a line came in fails the whole line: the part is no reply.
  // A closed standard input (no descriptor 0 at all) counts as end of input, not as a failure.
  if (std::ferror(stdin)) {
    std::clearerr(stdin);
    if (err != EBADF) return fail(system_error_text(err != 0 ? err : EIO));
  }
  std::string text = n > 0 ? std::string(line.get(), static_cast<std::size_t>(n)) : std::string();
  if (!is_valid_utf8(text)) return fail("stream did not contain valid UTF-8");
  return text;
}

Result<std::string> ask_line(std::string_view prompt) {
  print_raw(prompt);
  if (auto flushed = finish_output(); !flushed) return fail(std::move(flushed.error()));
  return read_input_line();
}

CommandResult wait_for_enter() {
  if (auto line = ask_line("next> "); !line) return fail(std::move(line.error()));
  return {};
}

}  // namespace orvik
