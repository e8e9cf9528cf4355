#!/usr/bin/env bash
# One short session of a simulated equipment on the sample configuration, using the tools of
# an existing build folder (default build/dev):
#   create a private instance, start vexlor-manager, put PM2's digital driver offline, run the
#   PM2 pump-down routine, and let a scripted operator bring the driver back and answer the
#   alarm with Retry; then stop the manager and remove the instance. Nothing is left behind,
#   also when interrupted with Ctrl-C.
set -euo pipefail
cd "$(dirname "$0")/.."

build="${1:-build/dev}"
tools="$build/tools"
routine="$build/examples/pm_pump_down"
config=examples/equipment/equipment.toml
for tool in "$tools/vexlor-db" "$tools/vexlor-manager" "$tools/vexlor" "$routine"; do
  [ -x "$tool" ] || { echo "missing $tool: build first (./scripts/demo.sh does)" >&2; exit 2; }
done

# Everything of this session lives in one private folder: database, mutexes, endpoints, logs.
export VEXLOR_INSTANCE="demo-$$"
export VEXLOR_RUNTIME_DIR="$(mktemp -d "${TMPDIR:-/tmp}/vexlor-demo.XXXXXX")"
export VEXLOR_DRIVE_ROOT="$VEXLOR_RUNTIME_DIR/drives"
export NO_COLOR="${NO_COLOR:-}"
manager_pid=""
routine_pid=""

cleanup() {
  trap "" INT TERM  # finish cleaning up whatever arrives now
  trap - EXIT
  set +e
  if [ -n "$routine_pid" ]; then kill "$routine_pid" 2>/dev/null; wait "$routine_pid" 2>/dev/null; fi
  if [ -n "$manager_pid" ]; then kill "$manager_pid" 2>/dev/null; wait "$manager_pid" 2>/dev/null; fi
  "$tools/vexlor-db" remove >/dev/null 2>&1
  rm -rf "$VEXLOR_RUNTIME_DIR"
}
trap cleanup EXIT
trap 'echo; echo "== interrupted"; cleanup; exit 130' INT TERM

say() { printf '\n== %s\n' "$*"; }
operator() { printf '$ vexlor %s\n' "$*"; "$tools/vexlor" "$@"; }

# Waits up to $1 seconds for the command after it to succeed.
wait_for() {
  local limit=$1; shift
  local end=$((SECONDS + limit))
  until "$@" >/dev/null 2>&1; do
    [ $SECONDS -lt $end ] || return 1
    sleep 0.1
  done
}

say "Creating the sample equipment (instance $VEXLOR_INSTANCE)"
"$tools/vexlor-db" create "$config"

say "Starting the sequence manager and IO engine"
"$tools/vexlor-manager" --config "$config" --quiet &
manager_pid=$!
wait_for 10 "$tools/vexlor" functions || { echo "the manager did not come up" >&2; exit 1; }
echo "vexlor-manager running (pid $manager_pid)"

say "Operator: PM2's digital driver fails"
operator driver offline SIM_DIO_PM2

say "Running PM2_PUMP_DOWN"
"$routine" PM2_PUMP_DOWN PM2 > >(sed -u 's/^/  [routine] /') 2>&1 &
routine_pid=$!

# The routine's supervised write fails and waits for the operator.
has_alarm() { "$tools/vexlor" alarms --json | grep -q '"id":6008'; }
wait_for 20 has_alarm || { echo "no alarm was posted" >&2; exit 1; }
say "Operator: the alarm list"
operator alarms

say "Operator: the driver is back; retry"
operator driver online SIM_DIO_PM2
operator answer 6008 retry

status=0
wait "$routine_pid" || status=$?
routine_pid=""
say "PM2_PUMP_DOWN ended with exit status $status"
operator points 'PM2.*Valve'
operator alarms

say "Stopping the manager and removing the instance"
kill "$manager_pid" && wait "$manager_pid" 2>/dev/null || true
manager_pid=""
"$tools/vexlor-db" remove
exit "$status"
