// Run parameters: the text sent with a run request, unpacked into RUN_PARAM_INFO_STRU.
#include <vexlor/arguments.h>
#include <vexlor/frame.h>
#include <vexlor/util.h>

#include <cstring>
#include <string_view>

#include "frame/context.h"
#include "functions/argument_text.h"
#include "util/charset.h"
#include "util/text.h"

namespace vexlor::detail {
namespace {

// Each part of a run parameter is read into a buffer of this size (1023 bytes of text).
constexpr int kPartSize = 1024;
constexpr std::size_t kSlashFieldMax = 15;
constexpr int kArgLimit = 50;

// A piece cut to a field of N bytes without splitting a character.
template <std::size_t N>
void put_cut(char (&field)[N], std::string_view piece) {
  copy_text(field, piece.substr(0, cut_length(piece, N - 1)));
}

// Takes the text before the next `separator` off `list` (all of it when there is none).
std::string_view take(std::string_view& list, char separator) {
  const std::size_t at = find_char(list, separator);
  std::string_view piece = list.substr(0, at);
  list = at == std::string_view::npos ? std::string_view() : list.substr(at + 1);
  return piece;
}

int32_t minus_one(int32_t value) { return value == INT32_MIN ? INT32_MIN : value - 1; }

int32_t or_minus_one(std::string_view field) { return field.empty() ? -1 : leading_int(field); }

void read_slash_fields(std::string_view list, Vexlor::RUN_PARAM_INFO_STRU& out) {
  std::string_view fields[9];
  for (std::string_view& field : fields) {
    const std::string_view piece = take(list, '/');
    field = piece.substr(0, cut_length(piece, kSlashFieldMax));
  }
  // Fields 1 to 4 are converted even when empty.
  const unsigned char letter = fields[0].empty() ? 0 : static_cast<unsigned char>(fields[0][0]);
  out.field1 = static_cast<int32_t>(letter) - 'A';
  out.field2 = minus_one(leading_int(fields[1]));
  out.field3 = minus_one(leading_int(fields[2]));
  out.field4 = leading_int(fields[3]);
  out.field5 = or_minus_one(fields[4]);
  out.field6 = or_minus_one(fields[5]);
  out.field7 = or_minus_one(fields[6]);
  out.field8 = or_minus_one(fields[7]);
  out.field9 = or_minus_one(fields[8]);
}

}  // namespace
}  // namespace vexlor::detail

namespace Vexlor {

namespace d = vexlor::detail;

bool VFunction_Unpacking_Run_Param(const char* text, RUN_PARAM_INFO_STRU& out) {
  if (text == nullptr || text[0] == '\0') {
    VSystem_Log(d::own_name(), LOG_ERR, "运行参数为空!");
    return false;
  }
  std::memset(&out, 0, sizeof out);
  out.code = -1;
  out.field1 = out.field2 = out.field3 = out.field4 = out.field5 = -1;
  out.field6 = out.field7 = out.field8 = out.field9 = -1;

  char first[d::kPartSize];
  char rest[d::kPartSize];
  VStr_Seperate(text, first, rest, d::kPartSize);
  std::string_view list(first);
  d::put_cut(out.command, d::take(list, ','));
  while (!list.empty()) {
    d::put_cut(out.args[out.arg_count], d::take(list, ','));
    if (++out.arg_count == d::kArgLimit) return false;
  }
  if (rest[0] == '\0') return true;

  char word[d::kPartSize];
  char slashes[d::kPartSize];
  char remainder[d::kPartSize];
  VStr_Seperate(rest, word, slashes, remainder, d::kPartSize);
  out.code = d::leading_int(word);
  d::read_slash_fields(slashes, out);
  if (VStr_Find_SubString_L(remainder, "SWITCH")) out.switch_flag = 1;
  return true;
}

}  // namespace Vexlor
