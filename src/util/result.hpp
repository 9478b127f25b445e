#pragma once
// Errors are values: every fallible function returns its result or one message text.
#include <expected>
#include <string>

namespace orvik {

template <class T>
using Result = std::expected<T, std::string>;

// The outcome of a command handler: success, or the message main prints after "error: ".
using CommandResult = std::expected<void, std::string>;

inline std::unexpected<std::string> fail(std::string message) {
  return std::unexpected<std::string>(std::move(message));
}

}  // namespace orvik
