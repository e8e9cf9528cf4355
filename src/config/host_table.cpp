// The host link's mapping table in the equipment's database file.
#include <sqlite3.h>

#include <filesystem>
#include <system_error>

#include "config/builder.h"
#include "util/vdb.h"

namespace vexlor::config {
namespace {

constexpr const char* kSchema =
    "CREATE TABLE IF NOT EXISTS HostMapping(kind TEXT NOT NULL, id INTEGER NOT NULL, name TEXT "
    "NOT NULL, point TEXT NOT NULL, class TEXT NOT NULL, min REAL NOT NULL, max REAL NOT NULL, "
    "def REAL NOT NULL, unit TEXT NOT NULL, routine TEXT NOT NULL, params TEXT NOT NULL, args "
    "TEXT NOT NULL);"
    "DELETE FROM HostMapping;";

struct Row {
  const char* kind;
  int64_t id;
  std::string name, point, cls;
  double min, max, def;
  std::string unit, routine, params, args;
};

bool insert(sqlite3* db, const Row& r, std::string* why) {
  sqlite3_stmt* s = nullptr;
  if (sqlite3_prepare_v2(db,
                         "INSERT INTO HostMapping(kind, id, name, point, class, min, max, def, "
                         "unit, routine, params, args) VALUES(?1,?2,?3,?4,?5,?6,?7,?8,?9,?10,?11,?12)",
                         -1, &s, nullptr) != SQLITE_OK) {
    *why = sqlite3_errmsg(db);
    return false;
  }
  sqlite3_bind_text(s, 1, r.kind, -1, SQLITE_STATIC);
  sqlite3_bind_int64(s, 2, r.id);
  const std::string* texts[] = {&r.name, &r.point, &r.cls};
  for (int k = 0; k < 3; ++k) sqlite3_bind_text(s, 3 + k, texts[k]->c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_double(s, 6, r.min);
  sqlite3_bind_double(s, 7, r.max);
  sqlite3_bind_double(s, 8, r.def);
  const std::string* more[] = {&r.unit, &r.routine, &r.params, &r.args};
  for (int k = 0; k < 4; ++k) sqlite3_bind_text(s, 9 + k, more[k]->c_str(), -1, SQLITE_TRANSIENT);
  const bool ok = sqlite3_step(s) == SQLITE_DONE;
  if (!ok) *why = sqlite3_errmsg(db);
  sqlite3_finalize(s);
  return ok;
}

}  // namespace

bool write_host_table(const std::string& file, const HostTable& table, bool create_file,
                      std::string* error) {
  if (!create_file) {
    std::error_code ec;
    if (file.empty() || !std::filesystem::exists(file, ec)) return true;
  }
  vexlor::detail::VdbConnection db = vexlor::detail::vdb_open(file, create_file, error);
  if (!db) return false;
  std::string why;
  bool ok = vexlor::detail::vdb_exec(db.get(), "BEGIN IMMEDIATE;", &why) &&
            vexlor::detail::vdb_exec(db.get(), kSchema, &why);
  for (const HostVariable& v : table.variables) {
    ok = ok && insert(db.get(), {"variable", v.vid, v.name, v.point, v.cls, 0, 0, 0, v.unit, "", "", ""},
                      &why);
  }
  for (const HostConstant& c : table.constants) {
    ok = ok && insert(db.get(), {"constant", c.ecid, c.name, c.point, "EC", c.min, c.max, c.def,
                                 c.unit, "", "", ""},
                      &why);
  }
  for (const HostCommand& c : table.commands) {
    std::string params;
    for (const std::string& p : c.params) params += (params.empty() ? "" : ",") + p;
    ok = ok && insert(db.get(), {"command", 0, c.rcmd, "", "", 0, 0, 0, "", c.routine, params, c.args},
                      &why);
  }
  if (ok && vexlor::detail::vdb_exec(db.get(), "COMMIT;", &why)) return true;
  vexlor::detail::vdb_exec(db.get(), "ROLLBACK;", nullptr);
  if (error != nullptr) *error = file + ": " + why;
  return false;
}

}  // namespace vexlor::config
