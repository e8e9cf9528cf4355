// The floors of the exported accessors: out-of-line functions in a shared library of their own
// that do only the raw load or store, so a benchmark can set an accessor of libvexlor beside
// the same call through a shared library with none of our code in it.
#include "floor.h"

int32_t floor_load_i32(const int32_t* field) { return *field; }
double floor_load_f64(const double* field) { return *field; }
void floor_store_i32(int32_t* field, int32_t value) { *field = value; }
void floor_store_f64(double* field, double value) { *field = value; }
