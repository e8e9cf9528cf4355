# Third-party code of the Windows builds. Debian ships no MinGW build of SQLite, so the
# library compiles SQLite's amalgamation (sqlite3.c/sqlite3.h) from VEXLOR_SQLITE_DIR, which
# scripts/windows_deps.sh fills. toml++ and CLI11 are header-only: their host headers are
# linked into a folder of their own, so no other host header is on the include path.
set(VEXLOR_SQLITE_DIR "${PROJECT_SOURCE_DIR}/build/win-deps/sqlite3" CACHE PATH
  "folder holding SQLite's amalgamation (sqlite3.c, sqlite3.h)")
if(NOT EXISTS "${VEXLOR_SQLITE_DIR}/sqlite3.c")
  message(FATAL_ERROR "no SQLite amalgamation in ${VEXLOR_SQLITE_DIR}: run scripts/windows_deps.sh")
endif()
enable_language(C)
add_library(vexlor_sqlite3 STATIC "${VEXLOR_SQLITE_DIR}/sqlite3.c")
target_include_directories(vexlor_sqlite3 SYSTEM PUBLIC "${VEXLOR_SQLITE_DIR}")
target_compile_definitions(vexlor_sqlite3 PRIVATE SQLITE_THREADSAFE=1 SQLITE_OMIT_LOAD_EXTENSION
  SQLITE_DEFAULT_WAL_SYNCHRONOUS=1)
set_target_properties(vexlor_sqlite3 PROPERTIES POSITION_INDEPENDENT_CODE ON C_VISIBILITY_PRESET hidden)
add_library(SQLite::SQLite3 ALIAS vexlor_sqlite3)

set(vexlor_host_headers "${PROJECT_BINARY_DIR}/host-headers")
file(MAKE_DIRECTORY "${vexlor_host_headers}")
foreach(dir toml++ CLI)
  if(NOT EXISTS "/usr/include/${dir}")
    message(FATAL_ERROR "/usr/include/${dir} is missing: install the host's toml++ and CLI11")
  endif()
  if(NOT EXISTS "${vexlor_host_headers}/${dir}")
    file(CREATE_LINK "/usr/include/${dir}" "${vexlor_host_headers}/${dir}" SYMBOLIC)
  endif()
endforeach()
add_library(vexlor_toml INTERFACE)
target_include_directories(vexlor_toml SYSTEM INTERFACE "${vexlor_host_headers}")
add_library(tomlplusplus::tomlplusplus ALIAS vexlor_toml)
add_library(vexlor_cli11 INTERFACE)
target_include_directories(vexlor_cli11 SYSTEM INTERFACE "${vexlor_host_headers}")
add_library(CLI11::CLI11 ALIAS vexlor_cli11)
