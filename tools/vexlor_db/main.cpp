// vexlor-db: creates an instance's shared point database from an equipment configuration,
// checks a configuration, removes a database, lists the instances and shows what a database
// holds. Exit status 0 when the operation succeeded, 1 when it failed (one line on stderr per
// error), 2 for bad usage. Errors start "vexlor-db: ".
#include <vexlor/records.h>
#include <vexlor/types.h>
#include <vexlor/vmmap.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "alarm_log.h"
#include "config/builder.h"
#include "config/loader.h"
#include "kinds.h"
#include "db/attach_registry.h"
#include "db/db_image.h"
#include "os/instance.h"
#include "os/live_file.h"
#include "os/local_endpoint.h"
#include "os/shared_section.h"
#include "util/text.h"
#include "util/vdb.h"

namespace {

using vexlor::detail::field_text;

constexpr int kOk = 0;
constexpr int kFailed = 1;
constexpr int kUsage = 2;

int failed(const std::string& message) {
  std::cerr << "vexlor-db: " << message << "\n";
  return kFailed;
}

void set_instance(const std::string& name) {
#ifdef _WIN32
  _putenv_s("VEXLOR_INSTANCE", name.c_str());
#else
  setenv("VEXLOR_INSTANCE", name.c_str(), 1);
#endif
}

std::string in_quotes(std::string_view text) { return "\"" + std::string(text) + "\""; }

// Columns on a terminal: Chinese and other wide characters take two cells, every other
// UTF-8 character one.
std::size_t display_width(std::string_view text) {
  std::size_t width = 0;
  for (std::size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    uint32_t cp = c;
    std::size_t len = 1;
    if (c >= 0xF0 && i + 3 < text.size()) {
      len = 4;
      cp = ((c & 0x07u) << 18) | ((text[i + 1] & 0x3Fu) << 12) | ((text[i + 2] & 0x3Fu) << 6) |
           (text[i + 3] & 0x3Fu);
    } else if (c >= 0xE0 && i + 2 < text.size()) {
      len = 3;
      cp = ((c & 0x0Fu) << 12) | ((text[i + 1] & 0x3Fu) << 6) | (text[i + 2] & 0x3Fu);
    } else if (c >= 0xC0 && i + 1 < text.size()) {
      len = 2;
      cp = ((c & 0x1Fu) << 6) | (text[i + 1] & 0x3Fu);
    }
    const bool wide = (cp >= 0x1100 && cp <= 0x115F) || (cp >= 0x2E80 && cp <= 0xA4CF) ||
                      (cp >= 0xAC00 && cp <= 0xD7A3) || (cp >= 0xF900 && cp <= 0xFAFF) ||
                      (cp >= 0xFE30 && cp <= 0xFE4F) || (cp >= 0xFF00 && cp <= 0xFF60) ||
                      (cp >= 0xFFE0 && cp <= 0xFFE6) || (cp >= 0x20000 && cp <= 0x3FFFD);
    width += wide ? 2 : 1;
    i += len;
  }
  return width;
}

// A JSON string literal: quotes, backslash and control characters escaped; other bytes
// (UTF-8) as they are.
std::string json_text(std::string_view text) {
  std::string out = "\"";
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (u < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", u);
      out += escaped;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

// One value of a listing: text, or a number (printed bare in JSON).
struct Cell {
  std::string text;
  bool number = false;
  Cell(std::string t) : text(std::move(t)) {}  // NOLINT: cells are written as plain texts
  Cell(const char* t) : text(t) {}             // NOLINT
  static Cell num(int64_t value) {
    Cell c(std::to_string(value));
    c.number = true;
    return c;
  }
};

// Rows printed as aligned columns separated by two blanks (the last column is not padded), or
// as a JSON array of objects keyed by the lower-cased column titles ("#" is "index").
class TextTable {
 public:
  explicit TextTable(std::vector<std::string> header) : header_(std::move(header)) {}
  void add(std::vector<Cell> row) { rows_.push_back(std::move(row)); }

  void print(std::ostream& out, bool json) const {
    if (json) {
      print_json(out);
      return;
    }
    std::vector<std::size_t> widths(header_.size(), 0);
    for (std::size_t c = 0; c < header_.size(); ++c) widths[c] = display_width(header_[c]);
    for (const auto& row : rows_) {
      for (std::size_t c = 0; c < row.size() && c < widths.size(); ++c)
        widths[c] = std::max(widths[c], display_width(row[c].text));
    }
    auto line = [&](const std::vector<std::string>& row) {
      std::string text;
      for (std::size_t c = 0; c < row.size(); ++c) {
        text += row[c];
        if (c + 1 < row.size()) text += std::string(widths[c] - display_width(row[c]) + 2, ' ');
      }
      while (!text.empty() && text.back() == ' ') text.pop_back();
      out << text << "\n";
    };
    line(header_);
    for (const auto& row : rows_) {
      std::vector<std::string> texts;
      for (const Cell& cell : row) texts.push_back(cell.text);
      line(texts);
    }
  }

 private:
  void print_json(std::ostream& out) const {
    out << "[";
    for (std::size_t r = 0; r < rows_.size(); ++r) {
      out << (r ? ",\n {" : "\n {");
      for (std::size_t c = 0; c < rows_[r].size() && c < header_.size(); ++c) {
        std::string key = header_[c] == "#" ? "index" : header_[c];
        for (char& ch : key) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
        const Cell& cell = rows_[r][c];
        out << (c ? ", " : "") << json_text(key) << ": "
            << (cell.number ? cell.text : json_text(cell.text));
      }
      out << "}";
    }
    out << (rows_.empty() ? "]\n" : "\n]\n");
  }

  std::vector<std::string> header_;
  std::vector<std::vector<Cell>> rows_;
};

std::string format_fixed(double value, int decimal) {
  if (decimal < 0 || decimal > 8) decimal = 2;
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.*f", decimal, value);
  return buffer;
}

std::string format_number(double value) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.15g", value);
  return buffer;
}

const char* kind_name(int32_t kind) {
  static const char* const kNames[] = {"CM", "BM", "TM", "PM"};
  return kind >= 0 && kind < 4 ? kNames[kind] : "?";
}

const char* choice_name(int32_t style) {
  static const char* const kNames[] = {"CLEAR",  "RETRY", "WAIT",  "IGNORE", "DISABLE",
                                       "ENABLE", "STOP",  "ABORT", "PAUSED"};
  return style >= 0 && style < 9 ? kNames[style] : "?";
}

const char* log_setting(uint8_t first, uint8_t second) {
  if (first && second) return "both";
  if (first) return "console";
  if (second) return "file";
  return "off";
}

// The database of the current instance, attached for reading.
class Attached {
 public:
  bool open(std::string* why) {
    if (!vexlor::os::section_exists(vexlor::detail::kDatabaseSection)) {
      *why = "no database in instance " + in_quotes(vexlor::os::instance_name());
      return false;
    }
    if (!mmap_.VMMAP_Initial("vexlor-db") || mmap_.DB() == nullptr) {
      *why = "cannot attach the database of instance " + in_quotes(vexlor::os::instance_name());
      return false;
    }
    db_ = mmap_.DB();
    return true;
  }
  ~Attached() { mmap_.VMMAP_Release(); }

  Vexlor::VMMAP& mmap() { return mmap_; }
  const Vexlor::MMAP_STRU& db() const { return *db_; }
  const Vexlor::MEM_SYSTEM_STRU& system() const { return *db_->system_block; }

  std::string driver_name(int32_t point) const {
    if (point < 0 || point >= system().driver_count) return "-";
    return std::string(field_text(db_->driver_sp[point].name));
  }

 private:
  Vexlor::VMMAP mmap_;
  Vexlor::MMAP_STRU* db_ = nullptr;
};

// ---- Subcommands -------------------------------------------------------------------------

// Live processes attached to the current instance's database, as the refusal names them.
std::vector<vexlor::detail::AttachedProcess> attached() {
  return vexlor::detail::attached_processes(vexlor::os::instance_dir());
}

std::string in_use(const std::vector<vexlor::detail::AttachedProcess>& processes) {
  return "the database of instance " + in_quotes(vexlor::os::instance_name()) + " is in use by " +
         std::to_string(processes.size()) +
         (processes.size() == 1 ? " process: " : " processes: ") +
         vexlor::detail::describe(processes);
}

std::string counts_text(const vexlor::config::DatabaseBuilder& builder) {
  const vexlor::detail::DbCounts c = builder.counts();
  return std::to_string(c.modules) + " modules, " + std::to_string(c.drivers) + " drivers, " +
         std::to_string(c.enums) + " enums, " + std::to_string(c.digitals) + " digital, " +
         std::to_string(c.analogs) + " analog, " + std::to_string(c.strings) + " string, " +
         std::to_string(c.functions) + " functions, " + std::to_string(c.alarms) + " alarms, " +
         std::to_string(builder.image_size()) + " bytes";
}

// force 1 replaces a database nobody is attached to; force 2 also one in use (the processes
// then find their image retired).
int run_create(const std::string& config, int force) {
  vexlor::config::DatabaseBuilder builder;
  std::string error;
  std::vector<std::string> warnings;
  if (!vexlor::config::load_configuration(config, builder, &error, &warnings)) {
    return failed(error);
  }
  for (const auto& warning : warnings) std::cerr << "vexlor-db: warning: " << warning << "\n";
  if (force == 1 && vexlor::os::section_exists(vexlor::detail::kDatabaseSection)) {
    const auto processes = attached();
    if (!processes.empty())
      return failed(in_use(processes) + "; stop them, or repeat --force to replace it anyway");
  }
  std::error_code ec;
  std::string source = std::filesystem::absolute(config, ec).lexically_normal().string();
  if (ec) source = config;
  if (!builder.publish(force > 0, source, &error)) return failed(error);

  // The data-log tables go to the equipment's database file, replacing the lists an earlier
  // create wrote there (the alarm history in the same file stays). A file is created only to
  // hold tables; a configuration without any clears the lists of an existing file.
  const std::string vdb =
      vexlor::detail::vdb_file_for(vexlor::detail::field_text(builder.system().database_path));
  const bool has_datalogs = !builder.datalogs().empty();
  if (!vexlor::detail::write_datalog_tables(vdb, builder.datalogs(), has_datalogs, &error)) {
    if (has_datalogs) {
      // Nothing half-made: the shared database goes again.
      std::string ignored;
      vexlor::config::remove_database(&ignored);
      return failed("data-log tables: " + error);
    }
    std::cerr << "vexlor-db: warning: data-log tables not cleared: " << error << "\n";
  }

  // The host link's mapping table goes to the same file (an earlier create's is replaced).
  if (!vexlor::config::write_host_table(vdb, builder.host(), !builder.host().empty(), &error)) {
    if (!builder.host().empty()) {
      std::string ignored;
      vexlor::config::remove_database(&ignored);
      return failed("host mapping table: " + error);
    }
    std::cerr << "vexlor-db: warning: host mapping table not cleared: " << error << "\n";
  }

  std::cout << "created instance " << in_quotes(vexlor::os::instance_name()) << " from " << config
            << ": " << counts_text(builder) << "\n";
  return kOk;
}

// Every error and every warning of a configuration; nothing is created.
int run_check(const std::string& config) {
  vexlor::config::DatabaseBuilder builder;
  std::vector<std::string> errors, warnings;
  const bool ok = vexlor::config::check_configuration(config, builder, &errors, &warnings);
  for (const auto& line : errors) std::cerr << "vexlor-db: " << line << "\n";
  for (const auto& line : warnings) std::cerr << "vexlor-db: warning: " << line << "\n";
  auto plural = [](std::size_t n, const char* word) {
    return std::to_string(n) + " " + word + (n == 1 ? "" : "s");
  };
  std::cout << config << ": " << plural(errors.size(), "error") << ", "
            << plural(warnings.size(), "warning");
  if (ok) std::cout << "; " << counts_text(builder);
  std::cout << "\n";
  return ok ? kOk : kFailed;
}

int run_remove(bool force) {
  if (!vexlor::os::section_exists(vexlor::detail::kDatabaseSection)) {
    vexlor::config::remove_leftovers();
    return failed("no database in instance " + in_quotes(vexlor::os::instance_name()));
  }
  if (!force) {
    const auto processes = attached();
    if (!processes.empty()) return failed(in_use(processes) + "; stop them, or add --force");
  }
  std::string error;
  if (!vexlor::config::remove_database(&error)) return failed(error);
  std::cout << "removed the database of instance " << in_quotes(vexlor::os::instance_name())
            << "\n";
  return kOk;
}

// Instance names back from their folder names (file_name_for writes other bytes as %XX).
std::string instance_from_folder(const std::string& folder) {
  std::string out;
  for (std::size_t i = 0; i < folder.size(); ++i) {
    if (folder[i] == '%' && i + 2 < folder.size() &&
        std::isxdigit(static_cast<unsigned char>(folder[i + 1])) &&
        std::isxdigit(static_cast<unsigned char>(folder[i + 2]))) {
      out += static_cast<char>(std::stoi(folder.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      out += folder[i];
    }
  }
  return out;
}

// A folder of the runtime folder is an instance when something of an instance lives in it.
bool instance_folder(const std::string& dir) {
  for (const std::string& entry : vexlor::os::list_dir(dir)) {
    if (entry == "database.section" || entry == "endpoint" || entry == "mutex" ||
        entry == "manager.log" || entry.rfind("attached.", 0) == 0 ||
        entry.rfind("database.building.", 0) == 0)
      return true;
  }
  return false;
}

// The instances in the runtime folder: database state, manager, attached processes.
int run_list(bool json) {
  const std::string base = vexlor::os::runtime_base();
  std::vector<std::string> folders = vexlor::os::list_dir(base);
  std::sort(folders.begin(), folders.end());
  TextTable t({"INSTANCE", "DATABASE", "MANAGER", "ATTACHED", "SOURCE"});
  for (const std::string& folder : folders) {
    std::error_code ec;
    if (!std::filesystem::is_directory(base + "/" + folder, ec) ||
        !instance_folder(base + "/" + folder))
      continue;
    const std::string name = instance_from_folder(folder);
    set_instance(name);
    vexlor::config::remove_dead_builds();
    std::string database = "none", source;
    vexlor::os::SharedSection section;
    std::string why;
    if (vexlor::os::section_open(vexlor::detail::kDatabaseSection, &section, &why)) {
      database = "invalid";
      if (vexlor::detail::image_valid(section.address, section.size, &why)) {
        database = "valid";
        source = std::string(
            field_text(static_cast<const vexlor::detail::DbHeader*>(section.address)->source));
      }
      vexlor::os::section_unmap(&section);
    }
    vexlor::os::LocalStream probe;
    const bool manager = probe.connect(vexlor::os::kManagerEndpoint, &why);
    probe.close();
    const auto processes = vexlor::detail::attached_processes(vexlor::os::instance_dir());
    std::string attached_text = processes.empty() ? "-" : vexlor::detail::describe(processes);
    if (json) {
      std::string list = "[";
      for (std::size_t i = 0; i < processes.size(); ++i) {
        list += (i ? ", " : "") + std::string("{\"pid\": ") + std::to_string(processes[i].pid) +
                ", \"routine\": " + json_text(processes[i].routine) + "}";
      }
      attached_text = list + "]";
    }
    Cell attached_cell(attached_text);
    attached_cell.number = json;  // already JSON
    Cell manager_cell(json ? (manager ? "true" : "false") : (manager ? "running" : "-"));
    manager_cell.number = json;
    t.add({name, database, manager_cell, attached_cell, source});
  }
  t.print(std::cout, json);
  return kOk;
}

int run_info(bool json) {
  std::string why;
  Attached a;
  if (!a.open(&why)) return failed(why);

  // The image header names the configuration and the build time.
  vexlor::os::SharedSection section;
  std::string source, created;
  uint64_t size = 0;
  if (vexlor::os::section_open(vexlor::detail::kDatabaseSection, &section, &why)) {
    if (vexlor::detail::image_valid(section.address, section.size, &why)) {
      const auto* header = static_cast<const vexlor::detail::DbHeader*>(section.address);
      source = std::string(field_text(header->source));
      created = std::string(field_text(header->created));
      size = header->total_size;
    }
    vexlor::os::section_unmap(&section);
  }

  const Vexlor::MEM_SYSTEM_STRU& s = a.system();
  if (json) {
    std::cout << "{\"instance\": " << json_text(vexlor::os::instance_name())
              << ", \"source\": " << json_text(source) << ", \"created\": " << json_text(created)
              << ", \"size\": " << size << ", \"modules\": " << s.module_count
              << ", \"drivers\": " << s.driver_count << ", \"enums\": " << s.enum_count
              << ", \"digital\": " << s.digital_count << ", \"analog\": " << s.analog_count
              << ", \"string\": " << s.string_count << ", \"functions\": " << s.function_count
              << ", \"alarms\": " << s.alarm_count << "}\n";
    return kOk;
  }
  auto line = [](const char* label, const std::string& value) {
    std::string text = std::string(label) + ":";
    text.resize(11, ' ');
    std::cout << text << value << "\n";
  };
  line("instance", vexlor::os::instance_name());
  line("source", source);
  line("created", created);
  line("size", std::to_string(size) + " bytes");
  line("modules", std::to_string(s.module_count));
  line("drivers", std::to_string(s.driver_count));
  line("enums", std::to_string(s.enum_count));
  line("digital", std::to_string(s.digital_count));
  line("analog", std::to_string(s.analog_count));
  line("string", std::to_string(s.string_count));
  line("functions", std::to_string(s.function_count) + " (+12 slots)");
  line("alarms", std::to_string(s.alarm_count));
  return kOk;
}

void dump_system(Attached& a, bool json) {
  const Vexlor::MEM_SYSTEM_STRU& s = a.system();
  TextTable t({"FIELD", "VALUE"});
  auto text = [](const auto& field) { return std::string(field_text(field)); };
  t.add({"user_name", text(s.user_name)});
  t.add({"group_name", text(s.group_name)});
  t.add({"user_level", std::to_string(s.user_level)});
  t.add({"language", std::to_string(s.language) + (s.language == 1 ? " (zh)" : " (en)")});
  t.add({"database_path", text(s.database_path)});
  t.add({"alarm_description_path", text(s.alarm_description_path)});
  t.add({"history_path", text(s.history_path)});
  t.add({"navigation_path", text(s.navigation_path)});
  t.add({"user_code_version", text(s.user_code_version)});
  t.add({"project_id", text(s.project_id)});
  t.add({"machine_path", text(s.machine_path)});
  t.add({"simulation", s.simulation ? "true" : "false"});
  t.add({"fa_type", std::to_string(s.fa_type)});
  t.add({"start_time", text(s.start_time)});
  static const char* const kTags[] = {"ALM", "ERR", "DBG", "CIM", "EVT", "VIR", "6", "7"};
  std::string log;
  for (int i = 0; i < 8; ++i) {
    if (i > 0) log += " ";
    log += std::string(kTags[i]) + "=" + log_setting(s.log_switch_first[i], s.log_switch_second[i]);
  }
  t.add({"log", log});
  t.add({"modules CM/BM/TM/PM", std::to_string(s.cm_count) + "/" + std::to_string(s.bm_count) +
                                    "/" + std::to_string(s.tm_count) + "/" +
                                    std::to_string(s.pm_count)});
  const int32_t n = s.function_count;
  t.add({"main_form", n >= 0 ? std::string(field_text(a.db().function_sp[n].name)) : ""});
  t.print(std::cout, json);
}

int run_dump(const std::string& table, int limit, bool json) {
  std::string why;
  Attached a;
  if (!a.open(&why)) return failed(why);
  const Vexlor::MEM_SYSTEM_STRU& s = a.system();
  const Vexlor::MMAP_STRU& db = a.db();
  auto rows = [limit](int32_t count) { return limit >= 0 && limit < count ? limit : count; };

  if (table == "system") {
    dump_system(a, json);
  } else if (table == "modules") {
    TextTable t({"#", "ID", "NAME", "KIND", "SIDE", "ALARM_BASE", "ANNOTATION"});
    for (int32_t i = 0; i < rows(s.module_count); ++i) {
      const Vexlor::MEM_MODULE_SP_STRU& m = db.module_sp[i];
      std::string annotation;
      if (m.kind >= 0 && m.kind < 4 && m.side >= 0 && m.side < 100) {
        annotation = std::string(field_text(s.module_annotations[m.kind][m.side]));
      }
      t.add({Cell::num(i), std::string(field_text(m.id)), std::string(field_text(m.name)),
             kind_name(m.kind), Cell::num(m.side), Cell::num(m.alarm_base), annotation});
    }
    t.print(std::cout, json);
  } else if (table == "drivers") {
    TextTable t({"#", "NAME", "TYPE", "STATE", "PARAMS"});
    for (int32_t i = 0; i < rows(s.driver_count); ++i) {
      const Vexlor::MEM_DRIVER_SP_STRU& d = db.driver_sp[i];
      std::string params;
      for (int p = 0; p < 10; ++p) params += (p ? "," : "") + std::to_string(d.params[p]);
      t.add({Cell::num(i), std::string(field_text(d.name)), Cell::num(d.type),
             d.params[Vexlor::kDriverParamOffline] ? "offline" : "online", params});
    }
    t.print(std::cout, json);
  } else if (table == "enums") {
    TextTable t({"#", "NAME", "COUNT", "ITEMS"});
    for (int32_t i = 0; i < rows(s.enum_count); ++i) {
      const Vexlor::MEM_ENUM_SP_STRU& e = db.enum_sp[i];
      std::string items;
      for (int32_t k = 0; k < e.item_count && k < 60; ++k) {
        if (k) items += "  ";
        items += std::to_string(e.values[k]) + "=" + std::string(field_text(e.texts[k]));
      }
      t.add({Cell::num(i), std::string(field_text(e.name)), Cell::num(e.item_count), items});
    }
    t.print(std::cout, json);
  } else if (table == "digital") {
    TextTable t({"#", "NAME", "VALUE", "ENUM", "MIN", "MAX", "IN", "OUT", "UNIT"});
    for (int32_t i = 0; i < rows(s.digital_count); ++i) {
      const Vexlor::MEM_DIGITAL_SP_STRU& d = db.digital_sp[i];
      int value = 0;
      const bool ok = a.mmap().VMMAP_Digital_Read(i, &value);
      const std::string enum_name = d.enum_point >= 0 && d.enum_point < s.enum_count
                                        ? std::string(field_text(db.enum_sp[d.enum_point].name))
                                        : "-";
      t.add({Cell::num(i), std::string(field_text(d.name)), ok ? std::to_string(value) : "(failed)",
             enum_name, Cell::num(d.min), Cell::num(d.max), a.driver_name(d.idrv_point),
             a.driver_name(d.odrv_point), std::string(field_text(d.unit))});
    }
    t.print(std::cout, json);
  } else if (table == "analog") {
    TextTable t({"#", "NAME", "VALUE", "MIN", "MAX", "IN", "OUT", "UNIT"});
    for (int32_t i = 0; i < rows(s.analog_count); ++i) {
      const Vexlor::MEM_ANALOG_SP_STRU& d = db.analog_sp[i];
      double value = 0;
      const bool ok = a.mmap().VMMAP_Analog_Read(i, &value);
      t.add({Cell::num(i), std::string(field_text(d.name)),
             ok ? format_fixed(value, d.decimal) : "(failed)", format_number(d.min),
             format_number(d.max), a.driver_name(d.idrv_point), a.driver_name(d.odrv_point),
             std::string(field_text(d.unit))});
    }
    t.print(std::cout, json);
  } else if (table == "string") {
    TextTable t({"#", "NAME", "IN", "OUT", "VALUE"});
    for (int32_t i = 0; i < rows(s.string_count); ++i) {
      const Vexlor::MEM_STRING_SP_STRU& d = db.string_sp[i];
      char value[1024] = {};
      const bool ok = a.mmap().VMMAP_String_Read(i, value);
      t.add({Cell::num(i), std::string(field_text(d.name)), a.driver_name(d.idrv_point),
             a.driver_name(d.odrv_point), ok ? std::string(field_text(value)) : "(failed)"});
    }
    t.print(std::cout, json);
  } else if (table == "functions") {
    // The configured functions, then the main-form slot N and any named extra slot.
    TextTable t({"#", "NAME", "LEVEL", "STYLE", "VIRTUAL", "POOL", "PATH"});
    const int32_t n = s.function_count;
    int32_t shown = 0;
    for (int32_t i = 0; i < n + 12 && (limit < 0 || shown < limit); ++i) {
      const Vexlor::MEM_FUNCTION_SP_STRU& f = db.function_sp[i];
      if (i >= n && field_text(f.name).empty()) continue;
      const std::string name = std::string(field_text(f.name)) + (i == n ? " (main form)" : "");
      t.add({Cell::num(i), name, Cell::num(f.level), Cell::num(f.load_style),
             f.virtual_flag ? "yes" : "no", Cell::num(f.pool_count),
             std::string(field_text(f.path))});
      ++shown;
    }
    t.print(std::cout, json);
  } else if (table == "alarms") {
    TextTable t({"#", "ID", "MODULE", "LEVEL", "NAME", "CHOICES", "TEXT"});
    for (int32_t i = 0; i < rows(s.alarm_count); ++i) {
      const Vexlor::MEM_ALARM_SP_STRU& al = db.alarm_sp[i];
      const std::string module = al.module_point >= 0 && al.module_point < s.module_count
                                     ? std::string(field_text(db.module_sp[al.module_point].id))
                                     : "-";
      std::string choices;
      for (int32_t k = 0; k < al.recovery_count && k < 8; ++k) {
        choices += (k ? "," : "") + std::string(choice_name(al.recovery_results[k]));
      }
      t.add({Cell::num(i), Cell::num(al.alarm_id), module, Cell::num(al.level),
             std::string(field_text(al.name)), choices.empty() ? "-" : choices,
             std::string(field_text(al.text))});
    }
    t.print(std::cout, json);
  }
  return kOk;
}

}  // namespace

int main(int argc, char** argv) {
  vexlor::drivers::register_driver_kinds();
  CLI::App app{
      "Creates, checks, inspects and removes the shared point database of an equipment "
      "instance.",
      "vexlor-db"};
  app.fallthrough();
  app.require_subcommand(1);
  std::string instance;
  bool json = false;
  app.add_option("--instance", instance,
                 "instance to work on (default: $VEXLOR_INSTANCE, else \"default\")");
  app.add_flag("--json", json, "print info, dump and list as JSON");

  std::string config;
  int force = 0;
  CLI::App* create = app.add_subcommand("create", "build the database from a configuration file");
  create->add_option("CONFIG", config, "equipment configuration (TOML)")->required();
  create->add_flag("--force", force,
                   "replace an existing database; twice: even while processes are attached");

  CLI::App* check =
      app.add_subcommand("check", "report every error and warning of a configuration file");
  check->add_option("CONFIG", config, "equipment configuration (TOML)")->required();

  bool remove_force = false;
  CLI::App* remove = app.add_subcommand("remove", "remove the database and the instance folder");
  remove->add_flag("--force", remove_force, "remove it even while processes are attached");
  CLI::App* info = app.add_subcommand("info", "show where the database comes from and its counts");
  CLI::App* list =
      app.add_subcommand("list", "list the instances of the runtime folder and their state");

  std::string table;
  int limit = -1;
  CLI::App* dump = app.add_subcommand("dump", "print one table as text columns");
  dump->add_option("TABLE", table,
                   "system, modules, drivers, enums, digital, analog, string, "
                   "functions or alarms")
      ->required()
      ->check(CLI::IsMember({"system", "modules", "drivers", "enums", "digital", "analog", "string",
                             "functions", "alarms"}));
  dump->add_option("--limit", limit, "print at most N rows")
      ->check(CLI::Range(0, std::numeric_limits<int>::max()));

  std::string since;
  CLI::App* alarms = app.add_subcommand("alarms", "print the alarm log, oldest first");
  alarms->add_option("--since", since,
                     "only rows inserted at or after this local time (YYYY/MM/DD HH:MM:SS or a "
                     "leading part of it)");

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == static_cast<int>(CLI::ExitCodes::Success)) return app.exit(e);
    std::string what = e.what();
    for (char& c : what) {
      if (c == '\n' || c == '\r') c = ' ';
    }
    while (!what.empty() && what.back() == ' ') what.pop_back();
    // A word that is no command leaves the command missing: name the word instead.
    if (app.get_subcommands().empty() && !app.remaining().empty()) {
      what = "unknown command \"" + app.remaining().front() + "\"";
    }
    std::cerr << "vexlor-db: " << what << " (see vexlor-db --help)\n";
    return kUsage;
  }
  if (!instance.empty()) set_instance(instance);

  try {
    if (create->parsed()) return run_create(config, force);
    if (check->parsed()) return run_check(config);
    if (remove->parsed()) return run_remove(remove_force);
    if (info->parsed()) return run_info(json);
    if (list->parsed()) return run_list(json);
    if (dump->parsed()) return run_dump(table, limit, json);
    if (alarms->parsed()) return vexlor_db::run_alarms(since);
  } catch (const std::exception& e) {
    return failed(e.what());
  }
  return kUsage;
}
