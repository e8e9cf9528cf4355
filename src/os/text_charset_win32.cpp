// Windows builds keep texts in GBK (code page 936): UTF-8 -> UTF-16 -> code page 936.
#include "os/windows_api.h"

#include <climits>

#include "os/text_charset.h"

namespace vexlor::os {

constexpr UINT kGbkCodePage = 936;

std::string utf8_to_build_charset(std::string_view utf8) {
  if (utf8.empty() || utf8.size() > INT_MAX / 2) return std::string();
  const int in = static_cast<int>(utf8.size());
  int wide_size = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), in, nullptr, 0);
  if (wide_size <= 0) return std::string();
  std::wstring wide(static_cast<std::size_t>(wide_size), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), in, &wide[0], wide_size);
  int out_size =
      ::WideCharToMultiByte(kGbkCodePage, 0, wide.data(), wide_size, nullptr, 0, "?", nullptr);
  if (out_size <= 0) return std::string();
  std::string out(static_cast<std::size_t>(out_size), '\0');
  ::WideCharToMultiByte(kGbkCodePage, 0, wide.data(), wide_size, &out[0], out_size, "?", nullptr);
  return out;
}

}  // namespace vexlor::os
