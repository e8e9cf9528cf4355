// The console and append-only log files, as the print library needs them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vexlor::os {

// True when standard output is an interactive terminal that shows ANSI colour sequences.
bool console_supports_colour();

// Writes the bytes to standard output in one write (retrying only the unwritten tail).
void console_write(const char* data, std::size_t size);

// Appends the bytes to the file (created 0660 when missing) in one write with append mode, so
// lines of concurrent processes never interleave. False when the file cannot be written.
bool append_to_file(const char* path, const char* data, std::size_t size);

// One log file kept open for appending: opened (its folders made first) on the first line,
// again when the path changes (a new day) or the open file has been removed; each line is
// one append-mode write, so lines of concurrent processes never interleave. Not thread-safe.
class AppendFile {
 public:
  AppendFile() = default;
  ~AppendFile();
  AppendFile(const AppendFile&) = delete;
  AppendFile& operator=(const AppendFile&) = delete;
  bool append(const std::string& path, const char* data, std::size_t size);

 private:
  intptr_t native_ = -1;
  std::string path_;
};

}  // namespace vexlor::os
