#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, AddressSanitizer + UndefinedBehaviorSanitizer) and runs
# each for SECONDS (default 20) from its committed seed corpus. New inputs go to a scratch
# folder, so the committed corpus only changes by hand. Prints each target's executions.
#   scripts/fuzz.sh            # the short run of the test command
#   scripts/fuzz.sh 600        # a longer run: ten minutes per target
#   scripts/fuzz.sh 60 text    # one target
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-20}"
only="${2:-}"

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

scratch="$(mktemp -d /tmp/vexlor-fuzz.XXXXXX)"
trap 'rm -rf "$scratch"' EXIT
export VEXLOR_RUNTIME_DIR="$scratch/runtime" VEXLOR_DRIVE_ROOT="$scratch/drives"

# One target per core: the targets are single-threaded.
run_target() {
  local bin="$1" name
  name="$(basename "$bin" _fuzz)"
  mkdir -p "$scratch/$name" "fuzz/corpus/$name"
  local log="$scratch/$name.log"
  if "$bin" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
      -artifact_prefix="$scratch/$name-" "$scratch/$name" "fuzz/corpus/$name" >"$log" 2>&1; then
    runs="$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || echo '?')"
    echo "fuzz $name: ${runs} executions in ${seconds} s, no failure"
  else
    echo "fuzz $name: FAILED"
    tail -40 "$log"
    ls "$scratch"/"$name"-* 2>/dev/null && cp "$scratch"/"$name"-* /tmp/ 2>/dev/null || true
    return 1
  fi
}

jobs="$(nproc 2>/dev/null || echo 2)"
status=0
pids=()
for bin in build/fuzz/fuzz/*_fuzz; do
  name="$(basename "$bin" _fuzz)"
  [ -n "$only" ] && [ "$name" != "$only" ] && continue
  run_target "$bin" &
  pids+=("$!")
  if [ "${#pids[@]}" -ge "$jobs" ]; then
    wait "${pids[0]}" || status=1
    pids=("${pids[@]:1}")
  fi
done
for pid in "${pids[@]}"; do wait "$pid" || status=1; done
exit "$status"
