// vexlor-db: creates an instance's shared point database from an equipment configuration,
// removes it, and shows what a database holds. Exit status 0 when the operation succeeded, 1
// when it failed (one line on stderr), 2 for bad usage.
#include <vexlor/records.h>
#include <vexlor/types.h>
#include <vexlor/vmmap.h>

#include <CLI/CLI.hpp>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "alarm_log.h"
#include "config/builder.h"
#include "config/loader.h"
#include "util/text.h"
#include "util/vdb.h"
#include "os/instance.h"
#include "os/shared_section.h"
#include "db/db_image.h"

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

// Rows printed as aligned columns separated by two blanks; the last column is not padded.
class TextTable {
 public:
  explicit TextTable(std::vector<std::string> header) : header_(std::move(header)) {}
  void add(std::vector<std::string> row) { rows_.push_back(std::move(row)); }

  void print(std::ostream& out) const {
    std::vector<std::size_t> widths(header_.size(), 0);
    auto measure = [&widths](const std::vector<std::string>& row) {
      for (std::size_t c = 0; c < row.size() && c < widths.size(); ++c) {
        widths[c] = std::max(widths[c], display_width(row[c]));
      }
    };
    measure(header_);
    for (const auto& row : rows_) measure(row);
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
    for (const auto& row : rows_) line(row);
  }

 private:
  std::vector<std::string> header_;
  std::vector<std::vector<std::string>> rows_;
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

int run_create(const std::string& config, bool force) {
  vexlor::config::DatabaseBuilder builder;
  std::string error;
  std::vector<std::string> warnings;
  if (!vexlor::config::load_configuration(config, builder, &error, &warnings)) {
    return failed(error);
  }
  for (const auto& warning : warnings) std::cerr << "vexlor-db: warning: " << warning << "\n";
  std::error_code ec;
  std::string source = std::filesystem::absolute(config, ec).lexically_normal().string();
  if (ec) source = config;
  if (!builder.publish(force, source, &error)) return failed(error);

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

  const vexlor::detail::DbCounts c = builder.counts();
  std::cout << "created instance " << in_quotes(vexlor::os::instance_name()) << " from " << config
            << ": " << c.modules << " modules, " << c.drivers << " drivers, " << c.enums
            << " enums, " << c.digitals << " digital, " << c.analogs << " analog, " << c.strings
            << " string, " << c.functions << " functions, " << c.alarms << " alarms, "
            << builder.image_size() << " bytes\n";
  return kOk;
}

int run_remove() {
  std::string error;
  if (!vexlor::config::remove_database(&error)) {
    return failed(error.empty()
                      ? "no database in instance " + in_quotes(vexlor::os::instance_name())
                      : error);
  }
  std::cout << "removed the database of instance " << in_quotes(vexlor::os::instance_name())
            << "\n";
  return kOk;
}

int run_info() {
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

void dump_system(Attached& a) {
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
  static const char* const kTags[] = {"ALM", "ERR", "DBG", "CIM", "EVT", "VIR"};
  std::string log;
  for (int i = 0; i < 6; ++i) {
    if (i > 0) log += " ";
    log += std::string(kTags[i]) + "=" + log_setting(s.log_switch_first[i], s.log_switch_second[i]);
  }
  t.add({"log", log});
  t.add({"modules CM/BM/TM/PM", std::to_string(s.cm_count) + "/" + std::to_string(s.bm_count) +
                                    "/" + std::to_string(s.tm_count) + "/" +
                                    std::to_string(s.pm_count)});
  const int32_t n = s.function_count;
  t.add({"main_form", n >= 0 ? std::string(field_text(a.db().function_sp[n].name)) : ""});
  t.print(std::cout);
}

int run_dump(const std::string& table, int limit) {
  std::string why;
  Attached a;
  if (!a.open(&why)) return failed(why);
  const Vexlor::MEM_SYSTEM_STRU& s = a.system();
  const Vexlor::MMAP_STRU& db = a.db();
  auto rows = [limit](int32_t count) { return limit >= 0 && limit < count ? limit : count; };

  if (table == "system") {
    dump_system(a);
  } else if (table == "modules") {
    TextTable t({"#", "ID", "NAME", "KIND", "SIDE", "ALARM_BASE", "ANNOTATION"});
    for (int32_t i = 0; i < rows(s.module_count); ++i) {
      const Vexlor::MEM_MODULE_SP_STRU& m = db.module_sp[i];
      std::string annotation;
      if (m.kind >= 0 && m.kind < 4 && m.side >= 0 && m.side < 100) {
        annotation = std::string(field_text(s.module_annotations[m.kind][m.side]));
      }
      t.add({std::to_string(i), std::string(field_text(m.id)), std::string(field_text(m.name)),
             kind_name(m.kind), std::to_string(m.side), std::to_string(m.alarm_base), annotation});
    }
    t.print(std::cout);
  } else if (table == "drivers") {
    TextTable t({"#", "NAME", "TYPE", "STATE", "PARAMS"});
    for (int32_t i = 0; i < rows(s.driver_count); ++i) {
      const Vexlor::MEM_DRIVER_SP_STRU& d = db.driver_sp[i];
      std::string params;
      for (int p = 0; p < 10; ++p) params += (p ? "," : "") + std::to_string(d.params[p]);
      t.add({std::to_string(i), std::string(field_text(d.name)), std::to_string(d.type),
             d.params[Vexlor::kDriverParamOffline] ? "offline" : "online", params});
    }
    t.print(std::cout);
  } else if (table == "enums") {
    TextTable t({"#", "NAME", "COUNT", "ITEMS"});
    for (int32_t i = 0; i < rows(s.enum_count); ++i) {
      const Vexlor::MEM_ENUM_SP_STRU& e = db.enum_sp[i];
      std::string items;
      for (int32_t k = 0; k < e.item_count && k < 60; ++k) {
        if (k) items += "  ";
        items += std::to_string(e.values[k]) + "=" + std::string(field_text(e.texts[k]));
      }
      t.add({std::to_string(i), std::string(field_text(e.name)), std::to_string(e.item_count),
             items});
    }
    t.print(std::cout);
  } else if (table == "digital") {
    TextTable t({"#", "NAME", "VALUE", "ENUM", "MIN", "MAX", "IN", "OUT", "UNIT"});
    for (int32_t i = 0; i < rows(s.digital_count); ++i) {
      const Vexlor::MEM_DIGITAL_SP_STRU& d = db.digital_sp[i];
      int value = 0;
      const bool ok = a.mmap().VMMAP_Digital_Read(i, &value);
      const std::string enum_name = d.enum_point >= 0 && d.enum_point < s.enum_count
                                        ? std::string(field_text(db.enum_sp[d.enum_point].name))
                                        : "-";
      t.add({std::to_string(i), std::string(field_text(d.name)),
             ok ? std::to_string(value) : "(failed)", enum_name, std::to_string(d.min),
             std::to_string(d.max), a.driver_name(d.idrv_point), a.driver_name(d.odrv_point),
             std::string(field_text(d.unit))});
    }
    t.print(std::cout);
  } else if (table == "analog") {
    TextTable t({"#", "NAME", "VALUE", "MIN", "MAX", "IN", "OUT", "UNIT"});
    for (int32_t i = 0; i < rows(s.analog_count); ++i) {
      const Vexlor::MEM_ANALOG_SP_STRU& d = db.analog_sp[i];
      double value = 0;
      const bool ok = a.mmap().VMMAP_Analog_Read(i, &value);
      t.add({std::to_string(i), std::string(field_text(d.name)),
             ok ? format_fixed(value, d.decimal) : "(failed)", format_number(d.min),
             format_number(d.max), a.driver_name(d.idrv_point), a.driver_name(d.odrv_point),
             std::string(field_text(d.unit))});
    }
    t.print(std::cout);
  } else if (table == "string") {
    TextTable t({"#", "NAME", "IN", "OUT", "VALUE"});
    for (int32_t i = 0; i < rows(s.string_count); ++i) {
      const Vexlor::MEM_STRING_SP_STRU& d = db.string_sp[i];
      char value[1024] = {};
      const bool ok = a.mmap().VMMAP_String_Read(i, value);
      t.add({std::to_string(i), std::string(field_text(d.name)), a.driver_name(d.idrv_point),
             a.driver_name(d.odrv_point), ok ? std::string(field_text(value)) : "(failed)"});
    }
    t.print(std::cout);
  } else if (table == "functions") {
    // The configured functions, then the main-form slot N and any named extra slot.
    TextTable t({"#", "NAME", "LEVEL", "STYLE", "VIRTUAL", "POOL", "PATH"});
    const int32_t n = s.function_count;
    int32_t shown = 0;
    for (int32_t i = 0; i < n + 12 && (limit < 0 || shown < limit); ++i) {
      const Vexlor::MEM_FUNCTION_SP_STRU& f = db.function_sp[i];
      if (i >= n && field_text(f.name).empty()) continue;
      const std::string name = std::string(field_text(f.name)) + (i == n ? " (main form)" : "");
      t.add({std::to_string(i), name, std::to_string(f.level), std::to_string(f.load_style),
             f.virtual_flag ? "yes" : "no", std::to_string(f.pool_count),
             std::string(field_text(f.path))});
      ++shown;
    }
    t.print(std::cout);
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
      t.add({std::to_string(i), std::to_string(al.alarm_id), module, std::to_string(al.level),
             std::string(field_text(al.name)), choices.empty() ? "-" : choices,
             std::string(field_text(al.text))});
    }
    t.print(std::cout);
  }
  return kOk;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Creates, inspects and removes the shared point database of an equipment instance.",
               "vexlor-db"};
  app.fallthrough();
  app.require_subcommand(1);
  std::string instance;
  app.add_option("--instance", instance,
                 "instance to work on (default: $VEXLOR_INSTANCE, else \"default\")");

  std::string config;
  bool force = false;
  CLI::App* create = app.add_subcommand("create", "build the database from a configuration file");
  create->add_option("CONFIG", config, "equipment configuration (TOML)")->required();
  create->add_flag("--force", force, "replace an existing database");

  CLI::App* remove = app.add_subcommand("remove", "remove the database and the instance folder");
  CLI::App* info = app.add_subcommand("info", "show where the database comes from and its counts");

  std::string table;
  int limit = -1;
  CLI::App* dump = app.add_subcommand("dump", "print one table as text columns");
  dump->add_option("TABLE", table,
                   "system, modules, drivers, enums, digital, analog, string, "
                   "functions or alarms")
      ->required()
      ->check(CLI::IsMember({"system", "modules", "drivers", "enums", "digital", "analog", "string",
                             "functions", "alarms"}));
  dump->add_option("--limit", limit, "print at most N rows")->check(CLI::NonNegativeNumber);

  std::string since;
  CLI::App* alarms = app.add_subcommand("alarms", "print the alarm log, oldest first");
  alarms->add_option("--since", since,
                     "only rows inserted at or after this local time (YYYY/MM/DD HH:MM:SS or a "
                     "leading part of it)");

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e) == 0 ? kOk : kUsage;
  }
  if (!instance.empty()) set_instance(instance);

  try {
    if (create->parsed()) return run_create(config, force);
    if (remove->parsed()) return run_remove();
    if (info->parsed()) return run_info();
    if (dump->parsed()) return run_dump(table, limit);
    if (alarms->parsed()) return vexlor_db::run_alarms(since);
  } catch (const std::exception& e) {
    return failed(e.what());
  }
  return kUsage;
}
