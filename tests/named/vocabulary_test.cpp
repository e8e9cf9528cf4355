// The standard vocabulary from the equipment configuration: added on request for the configured
// modules, never replacing a point the file defines.
#include <fstream>
#include <string>
#include <vector>

#include "named/named_fixture.h"

namespace vexlor::test {
namespace {

using config::DatabaseBuilder;

class Vocabulary : public ::testing::Test {
 protected:
  // Loads a file with one carrier and one process module (named ETCH1) and three points of its
  // own that the vocabulary also names.
  void load(bool vocabulary) {
    const std::string path = instance_.runtime_dir() + "/equipment.toml";
    std::ofstream(path, std::ios::binary)
        << "modules = [ { id = \"CM1\", kind = \"CM\" }, { id = \"PM1\", name = \"ETCH1\", "
           "kind = \"PM\" } ]\n"
           "analog = [ { name = \"CTC.EnvSts\", unit = \"bar\" } ]\n"
           "digital = [ { name = \"gem.portid\", max = 3 } ]\n"
           "string = [ { name = \"CM1.CarrierID\", init = \"F1\" } ]\n"
           "[system]\nstandard_vocabulary = "
        << (vocabulary ? "true" : "false") << "\n";
    std::string error;
    std::vector<std::string> warnings;
    ASSERT_TRUE(config::load_configuration(path, b_, &error, &warnings)) << error;
    // No alarm 800 in this file; "CTC.Language" comes with the vocabulary only.
    std::vector<std::string> expected{
        path +
        ": alarms: no system alarm 800 (pool 800..898): faults the library finds itself "
        "(a routine that cannot be run, for example) are only logged, never shown to the "
        "operator"};
    if (!vocabulary) {
      expected.push_back(path +
                         ": digital: no point \"CTC.Language\": the language cannot be switched "
                         "at run time and every routine shows the English texts");
    }
    EXPECT_EQ(warnings, expected);
  }

  // Names of the points that start with `prefix`, each after its table's letter ("D:x"), from
  // one table ('D', 'A', 'S') or all.
  std::vector<std::string> names(const std::string& prefix, char only = 0) {
    const detail::DbCounts c = b_.counts();
    std::vector<std::string> out;
    auto add = [&](char table, const char* name) {
      if ((only == 0 || only == table) && std::string(name).rfind(prefix, 0) == 0)
        out.push_back(table + (":" + std::string(name)));
    };
    for (uint32_t i = 0; i < c.digitals; ++i) add('D', b_.digital(static_cast<int>(i)).name);
    for (uint32_t i = 0; i < c.analogs; ++i) add('A', b_.analog(static_cast<int>(i)).name);
    for (uint32_t i = 0; i < c.strings; ++i) add('S', b_.string_point(static_cast<int>(i)).name);
    return out;
  }

  PrivateInstance instance_{"vocab"};
  DatabaseBuilder b_;
};

TEST_F(Vocabulary, OffUnlessAsked) {
  load(false);
  const detail::DbCounts c = b_.counts();
  EXPECT_EQ((std::vector<uint32_t>{c.digitals, c.analogs, c.strings}),
            (std::vector<uint32_t>{1, 1, 1}));
}

TEST_F(Vocabulary, AddsWhatTheFileLeavesOutWithItsKindsUnitsAndEnumeration) {
  DatabaseBuilder plain;
  plain.add_module("CM1", "CM1", Vexlor::MODULE_CM, 0, 0);
  plain.add_module("PM1", "ETCH1", Vexlor::MODULE_PM, 0, 0);
  const std::size_t all = config::standard_vocabulary(plain).size();

  load(true);
  const detail::DbCounts c = b_.counts();
  EXPECT_EQ(c.digitals + c.analogs + c.strings, all);  // three of them came from the file

  // The file's own points keep their kind and values; no second point of their names.
  using Names = std::vector<std::string>;
  EXPECT_EQ(names("CTC.EnvSts"), Names{"A:CTC.EnvSts"});
  EXPECT_STREQ(b_.analog(0).unit, "bar");
  EXPECT_EQ(names("GEM.PortID", 'D'), Names{});
  EXPECT_EQ(b_.digital(0).max, 3);
  EXPECT_EQ(names("CM1.CarrierID"), Names{"S:CM1.CarrierID"});
  // Only the modules configured: one carrier, one process module, no transfer module.
  EXPECT_EQ(names("CTC.CM2", 'D'), Names{});
  EXPECT_EQ(names("CTC.TR", 'D'), Names{});
  EXPECT_EQ(names("CTC.PM1_Wafer_Status", 'D').size(), 30u);
  EXPECT_EQ(names("ETCH1_", 'S'), (Names{"S:ETCH1_Process_Message", "S:ETCH1_Process_Message0",
                                         "S:ETCH1_Recipe_Name", "S:ETCH1_Recipe_Step_Name"}));
  EXPECT_EQ(names("GEM.PM0_LotID", 'S').size(), 76u);
  EXPECT_EQ(
      names("LP", 'D'),
      (Names{"D:LP1_CarrierAccessingStatus", "D:LP1_CarrierIDStatus", "D:LP1_CarrierRelatedState",
             "D:LP1_CarrierSlotMapStatus", "D:LP1_E84_Enable", "D:LP1_E84_Input_Signal",
             "D:LP1_E84_Output_Signal", "D:LP1_Mode", "D:LP1_ReservationState",
             "D:LP1_TransferState", "D:LP1_E84_AccessModeState", "D:LP1_AccessModeState"}));
  auto digital = [&](const std::string& name) -> Vexlor::MEM_DIGITAL_SP_STRU& {
    for (uint32_t i = 0;; ++i) {
      if (i == c.digitals || name == b_.digital(static_cast<int>(i)).name) {
        return b_.digital(static_cast<int>(i == c.digitals ? 0 : i));
      }
    }
  };
  EXPECT_STREQ(digital("ETCH1_Run_Step_Time").unit, "s");
  EXPECT_STREQ(digital("ETCH1_Progress").unit, "%");
  EXPECT_EQ(digital("CTC.CM1_PICK_COUNT").max, 2147483647);
  EXPECT_EQ(digital("CTC.CM1_PICK_COUNT").min, -2147483647);
  const Vexlor::MEM_DIGITAL_SP_STRU& carrier = digital("CM1.Carrier");
  ASSERT_EQ(carrier.enum_point, b_.find_enum("WaferSize"));
  EXPECT_STREQ(b_.enumeration(carrier.enum_point).texts[0], "8Inch");
  EXPECT_STREQ(b_.enumeration(carrier.enum_point).texts[1], "12Inch");
  EXPECT_EQ(digital("CTC.WaferSize1").enum_point, carrier.enum_point);
  EXPECT_EQ(b_.counts().analogs, 1u);  // robots come with transfer modules only
}

}  // namespace
}  // namespace vexlor::test
