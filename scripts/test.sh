#!/usr/bin/env bash
# The whole test suite: debug build with warnings as errors, the same under AddressSanitizer
# and UndefinedBehaviorSanitizer, and the 32-bit Windows layout and OS-layer compile check.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh

# Tests run in private instances under their own runtime folder.
export VEXLOR_RUNTIME_DIR="${VEXLOR_RUNTIME_DIR:-$(mktemp -d /tmp/vexlor-test.XXXXXX)}"

for preset in dev asan; do
  echo "== $preset: configure and build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  echo "== $preset: test"
  ctest --preset "$preset"
done

echo "== win32 (i686) compile check"
bash scripts/win32_check.sh
