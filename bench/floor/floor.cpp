// The floor of an exported accessor: an out-of-line function exported from its own small
// shared library that does only the raw load, so a benchmark compares like with like (a call
// through the dynamic linker's table, then the load).
#include <cstdint>

#if defined(_WIN32)
#define VEXLOR_FLOOR_API extern "C" __declspec(dllexport)
#else
#define VEXLOR_FLOOR_API extern "C" __attribute__((visibility("default")))
#endif

VEXLOR_FLOOR_API int32_t floor_load_i32(const int32_t* p) { return *p; }
