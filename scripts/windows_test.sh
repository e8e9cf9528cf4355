#!/usr/bin/env bash
# The Windows stage of the test suite: builds the 32-bit DLL and tools (the compile proves the
# 32-bit record and descriptor layouts; 32-bit programs cannot run here), the 64-bit DLL, tools
# and Windows test suite, and runs that suite under Wine (a private prefix in the build tree,
# one persistent wineserver for the whole run). See docs/windows.md.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"

bash scripts/windows_deps.sh

echo "== win32: vexlor.dll and tools (32-bit layouts)"
cmake --preset win32 >/dev/null
cmake --build --preset win32

echo "== win64: vexlor.dll, tools and the Windows test suite"
cmake --preset win64 >/dev/null
cmake --build --preset win64

echo "== win64: the Windows test suite under Wine"
wine="$(command -v wine64 || echo /usr/lib/wine/wine64)"
wineserver="$(command -v wineserver || echo /usr/lib/wine/wineserver)"
export WINEDEBUG=-all
export WINEPREFIX="$root/build/win64/wineprefix"
# No Mono or Gecko installer prompt while the prefix is made: nothing here needs them.
export WINEDLLOVERRIDES="mscoree,mshtml=d"
mkdir -p "$WINEPREFIX"
# The tests make their own instances in Windows' temporary folder; Linux paths mean nothing there.
unset VEXLOR_RUNTIME_DIR VEXLOR_DRIVE_ROOT VEXLOR_INSTANCE
# One wineserver for every process of the run: a Windows process then starts in tens of
# milliseconds instead of seconds.
"$wineserver" -p >/dev/null 2>&1 &
trap '"$wineserver" -k >/dev/null 2>&1 || true' EXIT
# Make the prefix and start Wine's own services first, with their output going nowhere: they
# outlive the test program and would otherwise hold this script's output open.
"$wine" wineboot >/dev/null 2>&1 </dev/null
"$wine" build/win64/tests/vexlor_tests.exe
