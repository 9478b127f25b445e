// Process entry: collects the arguments, runs one command, and turns its result into the exit
// status. The only place that writes standard error or ends the process.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include <fmt/core.h>

#include "main/dispatch.hpp"
#include "util/file.hpp"
#include "util/output.hpp"
#include "util/text.hpp"

namespace {

orvik::CommandResult run(int argc, char** argv) {
  std::vector<std::string> args;
  args.reserve(argc > 0 ? static_cast<std::size_t>(argc - 1) : 0);
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (!orvik::is_valid_utf8(arg)) {
      return orvik::fail(
          fmt::format("argument {} is not valid UTF-8: `{}`", i, orvik::decode_utf8_lossy(arg)));
    }
    args.push_back(std::move(arg));
  }
  return orvik::dispatch_command(args);
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 1 << 16);
  // Running out of memory is the one failure that arrives as an exception (from the standard
  // library's allocations, anywhere); it ends the command like any other error. The text is made
  // up front, while memory is certainly there.
  const std::string out_of_memory = orvik::system_error_text(ENOMEM);
  orvik::CommandResult result;
  try {
    result = run(argc, argv);
  } catch (const std::bad_alloc&) {
    result = orvik::fail(out_of_memory);
  } catch (const std::length_error&) {  // a size beyond what a container can hold
    result = orvik::fail(out_of_memory);
  }
  // A report that could not be written is a failure, unless the command failed already.
  if (auto written = orvik::finish_output(); result && !written) result = std::move(written);
  if (!result) {
    // Messages carry paths and names from the command line and from files; a terminal shows
    // their control characters as escapes, like standard output.
    const std::string& message = result.error();
    const bool escape = ::isatty(STDERR_FILENO) == 1 && orvik::needs_terminal_escape(message);
    fmt::print(stderr, "error: {}\n", escape ? orvik::escape_for_terminal(message) : message);
    return 1;
  }
  return 0;
}
