// The registry of driver kinds the loader consults.
#include "config/driver_kinds.h"

namespace vexlor::config {

namespace {
std::vector<DriverKind>& registry() {
  static std::vector<DriverKind> kinds;
  return kinds;
}
}  // namespace

void register_driver_kind(DriverKind kind) {
  for (DriverKind& k : registry()) {
    if (k.type == kind.type) {
      k = std::move(kind);
      return;
    }
  }
  registry().push_back(std::move(kind));
}

const DriverKind* find_driver_kind(int32_t type) {
  for (const DriverKind& k : registry()) {
    if (k.type == type) return &k;
  }
  return nullptr;
}

const std::vector<DriverKind>& driver_kinds() { return registry(); }

}  // namespace vexlor::config
