// vexlor-db run as a real child process: create, info, dump and remove on private instances,
// its exit codes, and that a bad configuration leaves nothing behind.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "config/bad_configs.h"
#include "config/builder.h"
#include "config/loader.h"
#include "os/instance.h"
#include "support/instance.h"

namespace vexlor::config {
namespace {

constexpr char kTool[] = VEXLOR_TOOLS_DIR "/vexlor-db";
constexpr char kSample[] = VEXLOR_SOURCE_DIR "/examples/equipment/equipment.toml";

using test::slurp;
using test::ToolRun;

class VexlorDb : public ::testing::Test {
 protected:
  // Runs the tool with `args` in the current environment (this test's instance).
  ToolRun tool(const std::vector<std::string>& args) {
    return test::run_tool(kTool, args, instance_.runtime_dir());
  }

  std::string write(const std::string& toml) {
    const std::string path = instance_.runtime_dir() + "/equipment.toml";
    std::ofstream(path, std::ios::binary) << toml;
    return path;
  }

  bool instance_folder_exists(const std::string& name) {
    return std::filesystem::exists(os::instance_dir(name));
  }

  test::PrivateInstance instance_{"vexlordb"};
};

TEST_F(VexlorDb, CreateInfoRemoveLifecycle) {
  const std::string name = instance_.name();
  DatabaseBuilder expected;
  ASSERT_TRUE(load_configuration(kSample, expected, nullptr, nullptr));
  const std::string size = std::to_string(expected.image_size());

  ToolRun r = tool({"create", kSample});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, "created instance \"" + name + "\" from " + kSample +
                       ": 6 modules, 5 drivers, 12 enums, 749 digital, 32 analog, 1143 string, "
                       "24 functions, 128 alarms, " +
                       size + " bytes\n");

  r = tool({"info"});
  ASSERT_EQ(r.code, 0) << r.err;
  const std::regex created("created:   [0-9]{4}/[0-9]{2}/[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}\n");
  EXPECT_TRUE(std::regex_search(r.out, created)) << r.out;
  EXPECT_EQ(std::regex_replace(r.out, created, "created:   *\n"),
            "instance:  " + name +
                "\nsource:    " + std::filesystem::path(kSample).lexically_normal().string() +
                "\ncreated:   *\nsize:      " + size +
                " bytes\nmodules:   6\ndrivers:   5\nenums:     12\ndigital:   749\n"
                "analog:    32\nstring:    1143\nfunctions: 24 (+12 slots)\nalarms:    128\n");

  // A second create keeps the database unless --force replaces it.
  r = tool({"create", kSample});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "vexlor-db: a database exists already in instance \"" + name + "\"\n");
  r = tool({"create", kSample, "--force"});
  EXPECT_EQ(r.code, 0) << r.err;

  r = tool({"remove"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, "removed the database of instance \"" + name + "\"\n");
  EXPECT_FALSE(instance_folder_exists(name));

  for (const char* command : {"remove", "info"}) {
    r = tool({command});
    EXPECT_EQ(r.code, 1) << command;
    EXPECT_EQ(r.err, "vexlor-db: no database in instance \"" + name + "\"\n") << command;
  }
}

TEST_F(VexlorDb, BadConfigurationCreatesNothing) {
  for (const test::BadConfig& bad : test::bad_configs()) {
    const std::string path = write(bad.toml);
    std::string line = bad.line;
    line.replace(line.find("FILE"), 4, path);
    const ToolRun r = tool({"create", path});
    EXPECT_EQ(r.code, 1) << bad.what;
    EXPECT_EQ(r.out, "") << bad.what;
    EXPECT_EQ(r.err, "vexlor-db: " + line + "\n") << bad.what;
    EXPECT_FALSE(instance_folder_exists(instance_.name())) << bad.what;
  }
}

TEST_F(VexlorDb, WarningsGoToStderrAndTheDatabaseIsCreated) {
  const std::string path = write("digital = [\n  { name = \"A\", nmae = \"B\" },\n]\n");
  const ToolRun r = tool({"create", path});
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.err, "vexlor-db: warning: " + path + ":2: digital[0].nmae: unknown key, ignored\n");
  EXPECT_TRUE(instance_folder_exists(instance_.name()));
}

TEST_F(VexlorDb, DumpReadsValuesThroughTheirDrivers) {
  const std::string path = write(R"(drivers = [
  { name = "DIO", type = 1 },
  { name = "DIO_OFF", type = 1, offline = true },
]
enums = [ { name = "Valve", items = [["Close|关", 0], ["Open|开", 1]] } ]
digital = [
  { name = "PM1.Valve", enum = "Valve", init = 1, input_driver = "DIO", output_driver = "DIO", unit = "-" },
  { name = "PM2.Valve", enum = "Valve", input_driver = "DIO_OFF" },
  { name = "CTC.UserLevel", min = 0, max = 9, init = 9 },
]
analog = [
  { name = "PM1.Pressure", unit = "Torr", decimal = 3, min = 0, max = 800, init = 760 },
  { name = "PM2.Pressure", unit = "Torr", min = 0, max = 800, input_driver = "DIO_OFF" },
]
)");
  ASSERT_EQ(tool({"create", path}).code, 0);

  ToolRun r = tool({"dump", "digital"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out,
            "#  NAME           VALUE     ENUM   MIN  MAX  IN       OUT  UNIT\n"
            "0  PM1.Valve      1         Valve  0    1    DIO      DIO  -\n"
            "1  PM2.Valve      (failed)  Valve  0    1    DIO_OFF  -\n"
            "2  CTC.UserLevel  9         -      0    9    -        -\n");
  r = tool({"dump", "analog"});
  EXPECT_EQ(r.out,
            "#  NAME          VALUE     MIN  MAX  IN       OUT  UNIT\n"
            "0  PM1.Pressure  760.000   0    800  -        -    Torr\n"
            "1  PM2.Pressure  (failed)  0    800  DIO_OFF  -    Torr\n");
  r = tool({"dump", "drivers"});
  EXPECT_EQ(r.out,
            "#  NAME     TYPE  STATE    PARAMS\n"
            "0  DIO      1     online   0,0,0,0,0,0,0,0,0,0\n"
            "1  DIO_OFF  1     offline  0,0,0,0,0,0,0,0,0,1\n");
}

TEST_F(VexlorDb, TwoInstancesSideBySide) {
  const std::string a = instance_.name() + "-a", b = instance_.name() + "-b";
  const std::string small = write("digital = [ { name = \"A\" }, { name = \"B\" } ]\n");
  ASSERT_EQ(tool({"--instance", a, "create", kSample}).code, 0);
  instance_.use(b);
  ASSERT_EQ(tool({"create", small}).code, 0);

  // --instance wins over VEXLOR_INSTANCE, after the subcommand too.
  ToolRun r = tool({"info", "--instance", a});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("instance:  " + a + "\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("digital:   749\n"), std::string::npos) << r.out;
  r = tool({"info"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("instance:  " + b + "\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("digital:   2\n"), std::string::npos) << r.out;

  EXPECT_EQ(tool({"--instance", a, "remove"}).code, 0);
  EXPECT_FALSE(instance_folder_exists(a));
  EXPECT_TRUE(instance_folder_exists(b));
  EXPECT_EQ(tool({"remove"}).code, 0);
}

TEST_F(VexlorDb, BadUsageExitsWithTwo) {
  EXPECT_EQ(tool({}).code, 2);
  EXPECT_EQ(tool({"create"}).code, 2);
  EXPECT_EQ(tool({"dump", "points"}).code, 2);
  EXPECT_EQ(tool({"dump", "digital", "--limit", "-1"}).code, 2);
  EXPECT_EQ(tool({"frobnicate"}).code, 2);
  const ToolRun help = tool({"--help"});
  EXPECT_EQ(help.code, 0);
  EXPECT_NE(help.out.find("create"), std::string::npos);
  EXPECT_FALSE(instance_folder_exists(instance_.name()));
}

}  // namespace
}  // namespace vexlor::config
