#!/usr/bin/env bash
# Installs the build to a temporary prefix, moves the installed tree elsewhere (it must not
# care where it lies), then builds the routine of consumer/ against it twice - through the
# CMake package and through pkg-config - and runs it on an instance created with the
# installed vexlor-db, and reads the point back with the installed console.
#
#   check_install.sh BUILD_DIR CXX "CXXFLAGS" "LDFLAGS"
set -euo pipefail
build=$1 cxx=$2 cxxflags=${3:-} ldflags=${4:-}
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/vexlor-install.XXXXXX")
trap 'rm -rf "$work"' EXIT

fail() {
  echo "FAIL: $*" >&2
  exit 1
}
# expect WHAT EXPECTED ACTUAL
expect() {
  [ "$2" == "$3" ] || fail "$1: expected [$2], got [$3]"
}

cmake --install "$build" --prefix "$work/staged" >/dev/null
mv "$work/staged" "$work/tree"
tree=$work/tree
pcfile=$(cd "$tree" && find . -name vexlor.pc | head -n1)
[ -n "$pcfile" ] || fail "vexlor.pc is not installed"
lib=${pcfile#./}
lib=${lib%/pkgconfig/vexlor.pc}

# The installed programs carry a path relative to themselves, nothing of the build tree.
for tool in vexlor vexlor-db vexlor-manager; do
  [ -x "$tree/bin/$tool" ] || fail "bin/$tool is not installed"
  runpath=$(readelf -d "$tree/bin/$tool" | sed -n 's/.*R\(UN\)\{0,1\}PATH.*\[\(.*\)\]/\2/p')
  expect "RUNPATH of $tool" "\$ORIGIN/../$lib" "$runpath"
done
prefix_line=$(grep '^prefix=' "$tree/$lib/pkgconfig/vexlor.pc")
[[ $prefix_line == 'prefix=${pcfiledir}/'* ]] || fail "vexlor.pc: prefix not relative: $prefix_line"

# An instance of our own, created with the installed tool.
export VEXLOR_RUNTIME_DIR=$work/run VEXLOR_INSTANCE=install_check
export VEXLOR_DRIVE_ROOT=$work/run/drives
mkdir -p "$VEXLOR_RUNTIME_DIR"
cat >"$work/equipment.toml" <<'TOML'
enums = [ { name = "CloseOpen", items = [["Close|关闭", 0], ["Open|打开", 1]] } ]
digital = [ { name = "CTC.Language", init = 0 }, { name = "PM1.Valve", enum = "CloseOpen" } ]
functions = [ { name = "INSTALL_CHECK" } ]
TOML
"$tree/bin/vexlor-db" create "$work/equipment.toml" >/dev/null

# 1. The CMake package: the library and the three tools as imported targets.
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S "$here/consumer" -B "$work/cmake" -DCMAKE_PREFIX_PATH="$tree" \
  -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_CXX_FLAGS="$cxxflags" \
  -DCMAKE_EXE_LINKER_FLAGS="$ldflags" "${launcher[@]}" >/dev/null
cmake --build "$work/cmake" >/dev/null
expect "imported tools" "$tree/bin/vexlor-db
$tree/bin/vexlor-manager
$tree/bin/vexlor" "$(cat "$work/cmake/tools.txt")"
expect "routine built with find_package" "PM1.Valve = Open (1)" "$("$work/cmake/valve_routine")"
expect "installed console, get" "Open 1" \
  "$("$tree/bin/vexlor" points get PM1.Valve) $("$tree/bin/vexlor" get --raw PM1.Valve)"
expect "installed bash completion" "complete -F _vexlor vexlor" \
  "$(tail -n 1 "$tree/share/bash-completion/completions/vexlor")"
expect "installed console, set" "PM1.Valve = Close" \
  "$("$tree/bin/vexlor" points set PM1.Valve Close)"

# 2. pkg-config, one compiler call.
export PKG_CONFIG_PATH=$tree/$lib/pkgconfig
libdir=$(pkg-config --variable=libdir vexlor)
# shellcheck disable=SC2046,SC2086
"$cxx" $cxxflags "$here/consumer/valve_routine.cpp" -o "$work/pc_routine" \
  $(pkg-config --cflags --libs vexlor) -Wl,-rpath,"$libdir" $ldflags
expect "routine built with pkg-config" "PM1.Valve = Open (1)" "$("$work/pc_routine")"
expect "libdir of vexlor.pc" "$(cd "$tree/$lib" && pwd -P)" "$(cd "$libdir" && pwd -P)"

"$tree/bin/vexlor-db" remove >/dev/null
echo "installed tree, CMake package, pkg-config and tools: ok"
