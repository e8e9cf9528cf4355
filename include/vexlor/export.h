// Export macro for the public surface of libvexlor. Everything else is hidden.
#pragma once

#if defined(_WIN32)
#if defined(VEXLOR_BUILDING)
#define VEXLOR_API __declspec(dllexport)
#elif defined(VEXLOR_STATIC)
#define VEXLOR_API
#else
#define VEXLOR_API __declspec(dllimport)
#endif
#else
#define VEXLOR_API __attribute__((visibility("default")))
#endif
