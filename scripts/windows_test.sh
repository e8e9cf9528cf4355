#!/usr/bin/env bash
# The Windows stage of the test suite: builds the 32-bit DLL and tools (the compile proves the
# 32-bit record and descriptor layouts; the suite does not run under 32-bit Wine yet), the 64-bit DLL, tools
# and Windows test suite, and runs that suite under Wine (a private prefix in the build tree,
# one persistent wineserver for the whole run), and compares both DLLs' export tables with the
# exported-name list. See docs/windows.md.
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

# Both DLLs' export tables against the exported-name list, and against the Linux library's
# overloads when the dev build has one.
echo "== export tables of both DLLs against tests/data/exported_names.txt"
reference=""
[ -f build/dev/libvexlor.so ] && reference="$root/build/dev/libvexlor.so"
cmake -DLIBRARIES="$root/build/win32/vexlor.dll;$root/build/win64/vexlor.dll" \
  -DNAMES=tests/data/exported_names.txt -DINCLUDE_DIR=include -DREFERENCE="$reference" \
  -P tests/exports/check_dll_exports.cmake
