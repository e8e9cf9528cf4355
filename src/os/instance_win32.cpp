// Instance folders on Windows: %LOCALAPPDATA%\vexlor\<instance> (or the temporary folder's
// vexlor\<instance>) unless VEXLOR_RUNTIME_DIR says otherwise. The folders are private to the
// user by the profile's own access rights.
#include "os/windows_api.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "os/instance.h"

namespace vexlor::os {

std::string runtime_base() {
  const char* env = std::getenv("VEXLOR_RUNTIME_DIR");
  if (env && *env) return env;
  const char* local = std::getenv("LOCALAPPDATA");
  if (local && *local) return std::string(local) + "\\vexlor";
  char temp[MAX_PATH + 1];
  DWORD n = ::GetTempPathA(sizeof temp, temp);
  std::string base = (n > 0 && n < sizeof temp) ? std::string(temp, n) : std::string(".\\");
  if (base.back() != '\\' && base.back() != '/') base.push_back('\\');
  return base + "vexlor";
}

bool make_dirs(const std::string& path) {
  if (path.empty()) return false;
  // Every prefix ending before a separator, then the whole path. Prefixes that cannot be
  // created ("C:", "\\server\share", folders that exist) are passed over; the result is
  // whether the whole path is a folder afterwards.
  for (std::size_t pos = path.find_first_of("\\/", 1); pos != std::string::npos;
       pos = path.find_first_of("\\/", pos + 1)) {
    ::CreateDirectoryA(path.substr(0, pos).c_str(), nullptr);
  }
  ::CreateDirectoryA(path.c_str(), nullptr);
  DWORD attributes = ::GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

long process_id() { return static_cast<long>(::GetCurrentProcessId()); }

bool remove_instance_dir_if_empty() {
  const std::string dir = instance_dir();
  ::RemoveDirectoryA((dir + "\\mutex").c_str());
  ::RemoveDirectoryA((dir + "\\endpoint").c_str());
  return ::RemoveDirectoryA(dir.c_str()) != 0 || ::GetLastError() == ERROR_FILE_NOT_FOUND;
}

}  // namespace vexlor::os
