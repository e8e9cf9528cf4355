// vexlor-db run as a real child process: create, check, info, dump, list and remove on
// private instances, its exit codes, that a bad configuration leaves nothing behind, and that
// a database in use by another process is neither replaced nor removed unless forced.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>
#include <vexlor/image_state.h>
#include <vexlor/vexlor.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "config/bad_configs.h"
#include "config/builder.h"
#include "config/loader.h"
#include "db/attach_registry.h"
#include "os/instance.h"
#include "os/live_file.h"
#include "os/local_endpoint.h"
#include "os/named_mutex.h"
#include "support/instance.h"

namespace vexlor::config {
namespace {

constexpr char kTool[] = VEXLOR_TOOLS_DIR "/vexlor-db";
constexpr char kSample[] = VEXLOR_SOURCE_DIR "/examples/equipment/equipment.toml";

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

  // The tool's lines of test::pool_and_language_warnings.
  static std::string pool_and_language(const std::string& path) {
    std::string lines;
    for (const std::string& w : test::pool_and_language_warnings(path))
      lines += "vexlor-db: warning: " + w + "\n";
    return lines;
  }

  bool instance_folder_exists(const std::string& name) {
    return std::filesystem::exists(os::instance_dir(name));
  }
  // Runs the tool: exactly this exit status, stdout and stderr.
  void expect_run(const std::vector<std::string>& args, int code, const std::string& out,
                  const std::string& err) {
    const ToolRun r = tool(args);
    EXPECT_EQ(r.code, code) << args[0];
    EXPECT_EQ(r.out, out) << args[0];
    EXPECT_EQ(r.err, err) << args[0];
  }
  static std::string sample_size() {
    DatabaseBuilder expected;
    EXPECT_TRUE(load_configuration(kSample, expected, nullptr, nullptr));
    return std::to_string(expected.image_size());
  }
  // What the sample equipment holds, as create, check and info count it.
  static std::string sample_counts() {
    return "6 modules, 5 drivers, 12 enums, 749 digital, 32 analog, 1143 string, 24 functions, "
           "128 alarms, " +
           sample_size() + " bytes\n";
  }

  test::PrivateInstance instance_{"vexlordb"};
};

TEST_F(VexlorDb, CreateInfoRemoveLifecycle) {
  const std::string name = instance_.name();
  expect_run({"create", kSample}, 0,
             "created instance \"" + name + "\" from " + kSample + ": " + sample_counts(), "");

  ToolRun r = tool({"info"});
  ASSERT_EQ(r.code, 0) << r.err;
  const std::regex created("created:   [0-9]{4}/[0-9]{2}/[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}\n");
  EXPECT_TRUE(std::regex_search(r.out, created)) << r.out;
  EXPECT_EQ(std::regex_replace(r.out, created, "created:   *\n"),
            "instance:  " + name +
                "\nsource:    " + std::filesystem::path(kSample).lexically_normal().string() +
                "\ncreated:   *\nsize:      " + sample_size() +
                " bytes\nmodules:   6\ndrivers:   5\nenums:     12\ndigital:   749\n"
                "analog:    32\nstring:    1143\nfunctions: 24 (+12 slots)\nalarms:    128\n");

  // A second create keeps the database unless --force replaces it.
  expect_run({"create", kSample}, 1, "",
             "vexlor-db: a database exists already in instance \"" + name + "\"\n");
  EXPECT_EQ(tool({"create", kSample, "--force"}).code, 0);

  expect_run({"remove"}, 0, "removed the database of instance \"" + name + "\"\n", "");
  EXPECT_FALSE(instance_folder_exists(name));
  for (const char* command : {"remove", "info"})
    expect_run({command}, 1, "", "vexlor-db: no database in instance \"" + name + "\"\n");
}

TEST_F(VexlorDb, BadConfigurationCreatesNothingAndWarningsGoToStderr) {
  for (const test::BadConfig& bad : test::bad_configs()) {
    SCOPED_TRACE(bad.what);
    const std::string path = write(bad.toml);
    std::string line = bad.line;
    expect_run({"create", path}, 1, "",
               "vexlor-db: " + line.replace(line.find("FILE"), 4, path) + "\n");
    EXPECT_FALSE(instance_folder_exists(instance_.name()));
  }
  const std::string path = write("digital = [\n  { name = \"A\" },\n  { name = \"a\" },\n]\n");
  const ToolRun r = tool({"create", path});
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.err, "vexlor-db: warning: " + path +
                       ":3: digital[1].name: duplicate digital point \"a\", first at line 2 "
                       "(digital[0].name); lookups find the first\n" +
                       pool_and_language(path));
  EXPECT_TRUE(instance_folder_exists(instance_.name()));
}

TEST_F(VexlorDb, CheckReportsEveryFindingAndCreatesNothing) {
  const std::string bad = write(R"(digital = [
  { name = "A?" },
  { name = "B", colour = 1 },
  { name = "C", min = 2, max = 1 },
]
)");
  expect_run({"check", bad}, 1, bad + ": 3 errors, 2 warnings\n",
             "vexlor-db: " + bad +
                 ":2: digital[0].name: name \"A?\" contains '?' (names hold no blanks, "
                 "control characters or * ? [ ])\nvexlor-db: " +
                 bad + ":3: digital[1].colour: unknown key\nvexlor-db: " + bad +
                 ":4: digital[2].max: max 1 is below min 2\n" + pool_and_language(bad));
  expect_run({"check", kSample}, 0,
             std::string(kSample) + ": 0 errors, 0 warnings; " + sample_counts(), "");
  EXPECT_FALSE(instance_folder_exists(instance_.name()));
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

  expect_run({"dump", "digital"}, 0,
             "#  NAME           VALUE     ENUM   MIN  MAX  IN       OUT  UNIT\n"
             "0  PM1.Valve      1         Valve  0    1    DIO      DIO  -\n"
             "1  PM2.Valve      (failed)  Valve  0    1    DIO_OFF  -\n"
             "2  CTC.UserLevel  9         -      0    9    -        -\n",
             "");
  expect_run({"dump", "analog"}, 0,
             "#  NAME          VALUE     MIN  MAX  IN       OUT  UNIT\n"
             "0  PM1.Pressure  760.000   0    800  -        -    Torr\n"
             "1  PM2.Pressure  (failed)  0    800  DIO_OFF  -    Torr\n",
             "");
  expect_run({"dump", "drivers"}, 0,
             "#  NAME     TYPE  STATE    PARAMS\n"
             "0  DIO      1     online   0,0,0,0,0,0,0,0,0,0\n"
             "1  DIO_OFF  1     offline  0,0,0,0,0,0,0,0,0,1\n",
             "");
}

TEST_F(VexlorDb, ListAndJsonShowInstancesSideBySide) {
  const std::string a = instance_.name() + "-a", b = instance_.name() + "-b";
  const std::string small = write(
      "modules = [ { id = \"PM1\", kind = \"PM\", alarm_base = 5 } ]\n"
      "digital = [ { name = \"CTC.Language\" }, { name = \"B\" } ]\n"
      "alarms = [ { id = 800, name = \"SYS\" } ]\n");
  ASSERT_EQ(tool({"--instance", a, "create", kSample}).code, 0);
  instance_.use(b);
  ASSERT_EQ(tool({"create", small}).code, 0);
  // A manager serves b, and this process is attached to it.
  os::LocalListener manager;
  ASSERT_TRUE(manager.open(os::kManagerEndpoint, nullptr));
  ASSERT_TRUE(Vexlor::VHub_Initial2("LISTER"));

  // --instance wins over VEXLOR_INSTANCE, after the subcommand too.
  ToolRun r = tool({"--json", "info", "--instance", a});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("{\"instance\": \"" + a + "\", \"source\": \""), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\"digital\": 749, \"analog\": 32, \"string\": 1143, \"functions\": 24, "
                       "\"alarms\": 128}\n"),
            std::string::npos)
      << r.out;

  const std::string pid = std::to_string(::getpid());
  const std::string source_a = std::filesystem::path(kSample).lexically_normal().string();
  const std::string source_b = std::filesystem::path(small).lexically_normal().string();
  const std::string pad(pid.size() + 9 - 1, ' ');  // "ATTACHED" column width
  expect_run({"list"}, 0,
             "INSTANCE" + std::string(a.size() - 8 + 2, ' ') + "DATABASE  MANAGER  ATTACHED" +
                 std::string(pid.size() + 9 - 8 + 2, ' ') + "SOURCE\n" + a +
                 "  valid     -        -" + pad + "  " + source_a + "\n" + b +
                 "  valid     running  " + pid + " (LISTER)  " + source_b + "\n",
             "");
  expect_run({"--json", "list"}, 0,
             "[\n {\"instance\": \"" + a +
                 "\", \"database\": \"valid\", \"manager\": false, \"attached\": [], "
                 "\"source\": \"" +
                 source_a + "\"},\n {\"instance\": \"" + b +
                 "\", \"database\": \"valid\", \"manager\": true, \"attached\": [{\"pid\": " + pid +
                 ", \"routine\": \"LISTER\"}], \"source\": \"" + source_b + "\"}\n]\n",
             "");
  expect_run({"--json", "dump", "modules"}, 0,
             "[\n {\"index\": 0, \"id\": \"PM1\", \"name\": \"PM1\", \"kind\": \"PM\", "
             "\"side\": 0, \"alarm_base\": 5, \"annotation\": \"\"}\n]\n",
             "");
  Vexlor::VHub_Release();
  manager.close();

  EXPECT_EQ(tool({"--instance", a, "remove"}).code, 0);
  EXPECT_FALSE(instance_folder_exists(a));
  EXPECT_TRUE(instance_folder_exists(b));
  EXPECT_EQ(tool({"remove"}).code, 0);
}

// A routine in another process: attaches, says so on `ready`, waits for a byte on `go`, then
// reports what it sees of its image: 0 when it was retired and its waits give way, 1 otherwise.
int attached_routine(int ready, int go) {
  if (!Vexlor::VHub_Initial2("PM1_PROC")) return 2;
  (void)!::write(ready, "r", 1);
  char byte = 0;
  if (::read(go, &byte, 1) != 1) return 3;
  const bool retired = vexlor::database_retired(Vexlor::MMAP_DB());
  const bool wait_gave_way = !Vexlor::VTimer_Wait_Seconds(0.01);
  Vexlor::VHub_Release();
  return retired && wait_gave_way ? 0 : 1;
}

TEST_F(VexlorDb, DatabaseInUseIsKeptUnlessForcedAndTheOldImageIsMarkedRetired) {
  const std::string name = instance_.name();
  ASSERT_EQ(tool({"create", kSample}).code, 0);
  // A process killed while attached leaves a record nobody holds: it does not count.
  // It also held a mutex, whose file stays behind in the instance's mutex folder.
  const pid_t killed = test::spawn_child([] {
    Vexlor::VHub_Initial2("KILLED");
    os::mutex_create("KILLED_RUN", true);
    ::pause();
    return 0;
  });
  ASSERT_TRUE(test::wait_until(
      [] { return detail::attached_processes(os::instance_dir()).size() == 1; }, 10));
  ASSERT_TRUE(test::wait_until([] { return os::mutex_exists("KILLED_RUN"); }, 10));
  ::kill(killed, SIGKILL);
  EXPECT_EQ(test::wait_child(killed, 10), 128 + SIGKILL);
  const std::string mutexes = os::instance_dir() + "/mutex";
  EXPECT_FALSE(os::list_dir(mutexes).empty());

  int ready[2], go[2];
  ASSERT_EQ(::pipe(ready), 0);
  ASSERT_EQ(::pipe(go), 0);
  const pid_t child = test::spawn_child([&] { return attached_routine(ready[1], go[0]); });
  char byte = 0;
  ASSERT_EQ(::read(ready[0], &byte, 1), 1);
  const std::string in_use = "vexlor-db: the database of instance \"" + name +
                             "\" is in use by 1 process: " + std::to_string(child) +
                             " (PM1_PROC); ";

  expect_run({"create", kSample, "--force"}, 1, "",
             in_use + "stop them, or repeat --force to replace it anyway\n");
  expect_run({"remove"}, 1, "", in_use + "stop them, or add --force\n");

  // Forced: the new database is published and the routine finds its old one retired.
  EXPECT_EQ(tool({"create", "--force", kSample, "--force"}).code, 0);
  ASSERT_EQ(::write(go[1], "g", 1), 1);
  EXPECT_EQ(test::wait_child(child, 30), 0);
  for (int fd : {ready[0], ready[1], go[0], go[1]}) ::close(fd);

  // Nobody attached any more: remove takes the database and what dead processes left, the
  // killed routine's mutex and the mutex folder with it.
  std::ofstream(os::instance_dir() + "/manager.log") << "request\n";
  EXPECT_TRUE(std::filesystem::exists(mutexes));
  EXPECT_EQ(tool({"remove"}).code, 0);
  EXPECT_FALSE(std::filesystem::exists(mutexes));
  EXPECT_FALSE(instance_folder_exists(name));
}

TEST_F(VexlorDb, BuildFileOfAKilledCreateGoesAtTheNextCreate) {
  // Large enough that the build takes a while: 20,000 string points, about 78 MB.
  std::string toml = "string = [\n";
  for (int i = 0; i < 20000; ++i) toml += "{name=\"S" + std::to_string(i) + "\"},\n";
  const std::string big = write(toml + "]\n");
  auto build_files = [] {
    int n = 0;
    for (const std::string& entry : os::list_dir(os::instance_dir()))
      n += entry.rfind("database.building.", 0) == 0 || entry.rfind("build.", 0) == 0;
    return n;
  };
  DatabaseBuilder b;
  ASSERT_TRUE(load_configuration(big, b, nullptr, nullptr));
  bool left = false;
  for (int attempt = 0; attempt < 20 && !left; ++attempt) {
    const pid_t builder =
        test::spawn_child([&b] { return b.publish(true, "killed", nullptr) ? 0 : 1; });
    test::wait_until([&] { return build_files() >= 2; }, 5);
    ::kill(builder, SIGKILL);
    test::wait_child(builder, 10);
    left = build_files() > 0;
  }
  ASSERT_TRUE(left) << "no build was caught in the middle";
  EXPECT_EQ(tool({"create", "--force", write("digital = [ { name = \"A\" } ]\n")}).code, 0);
  EXPECT_EQ(build_files(), 0);
  EXPECT_EQ(tool({"remove"}).code, 0);
}

TEST_F(VexlorDb, BadUsageExitsWithTwoAndOnePrefixedLine) {
  expect_run({"create"}, 2, "", "vexlor-db: CONFIG is required (see vexlor-db --help)\n");
  expect_run({"frobnicate"}, 2, "",
             "vexlor-db: unknown command \"frobnicate\" (see vexlor-db --help)\n");
  expect_run({"dump", "digital", "--limit", "-1"}, 2, "",
             "vexlor-db: --limit: Value -1 not in range 0 to 2147483647 (see vexlor-db --help)\n");
  using Args = std::vector<std::string>;
  for (const Args& args : {Args{}, {"dump", "points"}}) {
    const ToolRun r = tool(args);
    EXPECT_EQ(r.code, 2) << r.err;
    EXPECT_EQ(r.err.rfind("vexlor-db: ", 0), 0u) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
  }
  const ToolRun help = tool({"--help"});
  EXPECT_EQ(help.code, 0);
  EXPECT_NE(help.out.find("check"), std::string::npos);
  EXPECT_FALSE(instance_folder_exists(instance_.name()));
}

}  // namespace
}  // namespace vexlor::config
