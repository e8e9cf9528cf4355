// String points: reads with and without input driver, formatted and named access, rolling
// messages, and the "_SIO_MUTEX" forms across real processes.
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <functional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "frame/context.h"
#include "os/instance.h"
#include "os/named_mutex.h"
#include "points/typed_fixture.h"

using namespace Vexlor;
namespace d = vexlor::detail;
using namespace vexlor::test;

namespace {

constexpr char kRecipeMutex[] = "PM1.Recipe_SIO_MUTEX";

// A child holding the recipe's mutex until a byte on `release` (or a kill): its pid, or -1.
pid_t start_holder(int release_fd) {
  int ready[2];
  if (::pipe(ready) != 0) return -1;
  const pid_t pid = spawn_child([&] {
    ::close(ready[0]);
    vexlor::os::MutexHandle m = vexlor::os::mutex_create(kRecipeMutex, false);
    if (m == nullptr || vexlor::os::mutex_wait(m, 10000) != vexlor::os::kWaitObject0) return 2;
    // Owned recursively: the library's own form works inside the holder.
    VHub_Release();  // the parent's attachment, copied by fork
    if (!VHub_Initial2("HOLDER") || !VString_Write_Mutex(kRecipe, "first")) return 3;
    if (::write(ready[1], "y", 1) != 1) return 4;
    char byte;
    if (release_fd < 0) {
      for (;;) ::pause();
    }
    if (::read(release_fd, &byte, 1) != 1) return 5;
    vexlor::os::mutex_release(m);
    return 0;
  });
  ::close(ready[1]);
  pollfd p{ready[0], POLLIN, 0};
  char answer = 0;
  if (::poll(&p, 1, 20000) != 1 || ::read(ready[0], &answer, 1) != 1) {
    ::kill(pid, SIGKILL);
    wait_child(pid, 10);
    ::close(ready[0]);
    return -1;
  }
  ::close(ready[0]);
  return pid;
}

}  // namespace

TEST_F(TypedPoints, StringMessagesRollAndReadsFollowTheInputDriver) {
  // The numbers and the companion points are kept per process, across start-ups: a repeated
  // run of this test goes on from where the previous one stopped.
  static int runs = 0;
  const bool first_run = runs++ == 0;
  d::ConsoleCapture capture;
  VString_Write_Message(kLog, "wafer in");
  VString_Write_MessageF(kLog, "slot %d", 3);
  const std::regex numbered("([0-9]{4})\\|[0-9]{2}:[0-9]{2}:[0-9]{2}\\.[0-9]{3}\\|(.*)");
  Texts lines = text_lines(VString_Read_Mem(kLog));
  ASSERT_EQ(lines.size(), 2u);
  std::smatch m;
  ASSERT_TRUE(std::regex_match(lines[0], m, numbered)) << lines[0];
  const int first = std::stoi(m[1]);
  EXPECT_TRUE(!first_run || m[1] == "0000") << m[1];
  EXPECT_EQ(m[2], "wafer in");
  ASSERT_TRUE(std::regex_match(lines[1], m, numbered)) << lines[1];
  EXPECT_EQ(std::stoi(m[1]), (first + 1) % 10000);  // four digits, as the pattern says
  EXPECT_EQ(m[2], "slot 3");
  // The bare message goes to the companion point "<name>0".
  EXPECT_STREQ(VString_Read(kLogCompanion), "slot 3");

  // The counter goes round after 9999.
  for (int n = first + 2; n % 10000 != 0; ++n) VString_Write_Message(kLog, "x");
  VString_Write_Message(kLog, "again");
  lines = text_lines(VString_Read_Mem(kLog));
  EXPECT_EQ(lines.back().substr(0, 4), "0000");
  EXPECT_EQ(lines[lines.size() - 2].substr(0, 4), "9999");
  EXPECT_TRUE(console_texts(capture).empty());

  // A full text drops whole oldest lines until the new message fits: text length plus message
  // length of 1004 drops the oldest line, 1003 not.
  const std::string old_lines = "a\n" + std::string(902, 'b') + "\n";  // 905 bytes
  VString_Write_Mem(kLog, old_lines.c_str());
  VString_Write_Message(kLog, std::string(98, 'c').c_str());
  lines = text_lines(VString_Read_Mem(kLog));
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], "a");
  EXPECT_EQ(std::string(VString_Read_Mem(kLog)).size(), 1022u);
  VString_Write_Mem(kLog, old_lines.c_str());
  VString_Write_Message(kLog, std::string(99, 'c').c_str());
  lines = text_lines(VString_Read_Mem(kLog));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], std::string(902, 'b'));
  // A text without line feed is dropped whole.
  VString_Write_Mem(kLog, std::string(1000, 'z').c_str());
  VString_Write_Message(kLog, "short");
  lines = text_lines(VString_Read_Mem(kLog));
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].substr(17), "|short");

  // A point without companion: its name is looked up once per process (and reported once).
  VString_Write_Message(kRecipe, "one");
  VString_Write_Message(kRecipe, "two");
  EXPECT_EQ(tagged_texts(capture), first_run ? Texts{"IO_NAME:PM1.Recipe0 - IO_TYPE:IO_S 未识别. "
                                                     "[代码行:Vexlor::VIO_Find_Point:N]"}
                                             : Texts{});
  EXPECT_EQ(text_lines(VString_Read_Mem(kRecipe)).size(), 2u);
  // Without input driver: the last written text, and the layer is not asked (the slot's read
  // value stays as it was).
  VString_Set_Read_Mem(kRecipe, "stale");
  VString_Write_Mem(kRecipe, "fresh");
  bool ok = false;
  EXPECT_STREQ(VString_Read(kRecipe, &ok), "fresh");
  EXPECT_TRUE(ok);
  EXPECT_STREQ(db().string_val[kRecipe].read_value, "stale");
  EXPECT_STREQ(VString_Read_Mem(kRecipe), "fresh");
  // With one: the read value the driver delivered; an offline driver gives "".
  VString_Set_Read_Mem(kHostText, "from host");
  EXPECT_STREQ(VString_Read(kHostText), "from host");
  EXPECT_STREQ(VString_Read_Mem(kHostText), "from host");
  EXPECT_STREQ(VString_Read(kDeadString, &ok), "");
  EXPECT_FALSE(ok);
  char text[1024] = "untouched";
  EXPECT_FALSE(VString_Read(kDeadString, text));
  EXPECT_STREQ(text, "untouched");
  EXPECT_FALSE(VString_Write(kDeadString, "x"));
  // Formatted writes are cut at 1023 characters; so is the value slot.
  const std::string long_text(1500, 'q');
  EXPECT_TRUE(VString_WriteF(kRecipe, "%s-%d", long_text.c_str(), 1));
  EXPECT_TRUE(VString_Read(kRecipe, text));
  EXPECT_EQ(std::string(text), long_text.substr(0, 1023));
  VString_Set_Write_Mem(kRecipe, long_text.c_str());
  EXPECT_EQ(std::string(VString_Read_Mem(kRecipe)), long_text.substr(0, 1023));
  // By name and through the caller's int.
  EXPECT_TRUE(VString_WriteF("PM1.Recipe", "%04d", 42));
  EXPECT_STREQ(VString_Read("pm1.recipe"), "0042");
  EXPECT_STREQ(VString_Read("PM1.Valve", &ok, true), "");  // a digital point
  EXPECT_FALSE(ok);
  int index = VEXLOR_UNUSED_POINT;
  EXPECT_TRUE(VString_Write_Name(&index, "cached", "PM%d.%s", 1, "Recipe"));
  EXPECT_EQ(index, kRecipe);
  EXPECT_TRUE(VString_Read_Name(&index, text, "ignored"));
  EXPECT_STREQ(text, "cached");
}

TEST_F(TypedPoints, StringMutexWritersInTwoProcessesNeverInterleave) {
  VHub_Release();  // the children attach on their own
  // Every child attaches, then waits for the start (the end of the pipe) and runs for the
  // same time as the others.
  int start[2];
  ASSERT_EQ(::pipe(start), 0);
  auto child = [&](const char* routine, std::function<int(int)> round) {
    return spawn_child([=] {
      ::close(start[1]);
      if (!VHub_Initial2(routine)) return 2;
      char byte;
      if (::read(start[0], &byte, 1) != 0) return 2;
      const double end = VTime_Get() + 1.5;
      for (int i = 0; VTime_Get() < end; ++i) {
        if (const int failed = round(i)) return failed;
      }
      VHub_Release();
      return 0;
    });
  };
  // Two writers through the library, each alternating two uniform texts.
  auto writer = [](char a, char b) {
    return [=](int i) {
      return VString_Write_Mutex("PM1.Recipe", std::string(1023, i % 2 ? a : b).c_str()) ? 0 : 3;
    };
  };
  // A reader through the library: every text it sees is one whole write.
  auto reader = [](int) {
    char text[1024];
    if (!VString_Read_Mutex(kRecipe, text)) return 3;
    const std::string seen(text);
    const bool whole = seen.empty() || (seen.size() == 1023 &&
                                        seen.find_first_not_of(seen[0]) == std::string::npos);
    return whole ? 0 : 4;
  };
  // A process holding the mutex by hand: while it holds it nobody writes, and its own slow
  // write is never seen half done.
  auto checker = [](int) {
    vexlor::os::MutexHandle m = vexlor::os::mutex_open(kRecipeMutex);
    if (m == nullptr) m = vexlor::os::mutex_create(kRecipeMutex, false);
    char* slot = MMAP_DB()->string_val[kRecipe].write_value;
    const uint32_t got = vexlor::os::mutex_wait(m, 10000);
    if (got != vexlor::os::kWaitObject0 && got != vexlor::os::kWaitAbandoned) return 3;
    const std::string before(slot);
    ::usleep(300);
    if (before != slot) return 5;  // written while held
    for (int j = 0; j < 1023; ++j) {
      slot[j] = 'C';
      if (j % 128 == 0) ::usleep(20);
    }
    vexlor::os::mutex_release(m);
    vexlor::os::mutex_close(m);
    return 0;
  };
  const pid_t pids[] = {child("WRITER_A", writer('A', 'a')), child("WRITER_B", writer('B', 'b')),
                        child("READER", reader), child("CHECKER", checker)};
  ::close(start[0]);
  ::close(start[1]);  // go
  for (const pid_t pid : pids) EXPECT_EQ(wait_child(pid, 60), 0) << pid;
  // Nothing is left behind once every process closed its handle.
  EXPECT_FALSE(vexlor::os::mutex_exists(kRecipeMutex));
}

TEST_F(TypedPoints, StringMutexSecondWriterWaitsKilledHolderIsTakenOverExitStopsTheWait) {
  int release[2];
  ASSERT_EQ(::pipe(release), 0);
  const pid_t holder = start_holder(release[0]);
  ASSERT_GT(holder, 0);
  EXPECT_STREQ(VString_Read(kRecipe), "first");

  d::ConsoleCapture capture;
  std::atomic<bool> returned{false};
  bool written = false;
  std::thread second([&] {
    written = VString_Write_Mutex(kRecipe, "second");
    returned = true;
  });
  // The waiter says so after each 5 s slice and does not give up.
  EXPECT_TRUE(wait_until([&] { return !console_texts(capture).empty(); }, 30));
  EXPECT_FALSE(returned);
  EXPECT_STREQ(VString_Read(kRecipe), "first");
  ASSERT_EQ(::write(release[1], "r", 1), 1);
  second.join();
  EXPECT_TRUE(written);
  EXPECT_STREQ(VString_Read(kRecipe), "second");
  const Texts lines = console_texts(capture);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], "PM1.Recipe/SIO MUTEX 继续等待...");
  EXPECT_EQ(capture.console_lines()[0].source, "PM1_PROC");
  EXPECT_EQ(wait_child(holder, 20), 0);
  ::close(release[0]);
  ::close(release[1]);

  // The routine's exit flag ends the wait at once; the write is made all the same.
  capture.clear();
  const pid_t killed = start_holder(-1);
  ASSERT_GT(killed, 0);
  VFunction_Set_Exit_Flag(true);
  EXPECT_TRUE(VString_Write_Mutex(kRecipe, "leaving"));
  EXPECT_STREQ(VString_Read(kRecipe), "leaving");
  VFunction_Set_Exit_Flag(false);
  // A holder killed with kill -9: the next waiter acquires its mutex (abandoned).
  ::kill(killed, SIGKILL);
  EXPECT_EQ(wait_child(killed, 20), 128 + SIGKILL);
  // The next holder says so, with the point name, and marks the value unconfirmed until
  // the write it is about to make completes.
  char text[1024];
  EXPECT_TRUE(VString_Read_Mutex("PM1.Recipe", text));
  EXPECT_STREQ(text, "leaving");
  EXPECT_FALSE(VString_Get_Write_Status(kRecipe));
  EXPECT_FALSE(VString_Get_Read_Status(kRecipe));
  EXPECT_EQ(tagged_texts(capture),
            Texts{"[ERR] PM1.Recipe/SIO MUTEX被遗弃,上一持有者已退出,值未确认(状态"
                  "已置为false).[代码行:Vexlor::VString_Read_Mutex:N]"});
  EXPECT_TRUE(VString_Write_Mutex("PM1.Recipe", "after kill"));
  EXPECT_TRUE(VString_Read_Mutex("PM1.Recipe", text));
  EXPECT_STREQ(text, "after kill");
  EXPECT_TRUE(VString_Get_Write_Status(kRecipe));
  // The handle is opened once and kept until release.
  {
    d::MapLock lock(d::map_mutex());
    const auto& kept = d::context()->sio_mutexes;
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(kept.begin()->first, kRecipeMutex);
    EXPECT_NE(kept.begin()->second, nullptr);
  }
  EXPECT_TRUE(vexlor::os::mutex_exists(kRecipeMutex));
  VHub_Release();
  EXPECT_FALSE(vexlor::os::mutex_exists(kRecipeMutex));
  // Name forms of names that are no string point fail without touching any mutex.
  ASSERT_TRUE(VHub_Initial("PM1_PROC"));
  EXPECT_FALSE(VString_Write_Mutex("PM1.Valve", "x"));
  EXPECT_FALSE(VString_Read_Mutex("PM1.Missing", text));
  EXPECT_FALSE(vexlor::os::mutex_exists(kRecipeMutex));
}

// Every form names itself, qualified, in the line for a mutex the system refused; the access
// is made all the same and the result is false.
TEST_F(TypedPoints, StringMutexRefusedByTheSystemLogsTheQualifiedOperation) {
  // A file where the instance keeps its named mutexes, for the length of the test.
  struct FolderAside {
    std::string folder = vexlor::os::instance_dir() + "/mutex";
    FolderAside() {
      std::rename(folder.c_str(), (folder + ".aside").c_str());
      std::FILE* file = std::fopen(folder.c_str(), "w");
      if (file != nullptr) std::fclose(file);
    }
    ~FolderAside() {
      std::remove(folder.c_str());
      std::rename((folder + ".aside").c_str(), folder.c_str());
    }
  } aside;
  char text[1024] = "";
  const struct {
    const char* operation;
    std::function<bool()> call;
    const char* written;  // what the recipe holds afterwards
  } forms[] = {
      {"VString_Write_Mutex", [] { return VString_Write_Mutex(kRecipe, "a"); }, "a"},
      {"VString_Write_Mutex", [] { return VString_Write_Mutex("PM1.Recipe", "b"); }, "b"},
      {"VString_WriteF_Mutex", [] { return VString_WriteF_Mutex(kRecipe, "%s", "c"); }, "c"},
      {"VString_WriteF_Mutex", [] { return VString_WriteF_Mutex("PM1.Recipe", "%c", 'd'); }, "d"},
      {"VString_Read_Mutex", [&] { return VString_Read_Mutex(kRecipe, text); }, "d"},
      {"VString_Read_Mutex", [&] { return VString_Read_Mutex("PM1.Recipe", text); }, "d"},
  };
  d::ConsoleCapture capture;
  for (const auto& form : forms) {
    SCOPED_TRACE(form.operation);
    capture.clear();
    EXPECT_FALSE(form.call());
    const std::string error = VStr_Get_SysErrMsg();
    EXPECT_STREQ(VString_Read_Mem(kRecipe), form.written);
    EXPECT_EQ(error_log_texts(capture), Texts{"PM1.Recipe/SIO MUTEX创建失败![错误信息:" + error +
                                              "].[代码行:Vexlor::" + form.operation + ":N]"});
  }
  EXPECT_STREQ(text, "d");
}
