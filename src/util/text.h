// The one bounded copy used for every fixed text field and caller buffer: copies at most
// capacity-1 bytes and always terminates. A null source copies as the empty text.
#pragma once

#include <cstddef>
#include <cstring>
#include <string_view>

namespace vexlor::detail {

inline void copy_text(char* dst, std::size_t capacity, std::string_view src) {
  if (dst == nullptr || capacity == 0) return;
  std::size_t n = src.size() < capacity - 1 ? src.size() : capacity - 1;
  if (n > 0) std::memmove(dst, src.data(), n);
  dst[n] = '\0';
}

inline void copy_text(char* dst, std::size_t capacity, const char* src) {
  copy_text(dst, capacity, src ? std::string_view(src) : std::string_view());
}

template <std::size_t N>
inline void copy_text(char (&dst)[N], std::string_view src) {
  copy_text(dst, N, src);
}

template <std::size_t N>
inline void copy_text(char (&dst)[N], const char* src) {
  copy_text(dst, N, src);
}

// Length of a fixed field's text, never reading past the field.
template <std::size_t N>
inline std::string_view field_text(const char (&field)[N]) {
  return std::string_view(field, strnlen(field, N));
}

}  // namespace vexlor::detail
