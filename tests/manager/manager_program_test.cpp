// vexlor-manager as a program on every platform (the Windows suite runs it under Wine): it
// starts a real routine process, forwards a run request to it over the instance's endpoints,
// marks the function SYS_KILLED when that process is killed mid-run, and stops cleanly on
// Ctrl+C (SIGINT).
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#if defined(_WIN32)
#include "os/windows_api.h"
#else
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>
#endif

#include "config/builder.h"
#include "os/local_endpoint.h"
#include "support/child.h"
#include "support/instance.h"
#include "vexlor/vexlor.h"

using namespace Vexlor;
using vexlor::test::wait_until;

namespace {

// Program: a program started with its output discarded and its error output in a file; wait()
// gives its exit status, or -1 when it has not ended in time (it is then killed).
#if defined(_WIN32)
// The build's layout: tests\vexlor_tests.exe, tests\test_routine.exe, tools\*.exe, vexlor.dll.
std::string build_dir() {
  char exe[MAX_PATH];
  const std::string path(exe, ::GetModuleFileNameA(nullptr, exe, sizeof exe));
  const std::string tests = path.substr(0, path.rfind('\\'));
  return tests.substr(0, tests.rfind('\\'));
}
std::string tool(const char* name) { return build_dir() + "\\tools\\" + name + ".exe"; }
std::string routine_program() { return build_dir() + "\\tests\\test_routine.exe"; }
constexpr char kHowKilled[] = "exit status 9";

// Ctrl+C reaches every process of the console: this one lets it pass. Under Wine a program
// whose output is not a terminal has no console that takes it, so it makes one of its own.
BOOL WINAPI let_ctrl_c_pass(DWORD type) { return type == CTRL_C_EVENT; }
void prepare_console_and_path() {
  if (::GetConsoleCP() == 0) {
    ::FreeConsole();
    ::AllocConsole();
  }
  ::SetConsoleCtrlHandler(let_ctrl_c_pass, TRUE);
  const char* path = std::getenv("PATH");  // where the routine finds vexlor.dll
  vexlor::test::set_env("PATH", (build_dir() + ";" + (path ? path : "")).c_str());
}

struct Program {
  Program(const std::string& path, const std::vector<std::string>& args, const std::string& err) {
    std::string line = "\"" + path + "\"";
    for (const std::string& a : args) line += " \"" + a + "\"";
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    STARTUPINFOA si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = ::CreateFileA("NUL", GENERIC_WRITE, share, &inherit, OPEN_EXISTING, 0, nullptr);
    si.hStdError =
        ::CreateFileA(err.c_str(), GENERIC_WRITE, share, &inherit, CREATE_ALWAYS, 0, nullptr);
    PROCESS_INFORMATION pi{};
    if (::CreateProcessA(nullptr, &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si,
                         &pi)) {
      ::CloseHandle(pi.hThread);
      process = pi.hProcess;
    }
    ::CloseHandle(si.hStdOutput);
    ::CloseHandle(si.hStdError);
  }
  ~Program() {
    if (process != nullptr) wait(0);
  }
  int wait(double seconds) {
    DWORD code = static_cast<DWORD>(-1);
    if (::WaitForSingleObject(process, static_cast<DWORD>(seconds * 1000)) != WAIT_OBJECT_0) {
      ::TerminateProcess(process, code);
      ::WaitForSingleObject(process, INFINITE);
    }
    ::GetExitCodeProcess(process, &code);
    ::CloseHandle(std::exchange(process, nullptr));
    return static_cast<int>(code);
  }
  void interrupt() { ::GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0); }
  HANDLE process = nullptr;
};

void kill_process(long pid) {  // as Task Manager's "End task", with exit code 9
  HANDLE process = ::OpenProcess(PROCESS_TERMINATE, FALSE, static_cast<DWORD>(pid));
  ::TerminateProcess(process, 9);
  ::CloseHandle(process);
}
#else
std::string tool(const char* name) { return std::string(VEXLOR_TOOLS_DIR "/") + name; }
std::string routine_program() { return VEXLOR_TEST_ROUTINE; }
constexpr char kHowKilled[] = "signal 9";
void prepare_console_and_path() {}

struct Program {
  Program(const std::string& path, const std::vector<std::string>& args, const std::string& err) {
    pid = ::fork();
    if (pid == 0) {
      ::dup2(::open("/dev/null", O_WRONLY), 1);
      ::dup2(::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 2);
      std::vector<char*> argv{const_cast<char*>(path.c_str())};
      for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      ::execv(path.c_str(), argv.data());
      ::_exit(127);
    }
  }
  ~Program() {
    if (pid > 0) wait(0);
  }
  int wait(double seconds) { return vexlor::test::wait_child(std::exchange(pid, -1), seconds); }
  void interrupt() { ::kill(pid, SIGINT); }
  pid_t pid = -1;
};

void kill_process(long pid) { ::kill(static_cast<pid_t>(pid), SIGKILL); }
#endif

}  // namespace

TEST(ManagerProgram, StartsARoutineForwardsARunMarksItKilledAndStopsOnCtrlC) {
  vexlor::test::PrivateInstance instance("mgrprog");
  prepare_console_and_path();
  const std::string dir = instance.runtime_dir(), config = dir + "/equipment.toml";
  const std::string beta = "command = ['" + routine_program() + "', 'BETA'], start = 'startup'";
  std::ofstream(config) << "functions = [ { name = 'CALLER' }, { name = 'BETA', " + beta + " } ]\n";
  ASSERT_EQ(Program(tool("vexlor-db"), {"create", config}, dir + "/db.err").wait(60), 0)
      << vexlor::test::slurp(dir + "/db.err");
  Program manager(tool("vexlor-manager"), {"--quiet", "--config", config}, dir + "/manager.err");
  ASSERT_TRUE(VHub_Initial("CALLER"));
  constexpr int kBeta = 1;
  // The serving process of BETA as the manager reports it ("<pid> alive"), once it serves.
  char answer[64] = "";
  ASSERT_TRUE(wait_until(
      [&answer] {
        return VFIFO_Engine_Read("$F", "P9", "R1", kBeta, "-", answer, sizeof answer) &&
               std::atol(answer) > 0;
      },
      30));
  const long pid = std::atol(answer);

  EXPECT_EQ(VFunction_Run(kBeta, "STATUS 3"), SYS_SUCCESS);
  ASSERT_TRUE(VFunction_Run_Set(kBeta, "SLEEP 60"));
  EXPECT_EQ(VFunction_Get_Run_Status(kBeta), SYS_RUNNING);
  kill_process(pid);
  EXPECT_TRUE(wait_until([] { return VFunction_Get_Run_Status(kBeta) == SYS_KILLED; }, 10));
  VHub_Release();

  manager.interrupt();
  EXPECT_EQ(manager.wait(10), 0);
  EXPECT_FALSE(vexlor::os::endpoint_served(vexlor::os::kManagerEndpoint));
  const std::string errors = vexlor::test::slurp(dir + "/manager.err");
  EXPECT_NE(errors.find("vexlor-manager: routine BETA (pid " + std::to_string(pid) + ") ended (" +
                        kHowKilled + "); marked SYS_KILLED"),
            std::string::npos)
      << errors;
  // The run reached the routine itself; the record reached manager.log before the manager ended.
  EXPECT_EQ(vexlor::test::slurp(dir + "/runs.log").rfind("BETA STATUS 3\n", 0), 0u);
  const std::string log = "\n" + vexlor::test::slurp(dir + "/" + instance.name() + "/manager.log");
  EXPECT_NE(log.find("\nEngineRead kind=$F param=P9 command=R1 index=1 argument=- sender=CALLER\n"),
            std::string::npos)
      << log;
  EXPECT_TRUE(vexlor::config::remove_database(nullptr));
}
