// A routine that calls itself: serve() runs on one thread of this process while its other
// threads run it through the sequence manager, so the run hand-off (acknowledgement from the
// serve thread, the run mutex, events during a run, exit) runs under ThreadSanitizer in the
// concurrency stage.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "config/builder.h"
#include "fifo/manager_process.h"
#include "fifo/own_endpoint.h"
#include "support/instance.h"
#include "util/paths.h"
#include "vexlor/routine.h"
#include "vexlor/vexlor.h"

namespace vexlor::test {
namespace {

using namespace Vexlor;

TEST(FifoLoad, RunsEventsAndExitThroughTheServeLoopOfThisProcess) {
  PrivateInstance instance("serve-loop");
  config::DatabaseBuilder builder;
  builder.add_function("LOOP");
  ASSERT_TRUE(builder.publish(true, "threaded_serve_test", nullptr));
  ManagerProcess manager;
  ASSERT_TRUE(manager.start());
  ASSERT_TRUE(VHub_Initial("LOOP"));
  VSystem_Set_Log_Status(LOG_DBG, LOG_STATUS_OFF);
  const int loop = VFunction_Get_Point("LOOP");

  // "HOLD" runs until an event "go" arrives; any other parameter is the status to return.
  std::atomic<bool> go{false};
  std::vector<std::string> events;  // the event thread's only
  routine::Handlers handlers;
  handlers.run = [&go](const routine::Run& run) {
    if (run.param != "HOLD") return static_cast<FUNC_STATUS>(std::stoi(run.param));
    for (int i = 0; i < 1000 && !go; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return go ? SYS_SUCCESS : SYS_ERROR;
  };
  handlers.event = [&go, &events](const routine::Event& e) {
    events.push_back(e.message);
    if (e.message == "go") go = true;
    return SYS_SUCCESS;
  };
  std::atomic<int> served{-1};
  std::thread serve_thread([&] { served = routine::serve("LOOP", handlers); });
  fifo::Request query;
  query.type = fifo::RequestType::Query;
  ASSERT_TRUE(wait_until(
      [&] { return fifo::own_request(query).answer.find("serving=1") != std::string::npos; }, 10));
  ASSERT_TRUE(VFunction_Run_Set("LOOP", "3"));
  EXPECT_EQ(VFunction_Run_Wait(loop), SYS_SUCCESS);

  // Acknowledged runs hold the mutex: a short wait times out while the event thread still
  // serves the event that ends the run.
  ASSERT_TRUE(VFunction_Run_Set(loop, "HOLD"));
  EXPECT_EQ(VFunction_Run_Wait(loop, 0.05), SYS_RUNNING);
  EXPECT_TRUE(VFunction_Send_Event(loop, "go"));
  EXPECT_EQ(VFunction_Run_Wait(loop), SYS_SUCCESS);

  // Back-to-back runs, each answered with the status its own run wrote.
  const FUNC_STATUS statuses[] = {SYS_SUCCESS, SYS_ERROR, SYS_ABORTED, SYS_SKIP, SYS_ERRCODE3};
  const int rounds = storm_rounds(200);
  int wrong = 0;
  for (int i = 0; i < rounds; ++i) {
    const FUNC_STATUS want = statuses[i % 5];
    if (VFunction_Run(loop, std::to_string(want).c_str()) != want) ++wrong;
  }
  EXPECT_EQ(wrong, 0);

  // A handler's value that ends no run is written as SYS_ERROR, named in the log; the routine
  // goes on serving.
  for (const char* value : {"0", "1", "5", "6", "42"}) {
    EXPECT_EQ(VFunction_Run(loop, value), SYS_ERROR) << value;
  }
  EXPECT_EQ(VFunction_Run(loop, "3"), SYS_SUCCESS);
  const std::string log = slurp(detail::map_system_path(
      (std::string(VSystem_Get_History_Full_Path()) + "/system.log").c_str()));
  std::vector<std::string> mapped;
  for (std::size_t at = log.find("] LOOP: "); at != std::string::npos;
       at = log.find("] LOOP: ", at + 1)) {
    mapped.push_back(log.substr(at + 8, log.find('\n', at) - at - 8));
  }
  std::vector<std::string> expected;
  for (const char* value : {"SYS_AVAILABLE (0)", "SYS_RUNNING (1)", "SYS_WAITTING (5)",
                            "SYS_KILLED (6)", "SYS_UNKNOWN (42)"}) {
    expected.push_back(std::string("the run handler returned ") + value +
                       ", which ends no run: SYS_ERROR written");
  }
  EXPECT_EQ(mapped, expected);
  // Every final status was written before the run mutex went: no wait saw the run still going.
  EXPECT_EQ(log.find("不应该是SYS_RUNNING"), std::string::npos) << log;

  EXPECT_TRUE(VFunction_Exit(loop));
  serve_thread.join();
  EXPECT_EQ(served, 0);
  EXPECT_EQ(VFunction_Get_Run_Status(loop), SYS_KILLED);
  EXPECT_EQ(events, std::vector<std::string>{"go"});
  VHub_Release();
  EXPECT_EQ(manager.stop(), 0);
  config::remove_database(nullptr);
}

}  // namespace
}  // namespace vexlor::test
