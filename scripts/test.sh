#!/usr/bin/env bash
# The whole test suite: the layer check, an optimised build with warnings as errors (the
# cross-process and end-to-end tests run as fast as users run them), an unoptimised one under
# AddressSanitizer and UndefinedBehaviorSanitizer, the concurrency tests under ThreadSanitizer,
# a short run of every fuzz target, and the Windows stage: the 32-bit and 64-bit DLLs and the
# Windows test suite under Wine (scripts/windows_test.sh).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh

# Compiler results are kept by ccache (installed by setup.sh, picked up by CMakeLists.txt) under
# paths relative to the checkout, so a second checkout or a clean one builds from the cache.
export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$PWD}" CCACHE_NOHASHDIR="${CCACHE_NOHASHDIR:-1}"

echo "== layers  [${SECONDS} s]"
bash scripts/check_layers.sh

# Tests run in private instances under their own runtime folder, removed afterwards.
if [ -z "${VEXLOR_RUNTIME_DIR:-}" ]; then
  VEXLOR_RUNTIME_DIR="$(mktemp -d /tmp/vexlor-test.XXXXXX)"
  trap 'rm -rf "$VEXLOR_RUNTIME_DIR"' EXIT
fi
export VEXLOR_RUNTIME_DIR
# Log files of the tests go below the runtime folder too.
export VEXLOR_DRIVE_ROOT="${VEXLOR_DRIVE_ROOT:-$VEXLOR_RUNTIME_DIR/drives}"

for preset in dev asan; do
  echo "== $preset: configure and build  [${SECONDS} s]"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  echo "== $preset: test  [${SECONDS} s]"
  ctest --preset "$preset"
done

echo "== tsan: configure and build  [${SECONDS} s]"
cmake --preset tsan >/dev/null
cmake --build --preset tsan
echo "== tsan: concurrency tests  [${SECONDS} s]"
ctest --preset tsan

echo "== fuzz: ${VEXLOR_FUZZ_SECONDS:-20} s per target  [${SECONDS} s]"
bash scripts/fuzz.sh "${VEXLOR_FUZZ_SECONDS:-20}"

echo "== windows: 32-bit and 64-bit DLLs, the Windows suite under Wine  [${SECONDS} s]"
bash scripts/windows_test.sh
echo "== all stages passed in ${SECONDS} s"
