// The equipment configuration loader: the bundled sample, every field reaching its record,
// the one-line errors of bad files, and the warnings of suspicious ones.
#include "config/loader.h"

#include <gtest/gtest.h>
#include <vexlor/vmmap.h>

#include <fstream>
#include <string>
#include <vector>

#include "config/bad_configs.h"
#include "db/db_image.h"
#include "os/shared_section.h"
#include "support/instance.h"
#include "util/sql_rows.h"
#include "util/text.h"

namespace vexlor::config {
namespace {

using detail::field_text;

class ConfigLoader : public ::testing::Test {
 protected:
  std::string write(const std::string& toml) {
    const std::string path = instance_.runtime_dir() + "/equipment.toml";
    std::ofstream(path, std::ios::binary) << toml;
    return path;
  }
  // Loads `path` into b_, expecting success and no warnings.
  void load(const std::string& path) {
    std::string error;
    std::vector<std::string> warnings;
    ASSERT_TRUE(load_configuration(path, b_, &error, &warnings)) << error;
    EXPECT_EQ(warnings, std::vector<std::string>());
  }

  test::PrivateInstance instance_{"config"};
  DatabaseBuilder b_;
};

// Its counts are checked through vexlor-db, which prints them.
TEST_F(ConfigLoader, SampleEquipmentLoadsWithoutWarnings) {
  ASSERT_NO_FATAL_FAILURE(load(VEXLOR_SOURCE_DIR "/examples/equipment/equipment.toml"));
  EXPECT_EQ(b_.main_form(), "GUI_MAINFORM");

  // The system alarm pool is complete (800..898) and 899 is not part of it.
  for (int32_t id = 800; id <= 898; ++id) {
    const int a = b_.find_alarm(id);
    ASSERT_GE(a, 0) << id;
    EXPECT_EQ(b_.alarm(a).recovery_count, 3) << id;
    EXPECT_EQ(b_.alarm(a).recovery_results[2], Vexlor::ALM_ABORT) << id;
  }
  EXPECT_EQ(b_.find_alarm(899), -1);

  // The routines the scheduler addresses by kind.
  for (const char* name :
       {"EAP_ENGINE", "SCHEDULER_ENGINE", "MAIN_MONITOR", "SCHEDULER_INTERFACE_CM2",
        "SCHEDULER_MAINT_TM1", "SCHEDULER_PROCESS_PM2", "PM1.PROCESS_LOG", "PM1_PUMP_DOWN"}) {
    EXPECT_GE(b_.find_function(name), 0) << name;
  }
}

// The pool comes with one key; an entry the file writes itself stands, wherever it is listed.
TEST_F(ConfigLoader, StandardSystemAlarmsFillThePoolAroundTheFilesOwnEntries) {
  ASSERT_NO_FATAL_FAILURE(load(write(R"(digital = [ { name = "CTC.Language" } ]
alarms = [
  { id = 5001, name = "PM1_PUMP_TIMEOUT" },
  { id = 805, level = 2, name = "MY_SYSTEM_ALARM", text = "Own|自己的", choices = [["ABORT", "Abort"]] },
]

[system]
standard_system_alarms = true
)")));
  using Ints = std::vector<int64_t>;
  using Texts = std::vector<std::string_view>;
  EXPECT_EQ(b_.counts().alarms, 2u + 98u);
  // The file's entries keep their places; the pool follows in ID order, without 805.
  EXPECT_EQ((Ints{b_.find_alarm(5001), b_.find_alarm(805), b_.find_alarm(800), b_.find_alarm(804),
                  b_.find_alarm(806), b_.find_alarm(898), b_.find_alarm(899)}),
            (Ints{0, 1, 2, 6, 7, 99, -1}));
  const auto& own = b_.alarm(1);
  EXPECT_EQ((Ints{own.level, own.recovery_count, own.recovery_results[0]}),
            (Ints{2, 1, Vexlor::ALM_ABORT}));
  EXPECT_EQ(field_text(own.name), "MY_SYSTEM_ALARM");
  for (const int id : {800, 806, 898}) {
    const auto& a = b_.alarm(b_.find_alarm(id));
    const std::string name = "SYSTEM_ALARM_" + std::to_string(id);
    EXPECT_EQ((Ints{a.module_point, a.level, a.used, a.recovery_count, a.recovery_results[0],
                    a.recovery_results[1], a.recovery_results[2]}),
              (Ints{-1, 1, 1, 3, Vexlor::ALM_RETRY, Vexlor::ALM_IGNORE, Vexlor::ALM_ABORT}))
        << id;
    EXPECT_EQ((Texts{field_text(a.name), field_text(a.text), field_text(a.description),
                     field_text(a.recovery_messages[0]), field_text(a.recovery_messages[1]),
                     field_text(a.recovery_messages[2])}),
              (Texts{name, "System alarm|系统报警", "", "Retry|重试", "Ignore|忽略", "Abort|中止"}))
        << id;
  }
}

TEST_F(ConfigLoader, EveryFieldReachesItsRecord) {
  ASSERT_NO_FATAL_FAILURE(load(write(R"(modules = [
  { id = "PM1", name = "ETCH1", kind = "PM", side = 3, alarm_base = 5, annotation = "Etch|刻蚀" },
  { id = "PM2", kind = "PM" },
  { id = "LP8", kind = "CM", side = 7 },
  { id = "TM13", kind = "TM", side = 12 },
]
drivers = [
  { name = "DIO", type = 7, params = [1, 2, 3] },
  { name = "AIO", type = 8, params = [4], offline = true },
]
enums = [ { name = "Valve", items = [["Close|关", 2], ["Open|开", 5]] } ]
digital = [
  { name = "PM1.Valve", enum = "valve", input_driver = "dio", output_driver = "DIO", in_params = [11, 12], out_params = [13], unit = "-", mode = 4, annotation = "Rough valve", append = "Rough|粗抽", setpoint_interlock = true, tags = ["T1", "T2"], tag_type = "DI" },
  { name = "PM1.Count", min = -5, max = -1 },
  { name = "CTC.Language" },
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
  { id = 800, name = "SYS", used = false, choices = [[3, "Ignore"], ["ALM_STOP", "Stop"]] },
  { id = 0, name = "NO_MODULE" },
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
log = { ALM = "off", ERR = "console", DBG = "file", CIM = "both", 6 = "file", 7 = "off" }
)")));
  using Ints = std::vector<int64_t>;
  using Texts = std::vector<std::string_view>;
  // A module's name defaults to its ID and its side to the lowest free one of its kind.
  const auto& pm1 = b_.module(0);
  EXPECT_EQ((Texts{field_text(pm1.name), field_text(b_.module(1).name)}), (Texts{"ETCH1", "PM2"}));
  // Every kind has 100 sides, the CM and TM ones beyond what lookups by name search too.
  EXPECT_EQ((Ints{pm1.kind, pm1.side, pm1.alarm_base, b_.module(1).side, b_.module(2).side,
                  b_.module(3).side}),
            (Ints{Vexlor::MODULE_PM, 3, 5, 0, 7, 12}));
  EXPECT_EQ((Ints{b_.driver(0).type, b_.driver(0).params[2],
                  b_.driver(0).params[Vexlor::kDriverParamOffline], b_.driver(1).params[0],
                  b_.driver(1).params[Vexlor::kDriverParamOffline]}),
            (Ints{7, 3, 0, 4, 1}));
  const auto& e = b_.enumeration(0);
  EXPECT_EQ((Ints{e.item_count, e.values[1]}), (Ints{2, 5}));
  EXPECT_EQ(field_text(e.texts[1]), "Open|开");

  // An enumerated digital point takes the enumeration's value range, and starts at its minimum
  // when 0 is outside it.
  const auto& d = b_.digital(0);
  EXPECT_EQ((Ints{d.enum_point, d.min, d.max, d.init, d.idrv_point, d.odrv_point, d.idrv_type,
                  d.odrv_type, d.iparam[1], d.iparam[2], d.oparam[0], d.mode, d.sintlk_use,
                  d.vintlk_use, d.tag_flag}),
            (Ints{0, 2, 5, 2, 0, 0, 7, 7, 12, 0, 13, 4, 1, 0, 1}));
  EXPECT_EQ((Texts{field_text(d.unit), field_text(d.annotation), field_text(d.append),
                   field_text(d.tag_names[1]), field_text(d.tag_names[2]), field_text(d.tag_type)}),
            (Texts{"-", "Rough valve", "Rough|粗抽", "T2", "", "DI"}));
  const auto& d1 = b_.digital(1);
  EXPECT_EQ((Ints{d1.init, d1.enum_point, d1.idrv_point}),
            (Ints{-5, -1, Vexlor::VEXLOR_UNUSED_POINT}));

  const auto& a = b_.analog(0);
  EXPECT_EQ((Ints{a.decimal, a.idrv_point, a.idrv_type, a.odrv_point, a.iparam[2], a.vintlk_use,
                  a.tag_flag}),
            (Ints{4, 1, 8, Vexlor::VEXLOR_UNUSED_POINT, 3, 1, 0}));
  const auto& s = b_.string_point(0);
  EXPECT_EQ(field_text(s.init), "清洗|Clean");
  EXPECT_EQ((Ints{s.iparam, s.oparam, s.idrv_type, s.tag_flag}), (Ints{9, 10, 7, 1}));

  const auto& f = b_.function(0);
  EXPECT_EQ((Texts{field_text(f.path), field_text(f.load_arg_param), field_text(f.load_run_param),
                   field_text(f.annotation), field_text(f.append)}),
            (Texts{"Z:\\Bin\\pump.exe", "PM1|PM1$1$0", "PUMP", "a", "b"}));
  EXPECT_EQ((Ints{f.load_style, f.level, f.virtual_flag, f.pool_count}), (Ints{2, 3, 1, 4}));

  // The alarm finds its module by the module's name.
  const auto& al = b_.alarm(0);
  EXPECT_EQ((Ints{al.alarm_id, al.module_point, al.level, al.used, al.recovery_count,
                  al.recovery_results[0], al.recovery_results[1]}),
            (Ints{5001, 0, 0, 1, 2, Vexlor::ALM_RETRY, Vexlor::ALM_ABORT}));
  EXPECT_EQ(
      (Texts{field_text(al.text), field_text(al.description), field_text(al.recovery_messages[1])}),
      (Texts{"Pump|泵", "d", "Abort|中止"}));
  // Answers by number or by their ALARM_STYLE name; alarm ID 0 exists.
  EXPECT_EQ(
      (Ints{b_.alarm(1).module_point, b_.alarm(1).used, b_.alarm(1).level,
            b_.alarm(1).recovery_results[0], b_.alarm(1).recovery_results[1], b_.find_alarm(0)}),
      (Ints{-1, 0, 1, Vexlor::ALM_IGNORE, Vexlor::ALM_STOP, 2}));

  // A system path not given keeps its default.
  const auto& sys = b_.system();
  EXPECT_EQ(
      (Texts{field_text(sys.user_name), field_text(sys.group_name), field_text(sys.database_path),
             field_text(sys.history_path), field_text(sys.machine_path),
             field_text(sys.user_code_version), field_text(sys.project_id), b_.main_form()}),
      (Texts{"op", "eng", "Z:\\Db", "Z:\\History", "Z:\\M", "2.0", "P1", "MY_GUI"}));
  EXPECT_EQ((Ints{sys.user_level, sys.language, sys.simulation, sys.fa_type}),
            (Ints{3, Vexlor::LANGUAGE_CHINESE, 0, 2}));
  EXPECT_EQ((std::vector<double>{a.min, a.max, a.init}), (std::vector<double>{0.5, 10, 0.5}));
  EXPECT_EQ(Ints(sys.log_switch_first, sys.log_switch_first + 8), (Ints{0, 1, 0, 1, 1, 1, 0, 0}));
  EXPECT_EQ(Ints(sys.log_switch_second, sys.log_switch_second + 8), (Ints{0, 0, 1, 1, 1, 1, 1, 0}));
}

// The [host] section reaches the builder's mapping table and the equipment's database file.
TEST_F(ConfigLoader, HostSectionReachesTheMappingTableAndTheDatabaseFile) {
  const std::string path = write(
      "functions = [ { name = \"PM1_PROCESS\" } ]\n"
      "digital = [ { name = \"PM1.MaxTemp\" } ]\n"
      "analog = [ { name = \"PM1.Pressure\" } ]\n"
      "[host]\n"
      "variables = [\n"
      "  { vid = 5001, point = \"PM1.Pressure\", unit = \"Torr\" },\n"
      "  { vid = 5002, point = \"PM1.MaxTemp\", class = \"DV\", name = \"MaxTemp\" },\n"
      "]\n"
      "constants = [ { ecid = 100, point = \"PM1.MaxTemp\", min = -5, max = 400, default = 350, "
      "unit = \"C\" } ]\n"
      "commands = [ { rcmd = \"PP_SELECT\", routine = \"PM1_PROCESS\", params = [\"PPID\", "
      "\"LOT\"], args = \"{PPID};{LOT}\" } ]\n");
  std::string error;
  ASSERT_TRUE(load_configuration(path, b_, &error, nullptr)) << error;
  const HostTable& h = b_.host();
  ASSERT_EQ(h.variables.size(), 2u);
  EXPECT_EQ(h.variables[0].vid, 5001);
  EXPECT_EQ(h.variables[0].point, "PM1.Pressure");
  EXPECT_EQ(h.variables[0].name, "PM1.Pressure");
  EXPECT_EQ(h.variables[0].cls, "SV");
  EXPECT_EQ(h.variables[0].unit, "Torr");
  EXPECT_EQ(h.variables[1].cls, "DV");
  EXPECT_EQ(h.variables[1].name, "MaxTemp");
  ASSERT_EQ(h.constants.size(), 1u);
  EXPECT_EQ((std::vector<double>{h.constants[0].min, h.constants[0].max, h.constants[0].def}),
            (std::vector<double>{-5, 400, 350}));
  ASSERT_EQ(h.commands.size(), 1u);
  EXPECT_EQ(h.commands[0].routine, "PM1_PROCESS");
  EXPECT_EQ(h.commands[0].params, (std::vector<std::string>{"PPID", "LOT"}));
  EXPECT_EQ(h.commands[0].args, "{PPID};{LOT}");

  const std::string file = instance_.runtime_dir() + "/vexlor.db";
  ASSERT_TRUE(write_host_table(file, h, true, &error)) << error;
  // A second create replaces the rows.
  ASSERT_TRUE(write_host_table(file, h, true, &error)) << error;
  EXPECT_EQ(test::sql_rows(file, "SELECT kind, id, name, point, class, min, max, def, unit, "
                                 "routine, params, args FROM HostMapping ORDER BY rowid"),
            (std::vector<std::vector<std::string>>{
                {"variable", "5001", "PM1.Pressure", "PM1.Pressure", "SV", "0.0", "0.0", "0.0",
                 "Torr", "", "", ""},
                {"variable", "5002", "MaxTemp", "PM1.MaxTemp", "DV", "0.0", "0.0", "0.0", "", "",
                 "", ""},
                {"constant", "100", "PM1.MaxTemp", "PM1.MaxTemp", "EC", "-5.0", "400.0", "350.0",
                 "C", "", "", ""},
                {"command", "0", "PP_SELECT", "", "", "0.0", "0.0", "0.0", "", "PM1_PROCESS",
                 "PPID,LOT", "{PPID};{LOT}"}}));
}

TEST_F(ConfigLoader, BadConfigurationGivesOneLineNamingFileLineAndField) {
  for (const test::BadConfig& bad : test::bad_configs()) {
    const std::string path = write(bad.toml);
    DatabaseBuilder b;
    std::string error, line = bad.line;
    std::vector<std::string> warnings;
    EXPECT_FALSE(load_configuration(path, b, &error, &warnings)) << bad.what;
    EXPECT_EQ(error, line.replace(line.find("FILE"), 4, path)) << bad.what;
    EXPECT_EQ(warnings, std::vector<std::string>()) << bad.what;
  }
  // Nothing is published by a load.
  EXPECT_FALSE(os::section_exists(detail::kDatabaseSection));

  // Files that hold no configuration at all.
  const std::string missing = instance_.runtime_dir() + "/missing.toml";
  const std::string folder = instance_.runtime_dir();
  for (const auto& [path, line] : std::vector<std::pair<std::string, std::string>>{
           {missing, missing + ": cannot read the file: No such file or directory"},
           {folder, folder + ": is a folder, not a configuration file"},
           {"/dev/null", "/dev/null: is not a regular file"}}) {
    std::string error;
    EXPECT_FALSE(load_configuration(path, b_, &error, nullptr)) << path;
    EXPECT_EQ(error, line);
  }
}

TEST_F(ConfigLoader, ImageBeyondWhatA32BitRoutineMapsIsRefusedBeforeBuilding) {
  // String points are the largest records (3,886 bytes with their value slot): the first
  // count whose image passes 1 GiB is refused.
  detail::DbCounts c;
  c.strings = 270000;
  while (detail::plan_image(c).total_size <= detail::kMaxImageBytes) ++c.strings;
  ASSERT_LT(c.strings, 280000u);
  const uint64_t size = detail::plan_image(c).total_size;
  std::string toml = "string = [\n";
  for (uint32_t i = 0; i < c.strings; ++i) toml += "{name=\"S" + std::to_string(i) + "\"},\n";
  const std::string path = write(toml + "]\n");
  std::string error;
  EXPECT_FALSE(load_configuration(path, b_, &error, nullptr));
  EXPECT_EQ(error, path + ": the database would take " + std::to_string(size) +
                       " bytes, more than the limit of 1073741824 (1 GiB) that every routine, "
                       "32-bit ones too, must map whole");
  EXPECT_EQ(b_.counts().strings, 0u);  // refused before a record was built
}

TEST_F(ConfigLoader, CheckListsEveryBadRecordAndGoesOn) {
  const std::string path = write(R"(digital = [
  { name = "PM1 Valve" },
  { name = "CTC.Language" },
  { name = "PM1.Count", max = "9" },
  { name = "PM1.Flow", unti = "sccm" },
]
alarms = [ { id = 800, name = "S", choices = [[8, "Paused"]] } ]
)");
  std::vector<std::string> errors, warnings;
  EXPECT_FALSE(check_configuration(path, b_, &errors, &warnings));
  EXPECT_EQ(errors,
            (std::vector<std::string>{
                path + ":2: digital[0].name: name \"PM1 Valve\" contains a blank (names hold no "
                       "blanks, control characters or * ? [ ])",
                path + ":4: digital[2].max: expected an integer",
                path + ":5: digital[3].unti: unknown key (did you mean \"unit\"?)",
                path + ":7: alarms[0].choices[0]: unknown choice 8 (CLEAR, RETRY, WAIT, IGNORE, "
                       "DISABLE, ENABLE, STOP, ABORT or 0 to 7)"}));
  EXPECT_EQ(warnings, std::vector<std::string>());
  // The records between the bad ones are all there.
  EXPECT_EQ(b_.counts().digitals, 1u);
}

TEST_F(ConfigLoader, SuspiciousConfigurationLoadsWithWarnings) {
  const std::string path = write(R"(modules = [ { id = "PM1", kind = "PM", alarm_base = 5 } ]
digital = [
  { name = "PM1.Valve" },
  { name = "pm1.valve" },
]
string = [ { name = "PM1.Valve" } ]
alarms = [ { id = 6001, module = "PM1", name = "A" } ]
)");
  std::string error;
  std::vector<std::string> warnings;
  ASSERT_TRUE(load_configuration(path, b_, &error, &warnings)) << error;
  std::vector<std::string> expected = {
      path +
          ":4: digital[1].name: duplicate digital point \"pm1.valve\", first at line 3 "
          "(digital[0].name); lookups find the first",
      path +
          ":7: alarms[0].id: alarm ID 6001 is outside the block of module \"PM1\" "
          "(5000..5999)"};
  for (const std::string& w : test::pool_and_language_warnings(path)) expected.push_back(w);
  EXPECT_EQ(warnings, expected);
  // Both points exist; a string point may share a digital point's name.
  EXPECT_EQ(b_.counts().digitals, 2u);
  EXPECT_EQ(b_.counts().strings, 1u);
}

}  // namespace
}  // namespace vexlor::config
