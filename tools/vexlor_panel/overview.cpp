// The equipment at a glance, as the page's cards show it: one card per module of the module
// table (its mode and state from the scheduler blocks, the wafers in it, its posted alarms and
// its routines' states in words), one "Equipment" card for the routines and alarms of no
// module, and a header with the host link and the drivers.
#include <vexlor/instance_state.h>
#include <vexlor/vexlor.h>
#include <vexlor/vmmap.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <ctime>

#include "driver_statistics.h"
#include "panel.h"

namespace vexlor_panel {
namespace {

constexpr int kNoPoint = -99999999;  // a point the equipment does not have

// A routine's run status as the operator reads it, and its tone on the page. The raw name
// (SYS_KILLED, ...) goes along for engineers.
struct StatusWord {
  int status;
  const char* word;
  const char* tone;  // idle, busy, ok, warn, bad
};

const StatusWord kStatusWords[] = {
    {Vexlor::SYS_AVAILABLE, "Idle", "idle"},   {Vexlor::SYS_RUNNING, "Running", "busy"},
    {Vexlor::SYS_WAITTING, "Waiting", "busy"}, {Vexlor::SYS_BUSY, "Busy", "busy"},
    {Vexlor::SYS_SUCCESS, "Ended", "ok"},      {Vexlor::SYS_SKIP, "Skipped", "ok"},
    {Vexlor::SYS_ABORTED, "Aborted", "warn"},  {Vexlor::SYS_ERROR, "Failed", "bad"},
    {Vexlor::SYS_KILLED, "Stopped", "bad"},
};

struct Kind {
  const char* label;
  const char* wafer_format;  // the point of the wafer number at a slot
  int (*slots)(int i);
  int max_slots;
};

// By MODULE_TYPE. Carriers tell presence per slot ("CM1.C01_Wafer" 2: a wafer), the others
// the wafer number at each slot (0: none); slot j > 0 of a BM or PM ends in j+1.
const Kind kKinds[] = {
    {"CM", "CM%d.C%02d_Wafer", Vexlor::VSCH_Get_CM_Slot_Count, 25},
    {"BM", "CTC.BM%d_Wafer_Status", Vexlor::VSCH_Get_BM_Slot_Count, 25},
    {"TM", "CTC.T%c%d_Wafer_Status", Vexlor::VSCH_Get_TM_Finger_Count, 4},
    {"PM", "CTC.PM%d_Wafer_Status", Vexlor::VSCH_Get_PM_Slot_Count, 75},
};

bool starts_with_ignoring_case(const std::string& text, const std::string& prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    if (std::toupper(static_cast<unsigned char>(text[i])) !=
        std::toupper(static_cast<unsigned char>(prefix[i]))) {
      return false;
    }
  }
  return true;
}

}  // namespace

const char* routine_word(int status, const char** tone) {
  for (const StatusWord& w : kStatusWords) {
    if (w.status == status) {
      *tone = w.tone;
      return w.word;
    }
  }
  *tone = "bad";
  return status >= Vexlor::SYS_ERRCODE && status <= Vexlor::SYS_ERRCODE9 ? "Failed" : "Unknown";
}

std::string module_label(const std::string& name, const std::string& id) {
  if (name.empty() || name == id) return id;
  if (id.empty()) return name;
  return name + " (" + id + ")";
}

// Under mutex_: the point of that name and kind, looked up once and silently (many equipments
// lack some of the vocabulary); -1 when there is none.
int Equipment::named_point(int kind, const std::string& name) {
  const std::string key = std::to_string(kind) + name;
  auto found = named_points_.find(key);
  if (found != named_points_.end()) return found->second;
  int index = -1;
  if (!Vexlor::VIO_Find_Point(&index, static_cast<Vexlor::IO_TYPE>(kind), true, name.c_str()) ||
      index < 0) {
    index = -1;
  }
  named_points_.emplace(key, index);
  return index;
}

// Under mutex_: a digital point's value, kNoPoint when it is missing or cannot be read.
int Equipment::digital_value(const std::string& name) {
  const int p = named_point(Vexlor::IO_D, name);
  int v = 0;
  return p >= 0 && Vexlor::VDigital_Read(p, &v) ? v : kNoPoint;
}

// Under mutex_: a digital point's enumeration text (its number without one); null when the
// point is missing, "-" when it cannot be read.
void Equipment::digital_text(Json* j, const char* key, const std::string& name) {
  j->key(key);
  const int p = named_point(Vexlor::IO_D, name);
  int v = 0;
  if (p < 0) {
    j->null();
  } else if (!Vexlor::VDigital_Read(p, &v)) {
    j->value("-");
  } else if (Vexlor::VDigital_Get_Enum_Point(p) >= 0) {
    char text[64] = {};
    Vexlor::VDigital_Get_Enum_S_Data(p, v, text);
    j->value(text[0] != '\0' ? std::string(text) : std::to_string(v));
  } else {
    j->value(std::to_string(v));
  }
}

std::string Equipment::overview_json() {
  std::lock_guard<std::mutex> lock(mutex_);
  Json j;
  j.begin_object();

  // The host link: communication and control state of the GEM link points, and the messages
  // waiting in its spool while the host is away.
  j.key("host").begin_object();
  const bool host = named_point(Vexlor::IO_D, "GEM.Comm_Status") >= 0 ||
                    named_point(Vexlor::IO_D, "GEM.Control_State") >= 0;
  j.field("configured", host);
  digital_text(&j, "communication", "GEM.Comm_Status");
  digital_text(&j, "control", "GEM.Control_State");
  // Whether the link communicates, apart from the state's text (which is in the equipment's
  // language): "GEM.Comm_Status" 1.
  const int comm = named_point(Vexlor::IO_D, "GEM.Comm_Status");
  int comm_value = 0;
  j.field("communicating",
          comm >= 0 && Vexlor::VDigital_Read(comm, &comm_value) && comm_value == 1);
  const int spool = named_point(Vexlor::IO_D, "GEM.SpoolCountActual");
  j.field("spool", spool >= 0 ? Vexlor::VDigital_Read_Mem(spool) : 0);
  j.end_object();

  j.key("drivers").begin_array();
  const int drivers = Vexlor::VSystem_Get_Driver_Count();
  const std::string folder = vexlor::inspect_database().folder;
  const long long now = static_cast<long long>(std::time(nullptr));
  for (int d = 0; d < drivers; ++d) {
    int params[10] = {};
    Vexlor::VDriver_Get_Param(d, params);
    j.begin_object().field("name", Vexlor::VDriver_Get_Name(d));
    j.field("online", params[Vexlor::kDriverParamOffline] == 0);
    // A driver that a program serves: its statistics in one line, for the badge's title.
    const vexlor_tools::DriverStatistics stats =
        vexlor_tools::read_driver_statistics(folder, d, now);
    if (stats.present) j.field("statistics", vexlor_tools::driver_statistics_line(stats));
    j.end_object();
  }
  j.end_array();

  // The modules of the module table, in its order; -1 collects what belongs to none.
  struct Card {
    std::string id, name, label;
    int kind = -1, side = -1;
    std::vector<int> alarms, routines;
  };
  std::vector<Card> cards;
  const int modules = Vexlor::VSystem_Get_Module_Count();
  for (int m = 0; m < modules; ++m) {
    Card c;
    c.id = Vexlor::VModule_Get_ID(m);
    c.name = Vexlor::VModule_Get_Name(m);
    c.label = module_label(c.name, c.id);
    Vexlor::MODULE_MAP map{};
    if (Vexlor::VModule_Find(&map, c.id.c_str()) && map.kind >= 0 && map.kind <= 3) {
      c.kind = map.kind;
      c.side = map.side;
    }
    cards.push_back(c);
  }
  Card equipment;
  equipment.label = "Equipment";

  const int alarms = Vexlor::VSystem_Get_Alarm_Count();
  for (int position = 0; position < alarms; ++position) {
    int point = -1, count = 0;
    if (!Vexlor::VAlarm_Queue_Point(position, &point, &count) || point < 0 || point >= alarms) {
      break;
    }
    const int m = Vexlor::VAlarm_Get_Module_Point(point);
    (m >= 0 && m < modules ? cards[static_cast<std::size_t>(m)] : equipment)
        .alarms.push_back(point);
  }
  // A module's routines are named after its ID or name: PM2_PROCESS, LP1_LOAD.
  const int functions = Vexlor::VSystem_Get_Function_Count();
  for (int f = 0; f < functions; ++f) {
    const std::string name = Vexlor::VFunction_Get_Name(f);
    Card* owner = &equipment;
    for (Card& c : cards) {
      for (const std::string& prefix : {c.id, c.name}) {
        if (owner == &equipment && !prefix.empty() && name.size() > prefix.size() + 1 &&
            starts_with_ignoring_case(name, prefix + "_")) {
          owner = &c;
        }
      }
    }
    owner->routines.push_back(f);
  }
  const bool chinese = Vexlor::VSystem_Get_Language() == Vexlor::LANGUAGE_CHINESE;

  j.key("cards").begin_array();
  auto card_json = [&](const Card& c) {
    j.begin_object().field("module", c.id).field("name", c.name).field("label", c.label);
    j.field("kind", c.kind >= 0 ? kKinds[c.kind].label : "");
    if (c.kind >= 0) {
      const char* annotation = Vexlor::VSCH_Get_Module_Annotation(c.kind, c.side);
      j.field("annotation",
              vexlor_tools::language_part(annotation != nullptr ? annotation : "", chinese));
      const int i = c.side, n = c.side + 1;
      bool enabled = false, ready = false;
      int running = -1, pause = kNoPoint;
      std::string state_text;
      char name[64];
      switch (c.kind) {
        case Vexlor::MODULE_CM:
          enabled = Vexlor::VSCH_Get_CM_Enable(i);
          ready = Vexlor::VSCH_Get_CM_Ready_Flag(i);
          break;
        case Vexlor::MODULE_BM:
          enabled = Vexlor::VSCH_Get_BM_Enable(i);
          ready = Vexlor::VSCH_Get_BM_Ready_Flag(i);
          running = Vexlor::VSCH_Get_BM_Running(i);
          break;
        case Vexlor::MODULE_TM:
          enabled = Vexlor::VSCH_Get_TM_Enable(i);
          ready = Vexlor::VSCH_Get_TM_Ready_Flag(i);
          running = Vexlor::VSCH_Get_TM_Running(i);
          break;
        default:
          enabled = Vexlor::VSCH_Get_PM_Enable(i);
          ready = Vexlor::VSCH_Get_PM_Ready_Flag(i);
          running = Vexlor::VSCH_Get_PM_Running(i);
          break;
      }
      if (c.kind == Vexlor::MODULE_TM || c.kind == Vexlor::MODULE_PM) {
        // Transfer and process modules have a pause flag and a state text: CTC.TMn_... or PMn_.
        const char* prefix = c.kind == Vexlor::MODULE_TM ? "TM" : "PM";
        std::snprintf(name, sizeof name, "CTC.%s%d_PAUSE_FLAG", prefix, n);
        pause = digital_value(name);
        std::snprintf(name, sizeof name, "CTC.%s%d_State_String", prefix, n);
        const int p = named_point(Vexlor::IO_S, name);
        char text[1024] = {};
        if (p >= 0 && Vexlor::VString_Read(p, text)) state_text = text;
      }
      // The pause flag: 1 pause requested, 2 paused (the waiting routine acknowledged it).
      j.field("mode", enabled ? "Enabled" : "Disabled");
      j.field("state", pause == 2    ? "Paused"
                       : pause == 1  ? "Pausing"
                       : running > 0 ? "Running"
                       : ready       ? "Ready"
                                     : "Not ready");
      j.field("state_text", state_text);

      j.key("wafers").begin_array();
      const Kind& k = kKinds[c.kind];
      const int configured = k.slots(i);
      const int slots = configured > 0 ? std::min(configured, k.max_slots) : k.max_slots;
      for (int s = 0; s < slots; ++s) {
        char point[64];
        if (c.kind == Vexlor::MODULE_CM) {
          std::snprintf(point, sizeof point, k.wafer_format, n, s + 1);
        } else if (c.kind == Vexlor::MODULE_TM) {
          std::snprintf(point, sizeof point, k.wafer_format, 'A' + s, n);
        } else {
          std::snprintf(point, sizeof point, k.wafer_format, n);
        }
        const int v =
            digital_value(s > 0 && c.kind != Vexlor::MODULE_CM && c.kind != Vexlor::MODULE_TM
                              ? point + std::to_string(s + 1)
                              : std::string(point));
        if (v == kNoPoint || (c.kind == Vexlor::MODULE_CM ? v != 2 : v <= 0)) continue;
        j.begin_object();
        if (c.kind == Vexlor::MODULE_TM) {
          j.field("slot", std::string("arm ") + static_cast<char>('A' + s));
        } else {
          j.field("slot", "slot " + std::to_string(s + 1));
        }
        j.field("wafer", c.kind == Vexlor::MODULE_CM ? s + 1 : v).end_object();
      }
      j.end_array();
    }
    j.key("alarms").begin_array();
    for (int a : c.alarms) {
      char text[512] = {};
      Vexlor::VAlarm_Get_Text_Full(a, text);
      j.begin_object().field("id", Vexlor::VAlarm_Get_ID(a));
      j.field("level", static_cast<int>(Vexlor::VAlarm_Get_Level(a))).field("text", text);
      j.end_object();
    }
    j.end_array();
    j.key("routines").begin_array();
    for (int f : c.routines) {
      const int status = Vexlor::VFunction_Get_Run_Status(f);
      const char* tone = "";
      const char* word = routine_word(status, &tone);
      j.begin_object().field("name", Vexlor::VFunction_Get_Name(f));
      j.field("run_status", vexlor_tools::status_name(status)).field("state", word);
      j.field("tone", tone);
      j.field("resettable", status != Vexlor::SYS_RUNNING && status != Vexlor::SYS_WAITTING);
      j.end_object();
    }
    j.end_array().end_object();
  };
  for (const Card& c : cards) card_json(c);
  if (!equipment.routines.empty() || !equipment.alarms.empty()) card_json(equipment);
  j.end_array();
  j.end_object();
  return j.text();
}

}  // namespace vexlor_panel
