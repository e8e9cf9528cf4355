// A routine with many threads: writers and pollers, rolling messages, racing name caches and
// re-posts of one alarm (run under ThreadSanitizer in the concurrency stage).
#include <atomic>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "points/typed_fixture.h"

namespace vexlor::test {
namespace {

class ThreadedRoutine : public TypedPoints {
 protected:
  void SetUp() override {
    b_.add_alarm(41001, "PM1_VALVE", "Valve open fail|阀门打开失败");  // alarm point 0
    TypedPoints::SetUp();
  }
};

TEST_F(ThreadedRoutine, WritersPollersMessagesAndNameCachesShareOneProcess) {
  constexpr int kRounds = 200;
  std::atomic<bool> waits_ok{true};

  // One thread steps PM1.Count through 1..kRounds; another waits for each value in turn.
  std::thread writer([] {
    for (int v = 1; v <= kRounds; ++v) {
      Vexlor::VDigital_Write_Mem(kCount, v);
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
  });
  std::thread poller([&] {
    int ignored = 0;
    if (!Vexlor::VDigital_Wait(kCount, kRounds, 30, &ignored)) waits_ok = false;
  });

  // Four threads append five messages each to one rolling text; short lines, so all fit.
  constexpr int kMessageThreads = 4, kMessages = 5;
  std::vector<std::thread> messengers;
  for (int t = 0; t < kMessageThreads; ++t) {
    messengers.emplace_back([t] {
      for (int m = 0; m < kMessages; ++m) Vexlor::VString_Write_MessageF(kLog, "t%d-m%d", t, m);
    });
  }

  // Two threads read and write by name at once: both resolve through the name cache.
  std::atomic<int> by_name_failures{0};
  std::vector<std::thread> named;
  for (int t = 0; t < 2; ++t) {
    named.emplace_back([&] {
      for (int i = 0; i < 100; ++i) {
        if (!Vexlor::VDigital_Write("PM1.Valve", 1)) ++by_name_failures;
        if (Vexlor::VDigital_Read("PM1.Valve") != 1) ++by_name_failures;
      }
    });
  }

  // Two threads post one alarm with their own appends: each re-post compares the stored
  // append while the other thread stores its own.
  std::vector<std::thread> posters;
  for (const char* append : {"Port 1", "Port 2"}) {
    posters.emplace_back([append] {
      for (int i = 0; i < 100; ++i) Vexlor::VAlarm_Post(0, append);
    });
  }

  writer.join();
  poller.join();
  for (auto& t : messengers) t.join();
  for (auto& t : named) t.join();
  for (auto& t : posters) t.join();

  EXPECT_TRUE(waits_ok.load());
  EXPECT_EQ(Vexlor::VDigital_Read_Mem(kCount), kRounds);
  EXPECT_EQ(by_name_failures.load(), 0);
  char append[512] = "";
  EXPECT_EQ(Vexlor::VAlarm_Status(0), Vexlor::ALM_PAUSED);
  ASSERT_TRUE(Vexlor::VAlarm_Get_Append(0, Vexlor::LANGUAGE_ENGLISH, append));
  EXPECT_TRUE(std::string(append) == "Port 1" || std::string(append) == "Port 2") << append;
  EXPECT_EQ(Vexlor::MMAP_DB()->alarm_queue->count, 1);

  // Every message appears exactly once, and the counters 0000..0019 each number one line.
  std::istringstream text(Vexlor::VString_Read_Mem(kLog));
  std::set<std::string> messages;
  std::set<int> counters;
  std::string line;
  int lines = 0;
  while (std::getline(text, line)) {
    ++lines;
    const auto first = line.find('|');
    const auto last = line.rfind('|');
    ASSERT_TRUE(first != std::string::npos && first != last) << line;
    counters.insert(std::stoi(line.substr(0, first)));
    messages.insert(line.substr(last + 1));
  }
  EXPECT_EQ(lines, kMessageThreads * kMessages);
  EXPECT_EQ(messages.size(), static_cast<std::size_t>(kMessageThreads * kMessages));
  std::set<int> numbers;
  for (int n = 0; n < kMessageThreads * kMessages; ++n) numbers.insert(n);
  EXPECT_EQ(counters, numbers);
}

}  // namespace
}  // namespace vexlor::test
