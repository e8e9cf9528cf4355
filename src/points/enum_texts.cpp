// Variant selection and text matching for enumeration item texts.
#include "points/enum_texts.h"

#include "vexlor/frame.h"

namespace vexlor::detail {

std::string_view enum_variant(std::string_view text, int language, Charset cs) {
  const std::size_t first_bar = find_char(text, '|', cs);
  const std::string_view first = text.substr(0, first_bar);
  if (language <= 0 || first_bar == std::string_view::npos) return first;
  std::string_view rest = text.substr(first_bar + 1);
  for (int index = 1;; ++index) {
    const std::size_t bar = find_char(rest, '|', cs);
    if (index == language) {
      const std::string_view variant = rest.substr(0, bar);
      return variant.empty() ? first : variant;
    }
    if (bar == std::string_view::npos) return first;
    rest.remove_prefix(bar + 1);
  }
}

EnumTextMatcher::EnumTextMatcher(std::string_view given, Charset cs)
    : given_(given), given_has_bar_(find_char(given, '|', cs) != std::string_view::npos), cs_(cs) {}

bool EnumTextMatcher::names(std::string_view item) const {
  if (item == given_) return true;
  if (given_has_bar_) return false;
  // Each variant in turn, left to right; an item without '|' has been compared whole above.
  std::size_t bar = find_char(item, '|', cs_);
  if (bar == std::string_view::npos) return false;
  for (;;) {
    if (item.substr(0, bar) == given_) return true;
    if (bar == std::string_view::npos) return false;
    item.remove_prefix(bar + 1);
    bar = find_char(item, '|', cs_);
  }
}

int current_language() { return Vexlor::VSystem_Get_Language(); }

}  // namespace vexlor::detail
