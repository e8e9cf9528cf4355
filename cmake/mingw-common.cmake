# What both MinGW-w64 toolchains share; the including file sets CMAKE_SYSTEM_PROCESSOR and
# VEXLOR_MINGW_TRIPLE.
#
# VEXLOR_MINGW_THREADS picks the compiler's thread model: "posix" (default) provides
# <mutex>, <thread> and <condition_variable>, which the library's process-local locks use;
# the "win32" model of GCC 12 has none of them. Set it to an empty value to use the plain
# <triple>-g++ that the system's alternatives select.
set(CMAKE_SYSTEM_NAME Windows)

set(VEXLOR_MINGW_THREADS "posix" CACHE STRING "MinGW thread model: posix, win32 or empty")

if(VEXLOR_MINGW_THREADS)
  set(_vexlor_suffix "-${VEXLOR_MINGW_THREADS}")
else()
  set(_vexlor_suffix "")
endif()
set(CMAKE_C_COMPILER ${VEXLOR_MINGW_TRIPLE}-gcc${_vexlor_suffix})
set(CMAKE_CXX_COMPILER ${VEXLOR_MINGW_TRIPLE}-g++${_vexlor_suffix})
set(CMAKE_RC_COMPILER ${VEXLOR_MINGW_TRIPLE}-windres)

# Look for headers and libraries in the target's root only, for programs on the host.
set(CMAKE_FIND_ROOT_PATH /usr/${VEXLOR_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The compiler's runtime (libgcc, libstdc++, winpthread) is linked in statically, so the DLL
# and the programs need nothing beside them but Windows itself.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
