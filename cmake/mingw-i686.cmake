# Cross-compiling for the equipment's platform, 32-bit x86 Windows, with MinGW-w64
# (Debian package g++-mingw-w64-i686). See cmake/mingw-common.cmake.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(VEXLOR_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
