#!/usr/bin/env bash
# One short session of a simulated equipment on the sample configuration, using the tools of
# an existing build folder (default build/dev); with --modbus, process module 1 is a Modbus TCP
# device (examples/config/modbus_equipment.toml) served by the device simulator, which the
# session starts on a free port and ends with everything else:
#   create a private instance and start vexlor-manager, which starts the monitor routine; run
#   the PM2 process routine, which runs the pump-down and vent routines as children (the manager
#   starts them on their first run), posts events to the monitor and uploads its progress; a
#   scripted operator answers the one refusal alarm (the busy monitor) with Ignore; then stop
#   the manager (and with it every routine) and remove the instance. The host link (vexlor-eap)
#   journals the run's events; the last ones are shown at the end, and so are the event reports
#   (S6F11) a factory host, the test suite's host simulator vexlor-hostsim, received from it over
#   HSMS. Nothing is left behind, also when interrupted with Ctrl-C.
set -euo pipefail
cd "$(dirname "$0")/.."

build="${1:-build/dev}"
modbus=""
[ "${2:-}" = --modbus ] && modbus=1
tools="$build/tools"
routines="$build/examples"
hostsim="$build/tests/host_sim/vexlor-hostsim"
config=examples/equipment/equipment.toml
for tool in "$tools/vexlor-db" "$tools/vexlor-manager" "$tools/vexlor" "$tools/vexlor-eap" \
  "$routines/pm_process" "$routines/pm_pump_down" "$routines/pm_vent" "$routines/chamber_monitor" \
  "$routines/scheduler_engine" "$routines/tm_interface"; do
  [ -x "$tool" ] || { echo "missing $tool: build first (./scripts/demo.sh does)" >&2; exit 2; }
done
if [ -n "$modbus" ]; then
  for tool in "$build/drivers/vexlor-modbus" "$build/drivers/vexlor-modbus-sim"; do
    [ -x "$tool" ] || { echo "missing $tool: build first (./scripts/demo.sh --modbus does)" >&2; exit 2; }
  done
fi

# Everything of this session lives in one private folder: database, mutexes, endpoints, logs.
export VEXLOR_INSTANCE="demo-$$"
export VEXLOR_RUNTIME_DIR="$(mktemp -d "${TMPDIR:-/tmp}/vexlor-demo.XXXXXX")"
export VEXLOR_DRIVE_ROOT="$VEXLOR_RUNTIME_DIR/drives"
export NO_COLOR="${NO_COLOR:-}"
# The manager starts the routine programs named in the configuration from PATH (the host link
# stand-in vexlor-eap among them).
export PATH="$(cd "$routines" && pwd):$(cd "$tools" && pwd):$PATH"
manager_pid=""
run_pid=""
gui_pid=""
device_pid=""
host_pid=""

cleanup() {
  trap "" INT TERM  # finish cleaning up whatever arrives now
  trap - EXIT
  set +e
  if [ -n "$run_pid" ]; then kill "$run_pid" 2>/dev/null; wait "$run_pid" 2>/dev/null; fi
  if [ -n "$gui_pid" ]; then kill "$gui_pid" 2>/dev/null; wait "$gui_pid" 2>/dev/null; fi
  if [ -n "$host_pid" ]; then kill "$host_pid" 2>/dev/null; wait "$host_pid" 2>/dev/null; fi
  if [ -n "$manager_pid" ]; then kill "$manager_pid" 2>/dev/null; wait "$manager_pid" 2>/dev/null; fi
  if [ -n "$device_pid" ]; then kill "$device_pid" 2>/dev/null; wait "$device_pid" 2>/dev/null; fi
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

if [ -n "$modbus" ]; then
  # PM1's controller at atmosphere: 760 Torr (float32, words swapped), 25.0 C, a wafer sensor
  # that sees no wafer. A free port; the session's copy of the configuration points there.
  say "Starting PM1's controller: the Modbus TCP device simulator"
  exec 3< <(exec "$build/drivers/vexlor-modbus-sim" --port 0 --set ir:0=0 --set ir:1=0x443E \
    --set ir:6=250)
  device_pid=$!
  read -r -u 3 _ device_port || { echo "the device simulator did not start" >&2; exit 1; }
  exec 3<&-
  echo "vexlor-modbus-sim on 127.0.0.1:$device_port (pid $device_pid)"
  sed "s/port = 1502,/port = $device_port,/" examples/config/modbus_equipment.toml \
    >"$VEXLOR_RUNTIME_DIR/modbus_equipment.toml"
  config="$VEXLOR_RUNTIME_DIR/modbus_equipment.toml"
fi

say "Creating the sample equipment (instance $VEXLOR_INSTANCE)"
"$tools/vexlor-db" create "$config"
# The host link listens on FA.Local_Port (5000 in the sample equipment); tests that run sessions
# side by side give each its own port.
if [ -n "${VEXLOR_DEMO_HOST_PORT:-}" ]; then
  "$tools/vexlor" set FA.Local_Port "$VEXLOR_DEMO_HOST_PORT" >/dev/null
fi

say "Starting the sequence manager and IO engine (it starts MAIN_MONITOR)"
"$tools/vexlor-manager" --config "$config" --quiet --no-gui &
manager_pid=$!
wait_for 10 "$tools/vexlor" functions || { echo "the manager did not come up" >&2; exit 1; }
echo "vexlor-manager running (pid $manager_pid)"
if [ -n "$modbus" ]; then
  # Online as its program reports it (the statistics it publishes each second).
  pm1_online() { "$tools/vexlor" drivers --json | grep -q '"name":"PM1_PLC".*"statistics":{"state":"online"'; }
  wait_for 10 pm1_online || { echo "PM1's controller did not come online" >&2; exit 1; }
  say "Operator: the drivers (PM1_PLC is served by vexlor-modbus)"
  operator drivers
fi

if [ -x "$tools/vexlor-panel" ]; then
  say "Operator's main form: vexlor-panel, the operator panel in a browser (and this terminal)"
  "$tools/vexlor-panel" --port 0 --echo > >(sed -u 's/^/[main form] /') &
else
  say "Operator's main form: vexlor gui shows what routines tell the operator"
  "$tools/vexlor" gui > >(sed -u 's/^/[main form] /') &
fi
gui_pid=$!
gui_up() { "$tools/vexlor" functions GUI_MAINFORM | grep -q SYS_RUNNING; }
wait_for 10 gui_up || { echo "the main form did not come up" >&2; exit 1; }

if [ -x "$hostsim" ]; then
  say "Factory host: vexlor-hostsim connects to the host link, goes online and enables every event"
  "$tools/vexlor" --json host ids > "$VEXLOR_RUNTIME_DIR/ids.json"
  port=$("$tools/vexlor" get --raw FA.Local_Port)
  "$hostsim" --port "$port" --events-all --ids "$VEXLOR_RUNTIME_DIR/ids.json" \
    > "$VEXLOR_RUNTIME_DIR/host.out" 2> "$VEXLOR_RUNTIME_DIR/host.err" &
  host_pid=$!
  host_online() { grep -q "online on port" "$VEXLOR_RUNTIME_DIR/host.err"; }
  wait_for 20 host_online || { echo "the host simulator did not come online:" >&2;
    cat "$VEXLOR_RUNTIME_DIR/host.err" >&2; exit 1; }
  cat "$VEXLOR_RUNTIME_DIR/host.err"
fi

say "Operator: run the scheduler: wafer 1 of LP1 (CM1) through TM1 into PM1 and back"
# PM1 is paused before the wafer gets there: its process routine acknowledges the pause (2)
# after the pump-down and waits until the operator resumes it (0).
operator set CTC.PM1_PAUSE_FLAG 1
operator run SCHEDULER_ENGINE "CM1 1 PM1" &
run_pid=$!
pm1_paused() { [ "$("$tools/vexlor" get --raw CTC.PM1_PAUSE_FLAG)" = 2 ]; }
wait_for 20 pm1_paused || { echo "PM1 did not acknowledge the pause" >&2; exit 1; }
say "Operator: PM1 has paused with the wafer inside"
operator wafers
operator modules
say "Operator: resume PM1"
operator set CTC.PM1_PAUSE_FLAG 0
status=0
wait "$run_pid" || status=$?
run_pid=""
say "SCHEDULER_ENGINE ended with exit status $status: the wafer is back in its slot"
operator wafers
operator get CTC.PM1_PROCESS_COUNT
if [ -n "$modbus" ]; then
  say "Operator: PM1's valves, as its controller reports them"
  operator points 'PM1.*Valve'
fi
[ "$status" -eq 0 ] || exit "$status"

say "Operator: run PM2_PROCESS"
operator run PM2_PROCESS RECIPE_A &
run_pid=$!

# The process asks the busy monitor for a chamber check; after a second the refusal alarm is up.
has_alarm() { "$tools/vexlor" alarms --json | grep -q '"id":800'; }
wait_for 20 has_alarm || { echo "no refusal alarm was posted" >&2; exit 1; }
say "Operator: the alarm list"
operator alarms
say "Operator: let the check request through"
operator answer 800 ignore

status=0
wait "$run_pid" || status=$?
run_pid=""
say "PM2_PROCESS ended with exit status $status"
operator functions 'PM2_*'
operator points 'PM2.*Valve'
say "The factory host's view: the last events the host link journaled"
pm_end_journaled() { "$tools/vexlor" host --token PM_STATE | grep -q PM_END; }
wait_for 5 pm_end_journaled || true
operator host --last 14
if [ -n "$host_pid" ]; then
  say "The factory host's view: the event reports (S6F11) vexlor-hostsim received over HSMS"
  host_has_pm_end() { grep -Eq "^S6F11 CEID [0-9]+ PM_END( |$)" "$VEXLOR_RUNTIME_DIR/host.out"; }
  wait_for 10 host_has_pm_end || true
  kill "$host_pid" && wait "$host_pid" 2>/dev/null || true
  host_pid=""
  # One line per report: its CEID and event name (the values of every variable follow in
  # host.out; they make long lines).
  grep "^S6F11 " "$VEXLOR_RUNTIME_DIR/host.out" | cut -d' ' -f1-4 || true
fi

if [ -n "$modbus" ]; then
  say "Operator: the drivers, with PM1_PLC's statistics"
  operator drivers
fi

say "Stopping the main form, the manager (and its routines) and removing the instance"
kill "$gui_pid" && wait "$gui_pid" 2>/dev/null || true
gui_pid=""
kill "$manager_pid" && wait "$manager_pid" 2>/dev/null || true
manager_pid=""
if [ -n "$device_pid" ]; then
  kill "$device_pid" && wait "$device_pid" 2>/dev/null || true
  device_pid=""
fi
"$tools/vexlor-db" remove
exit "$status"
