// Drivers: finding, types and parameters in place and across processes, silence before
// start-up. Their index checks and failure values are in enums_test.cpp.
#include <string>
#include <vector>

#include "points/typed_fixture.h"

using namespace Vexlor;
namespace d = vexlor::detail;

namespace {

using Params = std::vector<int>;
const Params kSerialParams{100, 101, 102, 103, 104, 105, 106, 107, 108, 109};

class Drivers : public vexlor::test::EquipmentTest {
 protected:
  void SetUp() override {
    b_.add_driver("DNET_IO", 3);
    std::copy(kSerialParams.begin(), kSerialParams.end(),
              b_.driver(b_.add_driver("Serial1", 5)).params);
    b_.add_driver("dnet_io", 4);
    b_.add_function("SCHEDULER");
    b_.add_function("DRIVER_IO");
    start();
  }
  static Params params_of(int point) {
    Params p(10, -1);
    VDriver_Get_Param(point, p.data());
    return p;
  }
};

TEST_F(Drivers, WritesOfOneProcessAreSeenByAnotherAfterSilenceBeforeStartUp) {
  d::ConsoleCapture capture;
  int point = 5;
  EXPECT_FALSE(VDriver_Find_Point(&point, "DNET_IO"));
  EXPECT_EQ(point, 5);
  VDriver_Set_Type(0, DRIVER_TYPE{9});
  VDriver_Set_Param(1, Params(10, 9).data());
  EXPECT_TRUE(capture.lines().empty());
  ASSERT_TRUE(VHub_Initial("SCHEDULER"));
  EXPECT_EQ(VDriver_Get_Type(0), DRIVER_TYPE{3});
  EXPECT_EQ(params_of(1), kSerialParams);
  capture.clear();
  point = 99;
  EXPECT_TRUE(VDriver_Find_Point(&point, "Dnet_Io"));  // the first of "DNET_IO" and "dnet_io"
  EXPECT_EQ(point, 0);
  EXPECT_FALSE(VDriver_Find_Point(&point, "Serial"));
  EXPECT_EQ(point, -1);
  EXPECT_EQ(vexlor::test::red_texts(capture, "SCHEDULER"),
            std::vector<std::string>{"驱动量:Serial 未识别"});
  EXPECT_STREQ(VDriver_Get_Name(1), "Serial1");
  EXPECT_EQ(params_of(1), kSerialParams);
  VDriver_Set_Type(0, DRIVER_TYPE{-123456});  // any value, stored unchanged
  EXPECT_EQ(VDriver_Get_Type(0), DRIVER_TYPE{-123456});
  const int written[10] = {9, 8, 7, 6, 5, 4, 3, 2, 1, -2147483647 - 1};
  VDriver_Set_Param(2, written);
  VDriver_Set_Param(2, nullptr);  // skipped
  VDriver_Get_Param(2, nullptr);
  EXPECT_EQ(params_of(2), Params(written, written + 10));
  EXPECT_EQ(VDriver_Get_Type(2), DRIVER_TYPE{4});  // the neighbouring fields are kept
  EXPECT_EQ(params_of(0), Params(10, 0));
  EXPECT_EQ(capture.lines().size(), 1u);

  // Writes of another process are seen here.
  VHub_Release();  // no library thread of this process runs at the fork
  const pid_t child = vexlor::test::spawn_child([] {
    int point = -5;
    if (!VHub_Initial("DRIVER_IO") || !VDriver_Find_Point(&point, "SERIAL1")) return 1;
    VDriver_Set_Type(point, DRIVER_TYPE{77});
    const int params[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    VDriver_Set_Param(point, params);
    VHub_Release();
    return 0;
  });
  ASSERT_EQ(vexlor::test::wait_child(child, 30), 0);
  ASSERT_TRUE(VHub_Initial("SCHEDULER"));
  EXPECT_EQ(VDriver_Get_Type(1), DRIVER_TYPE{77});
  EXPECT_EQ(params_of(1), (Params{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
}

}  // namespace
