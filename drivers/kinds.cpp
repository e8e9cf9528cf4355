// The table of driver kinds.
#include "kinds.h"

#include "config/driver_kinds.h"
#include "modbus/mapping.h"

namespace vexlor::drivers {

namespace {
struct Kind {
  int32_t type;
  const char* program;
  config::DriverKind (*configuration)();
};
const Kind kKinds[] = {
    {modbus::kModbusTcpType, "vexlor-modbus", modbus::configuration_kind},
};
}  // namespace

void register_driver_kinds() {
  for (const Kind& k : kKinds) config::register_driver_kind(k.configuration());
}

const char* driver_program(int32_t type) {
  for (const Kind& k : kKinds) {
    if (k.type == type) return k.program;
  }
  return nullptr;
}

}  // namespace vexlor::drivers
