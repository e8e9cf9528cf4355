// The file paths the equipment's software uses are Windows paths ("Z:\History\2025\03\05/
// system.log"). On POSIX they are mapped onto the file system here.
#pragma once

#include <cstddef>
#include <string>

namespace vexlor::detail {

// Longest system path accepted (Windows MAX_PATH less the terminator).
inline constexpr std::size_t kMaxSystemPath = 259;

// Root folder of the mapped drive letters: VEXLOR_DRIVE_ROOT, else $HOME/.vexlor/drives, else
// /tmp/vexlor-drives.
std::string drive_root();

// On POSIX: a leading drive "X:" becomes "<drive_root()>/X" (the letter upper-cased) and every
// '\' becomes '/'; a path without a drive letter keeps its place. On Windows the path is
// returned unchanged. Returns "" for a null or empty path or one longer than kMaxSystemPath.
std::string map_system_path(const char* path);

}  // namespace vexlor::detail
