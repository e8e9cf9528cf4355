// Publishes the database of a benchmark in the instance its environment names: N digital,
// analog and string points named by one-number formats, and the routine BENCH. Benchmarks of
// the exported operations link only the shared library, as routines do, so they leave the
// building to this program.
//
//   vexlor-bench-publish DIGITALS ANALOGS STRINGS [DIGITAL_FORMAT ANALOG_FORMAT STRING_FORMAT]
#include <cstdio>
#include <cstdlib>
#include <string>

#include "config/builder.h"

int main(int argc, char** argv) {
  if (argc != 4 && argc != 7) {
    std::fprintf(stderr,
                 "usage: %s DIGITALS ANALOGS STRINGS [DIGITAL_FORMAT ANALOG_FORMAT "
                 "STRING_FORMAT]\n",
                 argv[0]);
    return 2;
  }
  const int counts[3] = {std::atoi(argv[1]), std::atoi(argv[2]), std::atoi(argv[3])};
  const char* formats[3] = {"DI_%06d", "AI_%06d", "SI_%06d"};
  if (argc == 7) {
    for (int k = 0; k < 3; ++k) formats[k] = argv[4 + k];
  }
  vexlor::config::DatabaseBuilder b;
  char name[64];
  for (int i = 0; i < counts[0]; ++i) {
    std::snprintf(name, sizeof name, formats[0], i);
    b.add_digital(name);
  }
  for (int i = 0; i < counts[1]; ++i) {
    std::snprintf(name, sizeof name, formats[1], i);
    b.add_analog(name);
  }
  for (int i = 0; i < counts[2]; ++i) {
    std::snprintf(name, sizeof name, formats[2], i);
    b.add_string(name);
  }
  b.add_function("BENCH");
  std::string error;
  if (!b.publish(true, "vexlor-bench-publish", &error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  return 0;
}
