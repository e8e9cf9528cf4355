// Console and append-only log files on Windows. Colour uses the console's virtual-terminal
// mode, so the same ANSI lines as on POSIX show their attributes. Texts are GBK (code page
// 936); a console gets them as UTF-16, so Chinese shows whatever the console's code page is,
// while redirected output and files keep the GBK bytes.
#include "os/windows_api.h"

#include <string>

#include "os/console.h"
#include "os/instance.h"

namespace vexlor::os {

bool console_supports_colour() {
  static const bool vt = [] {
    HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (out == INVALID_HANDLE_VALUE || out == nullptr || !::GetConsoleMode(out, &mode)) {
      return false;
    }
    const DWORD kVirtualTerminal = 0x0004;  // ENABLE_VIRTUAL_TERMINAL_PROCESSING
    return (mode & kVirtualTerminal) != 0 || ::SetConsoleMode(out, mode | kVirtualTerminal) != 0;
  }();
  return vt;
}

void console_write(const char* data, std::size_t size) {
  HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
  if (out == INVALID_HANDLE_VALUE || out == nullptr) return;
  DWORD mode = 0;
  if (size > 0 && size < 0x10000000u && ::GetConsoleMode(out, &mode)) {
    const int in = static_cast<int>(size);
    int wide_size = ::MultiByteToWideChar(936, 0, data, in, nullptr, 0);
    if (wide_size > 0) {
      std::wstring wide(static_cast<std::size_t>(wide_size), L'\0');
      ::MultiByteToWideChar(936, 0, data, in, &wide[0], wide_size);
      DWORD written = 0;
      ::WriteConsoleW(out, wide.data(), static_cast<DWORD>(wide_size), &written, nullptr);
      return;
    }
  }
  while (size > 0) {
    DWORD written = 0;
    DWORD chunk = size > 0x10000000u ? 0x10000000u : static_cast<DWORD>(size);
    if (!::WriteFile(out, data, chunk, &written, nullptr) || written == 0) return;
    data += written;
    size -= written;
  }
}

bool append_to_file(const char* path, const char* data, std::size_t size) {
  // FILE_APPEND_DATA without FILE_WRITE_DATA: every write lands at the end, atomically.
  HANDLE file = ::CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  BOOL ok = ::WriteFile(file, data, static_cast<DWORD>(size), &written, nullptr);
  ::CloseHandle(file);
  return ok && written == size;
}

// Windows keeps no handle between lines: an open handle would stop the day's folder from
// being moved or removed while a routine runs.
AppendFile::~AppendFile() = default;

bool AppendFile::append(const std::string& path, const char* data, std::size_t size) {
  const std::size_t slash = path.find_last_of('/');
  if (slash != std::string::npos && slash > 0) make_dirs(path.substr(0, slash));
  return append_to_file(path.c_str(), data, size);
}

}  // namespace vexlor::os
