// Name normalisation: bracketed module names to module IDs and back, and the "$n" keys.
#include <string>
#include <string_view>

#include "util/charset.h"
#include "frame/context.h"
#include "util/text.h"
#include "vexlor/points.h"

namespace vexlor::detail {
namespace {

// Upper bound of the working text of VModule_ID_To_Name; a result must fit 63 characters, so
// growing far beyond that can only end in failure.
constexpr std::size_t kWorkLimit = 64 * 1024;

// Applies the "$n" keys to `text` in ascending key order; true when something was replaced.
// Hot: on the path of a lookup, gathered with it on a few code pages (points/lookup.cpp).
[[gnu::hot]] bool substitute_keys(std::string& text) {
  MapLock lock(map_mutex());
  HUB_CONTEXT* ctx = context();
  if (ctx == nullptr) return false;
  bool changed = false;
  for (const auto& [key, value] : ctx->replace_map) {
    if (find_text(text, key, false) == std::string_view::npos) continue;
    Vexlor::VStr_Replace(text, key, value);
    changed = true;
  }
  return changed;
}

}  // namespace

[[gnu::hot]] void normalise_name(const char* name, char (&out)[kNameSize]) {
  copy_text(out, name);
  Vexlor::VModule_Name_To_ID(out);
  Vexlor::VIO_Replace_Char(out);
}

void substitute_keys_cut(char (&name)[kNameSize]) {
  std::string text(buffer_text(name));
  if (substitute_keys(text)) copy_text(name, text);
}

}  // namespace vexlor::detail

namespace Vexlor {

namespace d = vexlor::detail;

[[gnu::hot]] bool VModule_Name_To_ID(char* buffer) {
  MMAP_STRU* db = d::attached_db();
  if (db == nullptr || buffer == nullptr) return false;
  const std::string_view text = d::buffer_text(buffer);
  const std::size_t open = d::find_char(text, '[');
  const std::size_t close = d::find_char(text, ']');
  if (open == std::string_view::npos && close == std::string_view::npos) return true;
  if (open == std::string_view::npos || close == std::string_view::npos || open > close) {
    return false;
  }
  const std::string_view inner = text.substr(open + 1, close - open - 1);
  const int32_t count = db->system_block->module_count;
  std::string_view id;
  for (int32_t i = 0; i < count; ++i) {
    if (d::field_text(db->module_sp[i].name) == inner) {
      id = d::field_text(db->module_sp[i].id);
      break;
    }
  }
  if (id.empty()) return false;
  std::string result(text.substr(0, open));
  result += id;
  result += text.substr(close + 1);
  if (result.size() >= d::kNameSize) return false;
  d::copy_text(buffer, d::kNameSize, result);
  return true;
}

bool VModule_ID_To_Name(char* buffer) {
  MMAP_STRU* db = d::attached_db();
  if (db == nullptr || buffer == nullptr) return false;
  std::string work(d::buffer_text(buffer));
  bool changed = false;
  const int32_t count = db->system_block->module_count;
  for (int32_t i = 0; i < count && work.size() <= d::kWorkLimit; ++i) {
    const std::string_view id = d::field_text(db->module_sp[i].id);
    if (id.empty()) continue;
    const std::string replacement = "[" + std::string(d::field_text(db->module_sp[i].name)) + "]";
    std::size_t from = 0;
    while (work.size() <= d::kWorkLimit) {
      const std::size_t at = d::find_text(std::string_view(work).substr(from), id, false);
      if (at == std::string_view::npos) break;
      work.replace(from + at, id.size(), replacement);
      from += at + replacement.size();
      changed = true;
    }
  }
  if (!changed || work.size() >= d::kNameSize) return false;
  d::copy_text(buffer, d::kNameSize, work);
  return true;
}

bool VIO_Replace_Char_Set(int n, const char* text) {
  d::HUB_CONTEXT* ctx = d::context();
  if (ctx == nullptr || ctx->db == nullptr) return false;
  d::MapLock lock(d::map_mutex());
  ctx->replace_map.insert_or_assign("$" + std::to_string(n), text ? text : "");
  return true;
}

const char* VIO_Replace_Char_Get(int n) {
  d::HUB_CONTEXT* ctx = d::context();
  if (ctx == nullptr || ctx->db == nullptr) return "";
  d::MapLock lock(d::map_mutex());
  auto it = ctx->replace_map.find("$" + std::to_string(n));
  return it == ctx->replace_map.end() ? "" : it->second.c_str();
}

[[gnu::hot]] bool VIO_Replace_Char(char* buffer) {
  d::HUB_CONTEXT* ctx = d::context();
  if (ctx == nullptr || ctx->db == nullptr || buffer == nullptr) return false;
  std::string work(d::buffer_text(buffer));
  if (!d::substitute_keys(work) || work.size() >= d::kNameSize) return false;
  d::copy_text(buffer, d::kNameSize, work);
  return true;
}

}  // namespace Vexlor
