// Character-aware scanning of the equipment's narrow texts. The Windows build keeps texts in
// GBK (code page 936), whose second byte of a double-byte character may be an ASCII letter or
// '|'; the POSIX build keeps them in UTF-8, where every byte of a multi-byte character is 0x80
// or above. Searches, splits and letter-case folding step over whole characters so that a
// separator or a letter is never found inside a Chinese character.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vexlor::detail {

enum class Charset { kUtf8, kGbk };

#if defined(_WIN32)
inline constexpr Charset kTextCharset = Charset::kGbk;
#else
inline constexpr Charset kTextCharset = Charset::kUtf8;
#endif

// Bytes taken by the character starting at text[pos] (1, or 2 for a GBK double-byte one).
inline std::size_t char_width(std::string_view text, std::size_t pos, Charset cs) {
  auto c = static_cast<unsigned char>(text[pos]);
  if (cs == Charset::kGbk && c >= 0x81 && c <= 0xFE && pos + 1 < text.size()) return 2;
  return 1;
}

// Position of the first character ch (or npos), never inside a double-byte character.
std::size_t find_char(std::string_view text, char ch, Charset cs = kTextCharset);

// Position of the first occurrence of part starting on a character boundary (or npos);
// fold_case ignores the case of ASCII letters. An empty part is found at 0.
std::size_t find_text(std::string_view text, std::string_view part, bool fold_case,
                      Charset cs = kTextCharset);

// Whole-text equality; fold_case ignores the case of ASCII letters only.
bool equal_text(std::string_view a, std::string_view b, bool fold_case, Charset cs = kTextCharset);

// ASCII letters upper-cased; other bytes (and GBK second bytes) unchanged.
void upper_ascii(std::string& text, Charset cs = kTextCharset);

// Length of the longest prefix of text of at most max_bytes that ends on a character boundary
// (GBK double-byte characters and UTF-8 sequences are kept whole).
std::size_t cut_length(std::string_view text, std::size_t max_bytes, Charset cs = kTextCharset);

// A bilingual text "English|Chinese" split at its first '|'. has_bar is false when the text has
// no '|' (then english is the whole text and chinese is empty).
struct Bilingual {
  std::string_view english;
  std::string_view chinese;
  bool has_bar = false;
};
Bilingual split_bilingual(std::string_view text, Charset cs = kTextCharset);

}  // namespace vexlor::detail
