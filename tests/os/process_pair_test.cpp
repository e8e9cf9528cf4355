// Named mutexes and message endpoints between two real processes, on every platform. The
// child helper forks on POSIX and starts the test program again on Windows, so under Wine
// these run the kernel's named mutexes and the named-pipe transport.
#include <gtest/gtest.h>
#include <vexlor/vfifo.h>

#include <chrono>
#include <string>
#include <thread>

#include "fifo/fifo_server.h"
#include "os/local_endpoint.h"
#include "os/named_mutex.h"
#include "support/child.h"
#include "support/instance.h"

namespace {

namespace os = vexlor::os;
namespace fifo = vexlor::fifo;
using vexlor::test::ChildProcess;
using vexlor::test::PrivateInstance;
using vexlor::test::wait_until;

[[noreturn]] void sleep_until_killed() {
  for (;;) std::this_thread::sleep_for(std::chrono::seconds(1));
}

// Owns "PAIR_MUTEX", then shows it by creating "PAIR_READY", and waits to be killed.
VEXLOR_TEST_CHILD(mutex_holder) {
  if (os::mutex_create("PAIR_MUTEX", true) == nullptr || os::mutex_last_error() != 0) return 2;
  if (os::mutex_create("PAIR_READY", false) == nullptr) return 3;
  sleep_until_killed();
}

TEST(ProcessPair, KilledHolderAbandonsTheMutexToTheWaiter) {
  PrivateInstance instance("pair-mutex");
  ChildProcess holder;
  ASSERT_TRUE(holder.start("mutex_holder"));
  ASSERT_TRUE(wait_until([] { return os::mutex_exists("PAIR_READY"); }, 30));
  os::MutexHandle h = os::mutex_create("PAIR_MUTEX", true);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(os::mutex_last_error(), os::kErrorAlreadyExists);  // and not owned by us
  EXPECT_EQ(os::mutex_wait(h, 0), os::kWaitTimeout);
  holder.kill();
  EXPECT_EQ(os::mutex_wait(h, 10000), os::kWaitAbandoned);
  EXPECT_EQ(os::mutex_wait(h, 0), os::kWaitObject0);  // recursive for its new owner
  EXPECT_TRUE(os::mutex_release(h));
  EXPECT_TRUE(os::mutex_release(h));
  EXPECT_FALSE(os::mutex_release(h));
  EXPECT_EQ(os::mutex_last_error(), os::kErrorNotOwner);
  // The killed child's handles are gone; the last close here frees the mutex.
  EXPECT_FALSE(os::mutex_exists("PAIR_READY"));
  EXPECT_TRUE(os::mutex_close(h));
  EXPECT_FALSE(os::mutex_exists("PAIR_MUTEX"));
}

// Plays the sequence manager: accepts the run request of PM1 with the exact fields below and
// refuses every other request.
VEXLOR_TEST_CHILD(run_server) {
  fifo::EndpointServer server;
  if (!server.open(os::kManagerEndpoint, nullptr)) return 2;
  server.serve([](const fifo::Request& r) {
    fifo::Reply reply;
    reply.accepted = fifo::describe(r) ==
                     "FunctionRun function=PM1 param=RECIPE A/1 argument=3&1 sender=TM1_PROC";
    return reply;
  });
  sleep_until_killed();
}

TEST(ProcessPair, RunRequestCrossesToAnotherProcessAndADeadPeerRefuses) {
  PrivateInstance instance("pair-run");
  ChildProcess manager;
  ASSERT_TRUE(manager.start("run_server"));
  os::LocalStream probe;
  ASSERT_TRUE(wait_until([&] { return probe.connect(os::kManagerEndpoint, nullptr); }, 30));
  probe.close();

  // A second listener is refused while the first one's process lives.
  os::LocalListener second;
  bool busy = false;
  EXPECT_FALSE(second.open(os::kManagerEndpoint, nullptr, &busy));
  EXPECT_TRUE(busy);

  Vexlor::VFIFO fifo;
  ASSERT_TRUE(fifo.VFIFO_Initial("TM1_PROC"));
  EXPECT_TRUE(fifo.VFIFO_Function_Run("PM1", "RECIPE A/1", "3&1"));
  EXPECT_FALSE(fifo.VFIFO_Function_Run("PM2", "RECIPE A/1", "3&1"));

  // Killed, the peer refuses at once and its endpoint is free for the next manager.
  manager.kill();
  EXPECT_FALSE(fifo.VFIFO_Function_Run("PM1", "RECIPE A/1", "3&1"));
  ChildProcess next;
  ASSERT_TRUE(next.start("run_server"));
  ASSERT_TRUE(wait_until([&] { return probe.connect(os::kManagerEndpoint, nullptr); }, 30));
  probe.close();
  EXPECT_TRUE(fifo.VFIFO_Function_Run("PM1", "RECIPE A/1", "3&1"));
  fifo.VFIFO_Release();
}

// One stream of an endpoint: frames larger than the transport's buffers arrive whole, a read
// ends at the time bound or when shutdown() is called from another thread, and the peer's
// close ends the stream after its last frame.
TEST(ProcessPair, EndpointStreamFramesTimeOutsAndClose) {
  PrivateInstance instance("pair-stream");
  os::LocalListener listener;
  ASSERT_TRUE(listener.open("stream", nullptr));
  os::LocalStream client;
  ASSERT_TRUE(client.connect("stream", nullptr));
  os::LocalStream server = listener.accept(5000);
  ASSERT_TRUE(server.valid());

  const std::string big(300 * 1024 + 7, 'v');
  std::thread writer([&] {
    client.write_frame(big);
    client.write_frame(std::string());
  });
  std::string got;
  ASSERT_TRUE(server.set_timeout_ms(5000));
  ASSERT_EQ(server.read_frame(got), os::IoResult::kOk);
  writer.join();
  EXPECT_EQ(got, big);
  ASSERT_EQ(server.read_frame(got), os::IoResult::kOk);
  EXPECT_EQ(got, "");

  server.set_timeout_ms(50);
  EXPECT_EQ(server.read_frame(got), os::IoResult::kTimeout);
  server.set_timeout_ms(0);
  std::thread waker([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    server.shutdown();
  });
  EXPECT_EQ(server.read_frame(got), os::IoResult::kClosed);
  waker.join();

  os::LocalStream third;
  ASSERT_TRUE(third.connect("stream", nullptr));
  os::LocalStream served = listener.accept(5000);
  ASSERT_TRUE(served.valid());
  ASSERT_EQ(third.write_frame("last", 4), os::IoResult::kOk);
  third.close();
  served.set_timeout_ms(5000);
  ASSERT_EQ(served.read_frame(got), os::IoResult::kOk);
  EXPECT_EQ(got, "last");
  EXPECT_EQ(served.read_frame(got), os::IoResult::kClosed);

  server.close();
  served.close();
  listener.close();
  EXPECT_FALSE(client.connect("stream", nullptr));
}

}  // namespace
