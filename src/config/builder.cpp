// DatabaseBuilder: tables in process memory until they are published as one image.
#include "config/builder.h"

#include <cstdio>
#include <cstring>

#include "db/attach_registry.h"
#include "db/name_index.h"
#include "os/clock.h"
#include "os/instance.h"
#include "os/live_file.h"
#include "os/local_endpoint.h"
#include "os/named_mutex.h"
#include "os/shared_section.h"
#include "util/text.h"

namespace vexlor::config {

using detail::copy_text;
using namespace Vexlor;

namespace {

constexpr int kSidesPerKind = 100;

// A build goes to "database.building.<pid>" while "build.<pid>.live" proves its builder alive.
constexpr char kBuildingPrefix[] = "database.building.";
constexpr char kSectionSuffix[] = ".section";

std::string in_folder(const std::string& dir, const std::string& name) {
#if defined(_WIN32)
  return dir + "\\" + name;
#else
  return dir + "/" + name;
#endif
}

std::string build_guard_path(const std::string& dir, const std::string& pid) {
  return in_folder(dir, "build." + pid + ".live");
}

bool ends_with(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() &&
         text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// Marks the published image retired, if there is one: processes still mapping it learn that
// it is no longer the instance's database.
void retire_published(os::SharedSection* held) {
  std::string ignored;
  if (os::section_open(detail::kDatabaseSection, held, &ignored) &&
      !detail::image_valid(held->address, held->size, &ignored)) {
    os::section_unmap(held);
  }
}

bool same_name(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
    if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x + 32);
    if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y + 32);
    if (x != y) return false;
  }
  return true;
}

template <typename Record>
int find_by_name(const std::vector<Record>& records, std::string_view name) {
  for (size_t i = 0; i < records.size(); ++i) {
    if (same_name(detail::field_text(records[i].name), name)) return static_cast<int>(i);
  }
  return -1;
}

template <typename Record>
int append(std::vector<Record>& records, const Record& record) {
  records.push_back(record);
  return static_cast<int>(records.size() - 1);
}

std::string now_text() {
  os::LocalTime t = os::local_time();
  char text[32];
  std::snprintf(text, sizeof text, "%04d/%02d/%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour,
                t.minute, t.second);
  return text;
}

template <typename Record>
Record* table_at(char* base, const detail::DbHeader& h, detail::DbTable table) {
  return reinterpret_cast<Record*>(base + h.tables[static_cast<int>(table)].offset);
}

template <typename Record>
Record* copy_table(char* base, const detail::DbHeader& h, detail::DbTable table,
                   const std::vector<Record>& records) {
  Record* at = table_at<Record>(base, h, table);
  if (!records.empty())
    std::memcpy(static_cast<void*>(at), records.data(), records.size() * sizeof(Record));
  return at;
}

}  // namespace

DatabaseBuilder::DatabaseBuilder() : system_(new MEM_SYSTEM_STRU()) {
  MEM_SYSTEM_STRU& s = *system_;
  s.user_level = 9;
  s.language = LANGUAGE_ENGLISH;
  copy_text(s.database_path, "Z:\\Database");
  copy_text(s.alarm_description_path, "Z:\\Alarm");
  copy_text(s.history_path, "Z:\\History");
  copy_text(s.navigation_path, "Z:\\Gui\\Setup\\Navigation.xml");
  for (int t = LOG_ALM; t <= LOG_VIR; ++t) {
    s.log_switch_first[t] = 1;
    s.log_switch_second[t] = 1;
  }
  s.simulation = 1;
}

DatabaseBuilder::~DatabaseBuilder() = default;

int DatabaseBuilder::add_module(std::string_view id, std::string_view name, MODULE_TYPE kind,
                                int side, int alarm_base, std::string_view annotation) {
  MEM_MODULE_SP_STRU r{};
  copy_text(r.id, id);
  copy_text(r.name, name);
  r.alarm_base = alarm_base;
  r.side = side;
  r.kind = kind;
  // The record's last 128 bytes carry the annotation for the configuration side.
  copy_text(reinterpret_cast<char*>(r.reserved_140), sizeof r.reserved_140, annotation);
  return append(modules_, r);
}

int DatabaseBuilder::add_driver(std::string_view name, int32_t type) {
  MEM_DRIVER_SP_STRU r{};
  copy_text(r.name, name);
  r.type = type;
  return append(drivers_, r);
}

int DatabaseBuilder::add_enum(std::string_view name) {
  MEM_ENUM_SP_STRU r{};
  copy_text(r.name, name);
  return append(enums_, r);
}

bool DatabaseBuilder::add_enum_item(int enum_index, std::string_view text, int32_t value) {
  MEM_ENUM_SP_STRU& e = enums_.at(enum_index);
  if (e.item_count < 0 || e.item_count >= 60) return false;
  copy_text(e.texts[e.item_count], text);
  e.values[e.item_count] = value;
  ++e.item_count;
  return true;
}

int DatabaseBuilder::add_digital(std::string_view name, int32_t init) {
  MEM_DIGITAL_SP_STRU r{};
  copy_text(r.name, name);
  r.min = 0;
  r.max = 1;
  r.enum_point = -1;
  r.idrv_point = VEXLOR_UNUSED_POINT;
  r.odrv_point = VEXLOR_UNUSED_POINT;
  r.init = init;
  return append(digitals_, r);
}

int DatabaseBuilder::add_analog(std::string_view name, double init) {
  MEM_ANALOG_SP_STRU r{};
  copy_text(r.name, name);
  r.min = -1e9;
  r.max = 1e9;
  r.decimal = 2;
  r.idrv_point = VEXLOR_UNUSED_POINT;
  r.odrv_point = VEXLOR_UNUSED_POINT;
  r.init = init;
  return append(analogs_, r);
}

int DatabaseBuilder::add_string(std::string_view name, std::string_view init) {
  MEM_STRING_SP_STRU r{};
  copy_text(r.name, name);
  r.idrv_point = VEXLOR_UNUSED_POINT;
  r.odrv_point = VEXLOR_UNUSED_POINT;
  copy_text(r.init, init);
  return append(strings_, r);
}

int DatabaseBuilder::add_function(std::string_view name) {
  MEM_FUNCTION_SP_STRU r{};
  copy_text(r.name, name);
  return append(functions_, r);
}

int DatabaseBuilder::add_alarm(int32_t id, std::string_view name, std::string_view text) {
  MEM_ALARM_SP_STRU r{};
  r.alarm_id = id;
  r.module_point = -1;
  r.used = 1;
  copy_text(r.name, name);
  copy_text(r.text, text);
  return append(alarms_, r);
}

bool DatabaseBuilder::add_alarm_choice(int alarm_index, ALARM_STYLE style,
                                       std::string_view caption) {
  MEM_ALARM_SP_STRU& a = alarms_.at(alarm_index);
  if (a.recovery_count < 0 || a.recovery_count >= 8) return false;
  a.recovery_results[a.recovery_count] = style;
  copy_text(a.recovery_messages[a.recovery_count], caption);
  ++a.recovery_count;
  return true;
}

int DatabaseBuilder::find_module(std::string_view id_or_name) const {
  for (size_t i = 0; i < modules_.size(); ++i) {
    if (detail::field_text(modules_[i].id) == id_or_name ||
        detail::field_text(modules_[i].name) == id_or_name)
      return static_cast<int>(i);
  }
  return -1;
}

int DatabaseBuilder::find_driver(std::string_view name) const {
  return find_by_name(drivers_, name);
}
int DatabaseBuilder::find_enum(std::string_view name) const { return find_by_name(enums_, name); }
int DatabaseBuilder::find_function(std::string_view name) const {
  return find_by_name(functions_, name);
}

int DatabaseBuilder::find_alarm(int32_t id) const {
  for (size_t i = 0; i < alarms_.size(); ++i) {
    if (alarms_[i].alarm_id == id) return static_cast<int>(i);
  }
  return -1;
}

detail::DbCounts DatabaseBuilder::counts() const {
  detail::DbCounts c;
  c.modules = static_cast<uint32_t>(modules_.size());
  c.enums = static_cast<uint32_t>(enums_.size());
  c.drivers = static_cast<uint32_t>(drivers_.size());
  c.digitals = static_cast<uint32_t>(digitals_.size());
  c.analogs = static_cast<uint32_t>(analogs_.size());
  c.strings = static_cast<uint32_t>(strings_.size());
  c.alarms = static_cast<uint32_t>(alarms_.size());
  c.functions = static_cast<uint32_t>(functions_.size());
  return c;
}

uint64_t DatabaseBuilder::image_size() const { return detail::plan_image(counts()).total_size; }

std::string image_too_large(uint64_t size) {
  return "the database would take " + std::to_string(size) + " bytes, more than the limit of " +
         std::to_string(detail::kMaxImageBytes) +
         " (1 GiB) that every routine, 32-bit ones too, must map whole";
}

int remove_dead_builds() {
  const std::string dir = os::instance_dir();
  int removed = 0;
  for (const std::string& name : os::list_dir(dir)) {
    if (name.compare(0, sizeof kBuildingPrefix - 1, kBuildingPrefix) == 0 &&
        ends_with(name, kSectionSuffix)) {
      const std::string pid =
          name.substr(sizeof kBuildingPrefix - 1,
                      name.size() - (sizeof kBuildingPrefix - 1) - (sizeof kSectionSuffix - 1));
      if (os::probe_live_file(build_guard_path(dir, pid), nullptr, true) == os::Liveness::kAlive)
        continue;
      if (os::section_remove(kBuildingPrefix + pid)) ++removed;
    } else if (name.compare(0, 6, "build.") == 0 && ends_with(name, ".live")) {
      os::probe_live_file(in_folder(dir, name), nullptr, true);  // a guard without its build
    }
  }
  return removed;
}

bool DatabaseBuilder::publish(bool replace, std::string_view source, std::string* error) const {
  using detail::DbTable;
  remove_dead_builds();
  if (!replace && os::section_exists(detail::kDatabaseSection)) {
    if (error) *error = "a database exists already in instance \"" + os::instance_name() + "\"";
    return false;
  }
  if (image_size() > detail::kMaxImageBytes) {
    if (error) *error = image_too_large(image_size());
    return false;
  }
  const std::string pid = std::to_string(os::process_id());
  os::LiveFile guard;
  const std::string dir = os::instance_dir({}, true);
  if (dir.empty() || !guard.create(build_guard_path(dir, pid), pid, error)) return false;

  detail::DbCounts c = counts();
  detail::DbHeader header = detail::plan_image(c);
  copy_text(header.source, source);
  copy_text(header.created, now_text());

  const std::string building = kBuildingPrefix + pid;
  os::SharedSection section;
  if (!os::section_create(building, header.total_size, true, &section, error)) return false;
  char* base = static_cast<char*>(section.address);
  std::memcpy(base, &header, sizeof header);

  // System block with the counts and the per-kind module arrays.
  auto* sys = table_at<MEM_SYSTEM_STRU>(base, header, DbTable::System);
  *sys = *system_;
  sys->module_count = static_cast<int32_t>(c.modules);
  sys->driver_count = static_cast<int32_t>(c.drivers);
  sys->enum_count = static_cast<int32_t>(c.enums);
  sys->digital_count = static_cast<int32_t>(c.digitals);
  sys->analog_count = static_cast<int32_t>(c.analogs);
  sys->string_count = static_cast<int32_t>(c.strings);
  sys->function_count = static_cast<int32_t>(c.functions);
  sys->alarm_count = static_cast<int32_t>(c.alarms);
  if (sys->start_time[0] == '\0') copy_text(sys->start_time, now_text());
  int32_t kind_count[4] = {0, 0, 0, 0};
  for (const MEM_MODULE_SP_STRU& m : modules_) {
    if (m.kind < 0 || m.kind > 3 || m.side < 0 || m.side >= kSidesPerKind) continue;
    copy_text(sys->module_ids[m.kind][m.side], detail::field_text(m.id));
    copy_text(sys->module_names[m.kind][m.side], detail::field_text(m.name));
    sys->module_alarm_bases[m.kind][m.side] = m.alarm_base;
    copy_text(sys->module_annotations[m.kind][m.side],
              reinterpret_cast<const char*>(m.reserved_140));
    if (m.side + 1 > kind_count[m.kind]) kind_count[m.kind] = m.side + 1;
  }
  sys->cm_count = kind_count[MODULE_CM];
  sys->bm_count = kind_count[MODULE_BM];
  sys->tm_count = kind_count[MODULE_TM];
  sys->pm_count = kind_count[MODULE_PM];

  copy_table(base, header, DbTable::Modules, modules_);
  copy_table(base, header, DbTable::Drivers, drivers_);
  copy_table(base, header, DbTable::Enums, enums_);
  copy_table(base, header, DbTable::DigitalDefs, digitals_);
  copy_table(base, header, DbTable::AnalogDefs, analogs_);
  copy_table(base, header, DbTable::StringDefs, strings_);
  copy_table(base, header, DbTable::AlarmDefs, alarms_);
  detail::build_name_index(base);

  // Value slots start at the initial values, as read and as written.
  auto* dv = table_at<MEM_DIGITAL_VAL_STRU>(base, header, DbTable::DigitalValues);
  for (size_t i = 0; i < digitals_.size(); ++i) {
    dv[i].read_value = dv[i].write_value = digitals_[i].init;
    dv[i].read_status = dv[i].write_status = 1;
  }
  auto* av = table_at<MEM_ANALOG_VAL_STRU>(base, header, DbTable::AnalogValues);
  for (size_t i = 0; i < analogs_.size(); ++i) {
    av[i].read_value = av[i].write_value = analogs_[i].init;
    av[i].read_status = av[i].write_status = 1;
  }
  auto* sv = table_at<MEM_STRING_VAL_STRU>(base, header, DbTable::StringValues);
  for (size_t i = 0; i < strings_.size(); ++i) {
    std::string_view init = detail::field_text(strings_[i].init);
    copy_text(sv[i].read_value, init);
    copy_text(sv[i].write_value, init);
    sv[i].read_status = sv[i].write_status = 1;
  }

  // Function tables: the configured functions, then the extra slots with the main form
  // first. Configured functions are ready to run; the extra slots hold no routine yet.
  auto* fd = copy_table(base, header, DbTable::FunctionDefs, functions_);
  copy_text(fd[c.functions].name, main_form_);
  auto* fr = table_at<MEM_FUNCTION_RT_STRU>(base, header, DbTable::FunctionRuntime);
  for (uint32_t i = 0; i < c.functions + detail::kFunctionExtraSlots; ++i) {
    fr[i].run_status = i < c.functions ? SYS_AVAILABLE : SYS_KILLED;
    fr[i].event_status = SYS_AVAILABLE;
  }

  auto* ar = table_at<MEM_ALARM_RT_STRU>(base, header, DbTable::AlarmRuntime);
  for (uint32_t i = 0; i < c.alarms; ++i) {
    ar[i].status = ALM_CLEAR;
    ar[i].function_point = VEXLOR_UNUSED_POINT;
  }

  os::section_unmap(&section);
  os::SharedSection old;
  if (replace) retire_published(&old);
  if (!os::section_rename(building, detail::kDatabaseSection, replace, error)) {
    os::section_unmap(&old);
    os::section_remove(building);
    return false;
  }
  if (old.address != nullptr) {
    detail::retire_image(old.address);
    os::section_unmap(&old);
  }
  return true;
}

bool remove_database(std::string* error) {
  os::SharedSection old;
  retire_published(&old);
  if (!os::section_remove(detail::kDatabaseSection)) {
    os::section_unmap(&old);
    if (error) *error = "no database in instance \"" + os::instance_name() + "\"";
    return false;
  }
  if (old.address != nullptr) {
    detail::retire_image(old.address);
    os::section_unmap(&old);
  }
  remove_leftovers();
  return true;
}

void remove_leftovers() {
  remove_dead_builds();
  const std::string dir = os::instance_dir();
  detail::attached_processes(dir);  // drops the records of dead processes
  // Endpoints whose listener is gone: the socket and its lock file (POSIX; a Windows pipe goes
  // with its last handle).
  const std::string endpoints = os::endpoint_dir(false);
  for (const std::string& name : os::list_dir(endpoints)) {
    if (!ends_with(name, ".lock")) continue;
    const std::string lock = in_folder(endpoints, name);
    if (os::probe_live_file(lock, nullptr, false) == os::Liveness::kAlive) continue;
    std::remove(lock.substr(0, lock.size() - 5).c_str());
    std::remove(lock.c_str());
  }
  if (!os::endpoint_served(os::kManagerEndpoint)) {
    std::remove(in_folder(dir, "manager.log").c_str());
  }
  // Mutexes of routines that were killed (kill -9, a crash) stay as files nobody holds.
  os::remove_unheld_mutexes();
  os::remove_instance_dir_if_empty();
}

}  // namespace vexlor::config
