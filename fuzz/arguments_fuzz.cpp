// libFuzzer target for the argument texts: declared-argument texts are unpacked, packed and
// unpacked again, and run parameters unpacked, against a small private equipment. Any crash,
// overrun (AddressSanitizer) or broken record bound is a finding.
//
// Build (from the source root; the library sources are compiled in):
//   clang++ -std=c++17 -g -O1 -fsanitize=fuzzer,address -Iinclude -Isrc \
//     fuzz/arguments_fuzz.cpp $(ls src/{os,util,fifo,db,frame,points,functions,alarms,named}/*.cpp \
//     | grep -v _win32) src/config/builder.cpp -lsqlite3 -lpthread -lrt -ldl -o arguments_fuzz
//   ./arguments_fuzz fuzz/corpus/arguments
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "config/builder.h"
#include "util/console_sink.h"
#include "vexlor/arguments.h"
#include "vexlor/vexlor.h"

namespace {

std::string g_runtime_dir;

void remove_instance() {
  Vexlor::VHub_Release();
  vexlor::config::remove_database(nullptr);
  std::error_code ignored;
  std::filesystem::remove_all(g_runtime_dir, ignored);
}

// The routine's red lines would flood the output; they are dropped.
void drop_console_lines() {
  vexlor::detail::set_console_capture([](const vexlor::detail::ConsoleLine&) {}, false);
}

void check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "arguments_fuzz: %s\n", what);
    __builtin_trap();
  }
}

bool terminated(const char* field, std::size_t size) { return memchr(field, '\0', size) != nullptr; }

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char folder[] = "/tmp/vexlor-fuzz.XXXXXX";
  if (mkdtemp(folder) == nullptr) return 0;
  g_runtime_dir = folder;
  setenv("VEXLOR_RUNTIME_DIR", folder, 1);
  setenv("VEXLOR_DRIVE_ROOT", (g_runtime_dir + "/drives").c_str(), 1);
  setenv("VEXLOR_INSTANCE", ("fuzz" + std::to_string(getpid())).c_str(), 1);
  drop_console_lines();
  vexlor::config::DatabaseBuilder b;
  b.add_module("PM1", "PM1", Vexlor::MODULE_PM, 0, 11);
  b.add_module("TM1", "TM1", Vexlor::MODULE_TM, 0, -1);
  for (int n = 1; n <= 5; ++n) {
    b.add_alarm(n, "CTC", "ctc");
    b.add_alarm(11000 + n, "PM1", "pm1");
  }
  b.add_function("FUZZ");
  std::string error;
  if (b.publish(true, "arguments_fuzz", &error) && Vexlor::VHub_Initial("FUZZ")) {
    std::atexit(remove_instance);
  } else {
    std::fprintf(stderr, "arguments_fuzz: no equipment (%s); unpacking runs detached\n",
                 error.c_str());
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The functions read zero-terminated texts: the input up to its first zero byte.
  const char* bytes = reinterpret_cast<const char*>(data);
  const std::string text(bytes, strnlen(bytes, size));

  std::vector<Vexlor::ARG_PARAM_INFO_STRU> groups;
  Vexlor::VFunction_Unpacking_Arg_Param(text.c_str(), groups);
  check(Vexlor::MMAP_DB() == nullptr || !groups.empty(), "an attached unpacking gave no group");
  for (const auto& g : groups) {
    check(g.module_kind >= -1 && g.module_kind <= 3, "module kind out of range");
    for (int32_t point : g.alarm_points) {
      check(point == Vexlor::VEXLOR_UNUSED_POINT ||
                (point >= -1 && point < Vexlor::VSystem_Get_Alarm_Count()),
            "alarm point out of range");
    }
  }
  Vexlor::ARG_PARAM_INFO_STRU first;
  Vexlor::VFunction_Unpacking_Arg_Param(text.c_str(), first);
  Vexlor::VFunction_Check_Arg_Param(first, true, true, 2, true);
  std::string packed;
  if (!groups.empty()) {
    Vexlor::VFunction_Packaging_Arg_Param(groups, packed);
    std::vector<Vexlor::ARG_PARAM_INFO_STRU> again;
    Vexlor::VFunction_Unpacking_Arg_Param(packed.c_str(), again);
  }

  Vexlor::RUN_PARAM_INFO_STRU run;
  std::memset(&run, 0x5A, sizeof run);
  if (Vexlor::VFunction_Unpacking_Run_Param(text.c_str(), run)) {
    check(run.arg_count >= 0 && run.arg_count < 50, "arg_count out of range");
  }
  if (!text.empty()) {
    check(run.arg_count >= 0 && run.arg_count <= 50, "arg_count beyond the table");
    check(terminated(run.command, sizeof run.command), "command not terminated");
    for (int i = 0; i < run.arg_count; ++i) {
      check(terminated(run.args[i], sizeof run.args[i]), "argument not terminated");
    }
    check(run.switch_flag == 0 || run.switch_flag == 1, "switch flag not 0 or 1");
  }
  return 0;
}
