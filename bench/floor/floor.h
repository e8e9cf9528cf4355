// The raw operations benchmarks compare the library's exported accessors with.
#pragma once

#include <cstdint>

extern "C" int32_t floor_load_i32(const int32_t* p);
