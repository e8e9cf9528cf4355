// Live files on POSIX: an exclusive flock held on an open descriptor. A file is made under a
// private name, locked, then renamed into place, so a probe never sees it unlocked while its
// creator lives.
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "os/instance.h"
#include "os/live_file.h"

namespace vexlor::os {
namespace {

bool write_all(int fd, const std::string& content) {
  std::size_t done = 0;
  while (done < content.size()) {
    const ssize_t n = ::write(fd, content.data() + done, content.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

std::string read_all(int fd) {
  std::string out;
  char buffer[512];
  ssize_t n;
  while ((n = ::pread(fd, buffer, sizeof buffer, static_cast<off_t>(out.size()))) > 0) {
    out.append(buffer, static_cast<std::size_t>(n));
  }
  return out;
}

}  // namespace

LiveFile::~LiveFile() { close(); }

bool LiveFile::create(const std::string& path, const std::string& content, std::string* error) {
  close();
  const std::size_t slash = path.rfind('/');
  if (slash != std::string::npos && slash > 0) make_dirs(path.substr(0, slash));
  const std::string fresh = path + ".new" + std::to_string(process_id());
  ::unlink(fresh.c_str());
  const int fd = ::open(fresh.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0660);
  if (fd < 0) {
    if (error) *error = path + ": " + std::strerror(errno);
    return false;
  }
  ::fchmod(fd, 0660);
  if (::flock(fd, LOCK_EX) != 0 || !write_all(fd, content) ||
      ::rename(fresh.c_str(), path.c_str()) != 0) {
    if (error) *error = path + ": " + std::strerror(errno);
    ::unlink(fresh.c_str());
    ::close(fd);
    return false;
  }
  native_ = fd;
  owner_ = process_id();
  path_ = path;
  return true;
}

void LiveFile::close() {
  if (native_ == -1) return;
  if (owner_ == process_id()) ::unlink(path_.c_str());
  ::close(static_cast<int>(native_));
  native_ = -1;
}

Liveness probe_live_file(const std::string& path, std::string* content, bool remove_dead) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return Liveness::kAbsent;
  if (content) *content = read_all(fd);
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    return Liveness::kAlive;
  }
  if (remove_dead) {
    // Only the file probed: a new holder may have put its own file under the name.
    struct stat held, named;
    if (::fstat(fd, &held) == 0 && ::stat(path.c_str(), &named) == 0 &&
        held.st_ino == named.st_ino && held.st_dev == named.st_dev) {
      ::unlink(path.c_str());
    }
  }
  ::close(fd);
  return Liveness::kDead;
}

std::vector<std::string> list_dir(const std::string& dir) {
  std::vector<std::string> names;
  DIR* d = ::opendir(dir.c_str());
  if (d == nullptr) return names;
  while (const dirent* e = ::readdir(d)) {
    const std::string name = e->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  ::closedir(d);
  return names;
}

void force_mode(const std::string& path, unsigned mode) {
  ::chmod(path.c_str(), static_cast<mode_t>(mode));
}

}  // namespace vexlor::os
