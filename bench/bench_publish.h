// Publishing a benchmark's database from a benchmark that links only the shared library: the
// builder runs as its own program (publish/publish.cpp) in the instance of the environment.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

namespace vexlor::bench {

// N digital, analog and string points named by one-number formats, and the routine BENCH.
// Exits the benchmark when publishing fails: nothing could be measured.
inline void publish_database(int digitals, int analogs, int strings,
                             const std::string& digital_format = "DI_%06d",
                             const std::string& analog_format = "AI_%06d",
                             const std::string& string_format = "SI_%06d") {
  const std::string command = std::string("'") + VEXLOR_BENCH_PUBLISH + "' " +
                              std::to_string(digitals) + " " + std::to_string(analogs) + " " +
                              std::to_string(strings) + " '" + digital_format + "' '" +
                              analog_format + "' '" + string_format + "'";
  if (std::system(command.c_str()) != 0) {
    std::fprintf(stderr, "cannot publish the benchmark database: %s\n", command.c_str());
    std::exit(1);
  }
}

}  // namespace vexlor::bench
