// Which processes have the database of an instance mapped. Every attachment leaves a record
// "attached.<pid>.<n>" in the instance folder, a live file (os/live_file.h) holding the pid and
// the routine name; it goes with the attachment and, when a process is killed, is found dead
// and removed by the next reader.
#pragma once

#include <string>
#include <vector>

#include "os/live_file.h"

namespace vexlor::detail {

struct AttachedProcess {
  long pid = 0;
  std::string routine;
};

// The record of one attachment of this process.
class AttachRecord {
 public:
  bool open(const std::string& routine);
  void close() { file_.close(); }

 private:
  os::LiveFile file_;
};

// The live attachments of the instance whose folder is `instance_dir`, by pid then routine;
// records of dead processes are removed on the way.
std::vector<AttachedProcess> attached_processes(const std::string& instance_dir);

// "1234 (PM1_PROC), 1240 (VEXLOR_CONSOLE)".
std::string describe(const std::vector<AttachedProcess>& processes);

}  // namespace vexlor::detail
