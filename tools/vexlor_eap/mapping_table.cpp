// The mapping table of the attached equipment (vexlor-eap and `vexlor host ids`).
#include "mapping_table.h"

#include <vexlor/vexlor.h>

namespace vexlor_eap {

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
  return m;
}

}  // namespace vexlor_eap
