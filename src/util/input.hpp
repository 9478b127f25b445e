#pragma once
// Standard input for the interactive modes (quizzes and the step-mode pause), with the messages
// users see when the terminal goes away: the system's error text, or
// "stream did not contain valid UTF-8" for a line that is not text.
#include <string>
#include <string_view>

#include "util/result.hpp"

namespace orvik {

// Reads one line of standard input, its line break included when there is one. End of input, and
// a closed standard input, is no error: it gives the empty text (or the last unterminated line). A
// failed read gives the system error text; a line that is not valid UTF-8 gives "stream did not
// contain valid UTF-8".
Result<std::string> read_input_line();

// Prints the prompt without a line break, flushes standard output (a write that failed earlier
// in the command is reported here, before anything is read) and reads one line as
// read_input_line does.
Result<std::string> ask_line(std::string_view prompt);

// The step-mode pause: prints "next> ", flushes, and reads and discards one line. At the end of
// standard input it returns at once, so a step mode with closed input runs straight through.
CommandResult wait_for_enter();

}  // namespace orvik
