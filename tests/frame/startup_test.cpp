// Start-up and release: attaching, the own entry and its normalised name, the extra slots, the
// failure clean-up, and the main form's start lock across real processes.
#include <signal.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "frame/context.h"
#include "os/named_mutex.h"
#include "support/equipment.h"
#include "util/paths.h"

using namespace Vexlor;
namespace d = vexlor::detail;
using vexlor::test::red_texts;

namespace {

// Every test leaves the process without a context.
class Startup : public vexlor::test::EquipmentTest {
 protected:
  // A database with the one routine SCHEDULER.
  void publish_scheduler() {
    b_.add_function("SCHEDULER");
    start();
  }
};

// Writes `name` into slot `slot` of the published database, as a routine registering itself.
void name_slot(int slot, const std::string& name) {
  VMMAP map;
  ASSERT_TRUE(map.VMMAP_Initial("setup"));
  std::snprintf(map.DB()->function_sp[slot].name, 64, "%s", name.c_str());
}

using Lines = std::vector<std::string>;

int own_index() { return d::context() ? d::context()->own_index : -12345; }

}  // namespace

TEST_F(Startup, WithoutADatabaseThenAttachedStartFindsTheNormalisedNameAndReleaseIsRepeatable) {
  d::ConsoleCapture capture;
  EXPECT_FALSE(VHub_Initial("SCHEDULER"));
  ASSERT_NE(d::context(), nullptr);
  EXPECT_EQ(MMAP(), nullptr);
  EXPECT_EQ(FIFO(), nullptr);
  EXPECT_EQ(MMAP_DB(), nullptr);
  EXPECT_FALSE(VHub_Initial2("TOOL"));  // attaching fails first: no slot message
  // Each failed attachment says once which instance and folder it looked in.
  const std::vector<d::ConsoleLine> lines = capture.lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].source, "SCHEDULER");
  EXPECT_EQ(lines[0].text, "VMMAP_Initial: no database of instance \"" + instance_.name() +
                               "\" in " + instance_.runtime_dir() + "/" + instance_.name());
  EXPECT_EQ(lines[1].source, "TOOL");
  // Nothing of the attached surface answers, and nothing crashes.
  EXPECT_FALSE(VHub_Initial(nullptr));
  EXPECT_FALSE(VFunction_Check_Locker());
  EXPECT_EQ(capture.lines().size(), 3u);
  VHub_Release();

  b_.add_module("PM1", "Chamber A", MODULE_PM, 0, 41);
  b_.add_function("SCHEDULER");
  b_.add_function("PM1_PUMP");
  b_.add_function("pm1_pump");  // same name: the higher index wins
  b_.add_function("CTC_MAIN");
  start();

  capture.clear();
  ASSERT_TRUE(VHub_Initial("[Chamber A]_PUMP"));
  EXPECT_EQ(own_index(), 2);
  EXPECT_STREQ(d::own_name(), "PM1_PUMP");
  ASSERT_NE(MMAP(), nullptr);
  ASSERT_NE(FIFO(), nullptr);
  ASSERT_EQ(MMAP_DB(), MMAP()->DB());
  EXPECT_EQ(MMAP_DB()->system_block->function_count, 4);
  EXPECT_TRUE(capture.lines().empty());
  EXPECT_FALSE(VFunction_Check_Locker());  // only the main form takes a lock
  EXPECT_STREQ(VHub_Version_Info(), "0001-20250101");

  // Starting again reuses the context, its objects and its "$" keys.
  ASSERT_TRUE(VIO_Replace_Char_Set(1, "PM1"));
  VMMAP* map = MMAP();
  VFIFO* fifo = FIFO();
  ASSERT_TRUE(VHub_Initial("$1_PUMP"));
  EXPECT_EQ(MMAP(), map);
  EXPECT_EQ(FIFO(), fifo);
  EXPECT_EQ(own_index(), 2);

  VHub_Release();
  EXPECT_EQ(d::context(), nullptr);
  VHub_Release();
  EXPECT_EQ(FIFO(), nullptr);
  EXPECT_EQ(MMAP(), nullptr);
  EXPECT_EQ(MMAP_DB(), nullptr);
}

TEST_F(Startup, ExtraSlotAfterTheMainFormUnknownNamesAndFullExtraSlots) {
  publish_scheduler();
  name_slot(2, "EXTRA_TOOL");  // an extra routine registered itself in slot N+1
  ASSERT_TRUE(VHub_Initial("extra_tool"));
  EXPECT_EQ(own_index(), 2);
  EXPECT_FALSE(VFunction_Check_Locker(1));
  EXPECT_FALSE(VFunction_Check_Locker(2));
  VHub_Release();

  d::ConsoleCapture capture;
  EXPECT_FALSE(VHub_Initial("NO_SUCH_ROUTINE"));
  EXPECT_EQ(red_texts(capture, "NO_SUCH_ROUTINE"), Lines{"VHub_Initial 获取例程索引失败."});
  // The objects stay attached; the routine has no index.
  EXPECT_NE(MMAP_DB(), nullptr);
  EXPECT_NE(FIFO(), nullptr);
  EXPECT_EQ(own_index(), VEXLOR_UNUSED_POINT);
  EXPECT_STREQ(d::own_name(), "NO_SUCH_ROUTINE");
  VHub_Release();

  // All extra slots taken: the report, and the objects are released.
  for (int i = 3; i < 13; ++i) name_slot(i, "X" + std::to_string(i));
  capture.clear();
  EXPECT_FALSE(VHub_Initial2("ONE_MORE"));
  EXPECT_EQ(red_texts(capture, "ONE_MORE"), Lines{"额外例程空间不够，创建失败!"});
  ASSERT_NE(d::context(), nullptr);
  EXPECT_EQ(MMAP(), nullptr);
  EXPECT_EQ(FIFO(), nullptr);
  // X12 holds the last slot N+11: its owner may come back.
  EXPECT_TRUE(VHub_Initial2("x12"));
  EXPECT_EQ(own_index(), 12);
}

TEST_F(Startup, ExtraSlotsTakeTheFirstFreeOrMatchingSlotAndFailWhenFull) {
  b_.set_main_form("");
  publish_scheduler();
  name_slot(3, "Recipe_Editor");
  // Slots 1 and 2 (N and N+1) are free and come before the one holding the name.
  ASSERT_TRUE(VHub_Initial2("RECIPE_EDITOR"));
  EXPECT_EQ(own_index(), 1);
  EXPECT_STREQ(MMAP_DB()->function_sp[1].name, "RECIPE_EDITOR");
  EXPECT_STREQ(d::own_name(), "RECIPE_EDITOR");
  // A matching slot is taken (and rewritten) before a later free one.
  VHub_Release();
  ASSERT_TRUE(VHub_Initial2("recipe_editor"));
  EXPECT_EQ(own_index(), 1);
  EXPECT_STREQ(MMAP_DB()->function_sp[1].name, "recipe_editor");
  VHub_Release();
}

namespace {

// A main form in a child waiting to be killed: its pid once it holds the start lock, else -1.
pid_t start_main_form_holder() {
  const pid_t pid = vexlor::test::spawn_child([] {
    if (!VHub_Initial("GUI_MAINFORM")) return 1;
    for (;;) ::pause();
  });
  if (vexlor::test::wait_until([] { return vexlor::os::mutex_exists("VPROC_GUI_MAINFORM"); }, 20))
    return pid;
  ::kill(pid, SIGKILL);
  vexlor::test::wait_child(pid, 10);
  return -1;
}

int start_main_form_once() {
  return vexlor::test::wait_child(vexlor::test::spawn_child([] {
                                    const bool ok = VHub_Initial("GUI_MAINFORM");
                                    VHub_Release();
                                    return ok ? 0 : 1;
                                  }),
                                  30);
}

}  // namespace

TEST_F(Startup, MainFormIsRefusedWhileRunningAndAcceptedAfterExitOrKill) {
  publish_scheduler();

  // Nothing runs: a probe sees no lock and leaves none.
  ASSERT_TRUE(VHub_Initial("SCHEDULER"));
  EXPECT_FALSE(VFunction_Check_Locker(1));
  EXPECT_FALSE(vexlor::os::mutex_exists("VPROC_GUI_MAINFORM"));
  // Bad indices report and probe no "VPROC_" lock.
  {
    d::ConsoleCapture capture;
    EXPECT_FALSE(VFunction_Check_Locker(13));
    EXPECT_FALSE(VFunction_Check_Locker(-1));
    EXPECT_FALSE(vexlor::os::mutex_exists("VPROC_"));
    EXPECT_EQ(red_texts(capture, "SCHEDULER"),
              (Lines{"Function Func_Point = 13 , 超限.[代码行:Vexlor::VFunction_Check_Locker:N]",
                     "Function Func_Point  = ERROR_IO_POINT.[代码行:Vexlor::"
                     "VFunction_Check_Locker:N]"}));
  }
  // The lock of slot 12 (N+11) is a valid index; creating it twice fails the second time.
  void* lock = VFunction_Create_Locker(12);
  ASSERT_NE(lock, nullptr);
  EXPECT_EQ(VFunction_Create_Locker(12), nullptr);
  EXPECT_TRUE(VFunction_Check_Locker(12));
  vexlor::os::mutex_close(lock);
  EXPECT_FALSE(VFunction_Check_Locker(12));
  VHub_Release();

  const pid_t holder = start_main_form_holder();
  ASSERT_GT(holder, 0);
  EXPECT_EQ(start_main_form_once(), 1);

  ASSERT_TRUE(VHub_Initial("SCHEDULER"));
  const std::string log = vexlor::test::slurp(
      d::map_system_path((std::string(VSystem_Get_History_Full_Path()) + "/system.log").c_str()));
  EXPECT_NE(log.find(" [ERR] [GUI_MAINFORM] VHub_Initial 检测已启动,处于锁禁状态, "
                     "不能再启动,请排查锁禁文件是否异常.\n"),
            std::string::npos)
      << log;
  EXPECT_TRUE(VFunction_Check_Locker(1));
  ::kill(holder, SIGKILL);
  EXPECT_EQ(vexlor::test::wait_child(holder, 10), 128 + SIGKILL);
  EXPECT_FALSE(VFunction_Check_Locker(1));
  EXPECT_FALSE(vexlor::os::mutex_exists("VPROC_GUI_MAINFORM"));
  VHub_Release();

  // After the kill, and again after a holder that ended normally.
  EXPECT_EQ(start_main_form_once(), 0);
  EXPECT_EQ(start_main_form_once(), 0);
}
