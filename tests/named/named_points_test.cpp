// Named point accessors: samples reach the point their naming rule gives, missing points fail
// once loudly and then quietly, shared caches and the accessors with steps of their own.
#include <string>
#include <vector>

#include "named/named_fixture.h"
#include "points/typed_fixture.h"

namespace vexlor::test {
namespace {

using namespace Vexlor;

template <typename V>
struct Sample {
  const char* name;  // the point the accessor must reach
  bool (*set)(V);
  V (*get)();
};

// Sample rows: the point name, then the item and its index arguments (none for singles).
// clang-format off
#define ITEM0(name, item) {name, [](auto v) { return VIO_Set_##item(v); }, [] { return VIO_Get_##item(); }}
#define ITEM(name, item, ...) \
  {name, [](auto v) { return VIO_Set_##item(__VA_ARGS__, v); }, [] { return VIO_Get_##item(__VA_ARGS__); }}
#define HOST0(name, item) {name, [](auto v) { return VFA_Set_##item(v); }, [] { return VFA_Get_##item(); }}
// clang-format on

// First, last and odd-shaped rows of each group of the table.
// clang-format off
const Sample<int> kDigital[] = {
    ITEM0("CTC.CarrierM", CTC_CarrierM), ITEM0("GEM.WfrPrcsSE_Status", GEM_WfrPrcsSE_Status),
    ITEM("CTC.BM2_PICK_COUNT", CTC_BMx_PICK_COUNT, 1),
    ITEM("CTC.PM8_Process_Timer", CTC_PMx_Process_Timer, 7),
    ITEM("CTC.BM1_Wafer_Status", CTC_BMx_Wafer_Number, 0, 0),
    ITEM("CTC.BM2_Wafer_Source25", CTC_BMx_Wafer_Source, 1, 24),
    ITEM("CM2.C05_Wafer", CTC_CMx_Wafer_Status, 1, 4),
    ITEM("CTC.LOT6_LP6Opt", CTC_LOT_LPxOpt, 5, 5),
    ITEM("CTC.PM8_Wafer_Source30", CTC_PMx_Wafer_Source, 7, 29),
    ITEM("CTC.TB1_Wafer_Status", CTC_TMx_Wafer_Number, 0, 1),
    ITEM("CTC.TD4_Wafer_Source", CTC_TMx_Wafer_Source, 3, 3),
    ITEM("GEM.Substx_State", GEM_Substx_State, 24), ITEM("ETCH8_Wafer_Color", PM_Wafer_Color, 7),
    ITEM("CM1.C25_Wafer_Inspect_Reserve", CMx_Wafer_Inspect_Reserve, 0, 24),
    ITEM("CM6.C01_Wafer_Inspect_Reserve", CMx_Wafer_Inspect_Reserve, 5, 0),
    ITEM("CTC.TM4_ABORT_FLAG", CTC_TM_ABORT_FLAG, 3), HOST0("FA.ConnMD", ConnMD),
    HOST0("GEM.TraceReport_VIDNum", DVID_TraceReport_VIDNum)};

const Sample<double> kAnalog[] = {
    ITEM("CTC.Rb1_Extension", CTC_Rbx_Extension, 0, 0),
    ITEM("CTC.Rb4_Extension4", CTC_Rbx_Extension, 3, 3),
    ITEM("CTC.Rb1_Movement", CTC_Rbx_Movement, 0)};

const Sample<const char*> kString[] = {
    ITEM0("CTC.Message", CTC_Message), ITEM0("CTC.PM_RECIPE", CTC_PM_RECIPE),
    ITEM0("GEM.WfrPrcsEnd_Result", GEM_WfrPrcsEnd_Result), ITEM("CTC.PM8_RECIPE", CTC_PM_RECIPE, 7),
    ITEM("CTC.BM1_Wafer_CarrierID", CTC_BMx_Wafer_CarrierID, 0, 0),
    ITEM("CTC.CLUSTER1_RECIPE1", CTC_CLUSTER_RECIPE, 0, 0),
    ITEM("CM3.CarrierID", CTC_CMx_CarrierID, 2),
    ITEM("CTC.PM2_Wafer_CarrierID30", CTC_PMx_Wafer_CarrierID, 1, 29),
    ITEM("CTC.TA1_Wafer_CarrierID", CTC_TMx_Wafer_CarrierID, 0, 0),
    ITEM("GEM.PM0_CJName", GEM_PMx_CJName, 0), ITEM("GEM.PM7_WaferID74", GEM_PMx_WaferIDy, 7, 74),
    ITEM("GEM.Portx_SubstMtrlStatus", GEM_Portx_SubstMtrlStatus, 0),
    ITEM("ETCH8_Recipe_Step_Name", PM_Recipe_Step_Name, 7), HOST0("FA.Remote_IP", Remote_IP),
    HOST0("GEM.PMState_StepNam", DVID_PMState_StepName),
    HOST0("GEM.TraceReport_Dsper", DVID_TraceReport_Dsper)};
// clang-format on

using NamedPoints = StandardEquipment;

int arg(int v) { return v; }
double arg(double v) { return v; }
const char* arg(const std::string& v) { return v.c_str(); }

// Each sample's setter writes the point its name gives and its getter reads it, with values of
// their own (`value` of n and of -n).
template <typename V, std::size_t N, typename H, typename Read, typename Write>
void check_samples(const Sample<V> (&samples)[N], IO_TYPE type, H (*value)(int), Read read,
                   Write write) {
  int n = 0;
  for (const Sample<V>& s : samples) {
    SCOPED_TRACE(s.name);
    int p = -1;
    ASSERT_TRUE(VIO_Find_Point(&p, type, true, s.name));
    const H written = value(++n), stored = value(-n);
    EXPECT_TRUE(s.set(arg(written)));
    EXPECT_EQ(H(read(p)), written);
    write(p, arg(stored));
    EXPECT_EQ(H(s.get()), stored);
  }
}

TEST_F(NamedPoints, SamplesReachTheirPointsSharedCachesAndAccessorsWithStepsOfTheirOwn) {
  in_child([] {
    detail::ConsoleCapture capture;
    // Every index of a literal-x item names the same point.
    EXPECT_TRUE(VIO_Set_GEM_Portx_ID(0, 5));
    EXPECT_EQ(VIO_Get_GEM_Portx_ID(3), 5);
    // A data variable and the GEM item of the same point.
    EXPECT_TRUE(VIO_Set_GEM_PortID(7));
    EXPECT_EQ(VFA_Get_DVID_PortID(), 7);
    EXPECT_TRUE(VFA_Set_DVID_Operator_Command("LOAD"));
    EXPECT_STREQ(VIO_Get_GEM_Operator_Command(), "LOAD");
    EXPECT_EQ(VDigital_Read_Mem(point(IO_D, "GEM.PortID")), 7);
    // Carrier IDs fall back to the carrier module's default while empty.
    EXPECT_STREQ(VIO_Get_CTC_CMx_CarrierID(2), "CID03");
    EXPECT_STREQ(VIO_Get_CTC_CMx_RFID(5), "CID06");
    EXPECT_TRUE(VIO_Set_CTC_CMx_CarrierID(2, "FOUP-7"));
    EXPECT_STREQ(VIO_Get_CTC_CMx_CarrierID(2), "FOUP-7");
    // A carrier module's wafers carry the carrier's ID, whatever the slot.
    EXPECT_TRUE(VIO_Set_CTC_CMx_Wafer_CarrierID(1, 24, "FOUP-2"));
    EXPECT_STREQ(VString_Read_Mem(point(IO_S, "CM2.CarrierID")), "FOUP-2");
    EXPECT_STREQ(VIO_Get_CTC_CMx_Wafer_CarrierID(1, 3), "FOUP-2");
    // An empty wafer carrier ID: the default of the carrier the wafer came from.
    EXPECT_TRUE(VIO_Set_CTC_PMx_Wafer_Source(1, 2, 4));
    EXPECT_STREQ(VIO_Get_CTC_PMx_Wafer_CarrierID(1, 2), "CID05");
    EXPECT_TRUE(VIO_Set_CTC_BMx_Wafer_Source(0, 0, 0));
    EXPECT_STREQ(VIO_Get_CTC_BMx_Wafer_CarrierID(0, 0), "CID01");
    EXPECT_TRUE(VIO_Set_CTC_TMx_Wafer_Source(0, 1, 9));
    EXPECT_STREQ(VIO_Get_CTC_TMx_Wafer_CarrierID(0, 1), "");
    EXPECT_TRUE(VIO_Set_CTC_TMx_Wafer_CarrierID(0, 1, "FOUP-9"));
    EXPECT_STREQ(VIO_Get_CTC_TMx_Wafer_CarrierID(0, 1), "FOUP-9");
    // Transfer-module flags go by name through the driver-facing write.
    EXPECT_TRUE(VIO_Set_CTC_TM_STOP_FLAG(0, 1));
    EXPECT_EQ(VDigital_Read_Mem(point(IO_D, "CTC.TM1_STOP_FLAG")), 1);
    EXPECT_EQ(VIO_Get_CTC_TM_STOP_FLAG(0), 1);
    // The rolling process message and its companion point.
    EXPECT_TRUE(VIO_Set_PM_Process_MessageF(0, "step %d of %s", 3, "ETCH"));
    const std::string rolling = VIO_Get_PM_Process_Message(0);
    EXPECT_EQ(rolling.substr(0, 5), "0000|");
    EXPECT_EQ(rolling.substr(rolling.size() - 16), "|step 3 of ETCH\n");
    EXPECT_STREQ(VString_Read_Mem(point(IO_S, "ETCH1_Process_Message0")), "step 3 of ETCH");
    // Formatted messages are cut to 1023 characters.
    const std::string long_text(1500, 'm');
    EXPECT_TRUE(VIO_Set_CTC_MessageF("%s!", long_text.c_str()));
    EXPECT_EQ(std::string(VIO_Get_CTC_Message()), std::string(1023, 'm'));
    // Each sample reaches the point its name gives.
    check_samples(
        kDigital, IO_D, +[](int n) { return 100 + n; }, [](int p) { return VDigital_Read_Mem(p); },
        [](int p, int v) { VDigital_Write_Mem(p, v); });
    check_samples(
        kAnalog, IO_A, +[](int n) { return n + 0.25; }, [](int p) { return VAnalog_Read_Mem(p); },
        [](int p, double v) { VAnalog_Write_Mem(p, v); });
    check_samples(
        kString, IO_S, +[](int n) { return "text " + std::to_string(n); },
        [](int p) { return VString_Read_Mem(p); },
        [](int p, const char* t) { VString_Write_Mem(p, t); });
    EXPECT_EQ(console_texts(capture), std::vector<std::string>{});
    // The negative process-module index names the point without module.
    EXPECT_FALSE(VIO_Set_PM_Progress(-1, 3));
  });
}

// The carrier type's getter and setter name different points through one row of slots.
TEST_F(NamedAccess, CarrierTypeIsDecidedByWhicheverResolvesFirst) {
  add_modules(b_);
  b_.add_digital("CM1.Carrier");
  b_.add_digital("CTC.CM1_Carrier");
  b_.digital(0).max = b_.digital(1).max = 9;
  b_.add_digital("LP1_E84_AccessModeState");
  b_.add_digital("LP1_AccessModeState");
  b_.digital(2).max = b_.digital(3).max = 9;
  publish();
  in_child([] {
    EXPECT_EQ(VIO_Get_CTC_CMx_Carrier(0), 0);
    EXPECT_TRUE(VIO_Set_CTC_CMx_Carrier(0, 4));
    EXPECT_EQ(VDigital_Read_Mem(point(IO_D, "CM1.Carrier")), 4);
    EXPECT_EQ(VDigital_Read_Mem(point(IO_D, "CTC.CM1_Carrier")), 0);
    EXPECT_TRUE(VFA_Set_LP_AccessModeState(0, 2));
    EXPECT_EQ(VFA_Get_LP_AccessModeState(0), 2);
    EXPECT_EQ(VDigital_Read_Mem(point(IO_D, "LP1_AccessModeState")), 2);
    EXPECT_EQ(VDigital_Read_Mem(point(IO_D, "LP1_E84_AccessModeState")), 0);
  });
  in_child([] {
    EXPECT_TRUE(VIO_Set_CTC_CMx_Carrier(0, 5));
    EXPECT_EQ(VIO_Get_CTC_CMx_Carrier(0), 5);
    EXPECT_EQ(VDigital_Read_Mem(point(IO_D, "CTC.CM1_Carrier")), 5);
  });
}

// Without the points: the failure values, one lookup line per slot, then silence.
TEST_F(NamedAccess, MissingPointsFailOnceLoudlyThenQuietlyAndLoadPortsReadWithTheirStatus) {
  add_modules(b_);
  b_.add_digital("GEM.Unrelated");
  b_.digital(b_.add_digital("LP6_Mode")).max = 9;
  b_.add_string("LP1_CarrierID");
  publish();
  in_child([] {
    detail::ConsoleCapture capture;
    EXPECT_EQ(VIO_Get_CTC_EnvSts(), VEXLOR_UNUSED_POINT);
    EXPECT_EQ(VIO_Get_CTC_EnvSts(), VEXLOR_UNUSED_POINT);
    EXPECT_FALSE(VIO_Set_CTC_EnvSts(1));
    EXPECT_EQ(VIO_Get_CTC_Rbx_Rotation(1), VEXLOR_ANALOG_FAILURE);
    EXPECT_FALSE(VIO_Set_CTC_Rbx_Rotation(1, 2.5));
    EXPECT_STREQ(VIO_Get_GEM_PMx_LotIDy(3, 4), "");
    EXPECT_FALSE(VIO_Set_GEM_PMx_LotIDy(3, 4, "L1"));
    EXPECT_STREQ(VIO_Get_CTC_CMx_CarrierID(2), "CID03");
    EXPECT_EQ(VIO_Get_PM_Progress(-1), VEXLOR_UNUSED_POINT);
    EXPECT_EQ(VFA_Get_DVID_TraceReport_ID(), VEXLOR_UNUSED_POINT);
    EXPECT_EQ(VIO_Get_GEM_TraceReport_ID(), VEXLOR_UNUSED_POINT);
    bool ok = true;
    EXPECT_EQ(VFA_Get_LP_Mode(0, &ok), VEXLOR_UNUSED_POINT);
    EXPECT_FALSE(ok);
    EXPECT_EQ(VFA_Get_LP_Mode(0, nullptr), VEXLOR_UNUSED_POINT);
    ok = true;
    EXPECT_STREQ(VFA_Get_LP_RFID(5, &ok), "");
    EXPECT_FALSE(ok);
    EXPECT_FALSE(VFA_Set_LP_RFID(5, "R"));
    // Indices beyond the row, the grid or the slot suffix table fail without a lookup.
    EXPECT_EQ(VIO_Get_CTC_CMx_PICK_COUNT(6), VEXLOR_UNUSED_POINT);
    EXPECT_EQ(VIO_Get_CTC_CMx_PICK_COUNT(-1), VEXLOR_UNUSED_POINT);
    EXPECT_EQ(VIO_Get_CTC_PMx_Wafer_Number(0, 30), VEXLOR_UNUSED_POINT);
    EXPECT_EQ(VIO_Get_CTC_TMx_Wafer_Number(0, 4), VEXLOR_UNUSED_POINT);
    auto line = [](const char* name, const char* type) {
      return std::string("IO_NAME:") + name + " - IO_TYPE:" + type +
             " 未识别. [代码行:" + "Vexlor::VIO_Find_Point:N]";
    };
    EXPECT_EQ(
        red_texts(capture, "NAMED_TEST"),
        (std::vector<std::string>{line("CTC.EnvSts", "IO_D"), line("CTC.Rb2_Rotation", "IO_A"),
                                  line("GEM.PM3_LotID4", "IO_S"), line("CM3.CarrierID", "IO_S"),
                                  line("_Progress", "IO_D"), line("GEM.TraceReport_ID", "IO_D"),
                                  line("LP1_Mode", "IO_D"), line("LP6_RFID", "IO_S")}));
    // Load ports go through the driver-facing reads with their status.
    EXPECT_TRUE(VFA_Set_LP_Mode(5, 3));
    ok = false;
    EXPECT_EQ(VFA_Get_LP_Mode(5, &ok), 3);
    EXPECT_TRUE(ok);
    EXPECT_EQ(VFA_Get_LP_Mode(5), 3);
    // The driver-facing write refuses a value beyond the point's limits.
    EXPECT_FALSE(VFA_Set_LP_Mode(5, 10));
    EXPECT_EQ(VDigital_Read_Mem(point(IO_D, "LP6_Mode")), 3);
    EXPECT_TRUE(VFA_Set_LP_CarrierID(0, "FOUP-1"));
    ok = false;
    EXPECT_STREQ(VFA_Get_LP_CarrierID(0, &ok), "FOUP-1");
    EXPECT_EQ(ok, VString_Get_Read_Status(point(IO_S, "LP1_CarrierID")));
  });
}
TEST_F(NamedAccess, BeforeStartUpAccessorsFailAndResolveLater) {
  add_modules(b_);
  b_.add_digital("CTC.EnvSts", 1);
  publish();
  Vexlor::VHub_Release();
  in_child(
      [] {
        EXPECT_EQ(VIO_Get_CTC_EnvSts(), VEXLOR_UNUSED_POINT);
        EXPECT_FALSE(VIO_Set_CTC_EnvSts(0));
        ASSERT_TRUE(VHub_Initial("NAMED_TEST"));
        EXPECT_EQ(VIO_Get_CTC_EnvSts(), 1);
        VHub_Release();
      },
      false);
}

}  // namespace
}  // namespace vexlor::test
