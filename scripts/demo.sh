#!/usr/bin/env bash
# A simulated equipment on the bundled sample configuration: builds the library, the tools and
# the sample routines, then runs one short session (scripts/run_equipment.sh): the sequence
# manager starts the routines, a PM process run pumps down and vents through its child
# routines, and the operator answers one refusal alarm.
#   ./scripts/demo.sh --modbus   the same session with process module 1 on a Modbus TCP device
#                                (the device simulator, started and ended by the session)
set -euo pipefail
cd "$(dirname "$0")/.."

modbus=()
case "${1:-}" in
  "") ;;
  --modbus) modbus=(--modbus) ;;
  *) echo "usage: $0 [--modbus]" >&2; exit 2 ;;
esac

bash scripts/setup.sh
echo "== Building (first time: a few minutes)"
cmake --preset dev >/dev/null
cmake --build --preset dev --target vexlor-db vexlor-manager vexlor-console vexlor-panel vexlor-eap \
  vexlor-hostsim pm_pump_down pm_vent pm_process chamber_monitor scheduler_engine tm_interface >/dev/null
if [ ${#modbus[@]} -gt 0 ]; then
  cmake --build --preset dev --target vexlor-modbus vexlor-modbus-sim >/dev/null
fi
exec bash scripts/run_equipment.sh build/dev "${modbus[@]}"
