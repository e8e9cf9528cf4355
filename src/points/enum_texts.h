// The bilingual side of enumeration item texts: picking a language's variant and deciding
// whether a caller's text names an item. Variants are separated by '|', found only on
// character boundaries so that a GBK double-byte character is never cut.
#pragma once

#include <string_view>

#include "util/charset.h"

namespace vexlor::detail {

// The variant at position `language` of an item text; the first variant when the text has no
// such variant or that variant is empty (a text without '|' is its own first variant).
std::string_view enum_variant(std::string_view text, int language, Charset cs = kTextCharset);

// How a caller's text is matched against item texts; built once per search.
class EnumTextMatcher {
 public:
  explicit EnumTextMatcher(std::string_view given, Charset cs = kTextCharset);
  // True when the item text is named by the given text: a given text holding '|' only by the
  // whole item text; any other by the whole item text or by any one of its variants.
  bool names(std::string_view item) const;

 private:
  std::string_view given_;
  bool given_has_bar_;
  Charset cs_;
};

// The equipment's display language (VSystem_Get_Language), read at every call.
int current_language();

}  // namespace vexlor::detail
