// The equipment configuration loader: the bundled sample, every field reaching its record,
// the one-line errors of bad files, and the warnings of suspicious ones.
#include "config/loader.h"

#include <gtest/gtest.h>
#include <vexlor/vmmap.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "config/bad_configs.h"
#include "frame/text.h"
#include "os/shared_section.h"
#include "points/db_image.h"
#include "support/instance.h"

namespace vexlor::config {
namespace {

using detail::field_text;

std::string replace_all(std::string text, const std::string& from, const std::string& to) {
  for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at)) {
    text.replace(at, from.size(), to);
    at += to.size();
  }
  return text;
}

class ConfigLoader : public ::testing::Test {
 protected:
  std::string write(const std::string& toml, const std::string& file = "equipment.toml") {
    const std::string path = instance_.runtime_dir() + "/" + file;
    std::ofstream(path, std::ios::binary) << toml;
    return path;
  }

  test::PrivateInstance instance_{"config"};
};

TEST_F(ConfigLoader, SampleEquipmentLoadsWithTheCountsItDeclares) {
  DatabaseBuilder b;
  std::string error;
  std::vector<std::string> warnings;
  ASSERT_TRUE(load_configuration(VEXLOR_SOURCE_DIR "/examples/equipment/equipment.toml", b, &error,
                                 &warnings))
      << error;
  EXPECT_EQ(warnings, std::vector<std::string>());

  const detail::DbCounts c = b.counts();
  EXPECT_EQ(c.modules, 6u);
  EXPECT_EQ(c.drivers, 5u);
  EXPECT_EQ(c.enums, 12u);
  EXPECT_EQ(c.digitals, 115u);
  EXPECT_EQ(c.analogs, 30u);
  EXPECT_EQ(c.strings, 37u);
  EXPECT_EQ(c.functions, 22u);
  EXPECT_EQ(c.alarms, 128u);
  EXPECT_EQ(b.main_form(), "GUI_MAINFORM");

  // The system alarm pool is complete (800..898) and 899 is not part of it.
  for (int32_t id = 800; id <= 898; ++id) {
    const int a = b.find_alarm(id);
    ASSERT_GE(a, 0) << id;
    EXPECT_EQ(b.alarm(a).recovery_count, 3) << id;
    EXPECT_EQ(b.alarm(a).recovery_results[2], Vexlor::ALM_ABORT) << id;
  }
  EXPECT_EQ(b.find_alarm(899), -1);

  // The routines the scheduler addresses by kind.
  for (const char* name :
       {"EAP_ENGINE", "SCHEDULER_ENGINE", "MAIN_MONITOR", "SCHEDULER_INTERFACE_CM2",
        "SCHEDULER_MAINT_TM1", "SCHEDULER_PROCESS_PM2", "PM1.PROCESS_LOG", "PM1_PUMP_DOWN"}) {
    EXPECT_GE(b.find_function(name), 0) << name;
  }

  // The driver a demo puts offline carries PM2's valves.
  const int pm2_dio = b.find_driver("SIM_DIO_PM2");
  ASSERT_GE(pm2_dio, 0);
  EXPECT_EQ(b.driver(pm2_dio).params[Vexlor::kDriverParamOffline], 0);
  bool pm2_valve_found = false;
  for (uint32_t i = 0; i < c.digitals; ++i) {
    if (field_text(b.digital(static_cast<int>(i)).name) == "PM2.RoughValve") {
      EXPECT_EQ(b.digital(static_cast<int>(i)).idrv_point, pm2_dio);
      EXPECT_EQ(b.digital(static_cast<int>(i)).odrv_point, pm2_dio);
      pm2_valve_found = true;
    }
  }
  EXPECT_TRUE(pm2_valve_found);

  const Vexlor::MEM_SYSTEM_STRU& s = b.system();
  EXPECT_EQ(field_text(s.history_path), "Z:\\History");
  EXPECT_EQ(s.log_switch_first[Vexlor::LOG_DBG], 0);
  EXPECT_EQ(s.log_switch_second[Vexlor::LOG_DBG], 1);
  EXPECT_EQ(s.log_switch_first[Vexlor::LOG_CIM], 1);
  EXPECT_EQ(s.log_switch_second[Vexlor::LOG_CIM], 0);
}

TEST_F(ConfigLoader, EveryFieldReachesItsRecord) {
  const std::string path = write(R"(modules = [
  { id = "PM1", name = "ETCH1", kind = "PM", side = 3, alarm_base = 5, annotation = "Etch|刻蚀" },
  { id = "PM2", kind = "PM" },
]
drivers = [
  { name = "DIO", type = 7, params = [1, 2, 3] },
  { name = "AIO", type = 8, params = [4], offline = true },
]
enums = [ { name = "Valve", items = [["Close|关", 2], ["Open|开", 5]] } ]
digital = [
  { name = "PM1.Valve", enum = "valve", input_driver = "dio", output_driver = "DIO", in_params = [11, 12], out_params = [13], unit = "-", mode = 4, annotation = "Rough valve", append = "Rough|粗抽", setpoint_interlock = true, tags = ["T1", "T2"], tag_type = "DI" },
  { name = "PM1.Count", min = -5, max = -1 },
]
analog = [
  { name = "PM1.Pressure", unit = "Torr", decimal = 4, min = 0.5, max = 10, input_driver = "AIO", in_params = [1, 2, 3], value_interlock = true },
]
string = [
  { name = "PM1.Recipe", init = "清洗|Clean", input_driver = "DIO", in_param = 9, out_param = 10, tag = true },
]
functions = [
  { name = "PM1_PUMP", path = "Z:\\Bin\\pump.exe", arg_param = "PM1|PM1$1$0", run_param = "PUMP", load_style = 2, level = 3, virtual = true, annotation = "a", append = "b", pool_count = 4 },
]
alarms = [
  { id = 5001, module = "ETCH1", level = 0, name = "PM1_PUMP", text = "Pump|泵", description = "d", choices = [["RETRY", "Retry|重试"], ["ABORT", "Abort|中止"]] },
  { id = 800, name = "SYS", used = false },
]

[system]
user_name = "op"
group_name = "eng"
user_level = 3
language = "zh"
database_path = "Z:\\Db"
machine_path = "Z:\\M"
user_code_version = "2.0"
project_id = "P1"
simulation = false
fa_type = 2
main_form = "MY_GUI"
log = { ALM = "off", ERR = "console", DBG = "file", CIM = "both" }
)");
  DatabaseBuilder b;
  std::string error;
  std::vector<std::string> warnings;
  ASSERT_TRUE(load_configuration(path, b, &error, &warnings)) << error;
  EXPECT_EQ(warnings, std::vector<std::string>());

  const Vexlor::MEM_MODULE_SP_STRU& pm1 = b.module(0);
  EXPECT_EQ(field_text(pm1.name), "ETCH1");
  EXPECT_EQ(pm1.kind, Vexlor::MODULE_PM);
  EXPECT_EQ(pm1.side, 3);
  EXPECT_EQ(pm1.alarm_base, 5);
  // Without a side a module takes the lowest free one of its kind; the name defaults to the ID.
  EXPECT_EQ(b.module(1).side, 0);
  EXPECT_EQ(field_text(b.module(1).name), "PM2");

  EXPECT_EQ(b.driver(0).type, 7);
  EXPECT_EQ(b.driver(0).params[2], 3);
  EXPECT_EQ(b.driver(0).params[Vexlor::kDriverParamOffline], 0);
  EXPECT_EQ(b.driver(1).params[0], 4);
  EXPECT_EQ(b.driver(1).params[Vexlor::kDriverParamOffline], 1);

  const Vexlor::MEM_ENUM_SP_STRU& e = b.enumeration(0);
  ASSERT_EQ(e.item_count, 2);
  EXPECT_EQ(field_text(e.texts[1]), "Open|开");
  EXPECT_EQ(e.values[1], 5);

  const Vexlor::MEM_DIGITAL_SP_STRU& d = b.digital(0);
  EXPECT_EQ(d.enum_point, 0);
  EXPECT_EQ(d.min, 2);  // the enumeration's value range
  EXPECT_EQ(d.max, 5);
  EXPECT_EQ(d.init, 2);  // 0 is outside the range, so the point starts at its minimum
  EXPECT_EQ(d.idrv_point, 0);
  EXPECT_EQ(d.odrv_point, 0);
  EXPECT_EQ(d.idrv_type, 7);
  EXPECT_EQ(d.odrv_type, 7);
  EXPECT_EQ(d.iparam[1], 12);
  EXPECT_EQ(d.iparam[2], 0);
  EXPECT_EQ(d.oparam[0], 13);
  EXPECT_EQ(field_text(d.unit), "-");
  EXPECT_EQ(d.mode, 4);
  EXPECT_EQ(field_text(d.annotation), "Rough valve");
  EXPECT_EQ(field_text(d.append), "Rough|粗抽");
  EXPECT_EQ(d.sintlk_use, 1);
  EXPECT_EQ(d.vintlk_use, 0);
  EXPECT_EQ(d.tag_flag, 1);
  EXPECT_EQ(field_text(d.tag_names[1]), "T2");
  EXPECT_EQ(field_text(d.tag_names[2]), "");
  EXPECT_EQ(field_text(d.tag_type), "DI");
  EXPECT_EQ(b.digital(1).init, -5);
  EXPECT_EQ(b.digital(1).enum_point, -1);
  EXPECT_EQ(b.digital(1).idrv_point, Vexlor::VEXLOR_UNUSED_POINT);

  const Vexlor::MEM_ANALOG_SP_STRU& a = b.analog(0);
  EXPECT_EQ(a.decimal, 4);
  EXPECT_EQ(a.min, 0.5);
  EXPECT_EQ(a.max, 10.0);
  EXPECT_EQ(a.init, 0.5);
  EXPECT_EQ(a.idrv_point, 1);
  EXPECT_EQ(a.idrv_type, 8);
  EXPECT_EQ(a.odrv_point, Vexlor::VEXLOR_UNUSED_POINT);
  EXPECT_EQ(a.iparam[2], 3);
  EXPECT_EQ(a.vintlk_use, 1);
  EXPECT_EQ(a.tag_flag, 0);

  const Vexlor::MEM_STRING_SP_STRU& s = b.string_point(0);
  EXPECT_EQ(field_text(s.init), "清洗|Clean");
  EXPECT_EQ(s.iparam, 9);
  EXPECT_EQ(s.oparam, 10);
  EXPECT_EQ(s.idrv_type, 7);
  EXPECT_EQ(s.tag_flag, 1);

  const Vexlor::MEM_FUNCTION_SP_STRU& f = b.function(0);
  EXPECT_EQ(field_text(f.path), "Z:\\Bin\\pump.exe");
  EXPECT_EQ(field_text(f.load_arg_param), "PM1|PM1$1$0");
  EXPECT_EQ(field_text(f.load_run_param), "PUMP");
  EXPECT_EQ(f.load_style, 2);
  EXPECT_EQ(f.level, 3);
  EXPECT_EQ(f.virtual_flag, 1);
  EXPECT_EQ(field_text(f.annotation), "a");
  EXPECT_EQ(field_text(f.append), "b");
  EXPECT_EQ(f.pool_count, 4);

  const Vexlor::MEM_ALARM_SP_STRU& al = b.alarm(0);
  EXPECT_EQ(al.alarm_id, 5001);
  EXPECT_EQ(al.module_point, 0);  // found by the module's name
  EXPECT_EQ(al.level, 0);
  EXPECT_EQ(al.used, 1);
  EXPECT_EQ(field_text(al.text), "Pump|泵");
  EXPECT_EQ(field_text(al.description), "d");
  ASSERT_EQ(al.recovery_count, 2);
  EXPECT_EQ(al.recovery_results[0], Vexlor::ALM_RETRY);
  EXPECT_EQ(al.recovery_results[1], Vexlor::ALM_ABORT);
  EXPECT_EQ(field_text(al.recovery_messages[1]), "Abort|中止");
  EXPECT_EQ(b.alarm(1).module_point, -1);
  EXPECT_EQ(b.alarm(1).used, 0);
  EXPECT_EQ(b.alarm(1).level, 1);

  const Vexlor::MEM_SYSTEM_STRU& sys = b.system();
  EXPECT_EQ(field_text(sys.user_name), "op");
  EXPECT_EQ(field_text(sys.group_name), "eng");
  EXPECT_EQ(sys.user_level, 3);
  EXPECT_EQ(sys.language, Vexlor::LANGUAGE_CHINESE);
  EXPECT_EQ(field_text(sys.database_path), "Z:\\Db");
  EXPECT_EQ(field_text(sys.history_path), "Z:\\History");  // not given: the default stays
  EXPECT_EQ(field_text(sys.machine_path), "Z:\\M");
  EXPECT_EQ(field_text(sys.user_code_version), "2.0");
  EXPECT_EQ(field_text(sys.project_id), "P1");
  EXPECT_EQ(sys.simulation, 0);
  EXPECT_EQ(sys.fa_type, 2);
  EXPECT_EQ(b.main_form(), "MY_GUI");
  const uint8_t first[6] = {0, 1, 0, 1, 1, 1}, second[6] = {0, 0, 1, 1, 1, 1};
  for (int t = 0; t < 6; ++t) {
    EXPECT_EQ(sys.log_switch_first[t], first[t]) << t;
    EXPECT_EQ(sys.log_switch_second[t], second[t]) << t;
  }
}

TEST_F(ConfigLoader, BadConfigurationGivesOneLineNamingFileLineAndField) {
  for (const test::BadConfig& bad : test::bad_configs()) {
    const std::string path = write(bad.toml);
    DatabaseBuilder b;
    std::string error;
    std::vector<std::string> warnings;
    EXPECT_FALSE(load_configuration(path, b, &error, &warnings)) << bad.what;
    EXPECT_EQ(error, replace_all(bad.line, "FILE", path)) << bad.what;
    EXPECT_EQ(warnings, std::vector<std::string>()) << bad.what;
  }
  // Nothing is published by a load.
  EXPECT_FALSE(os::section_exists(detail::kDatabaseSection));

  DatabaseBuilder b;
  std::string error;
  const std::string missing = instance_.runtime_dir() + "/missing.toml";
  EXPECT_FALSE(load_configuration(missing, b, &error, nullptr));
  EXPECT_EQ(error, missing + ": cannot read the file: No such file or directory");
}

TEST_F(ConfigLoader, SuspiciousConfigurationLoadsWithWarnings) {
  const std::string path = write(R"(modules = [ { id = "PM1", kind = "PM", alarm_base = 5 } ]
digital = [
  { name = "PM1.Valve", nmae = "x" },
  { name = "pm1.valve" },
]
string = [ { name = "PM1.Valve" } ]
alarms = [ { id = 6001, module = "PM1", name = "A" } ]
point = [ { name = "X" } ]

[system]
log = { ALM = "both", TRACE = "off" }
)");
  DatabaseBuilder b;
  std::string error;
  std::vector<std::string> warnings;
  ASSERT_TRUE(load_configuration(path, b, &error, &warnings)) << error;
  EXPECT_EQ(
      warnings,
      (std::vector<std::string>{
          path + ":8: point: unknown key, ignored",
          path + ":11: system.log.TRACE: unknown key, ignored",
          path + ":3: digital[0].nmae: unknown key, ignored",
          path + ":4: digital[1].name: duplicate digital point \"pm1.valve\", first at line 3 "
                 "(digital[0].name); lookups find the first",
          path + ":7: alarms[0].id: alarm ID 6001 is outside the block of module \"PM1\" "
                 "(5000..5999)",
      }));
  // Both points exist; a string point may share a digital point's name.
  EXPECT_EQ(b.counts().digitals, 2u);
  EXPECT_EQ(b.counts().strings, 1u);
}

}  // namespace
}  // namespace vexlor::config
