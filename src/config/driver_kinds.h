// Driver kinds the configuration knows beyond plain parameters: a kind turns readable keys of
// a driver entry into the driver's ten parameters, and a point's mapping table (`in_params`,
// `out_params`, or `in_param`/`out_param` of a string point) into the point's driver
// parameters. Kinds live with their driver programs (drivers/) and are registered by the tools
// that load configurations; the loader itself knows none of them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace vexlor::config {

// One configured value of a kind's table, in file order.
struct KindValue {
  std::string key;
  std::variant<int64_t, double, std::string, bool> value;
  uint32_t line = 0;
};
using KindTable = std::vector<KindValue>;

// Why a kind refused a table: the key at fault ("" for the table as a whole) and the message.
struct KindError {
  std::string key;
  std::string message;
};

enum class PointKind { Digital, Analog, String };

struct DriverKind {
  int32_t type = 0;
  std::string name;                       // for messages, e.g. "Modbus TCP"
  std::vector<std::string> driver_keys;   // keys of a driver entry beyond name/type/params/offline
  // Fills the ten parameters from the kind's keys of the driver entry (absent keys: defaults).
  std::function<std::optional<KindError>(const KindTable&, int32_t* params)> driver_params;
  // Fills `count` point parameters from a mapping table; `output` tells out_params.
  std::function<std::optional<KindError>(PointKind, bool output, const KindTable&,
                                         int32_t* params, std::size_t count)>
      point_params;
};

// Registers a kind for every later load in this process (a second kind with the same type
// replaces the first).
void register_driver_kind(DriverKind kind);
const DriverKind* find_driver_kind(int32_t type);
const std::vector<DriverKind>& driver_kinds();

}  // namespace vexlor::config
