// Bilingual texts split at their first '|' on character boundaries. In GBK the second byte
// of a double-byte character may be 0x7C ('|'): "東" is 0x96 0x7C. Run on both builds: the
// Windows builds keep literals and configured texts in GBK, the POSIX build in UTF-8, and
// either way a literal, its configured (UTF-8) twin and the split agree.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config/loader.h"
#include "util/charset.h"

namespace {

namespace d = vexlor::detail;

struct SplitCase {
  std::string text;
  d::Charset charset;
  std::string english, chinese;
  bool has_bar;
};

TEST(GbkText, SplitNeverCutsADoubleByteCharacter) {
  const std::vector<SplitCase> cases = {
      {"Open|\xB4\xF2\xBF\xAA", d::Charset::kGbk, "Open", "\xB4\xF2\xBF\xAA", true},
      {"\x96\x7C|East", d::Charset::kGbk, "\x96\x7C", "East", true},
      {"\xB7\xA7\x96\x7C", d::Charset::kGbk, "\xB7\xA7\x96\x7C", "", false},
      {"|\xB7\xA7", d::Charset::kGbk, "", "\xB7\xA7", true},
      {"ab\xB7|c", d::Charset::kGbk, "ab\xB7|c", "", false},  // lead byte + '|' is one character
      {"ab|\xB7", d::Charset::kGbk, "ab", "\xB7", true},      // a lone lead byte at the end
      {"\xE6\x9D\xB1|East", d::Charset::kUtf8, "\xE6\x9D\xB1", "East", true},
      // The build's own literals, GBK or UTF-8.
      {"東|East", d::kTextCharset, "東", "East", true},
      {"阀门|Valve|x", d::kTextCharset, "阀门", "Valve|x", true},
  };
  for (const SplitCase& c : cases) {
    d::Bilingual b = d::split_bilingual(c.text, c.charset);
    EXPECT_EQ(std::string(b.english), c.english) << c.text;
    EXPECT_EQ(std::string(b.chinese), c.chinese) << c.text;
    EXPECT_EQ(b.has_bar, c.has_bar) << c.text;
  }
  EXPECT_EQ(d::cut_length("\xB7\xA7\x96\x7C", 3, d::Charset::kGbk), 2u);

  // Configured texts arrive as UTF-8 and are stored in the build's charset: exactly the
  // literal's bytes, which are GBK on Windows.
  EXPECT_EQ(vexlor::config::to_build_charset(u8"東|East"), "東|East");
  EXPECT_EQ(std::string("東|East") == "\x96\x7C|East", d::kTextCharset == d::Charset::kGbk);
}

}  // namespace
