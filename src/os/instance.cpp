// Object names to file names, the same on every platform.
#include "os/instance.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace vexlor::os {

#if defined(_WIN32)
static constexpr char kSeparator[] = "\\";
#else
static constexpr char kSeparator[] = "/";
#endif

std::string instance_name() {
  const char* env = std::getenv("VEXLOR_INSTANCE");
  return (env && *env) ? std::string(env) : std::string("default");
}

std::string instance_dir(const std::string& instance, bool create) {
  std::string name = instance.empty() ? instance_name() : instance;
  std::string dir = runtime_base() + kSeparator + file_name_for(name);
  if (create && !make_dirs(dir)) return {};
  return dir;
}

std::string file_name_for(const std::string& object_name) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(object_name.size());
  for (unsigned char c : object_name) {
    bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                 c == '-' || c == '_' || (c == '.' && !out.empty());
    if (plain) {
      out.push_back(static_cast<char>(c));
    } else {
      out.push_back('%');
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 15]);
    }
  }
  if (out.empty()) out = "%00";
  if (out.size() > 200) {
    // FNV-1a keeps long names distinct while fitting any file system's name limit.
    uint64_t h = 1469598103934665603ull;
    for (unsigned char c : object_name) h = (h ^ c) * 1099511628211ull;
    char tail[24];
    std::snprintf(tail, sizeof tail, "~%016llx", static_cast<unsigned long long>(h));
    out = out.substr(0, 180) + tail;
  }
  return out;
}

}  // namespace vexlor::os
