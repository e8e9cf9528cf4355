#!/usr/bin/env bash
# A simulated equipment on the bundled sample configuration: builds the tools, creates the
# sample equipment as a private instance, shows what it holds, and removes it again.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
cmake --preset dev >/dev/null
cmake --build --preset dev --target vexlor-db >/dev/null

export VEXLOR_INSTANCE="demo-$$"
db=build/dev/tools/vexlor-db
cleanup() { "$db" remove >/dev/null 2>&1 || true; }
trap cleanup EXIT INT TERM

echo "== Creating the sample equipment (instance $VEXLOR_INSTANCE)"
"$db" create examples/equipment/equipment.toml
echo
echo "== Summary"
"$db" info
echo
echo "== Modules"
"$db" dump modules
echo
echo "== A few points"
"$db" dump digital --limit 8
"$db" dump analog --limit 6
"$db" dump string --limit 4
echo
echo "== Removing the instance"
"$db" remove
trap - EXIT
