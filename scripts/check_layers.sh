#!/usr/bin/env bash
# Checks that every folder of src/ includes internal headers only from its own layer or the
# layers below it (public <vexlor/...> headers are open to every layer). Exits 1 naming each
# upward include.
set -euo pipefail
cd "$(dirname "$0")/.."

# Bottom to top; config (the equipment configuration tool side) sits on the database layer.
layers=(os util fifo db frame points functions alarms named host scheduler routine)
rank() {
  local i
  for i in "${!layers[@]}"; do [ "${layers[$i]}" = "$1" ] && { echo "$i"; return; }; done
  [ "$1" = config ] && { echo 99; return; }
  echo -1
}

bad=0
for dir in src/*/; do
  layer=$(basename "$dir")
  own=$(rank "$layer")
  while IFS= read -r line; do
    file=${line%%:*}
    target=$(sed -E 's/.*#include "([a-z_]+)\/.*/\1/' <<<"$line")
    { [ "$target" = "$layer" ] || [ "$target" = vexlor ]; } && continue
    theirs=$(rank "$target")
    if [ "$theirs" -lt 0 ] || [ "$theirs" -ge "$own" ] || { [ "$layer" = config ] && [ "$target" != os ] && [ "$target" != util ] && [ "$target" != db ]; }; then
      echo "upward include: $file -> $target/"
      bad=1
    fi
  done < <(grep -rn '#include "[a-z_]*/' "$dir" || true)
done
# The host link's protocol layer stands beside the runtime: link/secs includes nothing of src/,
# of the public <vexlor/...> headers or of tools/; link/gem builds on link/secs and the public
# headers only, nothing of src/ or tools/.
check_link() {
  local dir="$1" pattern="$2" line
  [ -d "$dir" ] || return 0
  while IFS= read -r line; do
    echo "link layer include: $line"
    bad=1
  done < <(grep -rnE "$pattern" "$dir" || true)
}
src_dirs="$(cd src && ls -d */ | tr -d / | paste -sd'|')"
check_link link/secs "#include [\"<](vexlor/|${src_dirs}/|tools/|gem/|common/)"
check_link link/gem "#include \"(${src_dirs}/|tools/|common/)"
[ "$bad" -eq 0 ] && echo "layers ok"
exit "$bad"
