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

// Memory held back for the way out of an exhausted heap. When an allocation fails, this block is
// given back before the failure is thrown, so that unwinding the command, whose destructors may
// allocate (the JSON library's flattens each tree it frees onto a heap stack) and would end the
// process if that failed, and printing the error find room. The block is never touched, so it
// costs address space but no memory.
constexpr std::size_t kReserveBytes = 32u << 20;
void* reserve = nullptr;

void give_back_reserve_and_fail() {
  ::operator delete(reserve);
  reserve = nullptr;
  std::set_new_handler(nullptr);
  throw std::bad_alloc();
}

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
  reserve = ::operator new(kReserveBytes, std::nothrow);
  if (reserve != nullptr) std::set_new_handler(give_back_reserve_and_fail);
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
