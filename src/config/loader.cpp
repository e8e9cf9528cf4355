// The equipment configuration loader. Every section of the file is read in a fixed order
// (system, modules, drivers, enumerations, points, functions, alarms, data logs) so that names
// refer to records already added; each value is checked against its field before it reaches the
// builder, and the first bad value ends the load with one line naming file, line and field.
#include "config/loader.h"

#include <toml++/toml.h>
#include <vexlor/records.h>
#include <vexlor/types.h>
#include <vexlor/vmmap.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <map>
#include <set>
#include <sstream>
#include <utility>

#include "config/driver_kinds.h"
#include "config/syntax_errors.h"
#include "config/vocabulary.h"
#include "os/text_charset.h"
#include "util/text.h"

namespace vexlor::config {

std::string to_build_charset(std::string_view utf8) {
  // The POSIX build runs in UTF-8, so configured texts are copied as they are. The Windows
  // build keeps its texts in GBK (code page 936): this is the one place where that build
  // converts them (UTF-8 -> UTF-16 -> code page 936), before any width is checked.
  return os::utf8_to_build_charset(utf8);
}

namespace {

using Vexlor::MEM_ALARM_SP_STRU;
using Vexlor::MEM_ANALOG_SP_STRU;
using Vexlor::MEM_DIGITAL_SP_STRU;
using Vexlor::MEM_DRIVER_SP_STRU;
using Vexlor::MEM_ENUM_SP_STRU;
using Vexlor::MEM_FUNCTION_SP_STRU;
using Vexlor::MEM_MODULE_SP_STRU;
using Vexlor::MEM_STRING_SP_STRU;
using Vexlor::MEM_SYSTEM_STRU;

constexpr int64_t kInt32Min = std::numeric_limits<int32_t>::min();
constexpr int64_t kInt32Max = std::numeric_limits<int32_t>::max();

// The definition fields that digital, analog and string points share have the same widths.
constexpr std::size_t kAnnotationWidth = sizeof(MEM_DIGITAL_SP_STRU::annotation);
constexpr std::size_t kAppendWidth = sizeof(MEM_DIGITAL_SP_STRU::append);
constexpr std::size_t kTagNameWidth = sizeof(MEM_DIGITAL_SP_STRU::tag_names[0]);
constexpr std::size_t kTagTypeWidth = sizeof(MEM_DIGITAL_SP_STRU::tag_type);
constexpr std::size_t kTagCount = sizeof(MEM_DIGITAL_SP_STRU::tag_names) / kTagNameWidth;
static_assert(sizeof(MEM_ANALOG_SP_STRU::annotation) == kAnnotationWidth &&
                  sizeof(MEM_STRING_SP_STRU::annotation) == kAnnotationWidth &&
                  sizeof(MEM_ANALOG_SP_STRU::append) == kAppendWidth &&
                  sizeof(MEM_STRING_SP_STRU::append) == kAppendWidth &&
                  sizeof(MEM_ANALOG_SP_STRU::tag_names) == sizeof(MEM_DIGITAL_SP_STRU::tag_names) &&
                  sizeof(MEM_STRING_SP_STRU::tag_names) == sizeof(MEM_DIGITAL_SP_STRU::tag_names) &&
                  sizeof(MEM_ANALOG_SP_STRU::tag_type) == kTagTypeWidth &&
                  sizeof(MEM_STRING_SP_STRU::tag_type) == kTagTypeWidth,
              "point definitions share their text widths");

constexpr std::size_t kEnumItems = sizeof(MEM_ENUM_SP_STRU::values) / sizeof(int32_t);
constexpr std::size_t kEnumTextWidth = sizeof(MEM_ENUM_SP_STRU::texts[0]);
constexpr std::size_t kDriverParams = sizeof(MEM_DRIVER_SP_STRU::params) / sizeof(int32_t);
constexpr std::size_t kDigitalParams = sizeof(MEM_DIGITAL_SP_STRU::iparam) / sizeof(int32_t);
constexpr std::size_t kAnalogParams = sizeof(MEM_ANALOG_SP_STRU::iparam) / sizeof(int32_t);
constexpr std::size_t kAlarmChoices = sizeof(MEM_ALARM_SP_STRU::recovery_results) / sizeof(int32_t);
constexpr std::size_t kChoiceWidth = sizeof(MEM_ALARM_SP_STRU::recovery_messages[0]);

// Highest alarm base whose block (base * 1000 .. base * 1000 + 999) fits an alarm ID.
constexpr int64_t kMaxAlarmBase = (kInt32Max - 999) / 1000;
constexpr int kMaxUserLevel = 9;
constexpr int kMaxAlarmLevel = 9;
constexpr int kMaxDecimal = 8;
constexpr int kDefaultDecimal = 2;

// The module kinds by their configuration names, with the highest side each kind offers: the
// system block holds 100 sides per kind (the library searches fewer CM and TM sides by name,
// but a module beyond them is still found through its record).
struct KindInfo {
  const char* name;
  Vexlor::MODULE_TYPE kind;
  int max_side;
};
constexpr KindInfo kKinds[] = {
    {"CM", Vexlor::MODULE_CM, 99},
    {"BM", Vexlor::MODULE_BM, 99},
    {"TM", Vexlor::MODULE_TM, 99},
    {"PM", Vexlor::MODULE_PM, 99},
};

// The operator's answers an alarm may offer, by their names without "ALM_".
constexpr std::pair<const char*, Vexlor::ALARM_STYLE> kChoices[] = {
    {"CLEAR", Vexlor::ALM_CLEAR},     {"RETRY", Vexlor::ALM_RETRY},
    {"WAIT", Vexlor::ALM_WAIT},       {"IGNORE", Vexlor::ALM_IGNORE},
    {"DISABLE", Vexlor::ALM_DISABLE}, {"ENABLE", Vexlor::ALM_ENABLE},
    {"STOP", Vexlor::ALM_STOP},       {"ABORT", Vexlor::ALM_ABORT},
};

// The top-level keys of a configuration. "interlocks" is the IO engine's table (read by
// vexlor-manager); the database does not hold it.
// "datalogs" goes to the equipment's database file, not to the shared database.
// "host" is the host link's mapping table, also for the equipment's database file.
const std::set<std::string> kSections = {"system",  "modules",    "drivers", "enums",
                                         "digital", "analog",     "string",  "functions",
                                         "alarms",  "interlocks", "datalogs", "host"};

// The keys of each kind of table, in the order the documentation lists them.
using Keys = std::vector<std::string_view>;
const Keys kSystemKeys = {"user_name",
                          "group_name",
                          "user_level",
                          "language",
                          "database_path",
                          "alarm_description_path",
                          "history_path",
                          "navigation_path",
                          "user_code_version",
                          "project_id",
                          "machine_path",
                          "simulation",
                          "fa_type",
                          "main_form",
                          "log",
                          "standard_vocabulary",
                          "standard_system_alarms"};
const Keys kModuleKeys = {"id", "name", "kind", "side", "alarm_base", "annotation"};
const Keys kDriverKeys = {"name", "type", "params", "offline"};
// The plain keys and the keys of every registered driver kind.
Keys driver_keys() {
  Keys keys = kDriverKeys;
  for (const DriverKind& kind : driver_kinds()) {
    keys.insert(keys.end(), kind.driver_keys.begin(), kind.driver_keys.end());
  }
  return keys;
}
const Keys kEnumKeys = {"name", "items"};
Keys point_keys(const Keys& own) {
  Keys keys = {"name",   "input_driver",       "output_driver",   "mode", "annotation",
               "append", "setpoint_interlock", "value_interlock", "tags", "tag_type",
               "tag"};
  keys.insert(keys.end(), own.begin(), own.end());
  return keys;
}
const Keys kDigitalKeys =
    point_keys({"enum", "unit", "min", "max", "init", "in_params", "out_params"});
const Keys kAnalogKeys =
    point_keys({"unit", "decimal", "min", "max", "init", "in_params", "out_params"});
const Keys kStringKeys = point_keys({"init", "in_param", "out_param"});
// command, workdir, env and start tell vexlor-manager how to start the function's routine.
const Keys kFunctionKeys = {"name",    "path",    "arg_param",  "run_param", "load_style",
                            "level",   "virtual", "annotation", "append",    "pool_count",
                            "command", "workdir", "env",        "start"};
const Keys kAlarmKeys = {"id", "module", "level", "name", "text", "description", "used", "choices"};
const Keys kDatalogKeys = {"name", "points"};
const Keys kHostKeys = {"variables", "constants", "commands"};
const Keys kHostVariableKeys = {"vid", "point", "class", "name", "unit"};
const Keys kHostConstantKeys = {"ecid", "point", "name", "min", "max", "default", "unit"};
const Keys kHostCommandKeys = {"rcmd", "routine", "params", "args"};

// Edit distance of two keys, ASCII case ignored, a swap of two neighbours counting as one edit.
std::size_t key_distance(std::string_view a, std::string_view b) {
  auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
  std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
  for (std::size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
  for (std::size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t cost = lower(a[i - 1]) == lower(b[j - 1]) ? 0 : 1;
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + cost});
      if (i > 1 && j > 1 && lower(a[i - 1]) == lower(b[j - 2]) &&
          lower(a[i - 2]) == lower(b[j - 1])) {
        d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
      }
    }
  }
  return d[a.size()][b.size()];
}

// "unknown key", with the known key closest to `key` when one is near enough to be a typing
// slip: at most one edit for keys of up to four characters, two for longer ones.
std::string unknown_key(std::string_view key, const Keys& known) {
  const std::size_t limit = key.size() <= 4 ? 1 : 2;
  std::string_view best;
  std::size_t best_distance = limit + 1;
  for (std::string_view candidate : known) {
    const std::size_t distance = key_distance(key, candidate);
    if (distance < best_distance) {
      best = candidate;
      best_distance = distance;
    }
  }
  if (best.empty()) return "unknown key";
  return "unknown key (did you mean \"" + std::string(best) + "\"?)";
}

// Log categories by their tags, in LOG_TYPE order; the switch arrays hold two more categories
// without a tag, configured by their numbers 6 and 7 (every category may go by its number).
constexpr const char* kLogTags[] = {"ALM", "ERR", "DBG", "CIM", "EVT", "VIR"};
constexpr std::size_t kLogSwitches = sizeof(MEM_SYSTEM_STRU::log_switch_first);

// Unicode blanks: the space separators (no-break space, the typographic spaces, the
// ideographic space of Chinese input methods), the line and paragraph separators, and the
// zero-width spaces and joiners that show as nothing at all.
bool unicode_blank(uint32_t code) {
  return code == 0x00A0 || code == 0x1680 || (code >= 0x2000 && code <= 0x200D) || code == 0x2028 ||
         code == 0x2029 || code == 0x202F || code == 0x205F || code == 0x2060 || code == 0x3000 ||
         code == 0xFEFF;
}

// Characters a point, module or function name may not hold: routines and the console take
// blanks as separators and * ? [ ] as patterns ('[' also opens a bracketed module name).
// `utf8` is the name as the file gives it (TOML files are valid UTF-8).
std::string name_fault(std::string_view utf8) {
  for (std::size_t i = 0; i < utf8.size();) {
    const auto u = static_cast<unsigned char>(utf8[i]);
    if (u < 0x80) {
      if (u < 0x20 || u == 0x7F) return "a control character";
      if (u == ' ') return "a blank";
      if (u == '*' || u == '?' || u == '[' || u == ']') return std::string("'") + utf8[i] + "'";
      ++i;
      continue;
    }
    const std::size_t length = u >= 0xF0 ? 4 : u >= 0xE0 ? 3 : 2;
    uint32_t code = u & (length == 2 ? 0x1F : length == 3 ? 0x0F : 0x07);
    for (std::size_t k = 1; k < length && i + k < utf8.size(); ++k) {
      code = (code << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
    }
    i += length;
    char hex[16];
    std::snprintf(hex, sizeof hex, "U+%04X", static_cast<unsigned>(code));
    if (code >= 0x80 && code < 0xA0) return std::string("a control character (") + hex + ")";
    if (unicode_blank(code)) return std::string("a blank (") + hex + ")";
  }
  return {};
}

std::string format_number(double value) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.15g", value);
  return buffer;
}

std::string in_quotes(std::string_view text) { return "\"" + std::string(text) + "\""; }

// Names of drivers, enumerations, points and functions match ignoring ASCII letter case.
std::string name_key(std::string_view name) {
  std::string key(name);
  for (char& c : key) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return key;
}

// Ends a load: carries the finished error line to load_configuration.
struct ConfigError {
  std::string line;
};

class Loader;

// One table of the file (a section, or one record of a large table) being read: hands out
// its values by key, remembers which keys were asked for, and reports the rest as unknown.
class Fields {
 public:
  Fields(Loader& loader, const toml::table& table, std::string path, const Keys& keys)
      : loader_(loader), table_(table), path_(std::move(path)), keys_(keys) {}

  const std::string& path() const { return path_; }
  const toml::table& table() const { return table_; }
  std::string field(std::string_view key) const { return path_ + "." + std::string(key); }

  const toml::node* get(std::string_view key) { return table_.get(key); }
  const toml::node& require(std::string_view key);

  std::string text(std::string_view key, std::size_t width, std::string fallback = {});
  std::string required_text(std::string_view key, std::size_t width);
  int32_t integer(std::string_view key, int64_t lo, int64_t hi, int32_t fallback);
  double number(std::string_view key, double fallback);
  bool boolean(std::string_view key, bool fallback);
  // Up to `max_count` int32 values; absent gives an empty list.
  std::vector<int32_t> integers(std::string_view key, std::size_t max_count);

  // Fails on the first key that is not one of the table's keys.
  void check_keys();

 private:
  Loader& loader_;
  const toml::table& table_;
  std::string path_;
  const Keys& keys_;
};

// What digital, analog and string definitions have in common.
struct PointCommon {
  int32_t idrv_point = Vexlor::VEXLOR_UNUSED_POINT;
  int32_t odrv_point = Vexlor::VEXLOR_UNUSED_POINT;
  int32_t idrv_type = 0;
  int32_t odrv_type = 0;
  int32_t mode = 0;
  bool sintlk = false;
  bool vintlk = false;
  bool tag_flag = false;
  std::vector<std::string> tags;
  std::string tag_type;
  std::string annotation;
  std::string append;
};

template <class Record>
void apply_common(Record& r, const PointCommon& c) {
  r.idrv_point = c.idrv_point;
  r.odrv_point = c.odrv_point;
  r.idrv_type = c.idrv_type;
  r.odrv_type = c.odrv_type;
  r.mode = c.mode;
  r.sintlk_use = c.sintlk ? 1 : 0;
  r.vintlk_use = c.vintlk ? 1 : 0;
  r.tag_flag = c.tag_flag ? 1 : 0;
  for (std::size_t i = 0; i < kTagCount; ++i) {
    detail::copy_text(r.tag_names[i], i < c.tags.size() ? c.tags[i] : std::string());
  }
  detail::copy_text(r.tag_type, c.tag_type);
  detail::copy_text(r.annotation, c.annotation);
  detail::copy_text(r.append, c.append);
}

class Loader {
 public:
  Loader(std::string file, DatabaseBuilder& builder, std::vector<std::string>* warnings)
      : file_(std::move(file)), builder_(builder), warnings_(warnings) {}

  void load(const toml::table& root);

  [[noreturn]] void fail(const toml::source_region& where, const std::string& field,
                         const std::string& message) const {
    throw ConfigError{located(where, field, message)};
  }
  void warn(const toml::source_region& where, const std::string& field,
            const std::string& message) {
    if (warnings_ != nullptr) warnings_->push_back(located(where, field, message));
  }
  // A warning about the file as a whole.
  void warn(const std::string& field, const std::string& message) {
    if (warnings_ != nullptr) warnings_->push_back(file_ + ": " + field + ": " + message);
  }
  // With a list, a bad record is noted there and the load goes on with the next one.
  void collect_errors(std::vector<std::string>* errors) { errors_ = errors; }

  // A point, module or function name: refused with a blank, a control character or a pattern
  // character.
  void check_name(const toml::node& node, const std::string& field, const std::string& name) {
    const auto* utf8 = node.as_string();
    const std::string fault = name_fault(utf8 != nullptr ? std::string_view(utf8->get()) : name);
    if (!fault.empty()) {
      fail(node.source(), field,
           "name " + in_quotes(name) + " contains " + fault +
               " (names hold no blanks, control characters or * ? [ ])");
    }
  }

  // Checked conversions of one value; `field` names it in messages.
  std::string text(const toml::node& node, const std::string& field, std::size_t width) const;
  int32_t integer(const toml::node& node, const std::string& field, int64_t lo, int64_t hi,
                  const std::string& context = {}) const;
  double number(const toml::node& node, const std::string& field) const;
  bool boolean(const toml::node& node, const std::string& field) const;
  std::vector<int32_t> integers(const toml::node& node, const std::string& field,
                                std::size_t max_count) const;

 private:
  struct Seen {
    uint32_t line;
    std::string field;
  };
  using Registry = std::map<std::string, Seen>;

  std::string located(const toml::source_region& where, const std::string& field,
                      const std::string& message) const {
    return file_ + ":" + std::to_string(where.begin.line) + ": " + field + ": " + message;
  }

  // Calls `each` for every table of the array `key` of the root (inline tables or [[key]]).
  void for_each_record(const toml::table& root, const char* key, const Keys& keys,
                       const std::function<void(Fields&)>& each, const std::string& prefix = "");
  // Warns when `name` was seen before in `registry` (first wins at lookup).
  void note_name(Registry& registry, const char* what, const std::string& name,
                 const toml::node& node, const std::string& field);

  void load_system(Fields& f);
  void load_log(const toml::node& node, const std::string& field);
  void load_module(Fields& f);
  void load_driver(Fields& f);
  void load_enum(Fields& f);
  PointCommon load_point_common(Fields& f);
  std::pair<int32_t, int32_t> resolve_driver(Fields& f, std::string_view key);
  // A toml table as a driver kind reads it.
  // With `only`, just those keys.
  KindTable kind_table(const toml::table& table, const std::string& field,
                       const std::vector<std::string>* only = nullptr) const;
  // Fails at the key a kind refused (the table itself for key "").
  [[noreturn]] void fail_kind(const toml::table& table, const std::string& field,
                              const KindError& e) const;
  // The driver parameters of a point: a list of numbers for a plain driver, a mapping table
  // for a driver of a registered kind. `key` is in_params, out_params, in_param or out_param.
  std::vector<int32_t> point_params(Fields& f, std::string_view key, PointKind kind,
                                    bool output, int32_t driver, std::size_t count);
  void load_digital(Fields& f);
  void load_analog(Fields& f);
  void load_string(Fields& f);
  void load_function(Fields& f);
  void load_alarm(Fields& f);
  void load_datalog(Fields& f);
  void load_host(const toml::table& root);
  void load_host_variable(Fields& f);
  void load_host_constant(Fields& f);
  void load_host_command(Fields& f);
  void check_datalogs_have_a_home(const toml::table& root);
  void check_image_size(const toml::table& root);
  void warn_about_missing_defaults();
  // Runs `step`; a ConfigError goes to errors_ when collecting, else on to the caller.
  void guarded(const std::function<void()>& step);

  std::string file_;
  DatabaseBuilder& builder_;
  bool vocabulary_ = false;     // system.standard_vocabulary
  bool system_alarms_ = false;  // system.standard_system_alarms
  std::vector<std::string>* warnings_;
  std::vector<std::string>* errors_ = nullptr;

  Registry module_ids_, module_names_, drivers_, enums_, digitals_, analogs_, strings_, functions_,
      datalogs_;
  std::map<std::pair<int, int>, Seen> module_sides_;
  std::map<int32_t, Seen> alarm_ids_;
};

// ---- Fields ------------------------------------------------------------------------------

const toml::node& Fields::require(std::string_view key) {
  const toml::node* node = get(key);
  if (node == nullptr) loader_.fail(table_.source(), field(key), "missing required field");
  return *node;
}

std::string Fields::text(std::string_view key, std::size_t width, std::string fallback) {
  const toml::node* node = get(key);
  return node ? loader_.text(*node, field(key), width) : fallback;
}

std::string Fields::required_text(std::string_view key, std::size_t width) {
  const toml::node& node = require(key);
  std::string value = loader_.text(node, field(key), width);
  if (value.empty()) loader_.fail(node.source(), field(key), "must not be empty");
  return value;
}

int32_t Fields::integer(std::string_view key, int64_t lo, int64_t hi, int32_t fallback) {
  const toml::node* node = get(key);
  return node ? loader_.integer(*node, field(key), lo, hi) : fallback;
}

double Fields::number(std::string_view key, double fallback) {
  const toml::node* node = get(key);
  return node ? loader_.number(*node, field(key)) : fallback;
}

bool Fields::boolean(std::string_view key, bool fallback) {
  const toml::node* node = get(key);
  return node ? loader_.boolean(*node, field(key)) : fallback;
}

std::vector<int32_t> Fields::integers(std::string_view key, std::size_t max_count) {
  const toml::node* node = get(key);
  return node ? loader_.integers(*node, field(key), max_count) : std::vector<int32_t>();
}

void Fields::check_keys() {
  for (auto&& [key, value] : table_) {
    (void)value;
    if (std::find(keys_.begin(), keys_.end(), key.str()) == keys_.end()) {
      loader_.fail(key.source(), field(key.str()), unknown_key(key.str(), keys_));
    }
  }
}

// ---- Checked conversions -----------------------------------------------------------------

std::string Loader::text(const toml::node& node, const std::string& field,
                         std::size_t width) const {
  const auto* value = node.as_string();
  if (value == nullptr) fail(node.source(), field, "expected a string");
  std::string converted = to_build_charset(value->get());
  if (converted.find('\0') != std::string::npos) {
    fail(node.source(), field, "text contains a NUL character");
  }
  if (converted.size() > width - 1) {
    fail(node.source(), field,
         "text is " + std::to_string(converted.size()) + " bytes, its " + std::to_string(width) +
             "-byte field holds at most " + std::to_string(width - 1));
  }
  return converted;
}

int32_t Loader::integer(const toml::node& node, const std::string& field, int64_t lo, int64_t hi,
                        const std::string& context) const {
  const auto* value = node.as_integer();
  if (value == nullptr) fail(node.source(), field, "expected an integer");
  const int64_t v = value->get();
  if (v < lo || v > hi) {
    fail(node.source(), field,
         "value " + std::to_string(v) + " is out of range " + std::to_string(lo) + ".." +
             std::to_string(hi) + context);
  }
  return static_cast<int32_t>(v);
}

double Loader::number(const toml::node& node, const std::string& field) const {
  if (const auto* i = node.as_integer()) return static_cast<double>(i->get());
  const auto* f = node.as_floating_point();
  if (f == nullptr) fail(node.source(), field, "expected a number");
  if (!std::isfinite(f->get())) fail(node.source(), field, "expected a finite number");
  return f->get();
}

bool Loader::boolean(const toml::node& node, const std::string& field) const {
  const auto* value = node.as_boolean();
  if (value == nullptr) fail(node.source(), field, "expected true or false");
  return value->get();
}

std::vector<int32_t> Loader::integers(const toml::node& node, const std::string& field,
                                      std::size_t max_count) const {
  const auto* array = node.as_array();
  if (array == nullptr) fail(node.source(), field, "expected an array of integers");
  if (array->size() > max_count) {
    fail(node.source(), field,
         "at most " + std::to_string(max_count) + " values, got " + std::to_string(array->size()));
  }
  std::vector<int32_t> values;
  for (std::size_t i = 0; i < array->size(); ++i) {
    values.push_back(
        integer(*array->get(i), field + "[" + std::to_string(i) + "]", kInt32Min, kInt32Max));
  }
  return values;
}

// ---- Sections ----------------------------------------------------------------------------

void Loader::for_each_record(const toml::table& root, const char* key, const Keys& keys,
                             const std::function<void(Fields&)>& each, const std::string& prefix) {
  const toml::node* node = root.get(key);
  if (node == nullptr) return;
  const auto* array = node->as_array();
  if (array == nullptr) fail(node->source(), prefix + key, "expected an array of tables");
  for (std::size_t i = 0; i < array->size(); ++i) {
    const toml::node& element = *array->get(i);
    const std::string path = prefix + std::string(key) + "[" + std::to_string(i) + "]";
    const auto* table = element.as_table();
    if (table == nullptr) fail(element.source(), path, "expected a table");
    guarded([&] {
      Fields fields(*this, *table, path, keys);
      fields.check_keys();
      each(fields);
    });
  }
}

void Loader::guarded(const std::function<void()>& step) {
  try {
    step();
  } catch (const ConfigError& e) {
    if (errors_ == nullptr) throw;
    errors_->push_back(e.line);
  }
}

void Loader::note_name(Registry& registry, const char* what, const std::string& name,
                       const toml::node& node, const std::string& field) {
  auto [it, inserted] = registry.emplace(name_key(name), Seen{node.source().begin.line, field});
  if (!inserted) {
    warn(node.source(), field,
         std::string("duplicate ") + what + " " + in_quotes(name) + ", first at line " +
             std::to_string(it->second.line) + " (" + it->second.field +
             "); lookups find the first");
  }
}

void Loader::load(const toml::table& root) {
  for (auto&& entry : root) {
    const toml::key& key = entry.first;  // a lambda may not capture a structured binding
    if (kSections.count(std::string(key.str())) == 0) {
      guarded([&] {
        fail(key.source(), std::string(key.str()),
             unknown_key(key.str(), Keys(kSections.begin(), kSections.end())));
      });
    }
  }
  check_image_size(root);
  if (const toml::node* system = root.get("system")) {
    guarded([&] {
      const auto* table = system->as_table();
      if (table == nullptr) fail(system->source(), "system", "expected a table");
      Fields fields(*this, *table, "system", kSystemKeys);
      load_system(fields);
    });
  }
  for_each_record(root, "modules", kModuleKeys, [this](Fields& f) { load_module(f); });
  const Keys all_driver_keys = driver_keys();
  for_each_record(root, "drivers", all_driver_keys, [this](Fields& f) { load_driver(f); });
  for_each_record(root, "enums", kEnumKeys, [this](Fields& f) { load_enum(f); });
  for_each_record(root, "digital", kDigitalKeys, [this](Fields& f) { load_digital(f); });
  for_each_record(root, "analog", kAnalogKeys, [this](Fields& f) { load_analog(f); });
  for_each_record(root, "string", kStringKeys, [this](Fields& f) { load_string(f); });
  for_each_record(root, "functions", kFunctionKeys, [this](Fields& f) { load_function(f); });
  for_each_record(root, "alarms", kAlarmKeys, [this](Fields& f) { load_alarm(f); });
  for_each_record(root, "datalogs", kDatalogKeys, [this](Fields& f) { load_datalog(f); });
  guarded([&] { load_host(root); });
  guarded([&] { check_datalogs_have_a_home(root); });
  if (vocabulary_) add_standard_vocabulary(builder_);
  // After the file's alarms: an entry of the pool that the file writes itself stands.
  if (system_alarms_) add_standard_system_alarms(builder_);
  warn_about_missing_defaults();
}

void Loader::check_image_size(const toml::table& root) {
  // Counted from the file before any record is built, so an oversized equipment fails at
  // once instead of filling memory first.
  auto count = [&root](const char* key) -> uint32_t {
    const toml::node* node = root.get(key);
    const toml::array* array = node ? node->as_array() : nullptr;
    return array ? static_cast<uint32_t>(array->size()) : 0;
  };
  detail::DbCounts c;
  c.modules = count("modules");
  c.drivers = count("drivers");
  c.enums = count("enums");
  c.digitals = count("digital");
  c.analogs = count("analog");
  c.strings = count("string");
  c.functions = count("functions");
  c.alarms = count("alarms");
  const uint64_t size = detail::plan_image(c).total_size;
  if (size > detail::kMaxImageBytes) throw ConfigError{file_ + ": " + image_too_large(size)};
}

void Loader::warn_about_missing_defaults() {
  // The library posts faults it finds itself on the first free alarm of 800..898; without
  // 800 there is none.
  if (!system_alarms_ && alarm_ids_.count(kFirstSystemAlarm) == 0) {
    warn("alarms",
         "no system alarm 800 (pool 800..898): faults the library finds itself (a "
         "routine that cannot be run, for example) are only logged, never shown to "
         "the operator");
  }
  if (!vocabulary_ && digitals_.count(name_key("CTC.Language")) == 0) {  // the vocabulary adds it
    warn("digital",
         "no point \"CTC.Language\": the language cannot be switched at run time "
         "and every routine shows the English texts");
  }
}

void Loader::load_system(Fields& f) {
  // Every key after a [system] header belongs to the system table, so a large table written
  // below it would silently go missing.
  for (auto&& [key, value] : f.table()) {
    (void)value;
    if (std::string(key.str()) != "system" && kSections.count(std::string(key.str())) != 0) {
      fail(key.source(), f.field(key.str()),
           "belongs at the top level; write [system] after it, at the end of the file");
    }
  }
  f.check_keys();
  MEM_SYSTEM_STRU& s = builder_.system();
  // Texts that are not given keep the builder's defaults.
  auto set_text = [&f](const char* key, char* dst, std::size_t width) {
    if (f.table().contains(key)) detail::copy_text(dst, width, f.text(key, width));
  };
  set_text("user_name", s.user_name, sizeof s.user_name);
  set_text("group_name", s.group_name, sizeof s.group_name);
  s.user_level = f.integer("user_level", 0, kMaxUserLevel, s.user_level);

  if (const toml::node* node = f.get("language")) {
    if (const auto* name = node->as_string()) {
      if (name->get() == "en") {
        s.language = Vexlor::LANGUAGE_ENGLISH;
      } else if (name->get() == "zh") {
        s.language = Vexlor::LANGUAGE_CHINESE;
      } else {
        fail(node->source(), f.field("language"),
             "unknown language " + in_quotes(name->get()) + " (en, zh, 0 or 1)");
      }
    } else if (node->is_integer()) {
      s.language = integer(*node, f.field("language"), 0, 1);
    } else {
      fail(node->source(), f.field("language"), "expected \"en\", \"zh\", 0 or 1");
    }
  }

  set_text("database_path", s.database_path, sizeof s.database_path);
  set_text("alarm_description_path", s.alarm_description_path, sizeof s.alarm_description_path);
  set_text("history_path", s.history_path, sizeof s.history_path);
  set_text("navigation_path", s.navigation_path, sizeof s.navigation_path);
  set_text("user_code_version", s.user_code_version, sizeof s.user_code_version);
  set_text("project_id", s.project_id, sizeof s.project_id);
  set_text("machine_path", s.machine_path, sizeof s.machine_path);
  s.simulation = f.boolean("simulation", s.simulation != 0) ? 1 : 0;
  s.fa_type = f.integer("fa_type", kInt32Min, kInt32Max, s.fa_type);
  if (f.table().contains("main_form")) {
    const std::string main_form = f.required_text("main_form", sizeof(MEM_FUNCTION_SP_STRU::name));
    check_name(*f.get("main_form"), f.field("main_form"), main_form);
    builder_.set_main_form(main_form);
  }
  if (const toml::node* log = f.get("log")) load_log(*log, f.field("log"));
  vocabulary_ = f.boolean("standard_vocabulary", false);
  system_alarms_ = f.boolean("standard_system_alarms", false);
}

void Loader::load_log(const toml::node& node, const std::string& field) {
  const auto* table = node.as_table();
  if (table == nullptr) fail(node.source(), field, "expected a table");
  MEM_SYSTEM_STRU& s = builder_.system();
  for (auto&& [key, value] : *table) {
    const std::string tag(key.str());
    const std::string path = field + "." + tag;
    std::size_t type = 0;
    while (type < std::size(kLogTags) && tag != kLogTags[type]) ++type;
    if (type == std::size(kLogTags)) {
      type = tag.size() == 1 && tag[0] >= '0' && tag[0] < '0' + static_cast<int>(kLogSwitches)
                 ? static_cast<std::size_t>(tag[0] - '0')
                 : kLogSwitches;
    }
    if (type == kLogSwitches) {
      Keys tags(std::begin(kLogTags), std::end(kLogTags));
      fail(key.source(), path, unknown_key(tag, tags));
    }
    const auto* setting = value.as_string();
    if (setting == nullptr) fail(value.source(), path, "expected a string");
    const std::string& v = setting->get();
    // The first switch writes the console line, the second the log file line.
    bool console = false, file = false;
    if (v == "both") {
      console = file = true;
    } else if (v == "console") {
      console = true;
    } else if (v == "file") {
      file = true;
    } else if (v != "off") {
      fail(value.source(), path,
           "unknown log setting " + in_quotes(v) + " (both, console, file or off)");
    }
    s.log_switch_first[type] = console ? 1 : 0;
    s.log_switch_second[type] = file ? 1 : 0;
  }
}

void Loader::load_module(Fields& f) {
  const std::string id = f.required_text("id", sizeof(MEM_MODULE_SP_STRU::id));
  check_name(*f.get("id"), f.field("id"), id);
  const std::string name = f.text("name", sizeof(MEM_MODULE_SP_STRU::name), id);
  if (name.empty()) fail(f.get("name")->source(), f.field("name"), "must not be empty");
  if (f.get("name")) check_name(*f.get("name"), f.field("name"), name);

  const toml::node& kind_node = f.require("kind");
  const auto* kind_name = kind_node.as_string();
  if (kind_name == nullptr) fail(kind_node.source(), f.field("kind"), "expected a string");
  const KindInfo* kind = nullptr;
  for (const KindInfo& k : kKinds) {
    if (kind_name->get() == k.name) kind = &k;
  }
  if (kind == nullptr) {
    fail(kind_node.source(), f.field("kind"),
         "unknown module kind " + in_quotes(kind_name->get()) + " (CM, BM, TM or PM)");
  }

  int32_t side = 0;
  if (const toml::node* node = f.get("side")) {
    side = integer(*node, f.field("side"), 0, kind->max_side,
                   std::string(" for a ") + kind->name + " module");
    auto taken = module_sides_.find({kind->kind, side});
    if (taken != module_sides_.end()) {
      fail(node->source(), f.field("side"),
           std::string(kind->name) + " side " + std::to_string(side) + " is already taken by " +
               taken->second.field + " (line " + std::to_string(taken->second.line) + ")");
    }
  } else {
    // The lowest side of the kind not taken yet.
    while (module_sides_.count({kind->kind, side}) != 0) ++side;
    if (side > kind->max_side) {
      fail(f.table().source(), f.field("side"),
           std::string("no free side left for a ") + kind->name + " module (0.." +
               std::to_string(kind->max_side) + ")");
    }
  }
  const int32_t alarm_base = f.integer("alarm_base", 0, kMaxAlarmBase, 0);
  const std::string annotation =
      f.text("annotation", sizeof(MEM_SYSTEM_STRU::module_annotations[0][0]));

  const toml::node& id_node = *f.get("id");
  auto [first, inserted] = module_ids_.emplace(id, Seen{id_node.source().begin.line, f.path()});
  if (!inserted) {
    fail(id_node.source(), f.field("id"),
         "duplicate module ID " + in_quotes(id) + ", first at line " +
             std::to_string(first->second.line) + " (" + first->second.field + ")");
  }
  const toml::node& name_node = f.get("name") ? *f.get("name") : id_node;
  auto [named, fresh] =
      module_names_.emplace(name, Seen{name_node.source().begin.line, f.field("name")});
  if (!fresh) {
    warn(name_node.source(), f.field("name"),
         "duplicate module name " + in_quotes(name) + ", first at line " +
             std::to_string(named->second.line) + " (" + named->second.field +
             "); lookups find the first");
  }
  module_sides_[{kind->kind, side}] = Seen{f.table().source().begin.line, f.path()};
  builder_.add_module(id, name, kind->kind, side, alarm_base, annotation);
}

void Loader::load_driver(Fields& f) {
  const std::string name = f.required_text("name", sizeof(MEM_DRIVER_SP_STRU::name));
  note_name(drivers_, "driver", name, *f.get("name"), f.field("name"));
  const int32_t type = f.integer("type", kInt32Min, kInt32Max, 0);
  const std::vector<int32_t> params = f.integers("params", kDriverParams);
  const bool offline = f.boolean("offline", false);

  int32_t values[kDriverParams] = {};
  std::copy(params.begin(), params.end(), values);
  const DriverKind* kind = find_driver_kind(type);
  for (auto&& [key, value] : f.table()) {
    if (std::find(kDriverKeys.begin(), kDriverKeys.end(), key.str()) != kDriverKeys.end()) continue;
    if (kind == nullptr || std::find(kind->driver_keys.begin(), kind->driver_keys.end(),
                                     key.str()) == kind->driver_keys.end()) {
      std::string owner;
      for (const DriverKind& k : driver_kinds()) {
        if (std::find(k.driver_keys.begin(), k.driver_keys.end(), key.str()) !=
            k.driver_keys.end()) {
          owner += (owner.empty() ? "" : ", ") + k.name + " (type " + std::to_string(k.type) + ")";
        }
      }
      fail(value.source(), f.field(key.str()),
           "key " + in_quotes(std::string(key.str())) + " belongs to driver type " + owner +
               ", not to type " + std::to_string(type));
    }
  }
  if (kind != nullptr) {
    if (f.get("params") != nullptr) {
      fail(f.get("params")->source(), f.field("params"),
           "a " + kind->name + " driver takes its readable keys, not params");
    }
    const KindTable table = kind_table(f.table(), f.path(), &kind->driver_keys);
    if (auto e = kind->driver_params(table, values)) fail_kind(f.table(), f.path(), *e);
  }

  const int index = builder_.add_driver(name, type);
  MEM_DRIVER_SP_STRU& d = builder_.driver(index);
  std::copy(std::begin(values), std::end(values), d.params);
  if (offline) d.params[Vexlor::kDriverParamOffline] = 1;
}

void Loader::load_enum(Fields& f) {
  const std::string name = f.required_text("name", sizeof(MEM_ENUM_SP_STRU::name));
  note_name(enums_, "enumeration", name, *f.get("name"), f.field("name"));

  std::vector<std::pair<std::string, int32_t>> items;
  if (const toml::node* node = f.get("items")) {
    const std::string field = f.field("items");
    const auto* array = node->as_array();
    if (array == nullptr) fail(node->source(), field, "expected an array of [\"text\", value]");
    if (array->size() > kEnumItems) {
      fail(
          node->source(), field,
          "at most " + std::to_string(kEnumItems) + " items, got " + std::to_string(array->size()));
    }
    for (std::size_t i = 0; i < array->size(); ++i) {
      const toml::node& item = *array->get(i);
      const std::string path = field + "[" + std::to_string(i) + "]";
      const auto* pair = item.as_array();
      if (pair == nullptr || pair->size() != 2) {
        fail(item.source(), path, "expected [\"text\", value]");
      }
      items.emplace_back(text(*pair->get(0), path, kEnumTextWidth),
                         integer(*pair->get(1), path, kInt32Min, kInt32Max));
    }
  }
  const int index = builder_.add_enum(name);
  for (const auto& [item_text, value] : items) builder_.add_enum_item(index, item_text, value);
}

std::pair<int32_t, int32_t> Loader::resolve_driver(Fields& f, std::string_view key) {
  const toml::node* node = f.get(key);
  if (node == nullptr) return {Vexlor::VEXLOR_UNUSED_POINT, 0};
  const std::string name = text(*node, f.field(key), sizeof(MEM_DRIVER_SP_STRU::name));
  if (name.empty()) return {Vexlor::VEXLOR_UNUSED_POINT, 0};
  const int index = builder_.find_driver(name);
  if (index < 0) fail(node->source(), f.field(key), "unknown driver " + in_quotes(name));
  return {index, builder_.driver(index).type};
}

KindTable Loader::kind_table(const toml::table& table, const std::string& field,
                             const std::vector<std::string>* only) const {
  KindTable out;
  for (auto&& [key, value] : table) {
    if (only != nullptr && std::find(only->begin(), only->end(), key.str()) == only->end()) {
      continue;
    }
    KindValue v;
    v.key = std::string(key.str());
    v.line = value.source().begin.line;
    if (const auto* i = value.as_integer()) {
      v.value = i->get();
    } else if (const auto* d = value.as_floating_point()) {
      v.value = d->get();
    } else if (const auto* t = value.as_string()) {
      v.value = t->get();
    } else if (const auto* b = value.as_boolean()) {
      v.value = b->get();
    } else {
      fail(value.source(), field + "." + v.key, "expected a number, a text or true/false");
    }
    out.push_back(std::move(v));
  }
  return out;
}

void Loader::fail_kind(const toml::table& table, const std::string& field,
                       const KindError& e) const {
  if (!e.key.empty()) {
    if (const toml::node* node = table.get(e.key)) fail(node->source(), field + "." + e.key, e.message);
  }
  fail(table.source(), field, e.message);
}

std::vector<int32_t> Loader::point_params(Fields& f, std::string_view key, PointKind kind,
                                          bool output, int32_t driver, std::size_t count) {
  const toml::node* node = f.get(key);
  const DriverKind* driver_kind =
      driver >= 0 ? find_driver_kind(builder_.driver(driver).type) : nullptr;
  const std::string field = f.field(key);
  std::vector<int32_t> values(count, 0);
  if (driver_kind == nullptr) {
    if (node != nullptr && node->is_table()) {
      fail(node->source(), field,
           driver < 0 ? "a mapping table needs a " + std::string(output ? "output" : "input") +
                            " driver"
                      : "driver " + in_quotes(builder_.driver(driver).name) + " (type " +
                            std::to_string(builder_.driver(driver).type) +
                            ") takes numbers here, not a mapping table");
    }
    if (count == 1) {
      values[0] = f.integer(key, kInt32Min, kInt32Max, 0);
    } else {
      const std::vector<int32_t> given = f.integers(key, count);
      std::copy(given.begin(), given.end(), values.begin());
    }
    return values;
  }
  const std::string need = "driver " + in_quotes(builder_.driver(driver).name) + " (" +
                           driver_kind->name + ") needs a mapping table here";
  if (node == nullptr) fail(f.table().source(), field, need);
  const toml::table* table = node->as_table();
  if (table == nullptr) fail(node->source(), field, need);
  const KindTable kind_values = kind_table(*table, field);
  if (auto e = driver_kind->point_params(kind, output, kind_values, values.data(), count)) {
    fail_kind(*table, field, *e);
  }
  return values;
}

PointCommon Loader::load_point_common(Fields& f) {
  PointCommon c;
  std::tie(c.idrv_point, c.idrv_type) = resolve_driver(f, "input_driver");
  std::tie(c.odrv_point, c.odrv_type) = resolve_driver(f, "output_driver");
  c.mode = f.integer("mode", kInt32Min, kInt32Max, 0);
  c.annotation = f.text("annotation", kAnnotationWidth);
  c.append = f.text("append", kAppendWidth);
  c.sintlk = f.boolean("setpoint_interlock", false);
  c.vintlk = f.boolean("value_interlock", false);
  if (const toml::node* node = f.get("tags")) {
    const std::string field = f.field("tags");
    const auto* array = node->as_array();
    if (array == nullptr) fail(node->source(), field, "expected an array of names");
    if (array->size() > kTagCount) {
      fail(node->source(), field,
           "at most " + std::to_string(kTagCount) + " names, got " + std::to_string(array->size()));
    }
    for (std::size_t i = 0; i < array->size(); ++i) {
      c.tags.push_back(text(*array->get(i), field + "[" + std::to_string(i) + "]", kTagNameWidth));
    }
  }
  c.tag_type = f.text("tag_type", kTagTypeWidth);
  c.tag_flag = f.boolean("tag", !c.tags.empty());
  return c;
}

void Loader::load_digital(Fields& f) {
  const std::string name = f.required_text("name", sizeof(MEM_DIGITAL_SP_STRU::name));
  check_name(*f.get("name"), f.field("name"), name);
  note_name(digitals_, "digital point", name, *f.get("name"), f.field("name"));
  const std::string unit = f.text("unit", sizeof(MEM_DIGITAL_SP_STRU::unit));

  int32_t enum_point = -1;
  int32_t min = 0, max = 1;
  if (const toml::node* node = f.get("enum")) {
    const std::string enum_name = text(*node, f.field("enum"), sizeof(MEM_ENUM_SP_STRU::name));
    if (!enum_name.empty()) {
      enum_point = builder_.find_enum(enum_name);
      if (enum_point < 0) {
        fail(node->source(), f.field("enum"), "unknown enumeration " + in_quotes(enum_name));
      }
      // Without explicit limits the point takes the range of its enumeration's values.
      const MEM_ENUM_SP_STRU& e = builder_.enumeration(enum_point);
      if (e.item_count > 0) {
        min = *std::min_element(e.values, e.values + e.item_count);
        max = *std::max_element(e.values, e.values + e.item_count);
      }
    }
  }
  min = f.integer("min", kInt32Min, kInt32Max, min);
  if (const toml::node* node = f.get("max")) {
    max = integer(*node, f.field("max"), kInt32Min, kInt32Max);
    if (max < min) {
      fail(node->source(), f.field("max"),
           "max " + std::to_string(max) + " is below min " + std::to_string(min));
    }
  } else if (max < min) {
    max = min;
  }
  int32_t init = (0 >= min && 0 <= max) ? 0 : min;
  if (const toml::node* node = f.get("init")) init = integer(*node, f.field("init"), min, max);

  const PointCommon common = load_point_common(f);
  const std::vector<int32_t> in_params = point_params(
      f, "in_params", PointKind::Digital, false, common.idrv_point, kDigitalParams);
  const std::vector<int32_t> out_params = point_params(
      f, "out_params", PointKind::Digital, true, common.odrv_point, kDigitalParams);

  const int index = builder_.add_digital(name, init);
  MEM_DIGITAL_SP_STRU& d = builder_.digital(index);
  detail::copy_text(d.unit, unit);
  d.enum_point = enum_point;
  d.min = min;
  d.max = max;
  d.init = init;
  std::fill(std::begin(d.iparam), std::end(d.iparam), 0);
  std::fill(std::begin(d.oparam), std::end(d.oparam), 0);
  std::copy(in_params.begin(), in_params.end(), d.iparam);
  std::copy(out_params.begin(), out_params.end(), d.oparam);
  apply_common(d, common);
}

void Loader::load_analog(Fields& f) {
  const std::string name = f.required_text("name", sizeof(MEM_ANALOG_SP_STRU::name));
  check_name(*f.get("name"), f.field("name"), name);
  note_name(analogs_, "analog point", name, *f.get("name"), f.field("name"));
  const std::string unit = f.text("unit", sizeof(MEM_ANALOG_SP_STRU::unit));
  const int32_t decimal = f.integer("decimal", 0, kMaxDecimal, kDefaultDecimal);

  const double min = f.number("min", -1e9);
  double max = 1e9;
  if (const toml::node* node = f.get("max")) {
    max = number(*node, f.field("max"));
    if (max < min) {
      fail(node->source(), f.field("max"),
           "max " + format_number(max) + " is below min " + format_number(min));
    }
  } else if (max < min) {
    max = min;
  }
  double init = (0.0 >= min && 0.0 <= max) ? 0.0 : min;
  if (const toml::node* node = f.get("init")) {
    init = number(*node, f.field("init"));
    if (init < min || init > max) {
      fail(node->source(), f.field("init"),
           "value " + format_number(init) + " is out of range " + format_number(min) + ".." +
               format_number(max));
    }
  }

  const PointCommon common = load_point_common(f);
  const std::vector<int32_t> in_params = point_params(
      f, "in_params", PointKind::Analog, false, common.idrv_point, kAnalogParams);
  const std::vector<int32_t> out_params = point_params(
      f, "out_params", PointKind::Analog, true, common.odrv_point, kAnalogParams);

  const int index = builder_.add_analog(name, init);
  MEM_ANALOG_SP_STRU& a = builder_.analog(index);
  detail::copy_text(a.unit, unit);
  a.decimal = decimal;
  a.min = min;
  a.max = max;
  a.init = init;
  std::fill(std::begin(a.iparam), std::end(a.iparam), 0);
  std::fill(std::begin(a.oparam), std::end(a.oparam), 0);
  std::copy(in_params.begin(), in_params.end(), a.iparam);
  std::copy(out_params.begin(), out_params.end(), a.oparam);
  apply_common(a, common);
}

void Loader::load_string(Fields& f) {
  const std::string name = f.required_text("name", sizeof(MEM_STRING_SP_STRU::name));
  check_name(*f.get("name"), f.field("name"), name);
  note_name(strings_, "string point", name, *f.get("name"), f.field("name"));
  const std::string init = f.text("init", sizeof(MEM_STRING_SP_STRU::init));
  const PointCommon common = load_point_common(f);
  const int32_t in_param =
      point_params(f, "in_param", PointKind::String, false, common.idrv_point, 1)[0];
  const int32_t out_param =
      point_params(f, "out_param", PointKind::String, true, common.odrv_point, 1)[0];

  const int index = builder_.add_string(name, init);
  MEM_STRING_SP_STRU& s = builder_.string_point(index);
  detail::copy_text(s.init, init);
  s.iparam = in_param;
  s.oparam = out_param;
  apply_common(s, common);
}

void Loader::load_function(Fields& f) {
  const std::string name = f.required_text("name", sizeof(MEM_FUNCTION_SP_STRU::name));
  check_name(*f.get("name"), f.field("name"), name);
  note_name(functions_, "function", name, *f.get("name"), f.field("name"));
  const std::string path = f.text("path", sizeof(MEM_FUNCTION_SP_STRU::path));
  const std::string arg_param = f.text("arg_param", sizeof(MEM_FUNCTION_SP_STRU::load_arg_param));
  const std::string run_param = f.text("run_param", sizeof(MEM_FUNCTION_SP_STRU::load_run_param));
  const int32_t load_style = f.integer("load_style", kInt32Min, kInt32Max, 0);
  const int32_t level = f.integer("level", kInt32Min, kInt32Max, 0);
  const bool is_virtual = f.boolean("virtual", false);
  const std::string annotation = f.text("annotation", sizeof(MEM_FUNCTION_SP_STRU::annotation));
  const std::string append = f.text("append", sizeof(MEM_FUNCTION_SP_STRU::append));
  const int32_t pool_count = f.integer("pool_count", 0, kInt32Max, 0);

  const int index = builder_.add_function(name);
  MEM_FUNCTION_SP_STRU& fn = builder_.function(index);
  detail::copy_text(fn.path, path);
  detail::copy_text(fn.load_arg_param, arg_param);
  detail::copy_text(fn.load_run_param, run_param);
  fn.load_style = load_style;
  fn.level = level;
  fn.virtual_flag = is_virtual ? 1 : 0;
  detail::copy_text(fn.annotation, annotation);
  detail::copy_text(fn.append, append);
  fn.pool_count = pool_count;
}

void Loader::load_alarm(Fields& f) {
  const toml::node& id_node = f.require("id");
  const int32_t id = integer(id_node, f.field("id"), 0, kInt32Max);
  auto [first, inserted] = alarm_ids_.emplace(id, Seen{id_node.source().begin.line, f.path()});
  if (!inserted) {
    fail(id_node.source(), f.field("id"),
         "duplicate alarm ID " + std::to_string(id) + ", first at line " +
             std::to_string(first->second.line) + " (" + first->second.field + ")");
  }

  int32_t module_point = -1;
  if (const toml::node* node = f.get("module")) {
    const std::string module = text(*node, f.field("module"), sizeof(MEM_MODULE_SP_STRU::id));
    if (!module.empty()) {
      module_point = builder_.find_module(module);
      if (module_point < 0)
        fail(node->source(), f.field("module"), "unknown module " + in_quotes(module));
      const int32_t base = builder_.module(module_point).alarm_base;
      if (id / 1000 != base) {
        warn(id_node.source(), f.field("id"),
             "alarm ID " + std::to_string(id) + " is outside the block of module " +
                 in_quotes(module) + " (" + std::to_string(int64_t{base} * 1000) + ".." +
                 std::to_string(int64_t{base} * 1000 + 999) + ")");
      }
    }
  }
  const int32_t level = f.integer("level", 0, kMaxAlarmLevel, 1);
  const std::string name = f.required_text("name", sizeof(MEM_ALARM_SP_STRU::name));
  const std::string alarm_text = f.text("text", sizeof(MEM_ALARM_SP_STRU::text));
  const std::string description = f.text("description", sizeof(MEM_ALARM_SP_STRU::description));
  const bool used = f.boolean("used", true);

  std::vector<std::pair<Vexlor::ALARM_STYLE, std::string>> choices;
  if (const toml::node* node = f.get("choices")) {
    const std::string field = f.field("choices");
    const auto* array = node->as_array();
    if (array == nullptr)
      fail(node->source(), field, "expected an array of [\"NAME\", \"caption\"]");
    if (array->size() > kAlarmChoices) {
      fail(node->source(), field,
           "at most " + std::to_string(kAlarmChoices) + " choices, got " +
               std::to_string(array->size()));
    }
    for (std::size_t i = 0; i < array->size(); ++i) {
      const toml::node& item = *array->get(i);
      const std::string path = field + "[" + std::to_string(i) + "]";
      const auto* pair = item.as_array();
      if (pair == nullptr || pair->size() != 2 ||
          !(pair->get(0)->is_string() || pair->get(0)->is_integer())) {
        fail(item.source(), path, "expected [\"NAME\", \"caption\"] or [number, \"caption\"]");
      }
      // An answer by its name (with or without "ALM_") or by its ALARM_STYLE number.
      const auto* known = std::end(kChoices);
      std::string shown;
      if (const auto* number = pair->get(0)->as_integer()) {
        shown = std::to_string(number->get());
        known = std::find_if(std::begin(kChoices), std::end(kChoices),
                             [&](const auto& c) { return c.second == number->get(); });
      } else {
        std::string choice = pair->get(0)->as_string()->get();
        shown = in_quotes(choice);
        if (choice.compare(0, 4, "ALM_") == 0) choice.erase(0, 4);
        known = std::find_if(std::begin(kChoices), std::end(kChoices),
                             [&](const auto& c) { return choice == c.first; });
      }
      if (known == std::end(kChoices)) {
        fail(pair->get(0)->source(), path,
             "unknown choice " + shown +
                 " (CLEAR, RETRY, WAIT, IGNORE, DISABLE, ENABLE, STOP, ABORT or 0 to 7)");
      }
      choices.emplace_back(known->second, text(*pair->get(1), path, kChoiceWidth));
    }
  }

  const int index = builder_.add_alarm(id, name, alarm_text);
  MEM_ALARM_SP_STRU& a = builder_.alarm(index);
  a.module_point = module_point;
  a.level = level;
  a.used = used ? 1 : 0;
  detail::copy_text(a.description, description);
  for (const auto& [style, caption] : choices) builder_.add_alarm_choice(index, style, caption);
}

void Loader::load_datalog(Fields& f) {
  const std::string name = f.required_text("name", sizeof(MEM_DIGITAL_SP_STRU::name));
  const toml::node& name_node = *f.get("name");
  auto [first, inserted] =
      datalogs_.emplace(name_key(name), Seen{name_node.source().begin.line, f.path()});
  if (!inserted) {
    fail(name_node.source(), f.field("name"),
         "duplicate data-log table " + in_quotes(name) + ", first at line " +
             std::to_string(first->second.line) + " (" + first->second.field + ")");
  }

  const toml::node& points_node = f.require("points");
  const std::string field = f.field("points");
  const auto* array = points_node.as_array();
  if (array == nullptr) fail(points_node.source(), field, "expected an array of point names");
  std::vector<std::string> points;
  for (std::size_t i = 0; i < array->size(); ++i) {
    const toml::node& item = *array->get(i);
    const std::string path = field + "[" + std::to_string(i) + "]";
    std::string point = text(item, path, sizeof(MEM_DIGITAL_SP_STRU::name));
    if (point.empty()) fail(item.source(), path, "must not be empty");
    // Names with "$" keys or a bracketed module name are resolved by the routine at run time.
    const std::string key = name_key(point);
    const bool run_time = point.find_first_of("$[") != std::string::npos;
    if (!run_time && digitals_.count(key) == 0 && analogs_.count(key) == 0 &&
        strings_.count(key) == 0) {
      warn(item.source(), path,
           "no digital, analog or string point " + in_quotes(point) + " in this configuration");
    }
    points.push_back(std::move(point));
  }
  builder_.add_datalog(name, std::move(points));
}

// ---- The host link's mapping table ----------------------------------------------------------

void Loader::load_host(const toml::table& root) {
  const toml::node* node = root.get("host");
  if (node == nullptr) return;
  const auto* table = node->as_table();
  if (table == nullptr) fail(node->source(), "host", "expected a table");
  Fields fields(*this, *table, "host", kHostKeys);
  fields.check_keys();
  for_each_record(*table, "variables", kHostVariableKeys,
                  [this](Fields& f) { load_host_variable(f); }, "host.");
  for_each_record(*table, "constants", kHostConstantKeys,
                  [this](Fields& f) { load_host_constant(f); }, "host.");
  for_each_record(*table, "commands", kHostCommandKeys,
                  [this](Fields& f) { load_host_command(f); }, "host.");
}

void Loader::load_host_variable(Fields& f) {
  HostVariable v;
  // VIDs 1 to 3999 are the default table's (the vocabulary's variables).
  v.vid = f.integer("vid", 4000, kInt32Max, 0);
  if (f.get("vid") == nullptr) fail(f.require("vid").source(), f.field("vid"), "is required");
  v.point = f.required_text("point", sizeof(MEM_DIGITAL_SP_STRU::name));
  const std::string key = name_key(v.point);
  if (digitals_.count(key) == 0 && analogs_.count(key) == 0 && strings_.count(key) == 0) {
    fail(f.get("point")->source(), f.field("point"),
         "no digital, analog or string point " + in_quotes(v.point) + " in this configuration");
  }
  v.cls = f.text("class", 3, "SV");
  if (v.cls != "SV" && v.cls != "DV") {
    fail(f.get("class")->source(), f.field("class"), "must be \"SV\" or \"DV\"");
  }
  v.name = f.text("name", 64, v.point);
  v.unit = f.text("unit", 16);
  for (const HostVariable& other : builder_.host().variables) {
    if (other.vid == v.vid) {
      fail(f.get("vid")->source(), f.field("vid"), "duplicate VID " + std::to_string(v.vid));
    }
  }
  builder_.host().variables.push_back(std::move(v));
}

void Loader::load_host_constant(Fields& f) {
  HostConstant c;
  // ECIDs 1 to 99 are the host link's own constants.
  c.ecid = f.integer("ecid", 100, kInt32Max, 0);
  if (f.get("ecid") == nullptr) fail(f.require("ecid").source(), f.field("ecid"), "is required");
  c.point = f.required_text("point", sizeof(MEM_DIGITAL_SP_STRU::name));
  if (digitals_.count(name_key(c.point)) == 0) {
    fail(f.get("point")->source(), f.field("point"),
         "no digital point " + in_quotes(c.point) + " in this configuration");
  }
  c.name = f.text("name", 64, c.point);
  c.unit = f.text("unit", 16);
  c.min = f.number("min", 0);
  c.max = f.number("max", 0);
  c.def = f.number("default", c.min);
  if (c.min > c.max) fail(f.require("max").source(), f.field("max"), "is below min");
  if (c.def < c.min || c.def > c.max) {
    fail(f.get("default") != nullptr ? f.get("default")->source() : f.require("ecid").source(),
         f.field("default"), "is outside min..max");
  }
  for (const HostConstant& other : builder_.host().constants) {
    if (other.ecid == c.ecid) {
      fail(f.get("ecid")->source(), f.field("ecid"), "duplicate ECID " + std::to_string(c.ecid));
    }
  }
  builder_.host().constants.push_back(std::move(c));
}

void Loader::load_host_command(Fields& f) {
  HostCommand c;
  c.rcmd = f.required_text("rcmd", 64);
  if (c.rcmd.empty()) fail(f.get("rcmd")->source(), f.field("rcmd"), "must not be empty");
  c.routine = f.required_text("routine", sizeof(MEM_FUNCTION_SP_STRU::name));
  if (functions_.count(name_key(c.routine)) == 0) {
    fail(f.get("routine")->source(), f.field("routine"),
         "no function " + in_quotes(c.routine) + " in this configuration");
  }
  if (const toml::node* params = f.get("params")) {
    const auto* array = params->as_array();
    if (array == nullptr) fail(params->source(), f.field("params"), "expected an array of names");
    for (std::size_t i = 0; i < array->size(); ++i) {
      const std::string path = f.field("params") + "[" + std::to_string(i) + "]";
      std::string name = text(*array->get(i), path, 64);
      if (name.empty() || name.find(',') != std::string::npos) {
        fail(array->get(i)->source(), path, "must be a name without \",\"");
      }
      c.params.push_back(std::move(name));
    }
  }
  c.args = f.text("args", 512);
  // Every {NAME} of the argument text names a parameter.
  for (std::size_t at = c.args.find('{'); at != std::string::npos; at = c.args.find('{', at + 1)) {
    const std::size_t close = c.args.find('}', at);
    if (close == std::string::npos) break;
    const std::string name = c.args.substr(at + 1, close - at - 1);
    bool declared = false;
    for (const std::string& p : c.params) declared = declared || p == name;
    if (!declared) {
      fail(f.get("args")->source(), f.field("args"),
           "{" + name + "} is none of the command's params");
    }
  }
  for (const HostCommand& other : builder_.host().commands) {
    if (other.rcmd == c.rcmd || c.rcmd == "RUN") {
      fail(f.get("rcmd")->source(), f.field("rcmd"), "duplicate remote command " + in_quotes(c.rcmd));
    }
  }
  if (c.rcmd == "RUN") {
    fail(f.get("rcmd")->source(), f.field("rcmd"), "RUN is the host link's own command");
  }
  builder_.host().commands.push_back(std::move(c));
}

void Loader::check_datalogs_have_a_home(const toml::table& root) {
  if (builder_.datalogs().empty()) return;
  if (builder_.system().database_path[0] == '\0') {
    fail(root.get("datalogs")->source(), "datalogs",
         "data-log tables are kept below system.database_path, which is empty");
  }
}

// Reads the whole file; false with the reason when it is no configuration file to read: a
// folder, a device such as /dev/null, an empty file, or one that cannot be read.
bool read_file(const std::string& path, std::string* content, std::string* why) {
  std::error_code ec;
  const std::filesystem::file_status status = std::filesystem::status(path, ec);
  if (std::filesystem::is_directory(status)) {
    *why = "is a folder, not a configuration file";
    return false;
  }
  if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status)) {
    *why = "is not a regular file";
    return false;
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *why = std::string("cannot read the file: ") + std::strerror(errno);
    return false;
  }
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) {
    *why = "cannot read the file: read error";
    return false;
  }
  *content = text.str();
  return true;
}

// One load; with `errors` every bad record is listed there (and `error` is the first), else
// the first ends the load.
bool run_load(const std::string& path, DatabaseBuilder& builder, std::string* error,
              std::vector<std::string>* errors, std::vector<std::string>* warnings) {
  std::vector<std::string> found_errors;
  std::string message;
  try {
    std::string content;
    std::string why;
    if (!read_file(path, &content, &why)) {
      message = path + ": " + why;
    } else {
#if TOML_EXCEPTIONS
      toml::table root;
      try {
        root = toml::parse(content, path);
      } catch (const toml::parse_error& e) {
        message = syntax_error_line(path, e.source().begin.line, e.description());
      }
#else
      toml::parse_result parsed = toml::parse(content, path);
      toml::table root;
      if (!parsed) {
        const toml::parse_error& e = parsed.error();
        message = syntax_error_line(path, e.source().begin.line, e.description());
      } else {
        root = std::move(parsed).table();
      }
#endif
      if (message.empty() && root.empty()) {
        message = path + ": the configuration is empty (no system settings, modules or points)";
      }
      if (message.empty()) {
        // Warnings of a load that fails are dropped unless every finding is asked for.
        std::vector<std::string> found;
        Loader loader(path, builder, &found);
        if (errors != nullptr) loader.collect_errors(&found_errors);
        loader.load(root);
        if (warnings != nullptr && (errors != nullptr || found_errors.empty()))
          warnings->insert(warnings->end(), found.begin(), found.end());
        if (found_errors.empty()) return true;
        message = found_errors.front();
      }
    }
  } catch (const ConfigError& e) {
    message = e.line;
  } catch (const std::exception& e) {
    message = path + ": " + e.what();
  }
  if (found_errors.empty()) found_errors.push_back(message);
  if (error != nullptr) *error = message;
  if (errors != nullptr) *errors = std::move(found_errors);
  return false;
}

}  // namespace

bool load_configuration(const std::string& path, DatabaseBuilder& builder, std::string* error,
                        std::vector<std::string>* warnings) {
  return run_load(path, builder, error, nullptr, warnings);
}

bool check_configuration(const std::string& path, DatabaseBuilder& builder,
                         std::vector<std::string>* errors, std::vector<std::string>* warnings) {
  return run_load(path, builder, nullptr, errors, warnings);
}

}  // namespace vexlor::config
