// DatabaseBuilder: collects the tables of an equipment database (system block, modules,
// drivers, enumerations, points, functions, alarms) and publishes them as the shared
// database of the current instance. The configuration loader and the tests both build
// databases through it.
#pragma once

#include <vexlor/records.h>
#include <vexlor/types.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "db/db_image.h"
#include "util/vdb.h"

namespace vexlor::config {

// The host link's own entries of the mapping table, beside the default table it makes for the
// standard vocabulary: variables on configured points, equipment constants on points with their
// limits, remote commands that run a routine.
struct HostVariable {
  int32_t vid = 0;
  std::string point, name, cls = "SV", unit;
};
struct HostConstant {
  int32_t ecid = 0;
  std::string name, point, unit;
  double min = 0, max = 0, def = 0;
};
struct HostCommand {
  std::string rcmd, routine, args;
  std::vector<std::string> params;
};
struct HostTable {
  std::vector<HostVariable> variables;
  std::vector<HostConstant> constants;
  std::vector<HostCommand> commands;
  bool empty() const { return variables.empty() && constants.empty() && commands.empty(); }
};

// Writes the table into the equipment's database file `file` as
//   HostMapping(kind TEXT, id INTEGER, name TEXT, point TEXT, class TEXT, min REAL, max REAL,
//               def REAL, unit TEXT, routine TEXT, params TEXT, args TEXT)
// kind "variable", "constant" or "command" (params joined by ","), replacing what an earlier
// create wrote. With `create_file` false a missing file is left missing.
bool write_host_table(const std::string& file, const HostTable& table, bool create_file,
                      std::string* error);

class DatabaseBuilder {
 public:
  // Starts with an empty equipment: English, user level 9, simulation on, every log switch
  // on, and a main-form routine named "GUI_MAINFORM".
  DatabaseBuilder();
  ~DatabaseBuilder();
  DatabaseBuilder(const DatabaseBuilder&) = delete;
  DatabaseBuilder& operator=(const DatabaseBuilder&) = delete;

  // The system block as it will be published; counts and module arrays are filled at
  // publish time from the tables.
  Vexlor::MEM_SYSTEM_STRU& system() { return *system_; }
  const Vexlor::MEM_SYSTEM_STRU& system() const { return *system_; }

  // Name of the operator GUI's main-form routine, written into slot N of the function table.
  void set_main_form(std::string_view name) { main_form_ = std::string(name); }
  const std::string& main_form() const { return main_form_; }

  // Each add_ appends one record with neutral defaults and returns its index. Texts are cut
  // to their field. Points start without drivers (-99999999) and without enumeration (-1);
  // digital points allow 0..1, analog points -1e9..1e9.
  int add_module(std::string_view id, std::string_view name, Vexlor::MODULE_TYPE kind, int side,
                 int alarm_base, std::string_view annotation = {});
  int add_driver(std::string_view name, int32_t type = 0);
  int add_enum(std::string_view name);
  // False when the enumeration already holds 60 items.
  bool add_enum_item(int enum_index, std::string_view text, int32_t value);
  int add_digital(std::string_view name, int32_t init = 0);
  int add_analog(std::string_view name, double init = 0.0);
  int add_string(std::string_view name, std::string_view init = {});
  int add_function(std::string_view name);
  int add_alarm(int32_t id, std::string_view name, std::string_view text);
  // False when the alarm already offers 8 choices.
  bool add_alarm_choice(int alarm_index, Vexlor::ALARM_STYLE style, std::string_view caption);

  Vexlor::MEM_MODULE_SP_STRU& module(int i) { return modules_.at(i); }
  Vexlor::MEM_DRIVER_SP_STRU& driver(int i) { return drivers_.at(i); }
  Vexlor::MEM_ENUM_SP_STRU& enumeration(int i) { return enums_.at(i); }
  Vexlor::MEM_DIGITAL_SP_STRU& digital(int i) { return digitals_.at(i); }
  Vexlor::MEM_ANALOG_SP_STRU& analog(int i) { return analogs_.at(i); }
  Vexlor::MEM_STRING_SP_STRU& string_point(int i) { return strings_.at(i); }
  Vexlor::MEM_FUNCTION_SP_STRU& function(int i) { return functions_.at(i); }
  Vexlor::MEM_ALARM_SP_STRU& alarm(int i) { return alarms_.at(i); }

  // First record with this name (case-insensitive for drivers, enumerations, points and
  // functions; modules match by ID or name exactly); -1 when absent.
  int find_module(std::string_view id_or_name) const;
  int find_driver(std::string_view name) const;
  int find_enum(std::string_view name) const;
  int find_function(std::string_view name) const;
  int find_alarm(int32_t id) const;

  // Data-log tables: not part of the shared database; `vexlor-db create` writes them into the
  // equipment's database file (write_datalog_tables in frame/vdb.h).
  void add_datalog(std::string_view name, std::vector<std::string> points) {
    datalogs_.push_back({std::string(name), std::move(points)});
  }
  const std::vector<detail::DataLogTable>& datalogs() const { return datalogs_; }

  // The host link's mapping table (the [host] section): not part of the shared database either;
  // `vexlor-db create` writes it into the equipment's database file (write_host_table).
  HostTable& host() { return host_; }
  const HostTable& host() const { return host_; }

  detail::DbCounts counts() const;
  // Bytes the published section will take.
  uint64_t image_size() const;

  // Publishes the database as the current instance's (VEXLOR_INSTANCE). The image is built
  // under a private name and renamed into place, so no process ever maps a half-built
  // database. Fails when a database exists, unless `replace` (the old image is then marked
  // retired), and when the image would exceed detail::kMaxImageBytes. `source` names the
  // configuration for `vexlor-db info`.
  bool publish(bool replace, std::string_view source, std::string* error) const;

 private:
  std::unique_ptr<Vexlor::MEM_SYSTEM_STRU> system_;
  std::string main_form_ = "GUI_MAINFORM";
  std::vector<Vexlor::MEM_MODULE_SP_STRU> modules_;
  std::vector<Vexlor::MEM_DRIVER_SP_STRU> drivers_;
  std::vector<Vexlor::MEM_ENUM_SP_STRU> enums_;
  std::vector<Vexlor::MEM_DIGITAL_SP_STRU> digitals_;
  std::vector<Vexlor::MEM_ANALOG_SP_STRU> analogs_;
  std::vector<Vexlor::MEM_STRING_SP_STRU> strings_;
  std::vector<Vexlor::MEM_FUNCTION_SP_STRU> functions_;
  std::vector<Vexlor::MEM_ALARM_SP_STRU> alarms_;
  std::vector<detail::DataLogTable> datalogs_;
  HostTable host_;
};

// Removes the current instance's database, marking it retired for the processes that still
// map it, then what dead processes left in the instance folder (remove_leftovers), and the
// folder itself when nothing else is left. False when there was no database.
bool remove_database(std::string* error);

// Removes from the current instance's folder what no live process owns any more: build files
// of killed `vexlor-db create` runs, attachment records of dead processes, endpoints whose
// listener is gone and, unless a manager serves the instance, "manager.log".
void remove_leftovers();

// Removes the build files of killed builders; returns how many.
int remove_dead_builds();

// The one error line of a configuration whose image would exceed detail::kMaxImageBytes.
std::string image_too_large(uint64_t size);

}  // namespace vexlor::config
