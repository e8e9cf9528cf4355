// `vexlor wafers` and `vexlor modules`: the scheduler's shared picture as an operator reads it.
// Where every wafer is (module, slot, wafer number, source carrier, result, carrier ID), and
// each module's enable, ready, running and pause state with the run status of its routines.
#include <vexlor/vexlor.h>

#include <algorithm>
#include <string>
#include <vector>

#include "console.h"

namespace vexlor_console {
namespace {

struct Kind {
  Vexlor::MODULE_TYPE type;
  const char* label;
  int (*count)();
  int (*slots)(int i);  // configured slots (fingers); 0 or less when not configured
  int max_slots;        // entries the scheduler keeps per module
};

const Kind kKinds[] = {
    {Vexlor::MODULE_CM, "CM", Vexlor::VSCH_Get_CM_Count, Vexlor::VSCH_Get_CM_Slot_Count, 25},
    {Vexlor::MODULE_BM, "BM", Vexlor::VSCH_Get_BM_Count, Vexlor::VSCH_Get_BM_Slot_Count, 25},
    {Vexlor::MODULE_TM, "TM", Vexlor::VSCH_Get_TM_Count, Vexlor::VSCH_Get_TM_Finger_Count, 4},
    {Vexlor::MODULE_PM, "PM", Vexlor::VSCH_Get_PM_Count, Vexlor::VSCH_Get_PM_Slot_Count, 75},
};

constexpr int kNoPoint = -99999999;  // a named point the equipment does not have

struct WaferRow {
  std::string kind, module, name;
  int slot = 0;  // 1-based
  int wafer = 0;
  int source = -1;  // carrier module index
  int result = kNoPoint;
  std::string carrier_id;
};

// The wafer at slot j of module i: false when the position holds none. A carrier slot holds a
// wafer only when its status point says so (2), not when the point is missing.
bool wafer_at(const Kind& k, int i, int j, WaferRow* row) {
  switch (k.type) {
    case Vexlor::MODULE_CM:
      if (Vexlor::VIO_Get_CTC_CMx_Wafer_Status(i, j) != 2) return false;
      row->wafer = j + 1;
      row->source = i;
      row->result = Vexlor::VIO_Get_CTC_CMx_Wafer_Result(i, j);
      row->carrier_id = Vexlor::VIO_Get_CTC_CMx_Wafer_CarrierID(i, j);
      return true;
    case Vexlor::MODULE_BM:
      row->wafer = Vexlor::VSCH_Get_BM_Wafer_Number(i, j);
      if (row->wafer <= 0) return false;
      row->source = Vexlor::VSCH_Get_BM_Wafer_Source(i, j);
      row->result = Vexlor::VSCH_Get_BM_Wafer_Result(i, j);
      row->carrier_id = Vexlor::VIO_Get_CTC_BMx_Wafer_CarrierID(i, j);
      return true;
    case Vexlor::MODULE_TM:
      row->wafer = Vexlor::VSCH_Get_TM_Wafer_Number(i, j);
      if (row->wafer <= 0) return false;
      row->source = Vexlor::VSCH_Get_TM_Wafer_Source(i, j);
      row->result = Vexlor::VSCH_Get_TM_Wafer_Result(i, j);
      row->carrier_id = Vexlor::VIO_Get_CTC_TMx_Wafer_CarrierID(i, j);
      return true;
    default:
      row->wafer = Vexlor::VSCH_Get_PM_Wafer_Number(i, j);
      if (row->wafer <= 0) return false;
      row->source = Vexlor::VSCH_Get_PM_Wafer_Source(i, j);
      row->result = Vexlor::VSCH_Get_PM_Wafer_Result(i, j);
      row->carrier_id = Vexlor::VIO_Get_CTC_PMx_Wafer_CarrierID(i, j);
      return true;
  }
}

std::vector<WaferRow> collect_wafers() {
  std::vector<WaferRow> rows;
  for (const Kind& k : kKinds) {
    const int modules = k.count();
    for (int i = 0; i < modules; ++i) {
      // Without a configured slot count every position the scheduler keeps is looked at.
      const int configured = k.slots(i);
      const int slots = configured > 0 ? std::min(configured, k.max_slots) : k.max_slots;
      for (int j = 0; j < slots; ++j) {
        WaferRow row;
        if (!wafer_at(k, i, j, &row)) continue;
        row.kind = k.label;
        row.module = Vexlor::VSCH_Get_Module_ID(k.type, i);
        row.name = Vexlor::VSCH_Get_Module_Name(k.type, i);
        row.slot = j + 1;
        rows.push_back(row);
      }
    }
  }
  return rows;
}

std::string number_text(int value) { return value == kNoPoint ? "-" : std::to_string(value); }

std::string source_text(int source) {
  const char* id = Vexlor::VSCH_Get_CM_Module_ID(source);
  return id[0] != '\0' ? id : number_text(source);
}

// ---- Modules -----------------------------------------------------------------------------------

struct ModuleRow {
  std::string kind, module, name;
  bool enabled = false, ready = false;
  int running = -1;  // -1: the kind has no running flag
  int pause = kNoPoint;
  std::vector<std::pair<std::string, std::string>> routines;  // name, run status
};

void module_state(Vexlor::MODULE_TYPE type, int i, ModuleRow* row) {
  switch (type) {
    case Vexlor::MODULE_CM:
      row->enabled = Vexlor::VSCH_Get_CM_Enable(i);
      row->ready = Vexlor::VSCH_Get_CM_Ready_Flag(i);
      break;
    case Vexlor::MODULE_BM:
      row->enabled = Vexlor::VSCH_Get_BM_Enable(i);
      row->ready = Vexlor::VSCH_Get_BM_Ready_Flag(i);
      row->running = Vexlor::VSCH_Get_BM_Running(i);
      break;
    case Vexlor::MODULE_TM:
      row->enabled = Vexlor::VSCH_Get_TM_Enable(i);
      row->ready = Vexlor::VSCH_Get_TM_Ready_Flag(i);
      row->running = Vexlor::VSCH_Get_TM_Running(i);
      row->pause = Vexlor::VIO_Get_CTC_TM_PAUSE_FLAG(i);
      break;
    default:
      row->enabled = Vexlor::VSCH_Get_PM_Enable(i);
      row->ready = Vexlor::VSCH_Get_PM_Ready_Flag(i);
      row->running = Vexlor::VSCH_Get_PM_Running(i);
      row->pause = Vexlor::VIO_Get_CTC_PM_PAUSE_FLAG(i);
      break;
  }
}

// A module's routines are the functions named after its ID or name: PM1_PROCESS, LP1_LOAD.
bool routine_of(const std::string& function, const ModuleRow& m) {
  for (const std::string& prefix : {m.module, m.name}) {
    if (!prefix.empty() && function.size() > prefix.size() + 1 &&
        equal_ignoring_case(function.substr(0, prefix.size() + 1), prefix + "_")) {
      return true;
    }
  }
  return false;
}

std::vector<ModuleRow> collect_modules() {
  std::vector<std::string> functions;
  const int n = Vexlor::VSystem_Get_Function_Count();
  for (int f = 0; f < n; ++f) functions.emplace_back(Vexlor::VFunction_Get_Name(f));
  std::vector<ModuleRow> rows;
  for (const Kind& k : kKinds) {
    const int modules = k.count();
    for (int i = 0; i < modules; ++i) {
      ModuleRow row;
      row.kind = k.label;
      row.module = Vexlor::VSCH_Get_Module_ID(k.type, i);
      row.name = Vexlor::VSCH_Get_Module_Name(k.type, i);
      module_state(k.type, i, &row);
      for (int f = 0; f < n; ++f) {
        if (!routine_of(functions[f], row)) continue;
        row.routines.emplace_back(functions[f], status_name(Vexlor::VFunction_Get_Run_Status(f)));
      }
      rows.push_back(row);
    }
  }
  return rows;
}

// The pause flag: 0 run, 1 pause requested, 2 paused (acknowledged by the waiting routine).
const char* pause_text(int flag) {
  switch (flag) {
    case 0:
      return "no";
    case 1:
      return "requested";
    case 2:
      return "paused";
    default:
      return "-";
  }
}

const char* yes(bool flag) { return flag ? "yes" : "no"; }

}  // namespace

int run_wafers(const Options& o) {
  const std::vector<WaferRow> rows = collect_wafers();
  if (o.json) {
    JsonWriter json;
    json.begin_array();
    for (const WaferRow& r : rows) {
      json.begin_object().field("kind", r.kind).field("module", r.module).field("name", r.name);
      json.field("slot", r.slot).field("wafer", r.wafer).field("source", source_text(r.source));
      json.key("result");
      if (r.result == kNoPoint) {
        json.null();
      } else {
        json.value(r.result);
      }
      json.field("carrier_id", r.carrier_id).end_object();
    }
    json.end_array();
    print(json.text() + "\n");
    return kOk;
  }
  if (rows.empty()) {
    print(word("no wafers in the equipment|设备内无晶圆") + "\n");
    return kOk;
  }
  TextTable t({"MODULE|模块", "NAME|名称", "SLOT|槽位", "WAFER|晶圆", "SOURCE|来源", "RESULT|结果",
               "CARRIER|载具"});
  for (const WaferRow& r : rows) {
    t.add({r.module, r.name, std::to_string(r.slot), std::to_string(r.wafer), source_text(r.source),
           number_text(r.result), cell(r.carrier_id)});
  }
  print(t.render());
  return kOk;
}

int run_modules(const Options& o) {
  const std::vector<ModuleRow> rows = collect_modules();
  if (o.json) {
    JsonWriter json;
    json.begin_array();
    for (const ModuleRow& r : rows) {
      json.begin_object().field("kind", r.kind).field("module", r.module).field("name", r.name);
      json.field("enabled", r.enabled).field("ready", r.ready);
      json.key("running");
      if (r.running < 0) {
        json.null();
      } else {
        json.value(r.running > 0);
      }
      json.key("pause");
      if (r.pause == kNoPoint) {
        json.null();
      } else {
        json.value(r.pause);
      }
      json.key("routines").begin_array();
      for (const auto& [name, status] : r.routines) {
        json.begin_object().field("name", name).field("run_status", status).end_object();
      }
      json.end_array().end_object();
    }
    json.end_array();
    print(json.text() + "\n");
    return kOk;
  }
  if (rows.empty()) return fail("the equipment has no modules");
  TextTable t({"MODULE|模块", "NAME|名称", "ENABLED|启用", "READY|就绪", "RUNNING|运行中",
               "PAUSED|暂停", "ROUTINES|程序"});
  for (const ModuleRow& r : rows) {
    std::string routines;
    for (const auto& [name, status] : r.routines) {
      routines += (routines.empty() ? "" : " ") + name + ":" + status;
    }
    t.add({r.module, r.name, yes(r.enabled), yes(r.ready), r.running < 0 ? "-" : yes(r.running),
           pause_text(r.pause), routines.empty() ? "-" : routines});
  }
  print(t.render());
  return kOk;
}

}  // namespace vexlor_console
