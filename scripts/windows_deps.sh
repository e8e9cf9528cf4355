#!/usr/bin/env bash
# SQLite's amalgamation for the Windows builds, into build/win-deps/sqlite3. Debian has no
# MinGW SQLite and no package with the amalgamation; the npm registry's better-sqlite3 carries
# it unchanged in deps/sqlite3, so its tarball is fetched with `npm pack` (nothing installed,
# no script of it run) and only those files are kept. Does nothing when they are there.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
dest="${root}/build/win-deps/sqlite3"
[ -f "${dest}/sqlite3.c" ] && [ -f "${dest}/sqlite3.h" ] && exit 0
version="12.11.1"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
(cd "$work" && npm pack --silent "better-sqlite3@${version}" >/dev/null)
tar -xzf "$work/better-sqlite3-${version}.tgz" -C "$work" package/deps/sqlite3
mkdir -p "$dest"
cp "$work/package/deps/sqlite3/sqlite3.c" "$work/package/deps/sqlite3/sqlite3.h" "$dest/"
echo "SQLite amalgamation in ${dest}"
