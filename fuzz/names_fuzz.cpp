// Name normalisation and key substitution on arbitrary names: the result always fits its
// 64-byte field with a terminator, whatever brackets, "$" keys or bytes the name holds.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "frame/context.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string name(reinterpret_cast<const char*>(data), size);
  char out[vexlor::detail::kNameSize];
  std::memset(out, 'x', sizeof out);
  vexlor::detail::normalise_name(name.c_str(), out);
  if (std::memchr(out, '\0', sizeof out) == nullptr) __builtin_trap();
  char buffer[vexlor::detail::kNameSize] = {};
  std::memcpy(buffer, name.data(), std::min(name.size(), sizeof buffer - 1));
  vexlor::detail::substitute_keys_cut(buffer);
  if (std::memchr(buffer, '\0', sizeof buffer) == nullptr) __builtin_trap();
  (void)vexlor::detail::buffer_text(buffer);
  return 0;
}
