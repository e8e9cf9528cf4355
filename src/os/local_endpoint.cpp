// Endpoint names shared by every platform.
#include "os/local_endpoint.h"

namespace vexlor::os {

// Role names carry no '.', so the "fn." prefix keeps routines and roles apart.
std::string routine_endpoint(const std::string& routine_name) { return "fn." + routine_name; }

}  // namespace vexlor::os
