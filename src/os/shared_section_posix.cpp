// Shared sections on POSIX: files in the instance folder (on tmpfs by default), mapped
// MAP_SHARED by every process of the instance.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "os/instance.h"
#include "os/shared_section.h"

namespace vexlor::os {
namespace {

std::string section_path(const std::string& name, bool create_dir) {
  std::string dir = instance_dir({}, create_dir);
  if (dir.empty()) return {};
  return dir + "/" + file_name_for(name) + ".section";
}

void set_error(std::string* error, const std::string& what, int err) {
  if (error) *error = what + ": " + std::strerror(err);
}

bool map_fd(int fd, std::size_t size, SharedSection* out) {
  void* p = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (p == MAP_FAILED) return false;
  out->address = p;
  out->size = size;
  return true;
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
    set_error(error, "cannot create instance folder " + instance_dir(), errno);
    return false;
  }
  if (replace) ::unlink(path.c_str());
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0660);
  if (fd < 0) {
    set_error(error, "cannot create section " + path, errno);
    return false;
  }
  ::fchmod(fd, 0660);
  if (::ftruncate(fd, static_cast<off_t>(size)) != 0 || !map_fd(fd, size, out)) {
    set_error(error, "cannot size section " + path, errno);
    ::close(fd);
    ::unlink(path.c_str());
    return false;
  }
  ::close(fd);
  return true;
}

bool section_open(const std::string& name, SharedSection* out, std::string* error) {
  if (out == nullptr) return false;
  std::string path = section_path(name, false);
  int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) {
    set_error(error, "cannot open section " + path, errno);
    return false;
  }
  struct stat st;
  bool ok = ::fstat(fd, &st) == 0 && st.st_size > 0 &&
            map_fd(fd, static_cast<std::size_t>(st.st_size), out);
  if (!ok) set_error(error, "cannot map section " + path, errno);
  ::close(fd);
  return ok;
}

void section_unmap(SharedSection* section) {
  if (section == nullptr || section->address == nullptr) return;
  ::munmap(section->address, section->size);
  section->address = nullptr;
  section->size = 0;
}

bool section_remove(const std::string& name) {
  return ::unlink(section_path(name, false).c_str()) == 0;
}

bool section_exists(const std::string& name) {
  struct stat st;
  return ::stat(section_path(name, false).c_str(), &st) == 0;
}

bool section_rename(const std::string& from, const std::string& to, bool replace,
                    std::string* error) {
  std::string src = section_path(from, false);
  std::string dst = section_path(to, false);
  if (!replace) {
    // link() fails when the target exists: an atomic "rename unless present".
    if (::link(src.c_str(), dst.c_str()) != 0) {
      set_error(error, "cannot publish section " + dst, errno);
      return false;
    }
    ::unlink(src.c_str());
    return true;
  }
  if (::rename(src.c_str(), dst.c_str()) != 0) {
    set_error(error, "cannot publish section " + dst, errno);
    return false;
  }
  return true;
}

}  // namespace vexlor::os
