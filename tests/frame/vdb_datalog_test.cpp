// The data-log tables of the equipment database file: the loader's `datalogs`, what
// `vexlor-db create` and `remove` do to the file, and VDB_Get_DataLog_IO reading it back.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "config/builder.h"
#include "config/loader.h"
#include "frame/vdb.h"
#include "os/instance.h"
#include "support/instance.h"
#include "vexlor/vexlor.h"

using namespace Vexlor;
namespace d = vexlor::detail;
namespace fs = std::filesystem;
using vexlor::config::DatabaseBuilder;
using vexlor::config::load_configuration;
using vexlor::test::PrivateInstance;

namespace {

constexpr char kTool[] = VEXLOR_TOOLS_DIR "/vexlor-db";

struct ToolRun {
  int code = -1;
  std::string out, err;
};

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// The points of a database used by the tests below.
constexpr char kPoints[] = R"(
digital = [ { name = "PM1.Valve" } ]
analog = [ { name = "PM1.Pressure" }, { name = "PM1.Flow" } ]
string = [ { name = "PM1.Recipe" } ]
functions = [ { name = "DATALOGGER" } ]
)";

std::vector<std::string> names_of(const std::vector<DataLog_IO_Item>& list) {
  std::vector<std::string> names;
  for (const auto& item : list) names.push_back(item.name);
  return names;
}

// Runs one SQL query and returns the first column of each row joined by ",".
std::string query(const std::string& file, const char* sql) {
  sqlite3* db = nullptr;
  std::string out;
  if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    sqlite3_stmt* s = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &s, nullptr) == SQLITE_OK) {
      while (sqlite3_step(s) == SQLITE_ROW) {
        if (!out.empty()) out += ",";
        const auto* text = sqlite3_column_text(s, 0);
        out += text ? reinterpret_cast<const char*>(text) : "NULL";
      }
    } else {
      out = std::string("error: ") + sqlite3_errmsg(db);
    }
    sqlite3_finalize(s);
  }
  sqlite3_close(db);
  return out;
}

class DataLogTables : public ::testing::Test {
 protected:
  void SetUp() override {
    char templ[] = "/tmp/vexlor-drive.XXXXXX";
    root_ = ::mkdtemp(templ);
    ::setenv("VEXLOR_DRIVE_ROOT", root_.c_str(), 1);
  }
  void TearDown() override {
    VHub_Release();
    ::unsetenv("VEXLOR_DRIVE_ROOT");
    std::error_code ec;
    fs::remove_all(root_, ec);
  }

  // Runs vexlor-db with `args` in this test's instance and drive root.
  ToolRun tool(const std::vector<std::string>& args) {
    const std::string out_path = instance_.runtime_dir() + "/stdout.txt";
    const std::string err_path = instance_.runtime_dir() + "/stderr.txt";
    const pid_t pid = vexlor::test::spawn_child([&]() {
      const int out = ::open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      const int err = ::open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      if (out < 0 || err < 0) return 126;
      ::dup2(out, 1);
      ::dup2(err, 2);
      std::vector<char*> argv{const_cast<char*>(kTool)};
      for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      ::execv(kTool, argv.data());
      return 127;
    });
    ToolRun r;
    r.code = vexlor::test::wait_child(pid, 60);
    r.out = slurp(out_path);
    r.err = slurp(err_path);
    return r;
  }

  std::string write(const std::string& toml, const std::string& file = "equipment.toml") {
    const std::string path = instance_.runtime_dir() + "/" + file;
    std::ofstream(path, std::ios::binary) << toml;
    return path;
  }

  // The file below database path "Z:\Db".
  std::string file() const { return root_ + "/Z/Db/vexlor.db"; }

  // Builds the database in process and starts the data logger on it.
  void start(const char* database_path = "Z:\\Db") {
    DatabaseBuilder b;
    std::snprintf(b.system().database_path, sizeof b.system().database_path, "%s", database_path);
    b.add_function("DATALOGGER");
    std::string error;
    ASSERT_TRUE(b.publish(true, "vdb_datalog_test", &error)) << error;
    ASSERT_TRUE(VHub_Initial("DATALOGGER"));
  }

  PrivateInstance instance_{"vdb"};
  std::string root_;
};

}  // namespace

TEST_F(DataLogTables, CreateWritesTheTablesAndTheLibraryReadsThemInOrder) {
  const std::string config = write(std::string(kPoints) + R"(
datalogs = [
  { name = "PM1_TRACE", points = ["PM1.Pressure", "PM1.Valve", "PM1.Recipe", "PM1.Flow"] },
  { name = "Empty", points = [] },
  { name = "PM1_SHORT", points = ["PM1.Flow", "PM1.Pressure"] },
]
[system]
database_path = "Z:\\Db"
)");
  ToolRun r = tool({"create", config});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.err, "");
  ASSERT_TRUE(fs::exists(file()));
  struct stat st {};
  ASSERT_EQ(::stat(file().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0660u);
  EXPECT_EQ(query(file(), "PRAGMA journal_mode"), "wal");

  ASSERT_TRUE(VHub_Initial("DATALOGGER"));
  std::vector<DataLog_IO_Item> list(1);
  ASSERT_TRUE(VDB_Get_DataLog_IO("PM1_TRACE", list));
  ASSERT_EQ(list.size(), 4u);
  const std::vector<std::string> order = {"PM1.Pressure", "PM1.Valve", "PM1.Recipe", "PM1.Flow"};
  EXPECT_EQ(names_of(list), order);
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(list[i].point, -99999999) << i;
    EXPECT_EQ(list[i].type, -1) << i;
    EXPECT_EQ(list[i].position, i);
  }
  // Table names match ignoring ASCII case; an empty table is a table.
  ASSERT_TRUE(VDB_Get_DataLog_IO("pm1_short", list));
  EXPECT_EQ(names_of(list), (std::vector<std::string>{"PM1.Flow", "PM1.Pressure"}));
  ASSERT_TRUE(VDB_Get_DataLog_IO("EMPTY", list));
  EXPECT_TRUE(list.empty());

  // Unknown or null table: false and the list untouched.
  list.assign(1, DataLog_IO_Item{"keep", 7, IO_A, 3});
  EXPECT_FALSE(VDB_Get_DataLog_IO("PM2_TRACE", list));
  EXPECT_FALSE(VDB_Get_DataLog_IO(nullptr, list));
  EXPECT_FALSE(VDB_Get_DataLog_IO("", list));
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].name, "keep");
  EXPECT_EQ(list[0].point, 7);

  // The alarm history shares the file: create --force replaces the data-log lists only.
  {
    std::string error;
    d::VdbConnection db = d::vdb_open(file(), false, &error);
    ASSERT_TRUE(db) << error;
    ASSERT_TRUE(d::vdb_exec(db.get(),
                            "CREATE TABLE alarm_log_test(id INTEGER); "
                            "INSERT INTO alarm_log_test VALUES(5001);",
                            &error))
        << error;
  }
  const std::string changed = write(std::string(kPoints) + R"(
datalogs = [ { name = "PM1_SHORT", points = ["PM1.Recipe", "PM1.Flow", "PM1.Valve"] } ]
[system]
database_path = "Z:\\Db"
)",
                                    "changed.toml");
  r = tool({"create", changed, "--force"});
  ASSERT_EQ(r.code, 0) << r.err;
  ASSERT_TRUE(VDB_Get_DataLog_IO("PM1_SHORT", list));
  EXPECT_EQ(names_of(list), (std::vector<std::string>{"PM1.Recipe", "PM1.Flow", "PM1.Valve"}));
  EXPECT_FALSE(VDB_Get_DataLog_IO("PM1_TRACE", list));
  EXPECT_FALSE(VDB_Get_DataLog_IO("Empty", list));
  EXPECT_EQ(query(file(), "SELECT id FROM alarm_log_test"), "5001");

  // remove leaves the file whole; a configuration without data logs clears the lists.
  VHub_Release();
  r = tool({"remove"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(query(file(),
                  "SELECT table_name || ':' || position || ':' || point_name "
                  "FROM datalog_io ORDER BY position"),
            "PM1_SHORT:0:PM1.Recipe,PM1_SHORT:1:PM1.Flow,PM1_SHORT:2:PM1.Valve");
  const std::string none =
      write(std::string(kPoints) + "[system]\ndatabase_path = \"Z:\\\\Db\"\n", "none.toml");
  r = tool({"create", none});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(query(file(), "SELECT count(*) FROM datalog_io"), "0");
  EXPECT_EQ(query(file(), "SELECT count(*) FROM datalog_tables"), "0");
  EXPECT_EQ(query(file(), "SELECT id FROM alarm_log_test"), "5001");
}

TEST_F(DataLogTables, CreateWithoutDataLogsCreatesNoFileAndAnUnwritableFileFailsTheCreate) {
  ToolRun r =
      tool({"create", write(std::string(kPoints) + "[system]\ndatabase_path = \"Z:\\\\Db\"\n")});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_FALSE(fs::exists(root_ + "/Z"));
  ASSERT_EQ(tool({"remove"}).code, 0);

  // The database folder cannot be made (a file is in the way): nothing is created.
  std::ofstream(root_ + "/Z") << "not a folder";
  const std::string config = write(std::string(kPoints) + R"(
datalogs = [ { name = "T", points = ["PM1.Flow"] } ]
[system]
database_path = "Z:\\Db"
)");
  r = tool({"create", config});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err.rfind("vexlor-db: data-log tables: " + root_ + "/Z/Db: ", 0), 0u) << r.err;
  EXPECT_FALSE(fs::exists(vexlor::os::instance_dir(instance_.name())));
  EXPECT_EQ(tool({"info"}).code, 1);
}

TEST_F(DataLogTables, MissingOrUnreadableDatabaseFile) {
  std::vector<DataLog_IO_Item> list;
  // Before start-up there is no database path.
  ASSERT_TRUE(d::write_datalog_tables(file(), {{"T", {"PM1.Flow"}}}, true, nullptr));
  EXPECT_FALSE(VDB_Get_DataLog_IO("T", list));

  start("Z:\\Other");  // no file below this path, and none is made by reading
  EXPECT_FALSE(VDB_Get_DataLog_IO("T", list));
  EXPECT_FALSE(fs::exists(root_ + "/Z/Other"));
  VHub_Release();

  start("Z:\\Db");
  ASSERT_TRUE(VDB_Get_DataLog_IO("T", list));
  EXPECT_EQ(names_of(list), std::vector<std::string>{"PM1.Flow"});

  // A file of another kind, and a database without data-log tables.
  std::ofstream(file(), std::ios::trunc) << "this is no SQLite database, just some text bytes";
  fs::remove(file() + "-wal");
  fs::remove(file() + "-shm");
  EXPECT_FALSE(VDB_Get_DataLog_IO("T", list));
  fs::remove(file());
  std::string error;
  ASSERT_TRUE(d::vdb_open(file(), true, &error)) << error;
  EXPECT_FALSE(VDB_Get_DataLog_IO("T", list));
  // A missing file is left alone by a writer that may not create it.
  fs::remove_all(root_ + "/Z");
  EXPECT_TRUE(d::write_datalog_tables(file(), {{"T", {"PM1.Flow"}}}, false, &error));
  EXPECT_FALSE(fs::exists(file()));
  EXPECT_FALSE(VDB_Get_DataLog_IO("T", list));
}

TEST_F(DataLogTables, PathOfTheFile) {
  EXPECT_EQ(d::vdb_system_path("Z:\\Database"), "Z:\\Database\\vexlor.db");
  EXPECT_EQ(d::vdb_system_path("Z:\\Database\\"), "Z:\\Database\\vexlor.db");
  EXPECT_EQ(d::vdb_system_path(""), "");
  EXPECT_EQ(d::vdb_file_for("z:\\Database"), root_ + "/Z/Database/vexlor.db");
  EXPECT_EQ(d::vdb_file_for(std::string(250, 'a')), "");  // beyond a system path's length
  EXPECT_EQ(d::vdb_file(), "");                           // before start-up
  start("D:\\Data\\Equip");
  EXPECT_EQ(d::vdb_file(), root_ + "/D/Data/Equip/vexlor.db");
}

TEST_F(DataLogTables, LoaderKeepsDataLogsAndRejectsBadOnes) {
  {
    DatabaseBuilder b;
    std::string error;
    std::vector<std::string> warnings;
    const std::string path = write(std::string(kPoints) + R"(
datalogs = [
  { name = "PM1_TRACE", points = ["pm1.pressure", "PM1.Presure", "$1.Flow", "[PM A].Flow"] },
  { name = "X", points = [], colour = "red" },
]
)");
    ASSERT_TRUE(load_configuration(path, b, &error, &warnings)) << error;
    ASSERT_EQ(b.datalogs().size(), 2u);
    EXPECT_EQ(b.datalogs()[0].name, "PM1_TRACE");
    EXPECT_EQ(b.datalogs()[0].points,
              (std::vector<std::string>{"pm1.pressure", "PM1.Presure", "$1.Flow", "[PM A].Flow"}));
    EXPECT_EQ(b.datalogs()[1].name, "X");
    EXPECT_TRUE(b.datalogs()[1].points.empty());
    EXPECT_EQ(warnings, (std::vector<std::string>{
                            path + ":8: datalogs[0].points[1]: no digital, analog or string point "
                                   "\"PM1.Presure\" in this configuration",
                            path + ":9: datalogs[1].colour: unknown key, ignored"}));
  }

  const std::string long_name(64, 'P');
  const struct {
    const char* what;
    std::string toml;
    std::string line;
  } bad[] = {
      {"duplicate, ignoring case",
       "datalogs = [\n  { name = \"PM1_TRACE\", points = [] },\n  { name = \"pm1_trace\", "
       "points = [] },\n]\n",
       "FILE:3: datalogs[1].name: duplicate data-log table \"pm1_trace\", first at line 2 "
       "(datalogs[0])"},
      {"missing name", "datalogs = [\n  { points = [\"A\"] },\n]\n",
       "FILE:2: datalogs[0].name: missing required field"},
      {"empty name", "datalogs = [ { name = \"\", points = [] } ]\n",
       "FILE:1: datalogs[0].name: must not be empty"},
      {"missing points", "datalogs = [\n  { name = \"T\" },\n]\n",
       "FILE:2: datalogs[0].points: missing required field"},
      {"points not a list", "datalogs = [\n  { name = \"T\", points = \"PM1.Flow\" },\n]\n",
       "FILE:2: datalogs[0].points: expected an array of point names"},
      {"point not a text", "datalogs = [\n  { name = \"T\", points = [\"A\", 5] },\n]\n",
       "FILE:2: datalogs[0].points[1]: expected a string"},
      {"point too long", "datalogs = [\n  { name = \"T\", points = [\"" + long_name + "\"] },\n]\n",
       "FILE:2: datalogs[0].points[0]: text is 64 bytes, its 64-byte field holds at most 63"},
      {"empty point", "datalogs = [\n  { name = \"T\", points = [\"A\", \"\"] },\n]\n",
       "FILE:2: datalogs[0].points[1]: must not be empty"},
      {"name too long", "datalogs = [ { name = \"" + long_name + "\", points = [] } ]\n",
       "FILE:1: datalogs[0].name: text is 64 bytes, its 64-byte field holds at most 63"},
      {"not an array", "datalogs = { name = \"T\" }\n",
       "FILE:1: datalogs: expected an array of tables"},
      {"no database path",
       "datalogs = [\n  { name = \"T\", points = [] },\n]\n[system]\ndatabase_path = \"\"\n",
       "FILE:1: datalogs: data-log tables are kept below system.database_path, which is empty"},
  };
  for (const auto& b : bad) {
    const std::string path = write(b.toml, "bad.toml");
    std::string line = b.line;
    line.replace(line.find("FILE"), 4, path);
    DatabaseBuilder builder;
    std::string error;
    EXPECT_FALSE(load_configuration(path, builder, &error, nullptr)) << b.what;
    EXPECT_EQ(error, line) << b.what;
  }
}
