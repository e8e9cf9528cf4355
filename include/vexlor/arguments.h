// Argument texts exchanged between routines: the declared-argument text of a function (which
// module it serves, its IO point prefix, alarms, control mode and free texts) and the run
// parameter sent with a run request, with the records they unpack into.
//
// Declared-argument text: "<module>|<group>,<group>,..." where a group is
// "<io head>$<alarm list>$<control mode>$<text list>" and both lists are joined by "&", e.g.
// "PM1|H1$3&4$2,H2". Alarm entries are alarm numbers within the module's alarm block (the
// alarm ID is module alarm base * 1000 + number); "-" is the entry for no alarm. A field left
// empty before a non-empty one is written "-"; trailing empty fields are left out. The module
// "CTC" or "-" names no module (alarm base 0). Texts must not hold '|', ',', '$' or '&'.
//
// Run parameter: "<command>,<arg>,<arg>... <code> <f1>/<f2>/.../<f9> <rest>", the parts
// separated by blanks (VStr_Seperate). Field 1 is a letter (A gives 0), fields 2 and 3 are
// 1-based numbers stored 0-based, field 4 a number; fields 5 to 9 are -1 when empty. The rest
// sets switch_flag when it holds "SWITCH" (any case). Over-long pieces are cut to their field.
//
// Nothing here throws or reads past its input; a null text reads as the empty text.
#pragma once

#include <vexlor/export.h>
#include <vexlor/types.h>

#include <string>
#include <vector>

namespace Vexlor {

// The records (ARG_PARAM_INFO_STRU, RUN_PARAM_INFO_STRU) are in <vexlor/types.h>.

// Unpacks a declared-argument text into one record per group (one record when the text has
// no group list). The module is looked up once (VModule_Find) and its alarm base read from
// the system block; each alarm entry is looked up by ID. Unknown modules, missing alarm
// bases and unknown or unreadable alarm entries print one red line each
// ("[声明参数解析] ...") and make the result false, but `out` is filled all the same.
// Fields are taken as written: an IO head "-" stays "-" and the control mode is the field's
// leading number (0 for "-" or an empty field); only an alarm entry "-" means no alarm. False
// without a message when the library is not attached (`out` left as it was).
VEXLOR_API bool VFunction_Unpacking_Arg_Param(const char* text,
                                              std::vector<ARG_PARAM_INFO_STRU>& out);
// The first record of the text into `out`; on failure `out` is left unchanged.
VEXLOR_API bool VFunction_Unpacking_Arg_Param(const char* text, ARG_PARAM_INFO_STRU& out);
// Builds the text of the records in `in` (module of the first record) and appends it to
// `out`. Alarm entries are written as their alarm ID modulo 1000, -99999999 as "-"; an entry
// whose ID cannot be read prints "[声明参数组包] MODULE:%s 获取ALARM_ID失败,int = %d", is written
// "0" (which reads back as an unreadable entry) and makes the result false. An empty field
// before a non-empty one is written "-" and reads back as "-" (IO head) or 0 (control mode).
// An empty `in` writes nothing and returns false.
VEXLOR_API bool VFunction_Packaging_Arg_Param(std::vector<ARG_PARAM_INFO_STRU>& in,
                                              std::string& out);
// Checks every requirement and prints one red line per failed one ("[声明参数有效性检查] ...").
// False without a message when the library is not attached.
VEXLOR_API bool VFunction_Check_Arg_Param(ARG_PARAM_INFO_STRU& info, bool need_module,
                                          bool need_head, int min_alarms, bool need_ctrl);
// Unpacks a run parameter. An empty text logs "运行参数为空!" at LOG_ERR and returns false with
// `out` untouched; 50 or more arguments after the command return false with `out` partly
// filled (arg_count 50). The text is read up to 1023 bytes.
VEXLOR_API bool VFunction_Unpacking_Run_Param(const char* text, RUN_PARAM_INFO_STRU& out);

}  // namespace Vexlor
