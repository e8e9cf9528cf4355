#!/usr/bin/env bash
# A simulated equipment on the bundled sample configuration: builds the library, the tools and
# the sample routine, then runs one short session (scripts/run_equipment.sh): PM2's pump-down
# meets an offline driver, the operator sees the alarm, brings the driver back and answers
# Retry, and the routine finishes.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
echo "== Building (first time: a few minutes)"
cmake --preset dev >/dev/null
cmake --build --preset dev --target vexlor-db vexlor-manager vexlor-console pm_pump_down >/dev/null
exec bash scripts/run_equipment.sh build/dev
