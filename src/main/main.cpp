// Process entry: collects the arguments, runs one command, and turns its result into the exit
// status. The only place that writes standard error or ends the process.
#include <cstdio>
#include <string>
#include <vector>

#include <fmt/core.h>

#include "main/dispatch.hpp"
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
  std::fflush(stdout);
  if (!result) {
    fmt::print(stderr, "error: {}\n", result.error());
    return 1;
  }
  return 0;
}
