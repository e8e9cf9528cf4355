// The data-log tables of the equipment database file: the loader's `datalogs`, what
// `vexlor-db create` and `remove` do to the file, and VDB_Get_DataLog_IO reading it back.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "config/builder.h"
#include "config/loader.h"
#include "frame/vdb_file.h"
#include "os/instance.h"
#include "support/instance.h"
#include "util/sql_rows.h"
#include "util/vdb.h"
#include "vexlor/vexlor.h"

using namespace Vexlor;
namespace d = vexlor::detail;
namespace fs = std::filesystem;
using vexlor::config::DatabaseBuilder;
using vexlor::config::load_configuration;
using vexlor::test::PrivateInstance;

namespace {

constexpr char kTool[] = VEXLOR_TOOLS_DIR "/vexlor-db";

using vexlor::test::ToolRun;

constexpr char kPoints[] = R"(
digital = [ { name = "PM1.Valve" }, { name = "CTC.Language" } ]
analog = [ { name = "PM1.Pressure" }, { name = "PM1.Flow" } ]
string = [ { name = "PM1.Recipe" } ]
functions = [ { name = "DATALOGGER" } ]
alarms = [ { id = 800, name = "SYSTEM" } ]
)";

std::vector<std::string> names_of(const std::vector<DataLog_IO_Item>& list) {
  std::vector<std::string> names;
  for (const auto& item : list) names.push_back(item.name);
  return names;
}

// The first column of each row the query finds, joined by ",".
std::string query(const std::string& file, const char* sql) {
  std::string out;
  for (const auto& row : vexlor::test::sql_rows(file, sql))
    out += (out.empty() ? "" : ",") + row[0];
  return out;
}

class DataLogTables : public ::testing::Test {
 protected:
  void SetUp() override { fs::create_directories(root_); }
  void TearDown() override { VHub_Release(); }

  ToolRun tool(const std::vector<std::string>& args) {
    return vexlor::test::run_tool(kTool, args, instance_.runtime_dir());
  }
  // Runs the tool, expecting success without a word on stderr.
  void tool_ok(const std::vector<std::string>& args) {
    const ToolRun r = tool(args);
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.err, "");
  }

  std::string write(const std::string& toml) {
    const std::string path = instance_.runtime_dir() + "/equipment.toml";
    std::ofstream(path, std::ios::binary) << toml;
    return path;
  }
  // A configuration of kPoints with these data logs, kept below database path "Z:\Db".
  std::string config(const std::string& datalogs) {
    return write(kPoints + datalogs + "[system]\ndatabase_path = \"Z:\\\\Db\"\n");
  }

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
  const std::string root_ = instance_.drive_root();
};

}  // namespace

TEST_F(DataLogTables, CreateWritesTheTablesAndTheLibraryReadsThemInOrder) {
  tool_ok({"create", config(R"(datalogs = [
  { name = "PM1_TRACE", points = ["PM1.Pressure", "PM1.Valve", "PM1.Recipe", "PM1.Flow"] },
  { name = "Empty", points = [] },
  { name = "PM1_SHORT", points = ["PM1.Flow", "PM1.Pressure"] },
]
)")});
  struct stat st {};
  ASSERT_EQ(::stat(file().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0660u);
  EXPECT_EQ(query(file(), "PRAGMA journal_mode"), "wal");

  ASSERT_TRUE(VHub_Initial("DATALOGGER"));
  std::vector<DataLog_IO_Item> list(1);
  ASSERT_TRUE(VDB_Get_DataLog_IO("PM1_TRACE", list));
  EXPECT_EQ(names_of(list),
            (std::vector<std::string>{"PM1.Pressure", "PM1.Valve", "PM1.Recipe", "PM1.Flow"}));
  for (const DataLog_IO_Item& i : list)  // not resolved to a point yet; numbered in order
    EXPECT_EQ((std::vector<int>{i.point, i.type, i.position}),
              (std::vector<int>{-99999999, -1, static_cast<int>(&i - list.data())}));
  // Table names match ignoring ASCII case; an empty table is a table.
  ASSERT_TRUE(VDB_Get_DataLog_IO("pm1_short", list));
  EXPECT_EQ(names_of(list), (std::vector<std::string>{"PM1.Flow", "PM1.Pressure"}));
  ASSERT_TRUE(VDB_Get_DataLog_IO("EMPTY", list));
  EXPECT_TRUE(list.empty());

  // Unknown or null table: false and the list untouched.
  list.assign(1, DataLog_IO_Item{"keep", 7, IO_A, 3});
  for (const char* table : {"PM2_TRACE", static_cast<const char*>(nullptr), ""}) {
    EXPECT_FALSE(VDB_Get_DataLog_IO(table, list)) << (table ? table : "null");
  }
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].name + " " + std::to_string(list[0].point), "keep 7");

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
  tool_ok({"create",
           config("datalogs = [ { name = \"PM1_SHORT\", points = [\"PM1.Recipe\", \"PM1.Flow\", "
                  "\"PM1.Valve\"] } ]\n"),
           "--force", "--force"});  // this process stays attached
  ASSERT_TRUE(VDB_Get_DataLog_IO("PM1_SHORT", list));
  EXPECT_EQ(names_of(list), (std::vector<std::string>{"PM1.Recipe", "PM1.Flow", "PM1.Valve"}));
  EXPECT_FALSE(VDB_Get_DataLog_IO("PM1_TRACE", list));
  EXPECT_FALSE(VDB_Get_DataLog_IO("Empty", list));
  EXPECT_EQ(query(file(), "SELECT id FROM alarm_log_test"), "5001");

  // remove leaves the file whole; a configuration without data logs clears the lists.
  VHub_Release();
  tool_ok({"remove"});
  EXPECT_EQ(query(file(),
                  "SELECT table_name || ':' || position || ':' || point_name "
                  "FROM datalog_io ORDER BY position"),
            "PM1_SHORT:0:PM1.Recipe,PM1_SHORT:1:PM1.Flow,PM1_SHORT:2:PM1.Valve");
  tool_ok({"create", config("")});
  EXPECT_EQ(query(file(), "SELECT count(*) FROM datalog_io"), "0");
  EXPECT_EQ(query(file(), "SELECT count(*) FROM datalog_tables"), "0");
  EXPECT_EQ(query(file(), "SELECT id FROM alarm_log_test"), "5001");
}

TEST_F(DataLogTables, CreateWithoutDataLogsCreatesNoFileAndAnUnwritableFileFailsTheCreate) {
  tool_ok({"create", config("")});
  EXPECT_FALSE(fs::exists(root_ + "/Z"));
  tool_ok({"remove"});

  // The database folder cannot be made (a file is in the way): nothing is created.
  std::ofstream(root_ + "/Z") << "not a folder";
  const ToolRun r =
      tool({"create", config("datalogs = [ { name = \"T\", points = [\"PM1.Flow\"] } ]\n")});
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

// Bad data-log tables are among the shared bad configurations.
TEST_F(DataLogTables, LoaderKeepsDataLogsAndWarnsOfUnknownPoints) {
  DatabaseBuilder good;
  std::string error;
  std::vector<std::string> warnings;
  const std::string path = write(kPoints + std::string(R"(
datalogs = [
  { name = "PM1_TRACE", points = ["pm1.pressure", "PM1.Presure", "$1.Flow", "[PM A].Flow"] },
  { name = "X", points = [] },
]
)"));
  ASSERT_TRUE(load_configuration(path, good, &error, &warnings)) << error;
  ASSERT_EQ(good.datalogs().size(), 2u);
  EXPECT_EQ(good.datalogs()[0].name + "," + good.datalogs()[1].name, "PM1_TRACE,X");
  EXPECT_EQ(good.datalogs()[0].points,
            (std::vector<std::string>{"pm1.pressure", "PM1.Presure", "$1.Flow", "[PM A].Flow"}));
  EXPECT_TRUE(good.datalogs()[1].points.empty());
  EXPECT_EQ(warnings, (std::vector<std::string>{
                          path + ":9: datalogs[0].points[1]: no digital, analog or string point "
                                 "\"PM1.Presure\" in this configuration"}));
}
