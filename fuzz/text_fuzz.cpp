// The text utilities on arbitrary bytes: splitting, comparing, replacing and number parsing
// never overrun their buffers, and a bilingual split never cuts a double-byte character.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "util/charset.h"
#include "vexlor/util.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const char sep = static_cast<char>(data[0]);
  const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
  const char* t = text.c_str();

  char first[64], rest[64], a[16], b[16], c[16], e[16], f[16];
  Vexlor::VStr_Seperate_Char(t, sep, first, rest, sizeof first);
  Vexlor::VStr_Seperate_Char(t, sep, a, b, c, e, f, sizeof a);
  Vexlor::VStr_Seperate(t, first, rest, sizeof first);
  Vexlor::VStr_Seperate(t, a, b, c, sizeof a);
  int value = 0;
  double number = 0;
  Vexlor::VStr_Int_Check(t);
  Vexlor::VStr_To_Int(t, &value);
  Vexlor::VStr_To_Double(t, &number);
  Vexlor::VStr_Compare_L(t, "PM1.Pressure");
  Vexlor::VStr_Find_SubString_L(t, "|");
  std::string copy = text;
  Vexlor::VStr_Replace(copy, std::string_view(&sep, 1), "$$");
  Vexlor::VStr_Upper(copy);
  char alarm[512];
  Vexlor::VStr_Strcat_Alarm_Append_Text(alarm, t, t);
  if (std::memchr(alarm, '\0', sizeof alarm) == nullptr) __builtin_trap();

  namespace vd = vexlor::detail;
  for (vd::Charset cs : {vd::Charset::kUtf8, vd::Charset::kGbk}) {
    const vd::Bilingual parts = vd::split_bilingual(text, cs);
    if (parts.english.size() > text.size() || parts.chinese.size() > text.size()) __builtin_trap();
    for (std::size_t max : {0u, 1u, 7u, 63u, 511u}) {
      const std::size_t cut = vd::cut_length(text, max, cs);
      if (cut > max || cut > text.size()) __builtin_trap();
    }
  }
  return 0;
}
