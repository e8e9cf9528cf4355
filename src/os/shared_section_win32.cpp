// Shared sections on Windows: files in the instance folder, mapped with CreateFileMappingA
// and MapViewOfFile by every process of the instance. Being file-backed, a database
// outlives the process that created it, as on POSIX.
//
// Windows refuses to delete a file while a view of it is mapped, but allows renaming it
// (every handle here shares delete access). Removing or replacing a mapped section
// therefore renames it aside to "<file>.<pid>.<n>.removed" first, which frees its name at
// once as unlink does on POSIX; the renamed file is deleted as soon as it can be, at the
// latest by a later section_create in the same folder.
#include "os/windows_api.h"

#include <atomic>
#include <cstdint>
#include <string>

#include "os/instance.h"
#include "os/shared_section.h"

namespace vexlor::os {
namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// A hint to keep the pages in memory rather than write them out eagerly; the file stays.
constexpr DWORD kAttributes = FILE_ATTRIBUTE_TEMPORARY;

std::string section_path(const std::string& name, bool create_dir) {
  std::string dir = instance_dir({}, create_dir);
  if (dir.empty()) return {};
  return dir + "\\" + file_name_for(name) + ".section";
}

std::string system_message(DWORD err) {
  char text[512];
  DWORD n = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                             err, 0, text, sizeof text, nullptr);
  while (n > 0 && (text[n - 1] == '\r' || text[n - 1] == '\n' || text[n - 1] == ' ')) --n;
  if (n == 0) return "error " + std::to_string(err);
  return std::string(text, n);
}

void set_error(std::string* error, const std::string& what, DWORD err) {
  if (error) *error = what + ": " + system_message(err);
}

// Maps `size` bytes of `file` (growing the file to that size if it is shorter, zero-filled).
// False with the system error in GetLastError() on failure.
bool map_file(HANDLE file, std::size_t size, SharedSection* out) {
  uint64_t size64 = size;
  HANDLE mapping =
      ::CreateFileMappingA(file, nullptr, PAGE_READWRITE, static_cast<DWORD>(size64 >> 32),
                           static_cast<DWORD>(size64 & 0xFFFFFFFFu), nullptr);
  if (mapping == nullptr) return false;
  void* view = ::MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, size);
  DWORD err = ::GetLastError();
  ::CloseHandle(mapping);  // the view keeps the mapping alive
  if (view == nullptr) {
    ::SetLastError(err);
    return false;
  }
  out->address = view;
  out->size = size;
  return true;
}

// Deletes a file, or renames it aside when a mapped view keeps it from being deleted.
// False (with GetLastError()) when the name could not be freed.
bool remove_file(const std::string& path) {
  if (::DeleteFileA(path.c_str())) return true;
  DWORD err = ::GetLastError();
  if (err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND) {
    ::SetLastError(err);
    return false;
  }
  static std::atomic<unsigned> counter{0};
  std::string aside = path + "." + std::to_string(::GetCurrentProcessId()) + "." +
                      std::to_string(counter.fetch_add(1)) + "." +
                      std::to_string(::GetTickCount()) + ".removed";
  if (!::MoveFileExA(path.c_str(), aside.c_str(), 0)) return false;
  ::DeleteFileA(aside.c_str());  // fails while still mapped; swept later
  return true;
}

// Deletes the renamed-aside files of the folder that are no longer mapped.
void sweep_removed(const std::string& dir) {
  WIN32_FIND_DATAA found;
  HANDLE search = ::FindFirstFileA((dir + "\\*.removed").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    ::DeleteFileA((dir + "\\" + found.cFileName).c_str());
  } while (::FindNextFileA(search, &found));
  ::FindClose(search);
}

}  // namespace

bool section_create(const std::string& name, std::size_t size, bool replace, SharedSection* out,
                    std::string* error) {
  if (out == nullptr || size == 0) {
    if (error) *error = "invalid section request";
    return false;
  }
  std::string path = section_path(name, true);
  if (path.empty()) {
    set_error(error, "cannot create instance folder " + instance_dir(), ::GetLastError());
    return false;
  }
  sweep_removed(instance_dir());
  if (replace) remove_file(path);
  HANDLE file = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, kShareAll, nullptr,
                              CREATE_NEW, kAttributes, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    set_error(error, "cannot create section " + path, ::GetLastError());
    return false;
  }
  if (!map_file(file, size, out)) {
    DWORD err = ::GetLastError();
    ::CloseHandle(file);
    ::DeleteFileA(path.c_str());
    set_error(error, "cannot size section " + path, err);
    return false;
  }
  ::CloseHandle(file);
  return true;
}

bool section_open(const std::string& name, SharedSection* out, std::string* error) {
  if (out == nullptr) return false;
  std::string path = section_path(name, false);
  HANDLE file = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, kShareAll, nullptr,
                              OPEN_EXISTING, kAttributes, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    set_error(error, "cannot open section " + path, ::GetLastError());
    return false;
  }
  LARGE_INTEGER size;
  bool ok = ::GetFileSizeEx(file, &size) != FALSE;
  DWORD err = ok ? ERROR_SUCCESS : ::GetLastError();
  if (ok && (size.QuadPart <= 0 ||
             static_cast<uint64_t>(size.QuadPart) > static_cast<uint64_t>(SIZE_MAX))) {
    ok = false;
    err = ERROR_INVALID_DATA;
  }
  if (ok && !map_file(file, static_cast<std::size_t>(size.QuadPart), out)) {
    ok = false;
    err = ::GetLastError();
  }
  ::CloseHandle(file);
  if (!ok) set_error(error, "cannot map section " + path, err);
  return ok;
}

void section_unmap(SharedSection* section) {
  if (section == nullptr || section->address == nullptr) return;
  ::UnmapViewOfFile(section->address);
  section->address = nullptr;
  section->size = 0;
}

bool section_remove(const std::string& name) { return remove_file(section_path(name, false)); }

bool section_exists(const std::string& name) {
  return ::GetFileAttributesA(section_path(name, false).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool section_rename(const std::string& from, const std::string& to, bool replace,
                    std::string* error) {
  std::string src = section_path(from, false);
  std::string dst = section_path(to, false);
  // Without MOVEFILE_REPLACE_EXISTING the move fails when `to` exists: an atomic
  // "rename unless present".
  if (::MoveFileExA(src.c_str(), dst.c_str(), replace ? MOVEFILE_REPLACE_EXISTING : 0)) {
    return true;
  }
  DWORD err = ::GetLastError();
  if (replace && err == ERROR_ACCESS_DENIED && remove_file(dst)) {
    // The old section is still mapped somewhere: it was renamed aside; publish now.
    if (::MoveFileExA(src.c_str(), dst.c_str(), 0)) return true;
    err = ::GetLastError();
  }
  set_error(error, "cannot publish section " + dst, err);
  return false;
}

}  // namespace vexlor::os
