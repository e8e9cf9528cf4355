// `vexlor wafers` and `vexlor modules` as a real child process against the scheduler's picture
// of a private equipment: wafers in a carrier, on a robot finger and in a process module.
#include <string>

#include "named/named_fixture.h"

namespace vexlor::test {
namespace {

using namespace Vexlor;

class ConsoleViews : public NamedAccess {
 protected:
  void SetUp() override {
    add_modules(b_);
    config::add_standard_vocabulary(b_);
    b_.add_function("ETCH2_PROCESS");
    publish();
    in_child([] {
      VSCH_Set_CM_Slot_Count(0, 3);
      VIO_Set_CTC_CMx_Wafer_Status(0, 0, 2);
      for (int j = 1; j < 3; ++j) VIO_Set_CTC_CMx_Wafer_Status(0, j, 1);
      VSCH_Set_TM_Wafer_Number(0, 1, 2);  // arm B of VTM1
      VSCH_Set_TM_Wafer_Source(0, 1, 0);
      VSCH_Set_PM_Slot_Count(1, 1);
      VSCH_Set_PM_Wafer_Number(1, 0, 3);
      VSCH_Set_PM_Wafer_Source(1, 0, 0);
      VSCH_Set_PM_Wafer_Result(1, 0, 1);
      VIO_Set_CTC_PMx_Wafer_CarrierID(1, 0, "LOT7");
      VSCH_Set_PM_Enable(1, true);
      VIO_Set_CTC_PM_PAUSE_FLAG(1, 2);
    });
  }
  ToolRun vexlor(const std::vector<std::string>& args) {
    return run_tool(VEXLOR_TOOLS_DIR "/vexlor", args, instance_.runtime_dir());
  }
};

TEST_F(ConsoleViews, WafersAndModules) {
  const ToolRun wafers = vexlor({"wafers"});
  EXPECT_EQ(wafers.code, 0) << wafers.err;
  EXPECT_EQ(wafers.out,
            "MODULE  NAME   SLOT  WAFER  SOURCE  RESULT  CARRIER\n"
            "CM1     LP1    1     1      CM1     0       CID01\n"
            "TM1     VTM1   2     2      CM1     0       CID01\n"
            "PM2     ETCH2  1     3      CM1     1       LOT7\n");

  const ToolRun modules = vexlor({"--json", "modules"});
  EXPECT_EQ(modules.code, 0) << modules.err;
  EXPECT_NE(modules.out.find("{\"kind\":\"PM\",\"module\":\"PM2\",\"name\":\"ETCH2\",\"enabled\":"
                             "true,\"ready\":false,\"running\":false,\"pause\":2,\"routines\":[{"
                             "\"name\":\"ETCH2_PROCESS\",\"run_status\":\"SYS_AVAILABLE\"}]}"),
            std::string::npos)
      << modules.out;
  EXPECT_NE(modules.out.find("{\"kind\":\"CM\",\"module\":\"CM1\",\"name\":\"LP1\",\"enabled\":"
                             "false,\"ready\":false,\"running\":null,\"pause\":null,"
                             "\"routines\":[]}"),
            std::string::npos);
}

}  // namespace
}  // namespace vexlor::test
