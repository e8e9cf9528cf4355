// The Win32 API as the OS layer's Windows sources include it: without the min/max macros that
// break std::min and std::max, and without the rarely used parts of <windows.h>. Windows Sockets 2
// come first, so that <windows.h> does not pull in the old Winsock declarations.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
// clang-format off
#include <winsock2.h>
#include <windows.h>
// clang-format on
