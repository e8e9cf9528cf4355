// Console and append-only log files on POSIX.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "os/console.h"
#include "os/instance.h"

namespace vexlor::os {

bool console_supports_colour() {
  static const bool terminal = ::isatty(STDOUT_FILENO) == 1;
  return terminal;
}

void console_write(const char* data, std::size_t size) {
  std::fflush(stdout);  // keep order with anything printed through stdio
  while (size > 0) {
    ssize_t n = ::write(STDOUT_FILENO, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
}

bool append_to_file(const char* path, const char* data, std::size_t size) {
  // A new file gets 0660 whatever the umask; an existing one keeps what it has.
  int fd = ::open(path, O_WRONLY | O_APPEND | O_CREAT | O_EXCL | O_CLOEXEC, 0660);
  if (fd >= 0) {
    ::fchmod(fd, 0660);
  } else if (errno == EEXIST) {
    fd = ::open(path, O_WRONLY | O_APPEND | O_CLOEXEC);
  }
  if (fd < 0) return false;
  ssize_t n;
  do {
    n = ::write(fd, data, size);
  } while (n < 0 && errno == EINTR);
  ::close(fd);
  return n == static_cast<ssize_t>(size);
}

AppendFile::~AppendFile() {
  if (native_ >= 0) ::close(static_cast<int>(native_));
}

bool AppendFile::append(const std::string& path, const char* data, std::size_t size) {
  if (native_ >= 0) {
    struct stat st;
    if (path != path_ || ::fstat(static_cast<int>(native_), &st) != 0 || st.st_nlink == 0) {
      ::close(static_cast<int>(native_));
      native_ = -1;
    }
  }
  if (native_ < 0) {
    const std::size_t slash = path.find_last_of('/');
    if (slash != std::string::npos && slash > 0) make_dirs(path.substr(0, slash));
    // A new file gets 0660 whatever the umask; an existing one keeps what it has.
    int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_EXCL | O_CLOEXEC, 0660);
    if (fd >= 0) {
      ::fchmod(fd, 0660);
    } else if (errno == EEXIST) {
      fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    }
    if (fd < 0) return false;
    native_ = fd;
    path_ = path;
  }
  ssize_t n;
  do {
    n = ::write(static_cast<int>(native_), data, size);
  } while (n < 0 && errno == EINTR);
  return n == static_cast<ssize_t>(size);
}

}  // namespace vexlor::os
