# Cross-compiling for 64-bit Windows with MinGW-w64 (Debian package g++-mingw-w64-x86-64):
# the build that runs the test suite under Wine. See cmake/mingw-common.cmake.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(VEXLOR_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
