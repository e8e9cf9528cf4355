// The console and append-only log files, as the print library needs them.
#pragma once

#include <cstddef>

namespace vexlor::os {

// True when standard output is an interactive terminal that shows ANSI colour sequences.
bool console_supports_colour();

// Writes the bytes to standard output in one write (retrying only the unwritten tail).
void console_write(const char* data, std::size_t size);

// Appends the bytes to the file (created 0660 when missing) in one write with append mode, so
// lines of concurrent processes never interleave. False when the file cannot be written.
bool append_to_file(const char* path, const char* data, std::size_t size);

}  // namespace vexlor::os
