// Supervised point operations: the exported overloads of the three kinds over the two shared
// loops of points/supervised.h, the alarm texts of a pass, the interlock query, the supervised
// pulse and the wait for a digital value.
#include "points/supervised.h"

#include <vexlor/alarms.h>
#include <vexlor/frame.h>
#include <vexlor/supervised.h>
#include <vexlor/util.h>

#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "util/charset.h"
#include "frame/context.h"
#include "util/text.h"
#include "util/type_names.h"

namespace vexlor::detail::supervised {
namespace {

// Alarm texts of the operations: 511 characters and the terminator.
constexpr std::size_t kTextSize = 512;
// String point values: 1023 characters and the terminator.
constexpr std::size_t kStringSize = 1024;
// The interlock answer of the IO engine.
constexpr int kInterlockReplySize = 64;

constexpr char kWriteFailed[] = "Write Failed.|写入失败.";
constexpr char kReadFailed[] = "Read Failed.|读取失败.";

// `text` cut to 511 bytes without splitting a character.
std::string_view cut_alarm_text(std::string_view text) {
  return text.substr(0, cut_length(text, kTextSize - 1));
}

bool detail_in_table(const Detail& detail) {
  return detail.string_index >= 0 && detail.string_index < Vexlor::VSystem_Get_String_Count();
}

// The detail string's text when the read through it succeeded (points without input driver
// always succeed); null otherwise.
const char* readable_detail(const Detail& detail) {
  if (!detail_in_table(detail)) return nullptr;
  bool ok = true;
  const char* text = Vexlor::VString_Read(detail.string_index, &ok);
  return ok && text != nullptr ? text : nullptr;
}

const char* non_empty(const char* text) {
  return text != nullptr && *text != '\0' ? text : nullptr;
}

}  // namespace

PassTexts write_texts(const KindRules& rules, const Detail& detail, bool intercepted,
                      std::string& scratch) {
  if (!detail.by_index) {
    const char* text = detail.text ? detail.text : "";
    return intercepted ? PassTexts{text, rules.interception} : PassTexts{text, nullptr};
  }
  if (intercepted) return {rules.interception, nullptr};
  switch (rules.write_detail) {
    case WriteDetail::kFormatted: {
      if (!detail_in_table(detail)) return {kWriteFailed, nullptr};
      const char* raw = Vexlor::VString_Read(detail.string_index);
      const std::string_view text = raw ? raw : "";
      std::string joined;
      joined.append("Write Failed.").append(text).append("|写入失败.详细信息:").append(text);
      scratch.assign(cut_alarm_text(joined));
      return {scratch.c_str(), nullptr};
    }
    case WriteDetail::kReplace: {
      const char* text = readable_detail(detail);
      return {text ? text : kWriteFailed, nullptr};
    }
    case WriteDetail::kAppend:
      return {kWriteFailed, non_empty(readable_detail(detail))};
  }
  return {kWriteFailed, nullptr};
}

PassTexts read_texts(const Detail& detail) {
  if (!detail.by_index) return {detail.text ? detail.text : "", nullptr};
  return {kReadFailed, non_empty(readable_detail(detail))};
}

bool interlock_refused(const char* kind, int index) {
  HUB_CONTEXT* ctx = context();
  if (ctx == nullptr || ctx->fifo == nullptr) return false;
  char reply[kInterlockReplySize] = {};
  if (!ctx->fifo->VFIFO_Engine_Read(kind, "P7", "R1", index, "-", reply, kInterlockReplySize)) {
    return false;
  }
  reply[kInterlockReplySize - 1] = '\0';
  int answer = 0;
  return Vexlor::VStr_To_Int(reply, &answer) && answer != 0;
}

bool exit_requested() { return own_exit_flag(); }

Vexlor::ALARM_STYLE manage(int alarm, const char* point_name, PassTexts texts) {
  return texts.third != nullptr
             ? Vexlor::VAlarm_Manage(alarm, point_name, texts.second, texts.third)
             : Vexlor::VAlarm_Manage(alarm, point_name, texts.second);
}

Verdict judge(const KindRules& rules, bool writing, const char* point_name,
              Vexlor::ALARM_STYLE answer) {
  switch (answer) {
    case Vexlor::ALM_IGNORE:
      return Verdict::kSucceeded;
    case Vexlor::ALM_ABORT:
      return Verdict::kAborted;
    case Vexlor::ALM_RETRY:
      return Verdict::kAgain;
    default:
      break;
  }
  if (writing) {
    Vexlor::VSystem_Log(Vexlor::LOG_ALM, "%s:%s 写入重试 , 报警选项:%s 按Retry处理.",
                        rules.log_prefix, point_name, alarm_style_name(answer));
  } else {
    Vexlor::VSystem_Log(Vexlor::LOG_ALM, "%s:%s 读取重试 , 报警选项:%s 按Retry处理.",
                        rules.log_prefix, point_name, alarm_style_name(answer));
  }
  return Verdict::kAgain;
}

PointName::PointName(const char* name) { copy_text(text, name); }

namespace {

// A caller's printf text, cut to 511 bytes without splitting a character; a null format is
// the empty text.
struct FormattedText {
  FormattedText(const char* format, va_list args) {
    text[0] = '\0';
    if (format == nullptr) return;
    va_list probe;
    va_copy(probe, args);
    const int needed = std::vsnprintf(nullptr, 0, format, probe);
    va_end(probe);
    if (needed <= 0) return;
    std::string full(static_cast<std::size_t>(needed) + 1, '\0');
    std::vsnprintf(full.data(), full.size(), format, args);
    full.resize(static_cast<std::size_t>(needed));
    copy_text(text, cut_alarm_text(full));
  }
  char text[kTextSize];
};

}  // namespace
}  // namespace vexlor::detail::supervised

namespace Vexlor {

namespace s = vexlor::detail::supervised;
using s::AnalogPoint;
using s::Detail;
using s::DigitalPoint;
using s::StringPoint;

// In a variadic operation: `name` is the caller's text formatted from the arguments after
// `last`.
#define VEXLOR_SUPERVISED_TEXT(name, last)          \
  va_list name##_args;                              \
  va_start(name##_args, last);                      \
  const s::FormattedText name(format, name##_args); \
  va_end(name##_args)

// ---- Digital points ----------------------------------------------------------------------

FUNC_STATUS VDigital_Write_True(int index, int value, int alarm, int detail) {
  return s::write_loop<DigitalPoint>(index, value, alarm, Detail::of_string(detail));
}

FUNC_STATUS VDigital_Write_True(int index, int value, int alarm, const char* text) {
  return s::write_loop<DigitalPoint>(index, value, alarm, Detail::of_text(text));
}

FUNC_STATUS VDigital_Write_TrueF(int index, int value, int alarm, const char* format, ...) {
  VEXLOR_SUPERVISED_TEXT(text, format);
  return VDigital_Write_True(index, value, alarm, text.text);
}

FUNC_STATUS VDigital_Read_True(int index, int* value, int alarm, int detail) {
  int scratch = 0;
  return s::read_loop<DigitalPoint>(index, value ? value : &scratch, alarm,
                                    Detail::of_string(detail));
}

FUNC_STATUS VDigital_Read_True(int index, int* value, int alarm, const char* text) {
  int scratch = 0;
  return s::read_loop<DigitalPoint>(index, value ? value : &scratch, alarm, Detail::of_text(text));
}

FUNC_STATUS VDigital_Read_TrueF(int index, int* value, int alarm, const char* format, ...) {
  VEXLOR_SUPERVISED_TEXT(text, format);
  return VDigital_Read_True(index, value, alarm, text.text);
}

FUNC_STATUS VDigital_Write_Pulse(int index, unsigned milliseconds, int alarm, const char* text) {
  if (VDigital_Write_True(index, 1, alarm, text) == SYS_ABORTED) return SYS_ABORTED;
  VTime_MSleep(milliseconds > static_cast<unsigned>(INT_MAX) ? INT_MAX
                                                             : static_cast<int>(milliseconds));
  return VDigital_Write_True(index, 0, alarm, text) == SYS_ABORTED ? SYS_ABORTED : SYS_SUCCESS;
}

bool VDigital_Wait(int index, int value, int timeout, int* /*ignored*/) {
  const double start = VTime_Get();
  for (;;) {
    int current = 0;
    if (!VDigital_Read(index, &current)) return false;
    if (current == value) return true;
    if (!VTimer_Wait_Seconds(0.001)) return false;
    if (VTime_Get() - start > static_cast<double>(timeout)) return false;
  }
}

// ---- Analog points -----------------------------------------------------------------------

FUNC_STATUS VAnalog_Write_True(int index, double value, int alarm, int detail) {
  return s::write_loop<AnalogPoint>(index, value, alarm, Detail::of_string(detail));
}

FUNC_STATUS VAnalog_Write_True(int index, double value, int alarm, const char* text) {
  return s::write_loop<AnalogPoint>(index, value, alarm, Detail::of_text(text));
}

FUNC_STATUS VAnalog_Write_TrueF(int index, double value, int alarm, const char* format, ...) {
  VEXLOR_SUPERVISED_TEXT(text, format);
  return VAnalog_Write_True(index, value, alarm, text.text);
}

FUNC_STATUS VAnalog_Read_True(int index, double* value, int alarm, int detail) {
  double scratch = 0.0;
  return s::read_loop<AnalogPoint>(index, value ? value : &scratch, alarm,
                                   Detail::of_string(detail));
}

FUNC_STATUS VAnalog_Read_True(int index, double* value, int alarm, const char* text) {
  double scratch = 0.0;
  return s::read_loop<AnalogPoint>(index, value ? value : &scratch, alarm, Detail::of_text(text));
}

FUNC_STATUS VAnalog_Read_TrueF(int index, double* value, int alarm, const char* format, ...) {
  VEXLOR_SUPERVISED_TEXT(text, format);
  return VAnalog_Read_True(index, value, alarm, text.text);
}

// ---- String points -----------------------------------------------------------------------

FUNC_STATUS VString_Write_True(int index, const char* value, int alarm, int detail) {
  return s::write_loop<StringPoint>(index, value ? value : "", alarm, Detail::of_string(detail));
}

FUNC_STATUS VString_Write_True(int index, const char* value, int alarm, const char* text) {
  return s::write_loop<StringPoint>(index, value ? value : "", alarm, Detail::of_text(text));
}

FUNC_STATUS VString_Write_TrueF(int index, const char* value, int alarm, const char* format, ...) {
  VEXLOR_SUPERVISED_TEXT(text, format);
  return VString_Write_True(index, value, alarm, text.text);
}

FUNC_STATUS VString_Read_True(int index, char* value, int alarm, int detail) {
  char scratch[vexlor::detail::supervised::kStringSize];
  return s::read_loop<StringPoint>(index, value ? value : scratch, alarm,
                                   Detail::of_string(detail));
}

FUNC_STATUS VString_Read_True(int index, char* value, int alarm, const char* text) {
  char scratch[vexlor::detail::supervised::kStringSize];
  return s::read_loop<StringPoint>(index, value ? value : scratch, alarm, Detail::of_text(text));
}

FUNC_STATUS VString_Read_TrueF(int index, char* value, int alarm, const char* format, ...) {
  VEXLOR_SUPERVISED_TEXT(text, format);
  return VString_Read_True(index, value, alarm, text.text);
}

#undef VEXLOR_SUPERVISED_TEXT

}  // namespace Vexlor
