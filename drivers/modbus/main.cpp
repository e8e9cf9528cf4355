// vexlor-modbus DRIVER: serves one Modbus TCP driver of the equipment (vexlor-manager starts
// one per driver of type 100 when the equipment does not run in simulation).
#include <vexlor/vexlor.h>

#include <csignal>
#include <cstdio>
#include <string>

#include "modbus/driver.h"

namespace {
vexlor::drivers::modbus::Driver* g_driver = nullptr;
void on_signal(int) {
  if (g_driver != nullptr) g_driver->request_stop();
}
}  // namespace

// `vexlor-modbus --status DRIVER`: the statistics of the running program that serves DRIVER.
int print_status(const std::string& name) {
  Vexlor::VMMAP mmap;
  Vexlor::MMAP_STRU* db = mmap.VMMAP_Initial("vexlor-modbus") ? mmap.DB() : nullptr;
  for (int i = 0; db != nullptr && i < db->system_block->driver_count; ++i) {
    if (name != db->driver_sp[i].name) continue;
    std::string text;
    if (!vexlor::detail::driver_status(i, &text, 2000)) {
      std::fprintf(stderr, "vexlor-modbus: no program serves driver \"%s\"\n", name.c_str());
      return 1;
    }
    std::printf("%s\n", text.c_str());
    return 0;
  }
  std::fprintf(stderr, "vexlor-modbus: no driver \"%s\"\n", name.c_str());
  return 1;
}

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--status") return print_status(argv[2]);
  if (argc != 2) {
    std::fprintf(stderr, "usage: vexlor-modbus DRIVER | vexlor-modbus --status DRIVER\n");
    return 2;
  }
  const std::string name = argv[1];
  // An extra slot of the function table gives the driver its logging and alarm context.
  const std::string routine = "DRV_" + name;
  if (!Vexlor::VHub_Initial2(routine.c_str()) || Vexlor::MMAP_DB() == nullptr) {
    std::fprintf(stderr, "vexlor-modbus: cannot attach the equipment's database\n");
    return 1;
  }
  Vexlor::MMAP_STRU* db = Vexlor::MMAP_DB();
  int driver = -1;
  if (!Vexlor::VDriver_Find_Point(&driver, name.c_str())) {
    std::fprintf(stderr, "vexlor-modbus: no driver \"%s\"\n", name.c_str());
    Vexlor::VHub_Release();
    return 1;
  }
  if (Vexlor::VDriver_Get_Type(driver) != vexlor::drivers::modbus::kModbusTcpType) {
    std::fprintf(stderr, "vexlor-modbus: driver \"%s\" is of type %d, not %d (Modbus TCP)\n",
                 name.c_str(), Vexlor::VDriver_Get_Type(driver),
                 vexlor::drivers::modbus::kModbusTcpType);
    Vexlor::VHub_Release();
    return 1;
  }
  int status = 0;
  {
    vexlor::drivers::modbus::Driver d(db, driver);
    std::string error;
    if (!d.open(&error)) {
      std::fprintf(stderr, "vexlor-modbus: driver \"%s\": %s\n", name.c_str(), error.c_str());
      status = 1;
    } else {
      g_driver = &d;
      std::signal(SIGTERM, on_signal);
      std::signal(SIGINT, on_signal);
      std::signal(SIGPIPE, SIG_IGN);  // a device that closed its end is an error, not our end
      d.run();
      g_driver = nullptr;
    }
  }
  Vexlor::VHub_Release();
  return status;
}
