// A routine for the run-control tests, started by vexlor-manager. What a run does comes from
// its parameter:
//   "SLEEP <s>"          waits s seconds (interruptible): SYS_SUCCESS, or SYS_ABORTED
//   "STATUS <n>"         returns status n
//   "CHILD <name> <p>"   runs function <name> with parameter <p> and returns its status
//   "RUNSET <name> <p>"  sends a run request only: SYS_SUCCESS when sent, SYS_ABORTED if not
//   "PARENTS"            uploads "parents=<chain> free=<0|1>"
//   "MANAGE <id>"        posts alarm <id> and waits for the answer: SYS_SUCCESS
//   "WRITE <point> <v>"  writes text v to the point (VIO_Write), reads it back (the typed
//                        VIO_Read, which fails on a failed read) and
//                        appends "wrote=<0|1> read=<0|1>:<text>" to runs.log: SYS_SUCCESS when
//                        the write succeeded, else SYS_ABORTED
// Every run first appends "<name> <param>" to runs.log in the runtime folder.
// Events are uploaded as "event=<message> from=<sender> posted=<0|1>" and handled with
// SYS_SUCCESS, "STATUS <n>" with status n; the event "SILENT" is never answered (its status
// stays SYS_RUNNING). With VEXLOR_TEST_EXIT_DELAY_MS set, the program lingers that long after
// it stopped serving, before it exits. Pool requests take 300 ms each and answer
// "<param>|busy=<requests in progress at the start>|max=<most at once so far>".
#include <vexlor/routine.h>
#include <vexlor/vexlor.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <thread>

using namespace Vexlor;

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  const char* name = argv[1];
  std::atomic<int> busy{0}, most{0};
  vexlor::routine::Handlers h;
  const char* runtime = std::getenv("VEXLOR_RUNTIME_DIR");
  const std::string run_log = std::string(runtime != nullptr ? runtime : ".") + "/runs.log";
  h.run = [&](const vexlor::routine::Run& run) -> FUNC_STATUS {
    if (std::FILE* f = std::fopen(run_log.c_str(), "ab")) {
      std::fprintf(f, "%s %s\n", name, run.param.c_str());
      std::fclose(f);
    }
    std::istringstream in(run.param);
    std::string verb, target, param;
    in >> verb;
    if (verb == "SLEEP") {
      double s = 0;
      in >> s;
      return VTimer_Wait_Seconds(s) ? SYS_SUCCESS : SYS_ABORTED;
    }
    if (verb == "MANAGE") {
      int id = 0;
      in >> id;
      VAlarm_ID_Manage(id, "waiting");
      return SYS_SUCCESS;
    }
    if (verb == "STATUS") {
      int n = 0;
      in >> n;
      return static_cast<FUNC_STATUS>(n);
    }
    in >> target;
    std::getline(in >> std::ws, param);
    if (verb == "CHILD") return VFunction_Run(target.c_str(), param.c_str());
    if (verb == "WRITE") {
      const bool wrote = VIO_Write(target.c_str(), param.c_str(), true);
      int point = -1;
      IO_TYPE type = IO_D;
      char back[1024] = {};
      const bool read = VIO_Find(&point, &type, true, target.c_str()) && VIO_Read(point, type, back);
      if (std::FILE* f = std::fopen(run_log.c_str(), "ab")) {
        std::fprintf(f, "wrote=%d read=%d:%s\n", wrote ? 1 : 0, read ? 1 : 0, read ? back : "");
        std::fclose(f);
      }
      return wrote ? SYS_SUCCESS : SYS_ABORTED;
    }
    if (verb == "RUNSET") {
      return VFunction_Run_Set(target.c_str(), param.c_str()) ? SYS_SUCCESS : SYS_ABORTED;
    }
    if (verb == "PARENTS") {
      VFunction_Upload_MessageF("parents=%s free=%d", VFunction_Get_Parent_Points(),
                                run.free ? 1 : 0);
    }
    return SYS_SUCCESS;
  };
  h.event = [&](const vexlor::routine::Event& e) -> FUNC_STATUS {
    if (e.message == "SILENT") return SYS_RUNNING;
    VFunction_Upload_MessageF("event=%s from=%d posted=%d", e.message.c_str(), e.sender,
                              e.posted ? 1 : 0);
    if (e.message.rfind("STATUS ", 0) == 0)
      return static_cast<FUNC_STATUS>(std::atoi(&e.message[7]));
    return SYS_SUCCESS;
  };
  h.pool = [&](const std::string& param, int) {
    const int now = ++busy;
    int seen = most.load();
    while (now > seen && !most.compare_exchange_weak(seen, now)) {
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    --busy;
    return param + "|busy=" + std::to_string(now) + "|max=" + std::to_string(most.load());
  };
  const int status = vexlor::routine::serve(name, h);
  if (const char* delay = std::getenv("VEXLOR_TEST_EXIT_DELAY_MS")) {
    std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(delay)));
  }
  return status;
}
