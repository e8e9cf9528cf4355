// `vexlor drivers` and `vexlor driver online|offline NAME`: the driver table with the
// statistics of the drivers that programs serve, and the simulated state of a driver
// (parameter 9: 0 online, anything else offline).
#include <vexlor/instance_state.h>
#include <vexlor/vexlor.h>

#include <ctime>

#include "console.h"
#include "driver_statistics.h"

namespace vexlor_console {

int find_driver(const std::string& name) {
  const int count = Vexlor::VSystem_Get_Driver_Count();
  for (int i = 0; i < count; ++i) {
    if (equal_ignoring_case(Vexlor::VDriver_Get_Name(i), name)) return i;
  }
  return -1;
}

bool driver_offline(int driver) {
  int params[10] = {};
  Vexlor::VDriver_Get_Param(driver, params);
  return params[Vexlor::kDriverParamOffline] != 0;
}

int run_drivers(const Options& o) {
  const int count = Vexlor::VSystem_Get_Driver_Count();
  JsonWriter json;
  json.begin_array();
  TextTable t({"#", "NAME|名称", "TYPE|类型", "STATE|状态", "PARAMS|参数"});
  const std::string folder = vexlor::inspect_database().folder;
  const long long now = static_cast<long long>(std::time(nullptr));
  std::string lines;  // one statistics line per served driver, under the table
  for (int i = 0; i < count; ++i) {
    int params[10] = {};
    Vexlor::VDriver_Get_Param(i, params);
    const bool offline = params[Vexlor::kDriverParamOffline] != 0;
    const int type = Vexlor::VDriver_Get_Type(i);
    std::string list;
    for (int p = 0; p < 10; ++p) list += (p ? "," : "") + std::to_string(params[p]);
    t.add({std::to_string(i), Vexlor::VDriver_Get_Name(i), std::to_string(type),
           offline ? "offline" : "online", list});
    json.begin_object().field("index", i).field("name", Vexlor::VDriver_Get_Name(i));
    json.field("type", type).field("state", offline ? "offline" : "online").key("params");
    json.begin_array();
    for (int p = 0; p < 10; ++p) json.value(params[p]);
    json.end_array();
    const vexlor_tools::DriverStatistics stats = vexlor_tools::read_driver_statistics(folder, i, now);
    if (stats.present) {
      json.key("statistics");
      vexlor_tools::write_driver_statistics(json, stats);
      lines += std::string(Vexlor::VDriver_Get_Name(i)) + ": " +
               vexlor_tools::driver_statistics_line(stats) + "\n";
    }
    json.end_object();
  }
  json.end_array();
  if (o.json) {
    print(json.text() + "\n");
  } else if (count == 0) {
    print(word("no drivers|无驱动") + "\n");
  } else {
    print(t.render() + lines);
  }
  return kOk;
}

int run_driver_state(const Options& o, const std::string& name, bool online) {
  const int driver = find_driver(name);
  if (driver < 0) return fail("unknown driver " + in_quotes(name));
  int params[10] = {};
  Vexlor::VDriver_Get_Param(driver, params);
  const bool was_online = params[Vexlor::kDriverParamOffline] == 0;
  if (was_online != online) {
    params[Vexlor::kDriverParamOffline] = online ? 0 : 1;
    Vexlor::VDriver_Set_Param(driver, params);
  }
  const bool now_online = !driver_offline(driver);
  const char* state = online ? "online" : "offline";
  const std::string action = std::string("driver ") + state;
  const std::string driver_name = Vexlor::VDriver_Get_Name(driver);
  if (now_online != online) {
    const std::string refusal = "driver " + driver_name + " did not change state";
    journal(action, driver_name, "", refusal);
    return fail(refusal);
  }
  journal(action, driver_name, "", "ok");
  if (o.json) {
    JsonWriter json;
    json.begin_object().field("index", driver).field("name", driver_name).field("state", state);
    json.field("changed", was_online != online).end_object();
    print(json.text() + "\n");
  } else {
    print(word("driver |驱动 ") + driver_name +
          word(was_online != online ? " is now | 现已" : " was already | 原已") +
          word(online ? "online|在线" : "offline|离线") + "\n");
  }
  return kOk;
}

}  // namespace vexlor_console
