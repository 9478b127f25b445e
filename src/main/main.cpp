// Process entry: collects the arguments, runs one command, and turns its result into the exit
// status. The only place that writes standard error or ends the process.
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include <fmt/core.h>

#include "main/dispatch.hpp"
#include "util/output.hpp"
#include "util/text.hpp"

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 1 << 16);
  std::vector<std::string> args;
  args.reserve(argc > 0 ? static_cast<std::size_t>(argc - 1) : 0);
  orvik::CommandResult result;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (!orvik::is_valid_utf8(arg)) {
      result = orvik::fail(
          fmt::format("argument {} is not valid UTF-8: `{}`", i, orvik::decode_utf8_lossy(arg)));
      break;
    }
    args.push_back(std::move(arg));
  }
  if (result) result = orvik::dispatch_command(args);
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
