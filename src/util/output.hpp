#pragma once
// Standard output for reports. Lines go out as they are produced (main makes stdout line
// buffered), so a command that fails part-way leaves what it already printed.
#include <string_view>

namespace orvik {

// Writes the text and a newline.
void print_line(std::string_view text = {});

// Writes the text as it stands.
void print_raw(std::string_view text);

// Writes a title line and under it a rule of "-", one per byte of the title.
void print_underlined(std::string_view title);

}  // namespace orvik
