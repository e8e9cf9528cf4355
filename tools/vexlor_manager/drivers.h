// The manager's driver programs: outside simulation, one process per driver whose kind has a
// program (drivers/kinds.h), started with the driver's name, restarted with a back-off when it
// ends (1 s, doubling up to 30 s; 60 s of serving resets it), and ended with the manager. A
// driver program that ends leaves its driver offline (parameter 9) until its successor connects;
// nothing else is stopped.
#pragma once

#include <vexlor/records.h>
#include <sys/types.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vexlor_manager {

class DriverPrograms {
 public:
  DriverPrograms(bool quiet) : quiet_(quiet) {}
  ~DriverPrograms() { stop(); }
  // Starts the programs of the attached database's drivers (none in simulation).
  void start(Vexlor::MMAP_STRU* db);
  void stop();

 private:
  struct Child {
    int driver;
    std::string name;
    std::string program;
    pid_t pid = -1;
    double started = 0, restart_at = 0, backoff = 0;
  };
  void launch(Child& c);
  void watch();
  void say(const std::string& line);

  bool quiet_;
  Vexlor::MMAP_STRU* db_ = nullptr;
  std::vector<Child> children_;
  std::mutex lock_;
  std::condition_variable wake_;
  bool stopping_ = false;
  std::thread watch_;
};

}  // namespace vexlor_manager
