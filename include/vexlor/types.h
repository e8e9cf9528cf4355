// The public value types of the library: enumerations, small records passed by value or
// pointer, the sentinel point values and the version text. Shared-memory records are in
// <vexlor/records.h>.
//
// Every enumeration is a 32-bit unscoped enum (`enum NAME : int32_t`), so it has the width of
// the shared field that holds it and converts to int where routines compare it with numbers.
// The enumerator names are part of the interface; note that LOG_ERR and friends clash with the
// macros of <syslog.h>, so that header must not be included next to this one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Layout assert for one member: its byte offset inside its record.
#define VEXLOR_FIELD(T, f, off) \
  static_assert(offsetof(T, f) == (off), "layout: " #T "::" #f " is not at offset " #off)
// Layout assert for a whole record.
#define VEXLOR_SIZE(T, n) static_assert(sizeof(T) == (n), "layout: sizeof(" #T ") is not " #n)

namespace Vexlor {

// A point not resolved yet; in definition records also "no driver" and "no value".
inline constexpr int32_t VEXLOR_UNUSED_POINT = -99999999;
// A point whose lookup failed.
inline constexpr int32_t VEXLOR_ERROR_POINT = -1;
// The failure value of analog getters.
inline constexpr double VEXLOR_ANALOG_FAILURE = -99999999.99;

// Returned by VHub_Version_Info.
inline constexpr char VEXLOR_VERSION_INFO[] = "0001-20250101";

// The table a point lives in. IO_NONE is the type left by a failed lookup (printed as
// "IO_UNKNOWN", like every value outside IO_D..IO_L).
enum IO_TYPE : int32_t {
  IO_NONE = -1,
  IO_D = 0,  // digital
  IO_A = 1,  // analog
  IO_S = 2,  // string
  IO_F = 3,  // function
  IO_L = 4,  // alarm
};

// Module kinds; also the first index of the per-kind module arrays of the system block.
// MODULE_CM.. are the names to use in library code (they cannot meet a macro); the short names
// CM, BM, TM and PM are the same values for routines that use them.
enum MODULE_TYPE : int32_t {
  MODULE_CM = 0,  // carrier module (load port)
  MODULE_BM = 1,  // buffer module
  MODULE_TM = 2,  // transfer module
  MODULE_PM = 3,  // process module
  CM = MODULE_CM,
  BM = MODULE_BM,
  TM = MODULE_TM,
  PM = MODULE_PM,
};

// Log categories; each selects a tag, a console colour and one byte of each log switch.
enum LOG_TYPE : int32_t {
  LOG_ALM = 0,
  LOG_ERR = 1,
  LOG_DBG = 2,
  LOG_CIM = 3,
  LOG_EVT = 4,
  LOG_VIR = 5,
};

// The two log switches of one category combined: bit 1 the first switch, bit 0 the second.
enum LOG_STATUS : int32_t {
  LOG_STATUS_OFF = 0,     // both off
  LOG_STATUS_SECOND = 1,  // second switch only
  LOG_STATUS_FIRST = 2,   // first switch only
  LOG_STATUS_BOTH = 3,    // both on
};

// The position of the variant of a "|"-separated text; 1 picks the Chinese part of point and
// alarm texts, every other value the English part.
enum LANGUAGE : int32_t {
  LANGUAGE_ENGLISH = 0,
  LANGUAGE_CHINESE = 1,
};

// The operator's answers to an alarm, and ALM_PAUSED while it waits for one.
enum ALARM_STYLE : int32_t {
  ALM_CLEAR = 0,
  ALM_RETRY = 1,
  ALM_WAIT = 2,
  ALM_IGNORE = 3,
  ALM_DISABLE = 4,
  ALM_ENABLE = 5,
  ALM_STOP = 6,
  ALM_ABORT = 7,
  ALM_PAUSED = 8,
};

// Run and event status of a function.
enum FUNC_STATUS : int32_t {
  SYS_AVAILABLE = 0,
  SYS_RUNNING = 1,
  SYS_ABORTED = 2,
  SYS_SUCCESS = 3,
  SYS_ERROR = 4,
  SYS_WAITTING = 5,
  SYS_KILLED = 6,
  SYS_BUSY = 7,
  SYS_SKIP = 8,
  SYS_ERRCODE = 100,
  SYS_ERRCODE1 = 101,
  SYS_ERRCODE2 = 102,
  SYS_ERRCODE3 = 103,
  SYS_ERRCODE4 = 104,
  SYS_ERRCODE5 = 105,
  SYS_ERRCODE6 = 106,
  SYS_ERRCODE7 = 107,
  SYS_ERRCODE8 = 108,
  SYS_ERRCODE9 = 109,
};

// Codes that the configuration side defines and the library only stores and returns. They are
// distinct 32-bit types without enumerators, so overloads stay apart; any int32 value is valid
// and is written as, for example, DRIVER_TYPE{3} or static_cast<ALARM_LEVEL>(n).
enum DRIVER_TYPE : int32_t {};
enum DIGITAL_MODE : int32_t {};
enum ANALOG_MODE : int32_t {};
enum STRING_MODE : int32_t {};
enum LOAD_STYLE : int32_t {};
enum ALARM_LEVEL : int32_t {};

// A point and the table it belongs to; the default value is the not-found result.
struct IO_MAP {
  int32_t point = VEXLOR_UNUSED_POINT;
  IO_TYPE type = IO_NONE;
};

// A module's number within its kind, and the kind.
struct MODULE_MAP {
  int32_t side;
  MODULE_TYPE kind;
};

// A wafer location: module kind (MODULE_TYPE value), zero-based module index, zero-based slot.
struct WAFER_MODULE {
  int32_t module_type;
  int32_t module_index;
  int32_t slot;
};

// The scheduler's record of a wafer to move; the library only stores pointers to it.
struct WAFER_ORDER;

// One group of a declared-argument text. The member defaults are the reset values of
// unpacking: no module kind or side, control mode not given.
struct ARG_PARAM_INFO_STRU {
  std::string module_name;
  MODULE_TYPE module_kind = static_cast<MODULE_TYPE>(-1);
  int32_t module_side = -1;
  std::string io_head;
  int32_t ctrl_mode = VEXLOR_UNUSED_POINT;
  std::vector<int32_t> alarm_points;
  std::vector<std::string> texts;
};

// An unpacked run parameter; a plain fixed-size record.
struct RUN_PARAM_INFO_STRU {
  char command[128];
  char args[50][32];
  int32_t arg_count;
  int32_t code;
  int32_t field1;
  int32_t field2;
  int32_t field3;
  int32_t field4;
  int32_t field5;
  int32_t field6;
  int32_t switch_flag;
  int32_t field7;
  int32_t field8;
  int32_t field9;
};

static_assert(sizeof(IO_TYPE) == 4 && sizeof(MODULE_TYPE) == 4 && sizeof(LOG_TYPE) == 4 &&
                  sizeof(LOG_STATUS) == 4 && sizeof(LANGUAGE) == 4 && sizeof(ALARM_STYLE) == 4 &&
                  sizeof(FUNC_STATUS) == 4 && sizeof(DRIVER_TYPE) == 4 &&
                  sizeof(DIGITAL_MODE) == 4 && sizeof(ANALOG_MODE) == 4 &&
                  sizeof(STRING_MODE) == 4 && sizeof(LOAD_STYLE) == 4 && sizeof(ALARM_LEVEL) == 4,
              "every enumeration is 32-bit");

VEXLOR_SIZE(IO_MAP, 8);
VEXLOR_FIELD(IO_MAP, point, 0);
VEXLOR_FIELD(IO_MAP, type, 4);

VEXLOR_SIZE(MODULE_MAP, 8);
VEXLOR_FIELD(MODULE_MAP, side, 0);
VEXLOR_FIELD(MODULE_MAP, kind, 4);

VEXLOR_SIZE(WAFER_MODULE, 12);
VEXLOR_FIELD(WAFER_MODULE, module_type, 0);
VEXLOR_FIELD(WAFER_MODULE, module_index, 4);
VEXLOR_FIELD(WAFER_MODULE, slot, 8);

VEXLOR_SIZE(RUN_PARAM_INFO_STRU, 1776);
VEXLOR_FIELD(RUN_PARAM_INFO_STRU, command, 0);
VEXLOR_FIELD(RUN_PARAM_INFO_STRU, args, 128);
VEXLOR_FIELD(RUN_PARAM_INFO_STRU, arg_count, 1728);
VEXLOR_FIELD(RUN_PARAM_INFO_STRU, code, 1732);
VEXLOR_FIELD(RUN_PARAM_INFO_STRU, field1, 1736);
VEXLOR_FIELD(RUN_PARAM_INFO_STRU, field2, 1740);
VEXLOR_FIELD(RUN_PARAM_INFO_STRU, field3, 1744);
VEXLOR_FIELD(RUN_PARAM_INFO_STRU, field4, 1748);
VEXLOR_FIELD(RUN_PARAM_INFO_STRU, field5, 1752);
VEXLOR_FIELD(RUN_PARAM_INFO_STRU, field6, 1756);
VEXLOR_FIELD(RUN_PARAM_INFO_STRU, switch_flag, 1760);
VEXLOR_FIELD(RUN_PARAM_INFO_STRU, field7, 1764);
VEXLOR_FIELD(RUN_PARAM_INFO_STRU, field8, 1768);
VEXLOR_FIELD(RUN_PARAM_INFO_STRU, field9, 1772);

}  // namespace Vexlor
