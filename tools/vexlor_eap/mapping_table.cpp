// The mapping table of the attached equipment (vexlor-eap and `vexlor host ids`).
#include "mapping_table.h"

#include <sqlite3.h>
#include <vexlor/vexlor.h>

#include <algorithm>
#include <sstream>

#include "journal.h"

namespace vexlor_eap {
namespace {

std::string column(sqlite3_stmt* s, int k) {
  const unsigned char* t = sqlite3_column_text(s, k);
  return t != nullptr ? reinterpret_cast<const char*>(t) : "";
}

// The equipment's own entries (the [host] section that `vexlor-db create` wrote into the
// equipment's database file) join the default table; an entry with the ID or name of a default
// one replaces it.
void add_configured(vexlor::gem::Mapping* m) {
  const std::string file = database_file();
  sqlite3* db = nullptr;
  if (file.empty() || sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
    sqlite3_close(db);
    return;
  }
  sqlite3_busy_timeout(db, 5000);
  sqlite3_stmt* s = nullptr;
  if (sqlite3_prepare_v2(db,
                         "SELECT kind, id, name, point, class, min, max, def, unit, routine, "
                         "params, args FROM HostMapping ORDER BY rowid",
                         -1, &s, nullptr) == SQLITE_OK) {
    while (sqlite3_step(s) == SQLITE_ROW) {
      const std::string kind = column(s, 0);
      const auto id = static_cast<uint32_t>(sqlite3_column_int64(s, 1));
      if (kind == "variable") {
        vexlor::gem::VariableDef v;
        v.vid = id;
        v.name = column(s, 2);
        v.point = column(s, 3);
        v.status = column(s, 4) != "DV";
        v.unit = column(s, 8);
        bool found = false;
        for (const Vexlor::IO_TYPE type : {Vexlor::IO_D, Vexlor::IO_A, Vexlor::IO_S}) {
          int index = -1;
          if (!found && Vexlor::VIO_Find_Point(&index, type, true, v.point.c_str())) {
            v.point_kind = type;
            found = true;
          }
        }
        if (!found) continue;
        v.format = v.point_kind == Vexlor::IO_D   ? vexlor::secs::Format::kI4
                   : v.point_kind == Vexlor::IO_A ? vexlor::secs::Format::kF8
                                                  : vexlor::secs::Format::kAscii;
        auto& list = m->variables;
        list.erase(std::remove_if(list.begin(), list.end(),
                                  [id](const vexlor::gem::VariableDef& d) { return d.vid == id; }),
                   list.end());
        list.push_back(std::move(v));
      } else if (kind == "constant") {
        vexlor::gem::ConstantDef c;
        c.ecid = id;
        c.name = column(s, 2);
        c.point = column(s, 3);
        c.min = sqlite3_column_double(s, 5);
        c.max = sqlite3_column_double(s, 6);
        c.def = sqlite3_column_double(s, 7);
        c.unit = column(s, 8);
        c.format = c.min < 0 ? vexlor::secs::Format::kI4 : vexlor::secs::Format::kU4;
        auto& list = m->constants;
        list.erase(std::remove_if(list.begin(), list.end(),
                                  [id](const vexlor::gem::ConstantDef& d) { return d.ecid == id; }),
                   list.end());
        list.push_back(std::move(c));
      } else if (kind == "command") {
        vexlor::gem::CommandDef c;
        c.rcmd = column(s, 2);
        c.routine = column(s, 9);
        std::stringstream params(column(s, 10));
        std::string p;
        while (std::getline(params, p, ',')) {
          if (!p.empty()) c.params.push_back(p);
        }
        c.args = column(s, 11);
        auto& list = m->commands;
        list.erase(std::remove_if(list.begin(), list.end(),
                                  [&c](const vexlor::gem::CommandDef& d) { return d.rcmd == c.rcmd; }),
                   list.end());
        list.push_back(std::move(c));
      }
    }
  }
  sqlite3_finalize(s);
  sqlite3_close(db);
}

}  // namespace

vexlor::gem::Mapping equipment_mapping() {
  vexlor::gem::Mapping m;
  m.events = vexlor::gem::standard_events();
  for (vexlor::gem::VariableDef v : vexlor::gem::standard_variables()) {
    int index = -1;
    const auto type = static_cast<Vexlor::IO_TYPE>(v.point_kind);
    if (v.builtin == vexlor::gem::Builtin::kNone &&
        !Vexlor::VIO_Find_Point(&index, type, true, v.point.c_str())) {
      continue;
    }
    m.variables.push_back(std::move(v));
  }
  for (vexlor::gem::ConstantDef c : vexlor::gem::standard_constants()) {
    int index = -1;
    if (!c.point.empty() && !Vexlor::VIO_Find_Point(&index, Vexlor::IO_D, true, c.point.c_str())) {
      c.point.clear();
    }
    m.constants.push_back(std::move(c));
  }
  const int alarms = Vexlor::VSystem_Get_Alarm_Count();
  for (int i = 0; i < alarms; ++i) {
    char text[512] = "";
    Vexlor::VAlarm_Get_Text(i, Vexlor::LANGUAGE_ENGLISH, text);
    m.alarms.push_back({static_cast<uint32_t>(Vexlor::VAlarm_Get_ID(i)), text});
  }
  m.commands.push_back(vexlor::gem::run_command());
  add_configured(&m);
  return m;
}

}  // namespace vexlor_eap
