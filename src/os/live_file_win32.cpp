// Live files on Windows: the creator keeps the file open without write sharing and with
// delete-on-close, so the file disappears with its process and a probe that can open it for
// writing has found one left by a crash.
#include "os/windows_api.h"

#include "os/instance.h"
#include "os/live_file.h"

namespace vexlor::os {
namespace {

std::string read_all(HANDLE h) {
  std::string out;
  char buffer[512];
  DWORD n = 0;
  ::SetFilePointer(h, 0, nullptr, FILE_BEGIN);
  while (::ReadFile(h, buffer, sizeof buffer, &n, nullptr) && n > 0) out.append(buffer, n);
  return out;
}

}  // namespace

LiveFile::~LiveFile() { close(); }

bool LiveFile::create(const std::string& path, const std::string& content, std::string* error) {
  close();
  const std::size_t slash = path.find_last_of("\\/");
  if (slash != std::string::npos && slash > 0) make_dirs(path.substr(0, slash));
  probe_live_file(path, nullptr, true);
  HANDLE h = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE,
                           FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    if (error) *error = path + ": cannot create (error " + std::to_string(::GetLastError()) + ")";
    return false;
  }
  DWORD written = 0;
  if (!content.empty() &&
      !::WriteFile(h, content.data(), static_cast<DWORD>(content.size()), &written, nullptr)) {
    if (error) *error = path + ": cannot write";
    ::CloseHandle(h);
    return false;
  }
  native_ = reinterpret_cast<intptr_t>(h);
  owner_ = process_id();
  path_ = path;
  return true;
}

void LiveFile::close() {
  if (native_ == -1) return;
  ::CloseHandle(reinterpret_cast<HANDLE>(native_));  // delete-on-close removes the file
  native_ = -1;
}

Liveness probe_live_file(const std::string& path, std::string* content, bool remove_dead) {
  HANDLE h = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, FILE_SHARE_READ,
                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    if (::GetLastError() != ERROR_SHARING_VIOLATION) return Liveness::kAbsent;
    if (content) {
      HANDLE r = ::CreateFileA(path.c_str(), GENERIC_READ,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
      if (r != INVALID_HANDLE_VALUE) {
        *content = read_all(r);
        ::CloseHandle(r);
      }
    }
    return Liveness::kAlive;
  }
  if (content) *content = read_all(h);
  ::CloseHandle(h);
  if (remove_dead) ::DeleteFileA(path.c_str());
  return Liveness::kDead;
}

std::vector<std::string> list_dir(const std::string& dir) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA data;
  HANDLE h = ::FindFirstFileA((dir + "\\*").c_str(), &data);
  if (h == INVALID_HANDLE_VALUE) return names;
  do {
    const std::string name = data.cFileName;
    if (name != "." && name != "..") names.push_back(name);
  } while (::FindNextFileA(h, &data));
  ::FindClose(h);
  return names;
}

void force_mode(const std::string&, unsigned) {}

}  // namespace vexlor::os
