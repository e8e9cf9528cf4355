#!/usr/bin/env bash
# Cross-compiles the public headers and the Windows OS layer for 32-bit Windows
# (MinGW-w64 i686) into build/win32-check. Exits non-zero when anything fails to compile,
# including a record layout assert.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${root}/build/win32-check"

cmake -S "${root}/cmake/win32-check" -B "${build}" \
  -DCMAKE_TOOLCHAIN_FILE="${root}/cmake/mingw-i686.cmake" -DCMAKE_BUILD_TYPE=Debug
cmake --build "${build}" -j2
echo "win32 check passed"
