// Name caching through a caller's int, and the formatting of names and texts.
#include "points/typed_point.h"

#include <cstdio>

namespace vexlor::detail {

bool resolve_cached(Vexlor::IO_TYPE type, int* index, const char* format, va_list args) {
  if (index == nullptr || *index == Vexlor::VEXLOR_ERROR_POINT) return false;
  if (*index != Vexlor::VEXLOR_UNUSED_POINT) return true;
  char name[kNameSize];
  format_text(name, sizeof name, format, args);
  return Vexlor::VIO_Find_Point(index, type, name);
}

void format_text(char* out, std::size_t size, const char* format, va_list args) {
  if (out == nullptr || size == 0) return;
  out[0] = '\0';
  if (format != nullptr) std::vsnprintf(out, size, format, args);
}

}  // namespace vexlor::detail
