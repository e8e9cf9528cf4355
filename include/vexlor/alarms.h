// Alarms: the alarm table and its bilingual texts, posting an alarm and waiting for the
// operator's answer, answering, the shared queue of posted alarms, the system alarms the
// library raises itself, and the alarm log (VDB).
//
// An alarm is addressed by its alarm point (its index in the alarm tables) or, in the ID_
// forms, by its alarm ID (module alarm base * 1000 + number). Every by-point operation checks
// the point ("Alarm Alarm_Point ..." in red on a bad one) and fails with its failure value;
// before start-up everything fails silently.
//
// Posting, answering and reading the queue are serialised across processes by the alarm mutex
// of the database descriptor (waited for at most 5000 ms; the operation goes on without it
// after that). No operation holds it while it waits for the operator.
#pragma once

#include <vexlor/export.h>
#include <vexlor/records.h>
#include <vexlor/types.h>
#include <vexlor/util.h>

#include <string>
#include <vector>

namespace Vexlor {

// ---- Lookup ----------------------------------------------------------------------------
// The alarm point of an alarm ID; -1 in *point and a red line "ALARM_ID:%d未识别. ..." when
// the ID is not configured. Found IDs are cached for the life of the process.
VEXLOR_API bool VAlarm_Find_Point(int* point, int id);
// ID = the module's alarm base (module name or ID text) * 1000 + number. An unknown module
// sets -1 and fails without a message.
VEXLOR_API bool VAlarm_Find_Point(int* point, const char* module, int number);
// ID = the alarm base of module [type][module number] of the system block (0 for a negative
// or unknown type or number) * 1000 + number.
VEXLOR_API bool VAlarm_Find_Point(int* point, MODULE_TYPE type, int module_number, int number);

// ---- Definition and run-time fields ----------------------------------------------------
// Failure values: 0, 0, 0, false, "" and "". Texts point into the shared record.
VEXLOR_API int VAlarm_Get_ID(int point);
VEXLOR_API int VAlarm_Get_Module_Point(int point);
VEXLOR_API ALARM_LEVEL VAlarm_Get_Level(int point);
VEXLOR_API bool VAlarm_Get_Used(int point);
VEXLOR_API const char* VAlarm_Get_Name(int point);
VEXLOR_API const char* VAlarm_Get_Description(int point);

// The alarm text (or the append of the last post) in `language` (1 the Chinese part, or the
// English part when that is empty; any other value the English part) into `text`, which holds
// 512 bytes. False (text untouched) on a bad point or a null buffer.
VEXLOR_API bool VAlarm_Get_Text(int point, LANGUAGE language, char* text);
VEXLOR_API bool VAlarm_Get_Append(int point, LANGUAGE language, char* text);
// Text and append in the system language: "text" without append, else "text(append)"; at most
// 511 characters.
VEXLOR_API bool VAlarm_Get_Text_Full(int point, char* text);

// Failure values: "", "", "", 0 and -99999999.
VEXLOR_API const char* VAlarm_Get_Code_Position(int point);
VEXLOR_API const char* VAlarm_Get_Post_Time(int point);
VEXLOR_API const char* VAlarm_Get_Clear_Time(int point);
VEXLOR_API int VAlarm_Get_Post_Type(int point);
VEXLOR_API int VAlarm_Get_Func_Point(int point);

// Recovery choices offered to the operator. The count is the definition's (failure 0); the
// copies take at most 8 choices (a count outside 0..8 in the record is clamped).
VEXLOR_API int VAlarm_Get_Recovery_Result_Count(int point);
// Copies the choices into `out`, which has room for 8.
VEXLOR_API void VAlarm_Get_Recovery_Result(int point, ALARM_STYLE out[]);
// The captions in `language` as a malloc'ed array of malloc'ed texts: `count` is set, then
// `texts` becomes a new array of `count` texts, or null when there are none. Release it with
// VAlarm_Free_Recovery_Result_Message. A bad point sets nothing.
VEXLOR_API void VAlarm_Get_Recovery_Result_Message(int point, LANGUAGE language, char**& texts,
                                                   int& count);
// The captions in `language`; the vector is emptied first (also on a bad point).
VEXLOR_API void VAlarm_Get_Recovery_Result_Message(int point, LANGUAGE language,
                                                   std::vector<std::string>& texts);
// Frees the `count` texts and the array, and sets `texts` to null.
VEXLOR_API void VAlarm_Free_Recovery_Result_Message(char**& texts, int count);

// ---- Posting ---------------------------------------------------------------------------
// Post: marks the alarm posted (status ALM_PAUSED), keeps or takes its place in the queue,
// records where and when (code position "<routine>" or "<routine>:<file>:<line>"), stores the
// append (a null append keeps the stored one), adds a row to the alarm log and tells the IO
// engine ("$L" "P1" "W1"). True when the engine accepted the notice, or when the alarm was
// already posted with the same append (nothing is done then). A post of a posted alarm with
// another append re-posts it in its queue place. When the queue is full (200) the last place
// is reused.
//
// Manage: posts and then polls the answer every 0.5 s through VTimer_Wait_Seconds. Returns
// the answer; ALM_ABORT when the post failed, or when the wait was interrupted (the alarm is
// then answered with ALM_ABORT); the current status (normally ALM_PAUSED, the alarm stays
// posted) when the routine's exit flag is set.
//
// Manage_Free: as Manage, but sleeps 500 ms plainly and only the exit flag ends the wait.
//
// Forms: one text; two to four texts joined part by part (VStr_Strcat_Alarm_Append_Text); a
// printf format (cut to 511 characters); and the same with the caller's file and line
// (_Here, _HereF). The ID_ forms look the alarm ID up first: an unconfigured ID returns false
// (Post) or -1 (Manage, Manage_Free) after the lookup's red line.
#define VEXLOR_ALARM_TARGET_Point int point
#define VEXLOR_ALARM_TARGET_Id int id
#define VEXLOR_ALARM_PARAMS_T1 const char* a
#define VEXLOR_ALARM_PARAMS_T2 const char *a, const char *b
#define VEXLOR_ALARM_PARAMS_T3 const char *a, const char *b, const char *c
#define VEXLOR_ALARM_PARAMS_T4 const char *a, const char *b, const char *c, const char *d
#define VEXLOR_ALARM_PARAMS_F const char *format, ...
#define VEXLOR_ALARM_PARAMS_H1 const char *file, int line, const char *a
#define VEXLOR_ALARM_PARAMS_H2 const char *file, int line, const char *a, const char *b
#define VEXLOR_ALARM_PARAMS_H3 \
  const char *file, int line, const char *a, const char *b, const char *c
#define VEXLOR_ALARM_PARAMS_H4 \
  const char *file, int line, const char *a, const char *b, const char *c, const char *d
#define VEXLOR_ALARM_PARAMS_HF const char *file, int line, const char *format, ...
#define VEXLOR_ALARM_CHECK_T1
#define VEXLOR_ALARM_CHECK_T2
#define VEXLOR_ALARM_CHECK_T3
#define VEXLOR_ALARM_CHECK_T4
#define VEXLOR_ALARM_CHECK_F VEXLOR_PRINTF(2, 3)
#define VEXLOR_ALARM_CHECK_H1
#define VEXLOR_ALARM_CHECK_H2
#define VEXLOR_ALARM_CHECK_H3
#define VEXLOR_ALARM_CHECK_H4
#define VEXLOR_ALARM_CHECK_HF VEXLOR_PRINTF(4, 5)

#define VEXLOR_ALARM_MEMBER(Name, Result, Mode, Target, Shape)                      \
  VEXLOR_API Result Name(VEXLOR_ALARM_TARGET_##Target, VEXLOR_ALARM_PARAMS_##Shape) \
      VEXLOR_ALARM_CHECK_##Shape;
#include <vexlor/alarms/posting_family.def>

// ---- Answering -------------------------------------------------------------------------
// Records the operator's answer: status := answer, clear time now, a row in the alarm log,
// the alarm leaves the queue, post type 0, and the IO engine is told ("$L" "P1" "W2"); true
// when it accepted. ALM_PAUSED is refused (false). An alarm that is not posted is left alone
// and the result is true.
VEXLOR_API bool VAlarm_Handle(int point, ALARM_STYLE answer);
// True when the alarm is not posted; otherwise VAlarm_Handle with ALM_CLEAR.
VEXLOR_API bool VAlarm_Clear(int point);
VEXLOR_API bool VAlarm_Retry(int point);   // VAlarm_Handle with ALM_RETRY
VEXLOR_API bool VAlarm_Abort(int point);   // VAlarm_Handle with ALM_ABORT
VEXLOR_API bool VAlarm_Ignore(int point);  // VAlarm_Handle with ALM_IGNORE
// The run-time status; ALM_ABORT when not attached or on a bad point.
VEXLOR_API ALARM_STYLE VAlarm_Status(int point);
// Sets the post type (0 not posted, 1 posted, 2 managed); false on a bad point.
VEXLOR_API bool VAlarm_Set_Post_Type(int point, int type);

// By alarm ID: false (Status: -1, Get_Post_Type: 0) for an unconfigured ID.
VEXLOR_API bool VAlarm_ID_Handle(int id, ALARM_STYLE answer);
VEXLOR_API bool VAlarm_ID_Clear(int id);
VEXLOR_API bool VAlarm_ID_Retry(int id);
VEXLOR_API bool VAlarm_ID_Abort(int id);
VEXLOR_API bool VAlarm_ID_Ignore(int id);
VEXLOR_API ALARM_STYLE VAlarm_ID_Status(int id);
VEXLOR_API bool VAlarm_ID_Set_Post_Type(int id, int type);
VEXLOR_API int VAlarm_ID_Get_Post_Type(int id);

// ---- Queue of posted alarms ------------------------------------------------------------
// The number of posted alarms (0 to 200), read without the alarm mutex; 0 when not attached.
VEXLOR_API int VAlarm_Queue_Count();
// The number of queued alarms whose level lies in [low, high].
VEXLOR_API int VAlarm_Queue_Count(int low, int high);
// The alarm at queue position `position` (from 0): its point, ID, module point or definition
// record. `count` (may be null) receives the queue's count. False, with -1 (null record), for
// a position at or beyond the queue's count; false without anything for a negative position;
// a position at or beyond the alarm count also prints "Alarm Alarm_Queue_Index = %d , 超限.".
VEXLOR_API bool VAlarm_Queue_Point(int position, int* point, int* count);
VEXLOR_API bool VAlarm_Queue_ID(int position, int* id, int* count);
VEXLOR_API bool VAlarm_Queue_Module(int position, int* module_point, int* count);
VEXLOR_API bool VAlarm_Queue_Shape(int position, MEM_ALARM_SP_STRU** record, int* count);
// Compares the caller's copy of the queue with the queue: same length, then position by
// position (the copy is kept); another length replaces the copy. `changed` (may be null) tells
// whether they differed; `severe` (may be null, set to 0 by the caller) is raised by the
// number of queued alarms of a level below 2.
VEXLOR_API bool VAlarm_Queue_Check(std::vector<int>& known, bool* changed, int* severe);

// ---- System alarms ---------------------------------------------------------------------
// Posts or manages the first free alarm of the pool of IDs 800 to 898 with the texts (two to
// four joined as for posting) as its append and file:line as the code position. An
// unconfigured ID of the pool, or a pool that is all posted, writes a LOG_ERR line and fails
// (false, ALM_ABORT).
VEXLOR_API bool VSystem_Alarm_Post(const char* file, int line, const char* a);
VEXLOR_API bool VSystem_Alarm_Post(const char* file, int line, const char* a, const char* b);
VEXLOR_API bool VSystem_Alarm_Post(const char* file, int line, const char* a, const char* b,
                                   const char* c);
VEXLOR_API bool VSystem_Alarm_Post(const char* file, int line, const char* a, const char* b,
                                   const char* c, const char* d);
VEXLOR_API ALARM_STYLE VSystem_Alarm_Manage(const char* file, int line, const char* a);
VEXLOR_API ALARM_STYLE VSystem_Alarm_Manage(const char* file, int line, const char* a,
                                            const char* b);
VEXLOR_API ALARM_STYLE VSystem_Alarm_Manage(const char* file, int line, const char* a,
                                            const char* b, const char* c);
VEXLOR_API ALARM_STYLE VSystem_Alarm_Manage(const char* file, int line, const char* a,
                                            const char* b, const char* c, const char* d);

// ---- Alarm log (VDB) -------------------------------------------------------------------
// One row of the alarm log: ten texts, filled by posting (answer and clear time empty) and by
// answering.
struct AlarmLog_Item {
  std::string alarm_name;
  std::string log_text;  // text, or text joined with the append ("(|(" append ")|)")
  std::string post_time;
  std::string answer;  // ALARM_STYLE name; empty for a post
  std::string clear_time;
  std::string module_name;  // empty for an alarm without module
  std::string alarm_id;     // decimal
  std::string level;        // decimal
  std::string code_position;
  std::string description;
};

// The alarm log keeps one table per calendar month (local time) in the equipment's database
// file "<database path>\vexlor.db": "AlarmLog_YYYYMM", e.g. "AlarmLog_202612". Each table
// holds the ten texts of a row plus the local time the row was inserted
// ("YYYY/MM/DD HH:MM:SS.mmm").
VEXLOR_API std::string VDB_New_Log_Table_Name();
// Appends `item` to `table` (created when missing). Safe from any number of processes at
// once: busy writers wait and retry, no row is lost. False before start-up, without a
// database path, for a null or malformed table name, or when the row could not be written.
VEXLOR_API bool VDB_Add_AlarmLog(const char* table, AlarmLog_Item& item);

}  // namespace Vexlor
