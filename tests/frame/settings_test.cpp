// System settings: defaults, the system block in place, the mirrored language and user level,
// the manager abort across processes and the "$M" requests the sequence manager receives.
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "fifo/manager_process.h"
#include "points/typed_fixture.h"

using namespace Vexlor;
namespace d = vexlor::detail;
using vexlor::test::ManagerProcess;

namespace {

// The mirrored points keep their cached index for the life of the process, so every database
// of this process holds them at the same digital indices.
constexpr int kLanguagePoint = 0;
constexpr int kUserLevelPoint = 1;

class Settings : public vexlor::test::EquipmentTest {
 protected:
  // The two mirrored points and the routines PM1_PROC and SCHED.
  void add_mirrored() {
    ASSERT_EQ(b_.add_digital("CTC.Language"), kLanguagePoint);
    ASSERT_EQ(b_.add_digital("CTC.UserLevel"), kUserLevelPoint);
    b_.add_function("PM1_PROC");
    b_.add_function("SCHED");
  }
};

}  // namespace

TEST_F(Settings, DefaultsBeforeStartUpThenTheSystemBlockInPlaceAndMirroredPoints) {
  d::ConsoleCapture capture;
  EXPECT_EQ(VSystem_Get_User_Level(), 9);
  // The language point cannot be read: its failure value counts as "not English".
  EXPECT_EQ(VSystem_Get_Language(), LANGUAGE_CHINESE);
  for (const char* text :
       {VSystem_Get_User_Name(), VSystem_Get_Group_Name(), VSystem_Get_Database_Path(),
        VSystem_Get_Alarm_Description_Path(), VSystem_Get_Machine_Path(),
        VSystem_Get_User_Code_Version(), VSystem_Get_Project_ID(), VSystem_Get_Start_Time()}) {
    EXPECT_STREQ(text, "");
  }
  EXPECT_STREQ(VSystem_Get_History_Path(), "Z:\\History");
  EXPECT_TRUE(VSystem_Get_Simulation());
  EXPECT_EQ(VSystem_Get_FA_Type(), 0);
  EXPECT_EQ(VSystem_Get_CM_Count() | VSystem_Get_BM_Count() | VSystem_Get_TM_Count() |
                VSystem_Get_PM_Count() | VSystem_Get_Module_Count() | VSystem_Get_Driver_Count() |
                VSystem_Get_Enum_Count() | VSystem_Get_Digital_Count() |
                VSystem_Get_Analog_Count() | VSystem_Get_String_Count() |
                VSystem_Get_Function_Count() | VSystem_Get_Alarm_Count(),
            0);
  EXPECT_EQ(VSystem_Get_Log_Status(LOG_ERR), LOG_STATUS_SECOND);

  // Setters and requests do nothing and fail quietly.
  VSystem_Set_User_Level(3);
  VSystem_Set_User_Name(nullptr);
  VSystem_Set_Group_Name("G");
  VSystem_Set_Language(LANGUAGE_ENGLISH);
  VSystem_Abort_Manager_Set(true);
  EXPECT_FALSE(VSystem_Abort_Manager_Get());
  EXPECT_FALSE(VSystem_Show_Main_Console());
  EXPECT_FALSE(VSystem_Kill_All());
  EXPECT_EQ(VIO_Get_CTC_Language(), VEXLOR_UNUSED_POINT);
  EXPECT_TRUE(vexlor::test::console_texts(capture).empty());
  add_mirrored();
  b_.system().user_level = 4;
  b_.system().simulation = 0;
  b_.add_module("PM1", "Chamber A", MODULE_PM, 0, 11);
  b_.add_module("TM1", "Robot", MODULE_TM, 0, 21);
  b_.add_analog("PM1.Pressure");
  b_.add_function("TMC");
  start("PM1_PROC");
  MEM_SYSTEM_STRU& s = *MMAP_DB()->system_block;
  EXPECT_EQ(VSystem_Get_User_Level(), 4);
  EXPECT_FALSE(VSystem_Get_Simulation());
  // Each text getter points at its own field of the shared block, not at a copy.
  const std::pair<const char* (*)(), const char*> fields[] = {
      {VSystem_Get_User_Name, s.user_name},
      {VSystem_Get_Group_Name, s.group_name},
      {VSystem_Get_Database_Path, s.database_path},
      {VSystem_Get_Alarm_Description_Path, s.alarm_description_path},
      {VSystem_Get_Machine_Path, s.machine_path},
      {VSystem_Get_User_Code_Version, s.user_code_version},
      {VSystem_Get_Project_ID, s.project_id},
      {VSystem_Get_Start_Time, s.start_time}};
  for (const auto& [getter, field] : fields) EXPECT_EQ(getter(), field);
  EXPECT_EQ(
      std::to_string(VSystem_Get_PM_Count()) + std::to_string(VSystem_Get_TM_Count()) +
          std::to_string(VSystem_Get_CM_Count()) + std::to_string(VSystem_Get_Module_Count()) +
          std::to_string(VSystem_Get_Digital_Count()) + std::to_string(VSystem_Get_Analog_Count()),
      "110221");
  EXPECT_EQ(VSystem_Get_Function_Count(), 3);  // N, without the extra slots
  // Another routine's change is seen at the next read.
  s.fa_type = 5;
  EXPECT_EQ(VSystem_Get_FA_Type(), 5);

  // The language and the user level are mirrored into their points.
  capture.clear();

  VSystem_Set_Language(LANGUAGE_CHINESE);
  EXPECT_EQ(s.language, 1);
  EXPECT_EQ(VDigital_Read_Mem(kLanguagePoint), 1);
  EXPECT_EQ(VSystem_Get_Language(), LANGUAGE_CHINESE);

  // The point is the master: a direct write wins at the next read and rewrites the block.
  VDigital_Write_Mem(kLanguagePoint, 0);
  EXPECT_EQ(s.language, 1);
  EXPECT_EQ(VSystem_Get_Language(), LANGUAGE_ENGLISH);
  EXPECT_EQ(s.language, 0);
  EXPECT_EQ(VIO_Get_CTC_Language(), 0);
  EXPECT_TRUE(VIO_Set_CTC_Language(1));
  EXPECT_EQ(VSystem_Get_Language(), LANGUAGE_CHINESE);

  // The user level is written to both; reading it consults the block only.
  VSystem_Set_User_Level(3);
  EXPECT_EQ(s.user_level, 3);
  EXPECT_EQ(VDigital_Read_Mem(kUserLevelPoint), 3);
  VDigital_Write_Mem(kUserLevelPoint, 7);
  EXPECT_EQ(VSystem_Get_User_Level(), 3);
  EXPECT_TRUE(capture.console_lines().empty());
}

TEST_F(Settings, TheManagerAbortIsSharedAcrossProcessesAndRequestsReachTheManager) {
  ManagerProcess manager;
  ASSERT_TRUE(manager.start());
  add_mirrored();
  start();
  // Another routine of the equipment sees the flag once it is set here, and clears it.
  const pid_t pid = vexlor::test::spawn_child([] {
    if (!VHub_Initial("SCHED")) return 2;
    if (!vexlor::test::wait_until(VSystem_Abort_Manager_Get, 20)) return 1;
    VSystem_Abort_Manager_Set(false);
    VHub_Release();
    return 0;
  });
  ASSERT_TRUE(VHub_Initial("PM1_PROC"));
  EXPECT_FALSE(VSystem_Abort_Manager_Get());
  VSystem_Abort_Manager_Set(true);
  EXPECT_EQ(MMAP_DB()->abort_manager->abort_flag, 1);
  ASSERT_EQ(vexlor::test::wait_child(pid, 20), 0);
  EXPECT_FALSE(VSystem_Abort_Manager_Get());
  EXPECT_EQ(MMAP_DB()->abort_manager->abort_flag, 0);

  // The "$M" requests as the sequence manager receives them.
  EXPECT_TRUE(VSystem_Show_Main_Console() && VSystem_Hide_Main_Console() &&
              VSystem_Show_About_Dialog() && VSystem_Hide_About_Dialog() &&
              VSystem_Show_Sequence_Manager() && VSystem_Hide_Sequence_Manager() &&
              VSystem_Kill_All());
  std::vector<std::string> expected;
  for (const char* command :
       {"P3 command=W1 index=0 argument=-", "P3 command=W2 index=0 argument=-",
        "P3 command=W3 index=0 argument=-", "P3 command=W4 index=0 argument=-",
        "P3 command=W7 index=0 argument=-", "P3 command=W8 index=0 argument=-",
        "P1 command=W1 index=0 argument=101"}) {
    expected.push_back(std::string("EngineWriteG kind=$M param=") + command + " sender=PM1_PROC");
  }
  EXPECT_EQ(manager.record(), expected);

  // Without the manager the request is refused, not lost silently as accepted.
  ASSERT_EQ(manager.stop(), 0);
  EXPECT_FALSE(VSystem_Kill_All());
}

// The mirrored points of a fresh process, where their caches are still unresolved: run by
// MissingMirroredPointsFailQuietlyAfterOneReport in a process of its own.
TEST(SettingsFreshProcess, MissingMirroredPoints) {
  if (std::getenv("VEXLOR_SETTINGS_FRESH") == nullptr) {
    GTEST_SKIP() << "runs only in the fresh process started by "
                    "Settings.MissingMirroredPointsFailQuietlyAfterOneReport";
  }
  d::ConsoleCapture capture;
  // Before start-up nothing is searched and the caches stay unresolved.
  EXPECT_EQ(VIO_Get_CTC_Language(), VEXLOR_UNUSED_POINT);
  EXPECT_FALSE(VIO_Set_CTC_UserLevel(2));
  EXPECT_EQ(VSystem_Get_Language(), LANGUAGE_CHINESE);
  ASSERT_TRUE(vexlor::test::console_texts(capture).empty());

  ASSERT_TRUE(VHub_Initial("PM1_PROC"));
  MEM_SYSTEM_STRU& s = *MMAP_DB()->system_block;
  // The missing language point stores its failure value in the block.
  EXPECT_EQ(static_cast<int>(VSystem_Get_Language()), VEXLOR_UNUSED_POINT);
  EXPECT_EQ(s.language, VEXLOR_UNUSED_POINT);
  VSystem_Set_Language(LANGUAGE_ENGLISH);
  EXPECT_EQ(s.language, 0);
  EXPECT_FALSE(VIO_Set_CTC_Language(1));
  VSystem_Set_User_Level(5);
  VSystem_Set_User_Level(6);
  EXPECT_EQ(VSystem_Get_User_Level(), 6);
  // One report per point, on its first lookup only.
  EXPECT_EQ(vexlor::test::tagged_texts(capture),
            (std::vector<std::string>{
                "IO_NAME:CTC.Language - IO_TYPE:IO_D 未识别. [代码行:Vexlor::VIO_Find_Point:N]",
                "IO_NAME:CTC.UserLevel - IO_TYPE:IO_D 未识别. [代码行:Vexlor::VIO_Find_Point:N]"}));
  VHub_Release();
}

TEST_F(Settings, MissingMirroredPointsFailQuietlyAfterOneReport) {
  b_.add_function("PM1_PROC");
  b_.add_digital("PM1.Valve");
  start();

  ::setenv("VEXLOR_SETTINGS_FRESH", "1", 1);
  const vexlor::test::ToolRun run = vexlor::test::run_tool(
      "/proc/self/exe", {"--gtest_filter=SettingsFreshProcess.*"}, instance_.runtime_dir());
  ::unsetenv("VEXLOR_SETTINGS_FRESH");
  const std::string& report = run.out;
  EXPECT_EQ(run.code, 0) << report;
  EXPECT_NE(report.find("[  PASSED  ] 1 test"), std::string::npos) << report;
}
