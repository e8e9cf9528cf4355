// tools/common/equipment_text.h
// Texts and small look-ups every operator tool shares: the names of alarm answers and run
// statuses, local time stamps, the instance name, and the steps of answering an alarm, of
// resetting an ended routine and of starting as the main form.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>
namespace vexlor_tools {

// "ALM_RETRY" for ALM_RETRY ... "ALM_PAUSED"; "ALM_UNKNOWN" out of range.
const char* style_name(int style);
// "retry", "RETRY", "ALM_RETRY" -> ALM_RETRY; -1 otherwise (ALM_PAUSED is no answer).
int answer_from_text(std::string_view text);
// "SYS_AVAILABLE" ... "SYS_SKIP", "SYS_ERRCODE" ... "SYS_ERRCODE9"; "SYS_UNKNOWN" otherwise.
const char* status_name(int status);

// VEXLOR_INSTANCE, or "default".
std::string instance_name();
std::string in_quotes(std::string_view text);

// Local time now: "YYYY/MM/DD HH:MM:SS", with ".mmm" when asked.
std::string local_time_text(bool milliseconds = false);
// The same for a time given in seconds since 1970; empty for 0 or less (no time known).
std::string local_time_text_of(long long seconds);
// "2026-12-05T08:00" -> "2026/12/05 08:00"; false unless a leading part of
// "YYYY/MM/DD HH:MM:SS" with at least the year.
bool normalise_time(std::string text, std::string* out);

// The fields of a record in the list form "<count>|<f1>,<f2>,..."; false unless the count
// matches ("0|" is a record without fields).
bool record_fields(const std::string& text, std::vector<std::string>* fields);
// The part of a bilingual text "English|中文" for the language: the Chinese part when it is
// wanted and not empty, else the English part.
std::string language_part(const std::string& text, bool chinese);
// Whether the equipment shows its texts in Chinese: attached to a database whose display
// language (the point "CTC.Language", VSystem_Get_Language) is 1. Not attached: English.
bool display_chinese();
// One of the tools' own words, written as the pair "English|中文", in the equipment's display
// language (a text without '|' is the same in both).
std::string word(const char* pair);
std::string word(const char* pair, bool chinese);

// One UTF-8 character at text[i]: its code point, its length in *len (0 when the bytes there
// are not a valid shortest-form character).
uint32_t decode_utf8(std::string_view text, std::size_t i, std::size_t* len);

// The alarm point of alarm ID `id`, or -1. Unlike the library's look-up it prints nothing on a
// miss: the tools say it their own way.
int find_alarm_point(int id);
// Whether the routine that posted alarm point `point` offers `answer` (an alarm that offers no
// choices takes any), and the offered choices as "RETRY, ABORT".
struct OfferedAnswers {
  bool allowed = false;
  std::string list;
};
OfferedAnswers offered_answers(int point, int answer);

// Sets function `index` that is not running back to SYS_AVAILABLE and clears its exit and abort
// flags: a run request then goes out to it at once (no refusal alarm for SYS_KILLED), the routine
// started by it is not told to exit, and its own run requests are not refused for its abort
// flag. `was` gets the status it had. False with `failure` set ("cannot reset NAME: it is
// running (SYS_RUNNING)") while it runs or waits (SYS_RUNNING, SYS_WAITTING); nothing changes.
bool reset_routine(int index, int* was, std::string* failure);

// Attaches as the instance's main form (the routine in function slot N, with its start lock),
// whose name it sets in `name`. False with `failure` set to the line to print ("no database in
// instance ...", "the main form
// ... is already running", "cannot start as the main form ...").
bool attach_main_form(const char* probe_routine, std::string* name, std::string* failure);

}  // namespace vexlor_tools
