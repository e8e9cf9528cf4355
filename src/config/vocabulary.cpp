// The standard vocabulary, expanded from the named point and host link item tables: each row
// becomes one name, or one name per configured module (and slot, arm or step) it indexes.
#include "config/vocabulary.h"

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <map>
#include <set>
#include <string>
#include <string_view>

#include "util/text.h"

namespace vexlor::config {
namespace {

// How a row's indices fill its format (the rules of named_points.def).
enum class Rule { PLUS1, RAW, SUFFIX, ARM, LITERAL, PM_NAME };

struct Row {
  Vexlor::IO_TYPE kind;
  int n, m;  // 0: no such index
  Rule rule;
  const char* format;
  bool rolling = false;  // a rolling message text, with its companion "<name>0"
};

constexpr Vexlor::IO_TYPE kKindDIGITAL = Vexlor::IO_D;
constexpr Vexlor::IO_TYPE kKindANALOG = Vexlor::IO_A;
constexpr Vexlor::IO_TYPE kKindSTRING = Vexlor::IO_S;

// clang-format off
constexpr Row kRows[] = {
#define VEXLOR_NAMED_POINT(item, kind, name, mode) {kKind##kind, 0, 0, Rule::LITERAL, name},
#define VEXLOR_NAMED_ROW(item, kind, n, rule, format, mode) \
  {kKind##kind, n, 0, Rule::rule, format, std::string_view(#mode) == "OWN_SET"},
#define VEXLOR_NAMED_GRID(item, kind, n, m, rule, format, mode) {kKind##kind, n, m, Rule::rule, format},
#define VEXLOR_NAMED_SETTER_NAME(item, format) {Vexlor::IO_D, 6, 0, Rule::PLUS1, format},
#include <vexlor/named/named_points.def>
#define VEXLOR_HOST_POINT(item, kind, name, mode) {kKind##kind, 0, 0, Rule::LITERAL, name},
#define VEXLOR_HOST_LP(item, kind, get_format, set_format) \
  {kKind##kind, 6, 0, Rule::PLUS1, get_format}, {kKind##kind, 6, 0, Rule::PLUS1, set_format},
#include <vexlor/host/host_items.def>
};
// clang-format on

constexpr const char* kSlotSuffix[30] = {
    "",   "2",  "3",  "4",  "5",  "6",  "7",  "8",  "9",  "10", "11", "12", "13", "14", "15",
    "16", "17", "18", "19", "20", "21", "22", "23", "24", "25", "26", "27", "28", "29", "30"};

// The configured modules by kind: side to module name.
using Sides = std::map<int, std::string>;

// The indices a row dimension of size `size` takes for the equipment: carrier modules (and
// lots, load ports, jobs), transfer modules (and robots), buffer or process modules, or every
// index (substrates, slots, arms).
std::vector<int> indices(int size, const char* format, const Sides (&modules)[4]) {
  const Sides* sides = nullptr;
  if (size == 6) sides = &modules[Vexlor::MODULE_CM];
  if (size == 10) sides = &modules[Vexlor::MODULE_TM];
  if (size == 100) {
    const bool buffer = std::string_view(format).find("BM") != std::string_view::npos;
    sides = &modules[buffer ? Vexlor::MODULE_BM : Vexlor::MODULE_PM];
  }
  std::vector<int> out;
  if (sides != nullptr) {
    for (const auto& [side, name] : *sides) {
      if (side >= 0 && side < size) out.push_back(side);
    }
  } else {
    for (int i = 0; i < size; ++i) out.push_back(i);
  }
  return out;
}

// The point name of slot (i, j) of a row; "" where the row names no point.
std::string point_name(const Row& row, int i, int j, const Sides& process_modules) {
  char name[64] = "";
  switch (row.rule) {
    case Rule::PLUS1:
      std::snprintf(name, sizeof name, row.format, i + 1, j + 1);
      break;
    case Rule::RAW:
      std::snprintf(name, sizeof name, row.format, i, j);
      break;
    case Rule::SUFFIX:
      if (j >= 30) return "";
      std::snprintf(name, sizeof name, row.format, i + 1, kSlotSuffix[j]);
      break;
    case Rule::ARM:
      std::snprintf(name, sizeof name, row.format, 'A' + j, i + 1);
      break;
    case Rule::LITERAL:
      return row.format;
    case Rule::PM_NAME: {
      auto it = process_modules.find(i);
      if (it == process_modules.end()) return "";
      std::snprintf(name, sizeof name, row.format, it->second.c_str());
      break;
    }
  }
  return name;
}

// Units by the end of a name.
std::string unit_of(std::string_view name) {
  auto ends = [&](std::string_view tail) {
    return name.size() >= tail.size() && name.substr(name.size() - tail.size()) == tail;
  };
  if (ends("_Time") || ends("_Timer") || ends("_Step_Time") || ends("_Recipe_Time")) return "s";
  if (ends("_Progress")) return "%";
  if (ends("_Rotation")) return "deg";
  if (name.find("_Extension") != std::string_view::npos || ends("_Movement") || ends("_UpDown")) {
    return "mm";
  }
  return "";
}

std::string folded(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

}  // namespace

std::vector<VocabularyPoint> standard_vocabulary(DatabaseBuilder& builder) {
  Sides modules[4];
  for (uint32_t i = 0; i < builder.counts().modules; ++i) {
    const Vexlor::MEM_MODULE_SP_STRU& m = builder.module(static_cast<int>(i));
    if (m.kind >= 0 && m.kind < 4) modules[m.kind].emplace(m.side, m.name);
  }
  std::vector<VocabularyPoint> out;
  std::set<std::string> seen;
  auto add = [&](Vexlor::IO_TYPE kind, const std::string& name) {
    if (!name.empty() && seen.insert(folded(name)).second) {
      out.push_back({kind, name, unit_of(name)});
    }
  };
  for (const Row& row : kRows) {
    if (row.format[0] == '\0') continue;  // an item without a point of its own
    if (row.n == 0) {
      add(row.kind, row.format);
      continue;
    }
    if (row.rule == Rule::LITERAL) {  // every index names the same point
      add(row.kind, row.format);
      continue;
    }
    for (int i : indices(row.n, row.format, modules)) {
      if (row.m == 0) {
        const std::string name = point_name(row, i, 0, modules[Vexlor::MODULE_PM]);
        add(row.kind, name);
        if (row.rolling && !name.empty()) add(row.kind, name + "0");
        continue;
      }
      for (int j : indices(row.m, "", modules)) {
        add(row.kind, point_name(row, i, j, modules[Vexlor::MODULE_PM]));
      }
    }
  }
  return out;
}

namespace {

// Starting values of the host link's settings: a link that works out of the box (enabled,
// passive on 127.0.0.1:5000, device 0, the usual HSMS timers, spooling on).
struct Initial {
  const char* name;
  int32_t digital;
  const char* text;
};
constexpr Initial kInitial[] = {
    {"FA.Enable", 1, nullptr},       {"FA.Local_IP", 0, "127.0.0.1"},
    {"FA.Remote_IP", 0, "127.0.0.1"}, {"FA.Local_Port", 5000, nullptr},
    {"FA.Remote_Port", 5000, nullptr}, {"FA.CtrlMD", 3, nullptr},
    {"FA.T3", 45, nullptr},          {"FA.T5", 10, nullptr},
    {"FA.T6", 5, nullptr},           {"FA.T7", 10, nullptr},
    {"FA.T8", 5, nullptr},           {"GEM.Spool_Enable", 1, nullptr},
    {"GEM.Control_State", 3, nullptr}};

const Initial* initial_of(std::string_view name) {
  for (const Initial& i : kInitial) {
    if (name == i.name) return &i;
  }
  return nullptr;
}

}  // namespace

int add_standard_vocabulary(DatabaseBuilder& builder) {
  const detail::DbCounts counts = builder.counts();
  std::set<std::string> defined;
  for (uint32_t i = 0; i < counts.digitals; ++i) defined.insert(folded(builder.digital(i).name));
  for (uint32_t i = 0; i < counts.analogs; ++i) defined.insert(folded(builder.analog(i).name));
  for (uint32_t i = 0; i < counts.strings; ++i) {
    defined.insert(folded(builder.string_point(i).name));
  }
  int wafer_size = builder.find_enum("WaferSize");
  int added = 0;
  for (const VocabularyPoint& p : standard_vocabulary(builder)) {
    if (defined.count(folded(p.name)) != 0) continue;
    ++added;
    if (p.kind == Vexlor::IO_A) {
      detail::copy_text(builder.analog(builder.add_analog(p.name)).unit, 16, p.unit);
      continue;
    }
    const Initial* initial = initial_of(p.name);
    if (p.kind == Vexlor::IO_S) {
      builder.add_string(p.name, initial != nullptr && initial->text != nullptr ? initial->text : "");
      continue;
    }
    Vexlor::MEM_DIGITAL_SP_STRU& d =
        builder.digital(builder.add_digital(p.name, initial != nullptr ? initial->digital : 0));
    d.min = std::numeric_limits<int32_t>::min() + 1;
    d.max = std::numeric_limits<int32_t>::max();
    detail::copy_text(d.unit, sizeof d.unit, p.unit);
    const std::string_view name = p.name;
    const bool carrier = name.size() > 8 && name.substr(name.size() - 8) == ".Carrier";
    if (carrier || name.rfind("CTC.WaferSize", 0) == 0) {
      if (wafer_size < 0) {
        wafer_size = builder.add_enum("WaferSize");
        builder.add_enum_item(wafer_size, "8Inch", 0);
        builder.add_enum_item(wafer_size, "12Inch", 1);
      }
      d.enum_point = wafer_size;
      d.min = 0;
      d.max = 1;
    }
  }
  return added;
}

int add_standard_system_alarms(DatabaseBuilder& builder) {
  int added = 0;
  for (int32_t id = kFirstSystemAlarm; id <= kLastSystemAlarm; ++id) {
    if (builder.find_alarm(id) >= 0) continue;  // the file's own entry stands
    const int index =
        builder.add_alarm(id, "SYSTEM_ALARM_" + std::to_string(id), "System alarm|系统报警");
    builder.alarm(index).level = 1;
    builder.add_alarm_choice(index, Vexlor::ALM_RETRY, "Retry|重试");
    builder.add_alarm_choice(index, Vexlor::ALM_IGNORE, "Ignore|忽略");
    builder.add_alarm_choice(index, Vexlor::ALM_ABORT, "Abort|中止");
    ++added;
  }
  return added;
}

}  // namespace vexlor::config
