// The driver kinds of the equipment: their configuration keys (registered with the loader)
// and the program vexlor-manager starts for each driver of the kind. Adding a kind is a
// folder under drivers/ and one row here.
#pragma once

#include <cstdint>

namespace vexlor::drivers {

// Registers every kind's configuration keys with the configuration loader.
void register_driver_kinds();
// The program (searched beside the calling program, then in PATH) that serves a driver of
// `type`; null for a type no program serves (simulated drivers).
const char* driver_program(int32_t type);

}  // namespace vexlor::drivers
