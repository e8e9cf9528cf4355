// Raw loads and stores behind a shared-library call: the floor of an exported accessor.
#pragma once

#include <cstdint>

int32_t floor_load_i32(const int32_t* field);
double floor_load_f64(const double* field);
void floor_store_i32(int32_t* field, int32_t value);
void floor_store_f64(double* field, double value);
