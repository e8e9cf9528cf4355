// The supervised write and read loops shared by the digital, analog and string points: access,
// and on failure manage the caller's alarm and act on the operator's answer until the access
// succeeds, the operator ignores or aborts, or the routine is told to stop. What differs per
// kind (interlock query, interception text, log prefix, detail-string rule, quick reads) is one
// row of KindRules; each kind's traits add its raw access and its name getter.
#pragma once

#include <vexlor/analog.h>
#include <vexlor/digital.h>
#include <vexlor/frame.h>
#include <vexlor/string_points.h>
#include <vexlor/types.h>

#include <string>

namespace vexlor::detail::supervised {

// How a kind's detail-string write words the alarm of a pass the interlock did not refuse.
enum class WriteDetail {
  kFormatted,  // "Write Failed.<text>|写入失败.详细信息:<text>"; "Write Failed.|写入失败." when
               // the index is outside the string table
  kReplace,  // the detail text when it reads, else "Write Failed.|写入失败."
  kAppend,   // "Write Failed.|写入失败." and, as third text, the detail text when it reads
             // non-empty
};

struct KindRules {
  const char* log_prefix;      // of the "按Retry处理" log line
  const char* interlock_kind;  // engine request kind of the interlock query; null: none
  const char* interception;    // the alarm text when the interlock refused the write
  WriteDetail write_detail;
  int quick_reads;  // reads 0.1 s apart after a failed read, before each alarm
};

// clang-format off
//                                log    interlock interception text                                 detail-string write       quick reads
inline constexpr KindRules kDigitalRules{"DIO", "$D",   "Setpoint Interlocking interception.| 互锁拦截.", WriteDetail::kFormatted, 2};
inline constexpr KindRules kAnalogRules {"AIO", "$A",   "Setpoint Interlocking interception.|互锁拦截.",  WriteDetail::kReplace,   2};
inline constexpr KindRules kStringRules {"SIO", nullptr, nullptr,                                         WriteDetail::kAppend,    2};
// clang-format on

// Where the text of a pass's alarm comes from: the caller's text, or a detail string point.
struct Detail {
  static Detail of_text(const char* text) { return {text, -1, false}; }
  static Detail of_string(int index) { return {nullptr, index, true}; }
  const char* text;
  int string_index;
  bool by_index;
};

// The texts after the point name of one pass's alarm; `third` null: two texts.
struct PassTexts {
  const char* second;
  const char* third;
};

// The alarm texts of a failed write pass (`scratch` keeps a formatted text alive).
PassTexts write_texts(const KindRules& rules, const Detail& detail, bool intercepted,
                      std::string& scratch);
// The alarm texts of a failed read pass.
PassTexts read_texts(const Detail& detail);

// Whether the IO engine reports that the setpoint interlock refused the last write of the point
// (a non-zero decimal answer). A failed query counts as not refused.
bool interlock_refused(const char* kind, int index);

// The routine's own exit flag.
bool exit_requested();

// Manages the alarm with the point name and the pass's texts and returns the answer.
Vexlor::ALARM_STYLE manage(int alarm, const char* point_name, PassTexts texts);

enum class Verdict { kAgain, kSucceeded, kAborted };

// What the answer means: ALM_IGNORE succeeded, ALM_ABORT aborted, ALM_RETRY again; any other
// answer writes the LOG_ALM line "<prefix>:<point> 写入重试 (读取重试) , 报警选项:<answer>
// 按Retry处理." and goes again.
Verdict judge(const KindRules& rules, bool writing, const char* point_name,
              Vexlor::ALARM_STYLE answer);

// The point's name as the alarm carries it, copied once per supervised call.
struct PointName {
  explicit PointName(const char* name);
  char text[64];
};

inline constexpr double kQuickReadGap = 0.1;  // seconds

inline Vexlor::FUNC_STATUS status_of(Verdict v) {
  return v == Verdict::kAborted ? Vexlor::SYS_ABORTED : Vexlor::SYS_SUCCESS;
}

// ---- Per-kind traits: the rules row, the raw access and the name getter --------------------
struct DigitalPoint {
  using Value = int;
  using Out = int*;
  static constexpr const KindRules& rules = kDigitalRules;
  static bool write(int index, int value) { return Vexlor::VDigital_Write(index, value); }
  static bool read(int index, int* out) { return Vexlor::VDigital_Read(index, out); }
  static const char* name(int index) { return Vexlor::VDigital_Get_Name(index); }
};

struct AnalogPoint {
  using Value = double;
  using Out = double*;
  static constexpr const KindRules& rules = kAnalogRules;
  static bool write(int index, double value) { return Vexlor::VAnalog_Write(index, value); }
  static bool read(int index, double* out) { return Vexlor::VAnalog_Read(index, out); }
  static const char* name(int index) { return Vexlor::VAnalog_Get_Name(index); }
};

struct StringPoint {
  using Value = const char*;
  using Out = char*;  // 1024 bytes
  static constexpr const KindRules& rules = kStringRules;
  static bool write(int index, const char* value) { return Vexlor::VString_Write(index, value); }
  static bool read(int index, char* out) { return Vexlor::VString_Read(index, out); }
  static const char* name(int index) { return Vexlor::VString_Get_Name(index); }
};

// ---- The two loops ---------------------------------------------------------------------------

// Writes; on failure: exit flag -> SYS_SUCCESS; interlock query; alarm; act on the answer;
// write again.
template <typename K>
Vexlor::FUNC_STATUS write_loop(int index, typename K::Value value, int alarm,
                               const Detail& detail) {
  if (K::write(index, value)) return Vexlor::SYS_SUCCESS;
  const PointName name(K::name(index));
  std::string scratch;
  for (;;) {
    if (exit_requested()) return Vexlor::SYS_SUCCESS;
    const bool intercepted =
        K::rules.interlock_kind != nullptr && interlock_refused(K::rules.interlock_kind, index);
    const PassTexts texts = write_texts(K::rules, detail, intercepted, scratch);
    const Verdict v = judge(K::rules, true, name.text, manage(alarm, name.text, texts));
    if (v != Verdict::kAgain) return status_of(v);
    if (K::write(index, value)) return Vexlor::SYS_SUCCESS;
  }
}

// Reads; on failure: exit flag -> SYS_SUCCESS; quick reads 0.1 s apart through the
// interruptible wait (an interrupted wait -> SYS_ABORTED); alarm; act on the answer; read again.
template <typename K>
Vexlor::FUNC_STATUS read_loop(int index, typename K::Out out, int alarm, const Detail& detail) {
  if (K::read(index, out)) return Vexlor::SYS_SUCCESS;
  const PointName name(K::name(index));
  for (;;) {
    if (exit_requested()) return Vexlor::SYS_SUCCESS;
    for (int i = 0; i < K::rules.quick_reads; ++i) {
      if (!Vexlor::VTimer_Wait_Seconds(kQuickReadGap)) return Vexlor::SYS_ABORTED;
      if (K::read(index, out)) return Vexlor::SYS_SUCCESS;
    }
    const PassTexts texts = read_texts(detail);
    const Verdict v = judge(K::rules, false, name.text, manage(alarm, name.text, texts));
    if (v != Verdict::kAgain) return status_of(v);
    if (K::read(index, out)) return Vexlor::SYS_SUCCESS;
  }
}

}  // namespace vexlor::detail::supervised
