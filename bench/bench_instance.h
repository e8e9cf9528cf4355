// A private instance for one benchmark program: its own runtime folder (and log drive root
// inside it), named after the program and its process, removed when the program ends.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <system_error>

namespace vexlor::bench {

class BenchInstance {
 public:
  explicit BenchInstance(const std::string& tag) {
    char templ[] = "/tmp/vexlor-bench.XXXXXX";
    dir_ = ::mkdtemp(templ);
    ::setenv("VEXLOR_RUNTIME_DIR", dir_.c_str(), 1);
    ::setenv("VEXLOR_DRIVE_ROOT", (dir_ + "/drives").c_str(), 1);
    ::setenv("VEXLOR_INSTANCE", (tag + "-" + std::to_string(::getpid())).c_str(), 1);
  }
  ~BenchInstance() {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  BenchInstance(const BenchInstance&) = delete;
  BenchInstance& operator=(const BenchInstance&) = delete;

 private:
  std::string dir_;
};

}  // namespace vexlor::bench
