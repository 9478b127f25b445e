#pragma once
// Standard output for reports. Lines go out as they are produced (main makes stdout line
// buffered), so a command that fails part-way leaves what it already printed.
//
// Every byte of standard output passes through here, which owns two duties for all commands:
// - a terminal gets no control sequences from names found in files: when standard output is a
//   terminal, text is written through escape_for_terminal; on a pipe or a file, unchanged;
// - a failed write is not lost: the first failure is kept, later output is dropped, and
//   finish_output reports it so that the process does not end in success.
#include <string_view>

#include "util/result.hpp"

namespace orvik {

// Writes the text and a newline.
void print_line(std::string_view text = {});

// Writes the text as it stands.
void print_raw(std::string_view text);

// Writes a title line and under it a rule of "-", one per byte of the title.
void print_underlined(std::string_view title);

// Flushes standard output. The error is the system error text of the first write or flush that
// failed since the process started ("No space left on device (os error 28)"). Also called before
// reading standard input, so a prompt is shown and a lost report stops the interactive modes.
CommandResult finish_output();

}  // namespace orvik
