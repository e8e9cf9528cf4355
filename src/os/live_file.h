// Files that prove a process alive: the creator holds a lock on the file for as long as it
// keeps the file open, and the kernel drops that lock when the process ends, also under
// kill -9. A probe tells a live holder from a file left behind by a dead one. Used for the
// records of processes attached to a database and for database build files.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vexlor::os {

class LiveFile {
 public:
  LiveFile() = default;
  ~LiveFile();
  LiveFile(const LiveFile&) = delete;
  LiveFile& operator=(const LiveFile&) = delete;

  // Creates `path` (0660, its folder 0770 when missing) holding `content`, locked from the
  // moment it appears under its name. Replaces a file a dead holder left there.
  bool create(const std::string& path, const std::string& content, std::string* error);
  // Removes the file and drops the lock (only in the process that created it: a forked
  // child closing its copy leaves the file alone).
  void close();
  bool is_open() const { return native_ != -1; }
  const std::string& path() const { return path_; }

 private:
  intptr_t native_ = -1;
  long owner_ = -1;
  std::string path_;
};

enum class Liveness { kAbsent, kAlive, kDead };

// Probes `path` without waiting. Fills `content` (when given) for a live or dead file. With
// `remove_dead` a dead file is removed, unless another process replaced it meanwhile.
Liveness probe_live_file(const std::string& path, std::string* content, bool remove_dead);

// Names of the entries of a folder (no "." and ".."); empty when it cannot be read.
std::vector<std::string> list_dir(const std::string& dir);

// Sets a file's or folder's permissions to `mode` (POSIX bits), whatever the umask was when
// it was made. A no-op where the platform has no such bits.
void force_mode(const std::string& path, unsigned mode);

}  // namespace vexlor::os
