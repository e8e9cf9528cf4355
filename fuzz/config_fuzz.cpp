// The equipment configuration loader on arbitrary file contents: it must load or refuse with
// one line, never crash, hang or exhaust memory.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <unistd.h>

#include "config/builder.h"
#include "config/loader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = "/tmp/vexlor-config-fuzz-" + std::to_string(getpid()) + ".toml";
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return 0;
  std::fwrite(data, 1, size, f);
  std::fclose(f);
  vexlor::config::DatabaseBuilder builder;
  std::string error;
  std::vector<std::string> warnings;
  const bool ok = vexlor::config::load_configuration(path, builder, &error, &warnings);
  if (!ok && error.empty()) __builtin_trap();  // a refusal always says why
  return 0;
}
