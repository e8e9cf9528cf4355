// The records of the shared point database, byte for byte as every process of an equipment
// maps them, and the process-local descriptor MMAP_STRU that reaches them. Records use
// fixed-width members only (uint8_t for flags and status bytes), spell out every gap, and are
// checked member by member below, so a 32-bit and a 64-bit process see the same bytes.
#pragma once

#include <cstddef>
#include <cstdint>

#include "vexlor/types.h"

// Layout assert for one array dimension: `f` is the member indexed down to that dimension, e.g.
// VEXLOR_STRIDE(T, slots[0], 100) says consecutive entries of `slots` are 100 bytes apart.
#define VEXLOR_STRIDE(T, f, s) \
  static_assert(sizeof(T::f) == (s), "layout: stride of " #T "::" #f " is not " #s)
// Layout assert that holds only where pointers are 32-bit (the Windows target); elsewhere it
// still checks that the member exists.
#define VEXLOR_FIELD32(T, f, off)                              \
  static_assert(sizeof(void*) != 4 || offsetof(T, f) == (off), \
                "layout: " #T "::" #f " is not at offset " #off " on 32-bit")

namespace Vexlor {

// The system block: settings, counts and the per-kind module arrays ([kind][side], kind by
// MODULE_TYPE, 100 sides per kind).
struct MEM_SYSTEM_STRU {
  int32_t user_level;
  char user_name[64];
  char group_name[64];
  int32_t language;  // LANGUAGE
  char database_path[256];
  char alarm_description_path[256];
  char history_path[256];
  char navigation_path[256];
  char user_code_version[32];
  char project_id[32];
  uint8_t log_switch_first[8];  // one byte per LOG_TYPE
  uint8_t log_switch_second[8];
  int32_t cm_count;
  int32_t tm_count;
  int32_t pm_count;
  int32_t reserved_1252;
  int32_t bm_count;
  char module_ids[4][100][64];
  char module_names[4][100][64];
  int32_t module_alarm_bases[4][100];
  char module_annotations[4][100][128];
  int32_t module_count;
  int32_t driver_count;
  int32_t enum_count;
  int32_t digital_count;
  int32_t analog_count;
  int32_t string_count;
  int32_t function_count;  // N configured functions; the function tables hold N + 12 slots
  int32_t alarm_count;
  uint8_t reserved_105292[1024];
  uint8_t simulation;
  char start_time[65];
  char machine_path[258];
  int32_t fa_type;
};

VEXLOR_SIZE(MEM_SYSTEM_STRU, 106644);
VEXLOR_FIELD(MEM_SYSTEM_STRU, user_level, 0);
VEXLOR_FIELD(MEM_SYSTEM_STRU, user_name, 4);
VEXLOR_FIELD(MEM_SYSTEM_STRU, group_name, 68);
VEXLOR_FIELD(MEM_SYSTEM_STRU, language, 132);
VEXLOR_FIELD(MEM_SYSTEM_STRU, database_path, 136);
VEXLOR_FIELD(MEM_SYSTEM_STRU, alarm_description_path, 392);
VEXLOR_FIELD(MEM_SYSTEM_STRU, history_path, 648);
VEXLOR_FIELD(MEM_SYSTEM_STRU, navigation_path, 904);
VEXLOR_FIELD(MEM_SYSTEM_STRU, user_code_version, 1160);
VEXLOR_FIELD(MEM_SYSTEM_STRU, project_id, 1192);
VEXLOR_FIELD(MEM_SYSTEM_STRU, log_switch_first, 1224);
VEXLOR_FIELD(MEM_SYSTEM_STRU, log_switch_second, 1232);
VEXLOR_FIELD(MEM_SYSTEM_STRU, cm_count, 1240);
VEXLOR_FIELD(MEM_SYSTEM_STRU, tm_count, 1244);
VEXLOR_FIELD(MEM_SYSTEM_STRU, pm_count, 1248);
VEXLOR_FIELD(MEM_SYSTEM_STRU, reserved_1252, 1252);
VEXLOR_FIELD(MEM_SYSTEM_STRU, bm_count, 1256);
VEXLOR_FIELD(MEM_SYSTEM_STRU, module_ids, 1260);
VEXLOR_STRIDE(MEM_SYSTEM_STRU, module_ids[0], 6400);
VEXLOR_STRIDE(MEM_SYSTEM_STRU, module_ids[0][0], 64);
VEXLOR_FIELD(MEM_SYSTEM_STRU, module_names, 26860);
VEXLOR_STRIDE(MEM_SYSTEM_STRU, module_names[0], 6400);
VEXLOR_STRIDE(MEM_SYSTEM_STRU, module_names[0][0], 64);
VEXLOR_FIELD(MEM_SYSTEM_STRU, module_alarm_bases, 52460);
VEXLOR_STRIDE(MEM_SYSTEM_STRU, module_alarm_bases[0], 400);
VEXLOR_STRIDE(MEM_SYSTEM_STRU, module_alarm_bases[0][0], 4);
VEXLOR_FIELD(MEM_SYSTEM_STRU, module_annotations, 54060);
VEXLOR_STRIDE(MEM_SYSTEM_STRU, module_annotations[0], 12800);
VEXLOR_STRIDE(MEM_SYSTEM_STRU, module_annotations[0][0], 128);
VEXLOR_FIELD(MEM_SYSTEM_STRU, module_count, 105260);
VEXLOR_FIELD(MEM_SYSTEM_STRU, driver_count, 105264);
VEXLOR_FIELD(MEM_SYSTEM_STRU, enum_count, 105268);
VEXLOR_FIELD(MEM_SYSTEM_STRU, digital_count, 105272);
VEXLOR_FIELD(MEM_SYSTEM_STRU, analog_count, 105276);
VEXLOR_FIELD(MEM_SYSTEM_STRU, string_count, 105280);
VEXLOR_FIELD(MEM_SYSTEM_STRU, function_count, 105284);
VEXLOR_FIELD(MEM_SYSTEM_STRU, alarm_count, 105288);
VEXLOR_FIELD(MEM_SYSTEM_STRU, reserved_105292, 105292);
VEXLOR_FIELD(MEM_SYSTEM_STRU, simulation, 106316);
VEXLOR_FIELD(MEM_SYSTEM_STRU, start_time, 106317);
VEXLOR_FIELD(MEM_SYSTEM_STRU, machine_path, 106382);
VEXLOR_FIELD(MEM_SYSTEM_STRU, fa_type, 106640);

// A module record.
struct MEM_MODULE_SP_STRU {
  char id[64];
  char name[64];
  int32_t alarm_base;  // alarm IDs of the module are alarm_base * 1000 + number
  int32_t side;        // number within the kind
  int32_t kind;        // MODULE_TYPE
  uint8_t reserved_140[128];
};

VEXLOR_SIZE(MEM_MODULE_SP_STRU, 268);
VEXLOR_FIELD(MEM_MODULE_SP_STRU, id, 0);
VEXLOR_FIELD(MEM_MODULE_SP_STRU, name, 64);
VEXLOR_FIELD(MEM_MODULE_SP_STRU, alarm_base, 128);
VEXLOR_FIELD(MEM_MODULE_SP_STRU, side, 132);
VEXLOR_FIELD(MEM_MODULE_SP_STRU, kind, 136);
VEXLOR_FIELD(MEM_MODULE_SP_STRU, reserved_140, 140);

// An enumeration: 60 item slots, of which the first item_count are in use.
struct MEM_ENUM_SP_STRU {
  char name[64];
  char texts[60][64];  // "|"-separated variants, one per LANGUAGE
  int32_t values[60];
  int32_t item_count;
};

VEXLOR_SIZE(MEM_ENUM_SP_STRU, 4148);
VEXLOR_FIELD(MEM_ENUM_SP_STRU, name, 0);
VEXLOR_FIELD(MEM_ENUM_SP_STRU, texts, 64);
VEXLOR_STRIDE(MEM_ENUM_SP_STRU, texts[0], 64);
VEXLOR_FIELD(MEM_ENUM_SP_STRU, values, 3904);
VEXLOR_STRIDE(MEM_ENUM_SP_STRU, values[0], 4);
VEXLOR_FIELD(MEM_ENUM_SP_STRU, item_count, 4144);

// A driver.
struct MEM_DRIVER_SP_STRU {
  char name[64];
  int32_t params[10];
  int32_t type;  // DRIVER_TYPE
};

VEXLOR_SIZE(MEM_DRIVER_SP_STRU, 108);
VEXLOR_FIELD(MEM_DRIVER_SP_STRU, name, 0);
VEXLOR_FIELD(MEM_DRIVER_SP_STRU, params, 64);
VEXLOR_FIELD(MEM_DRIVER_SP_STRU, type, 104);

// A digital point's definition. Driver points are -99999999 when there is no driver; a
// negative enum_point means no enumeration.
struct MEM_DIGITAL_SP_STRU {
  char name[64];
  char unit[16];
  int32_t iparam[4];
  int32_t oparam[4];
  int32_t min;
  int32_t max;
  int32_t enum_point;
  int32_t idrv_point;
  int32_t odrv_point;
  int32_t idrv_type;  // DRIVER_TYPE
  int32_t odrv_type;  // DRIVER_TYPE
  uint8_t sintlk_use;
  uint8_t vintlk_use;
  uint8_t reserved_142[2];
  int32_t mode;  // DIGITAL_MODE
  char annotation[128];
  uint8_t reserved_276[8];
  uint8_t tag_flag;
  char tag_names[4][64];
  char tag_type[16];
  uint8_t reserved_557[48];
  char append[256];
  uint8_t reserved_861[3];
  int32_t init;
};

VEXLOR_SIZE(MEM_DIGITAL_SP_STRU, 868);
VEXLOR_FIELD(MEM_DIGITAL_SP_STRU, name, 0);
VEXLOR_FIELD(MEM_DIGITAL_SP_STRU, unit, 64);
VEXLOR_FIELD(MEM_DIGITAL_SP_STRU, iparam, 80);
VEXLOR_FIELD(MEM_DIGITAL_SP_STRU, oparam, 96);
VEXLOR_FIELD(MEM_DIGITAL_SP_STRU, min, 112);
VEXLOR_FIELD(MEM_DIGITAL_SP_STRU, max, 116);
VEXLOR_FIELD(MEM_DIGITAL_SP_STRU, enum_point, 120);
VEXLOR_FIELD(MEM_DIGITAL_SP_STRU, idrv_point, 124);
VEXLOR_FIELD(MEM_DIGITAL_SP_STRU, odrv_point, 128);
VEXLOR_FIELD(MEM_DIGITAL_SP_STRU, idrv_type, 132);
VEXLOR_FIELD(MEM_DIGITAL_SP_STRU, odrv_type, 136);
VEXLOR_FIELD(MEM_DIGITAL_SP_STRU, sintlk_use, 140);
VEXLOR_FIELD(MEM_DIGITAL_SP_STRU, vintlk_use, 141);
VEXLOR_FIELD(MEM_DIGITAL_SP_STRU, reserved_142, 142);
VEXLOR_FIELD(MEM_DIGITAL_SP_STRU, mode, 144);
VEXLOR_FIELD(MEM_DIGITAL_SP_STRU, annotation, 148);
VEXLOR_FIELD(MEM_DIGITAL_SP_STRU, reserved_276, 276);
VEXLOR_FIELD(MEM_DIGITAL_SP_STRU, tag_flag, 284);
VEXLOR_FIELD(MEM_DIGITAL_SP_STRU, tag_names, 285);
VEXLOR_STRIDE(MEM_DIGITAL_SP_STRU, tag_names[0], 64);
VEXLOR_FIELD(MEM_DIGITAL_SP_STRU, tag_type, 541);
VEXLOR_FIELD(MEM_DIGITAL_SP_STRU, reserved_557, 557);
VEXLOR_FIELD(MEM_DIGITAL_SP_STRU, append, 605);
VEXLOR_FIELD(MEM_DIGITAL_SP_STRU, reserved_861, 861);
VEXLOR_FIELD(MEM_DIGITAL_SP_STRU, init, 864);

// A digital point's value slot.
struct MEM_DIGITAL_VAL_STRU {
  int32_t read_value;
  uint8_t read_status;
  uint8_t reserved_5[3];
  int32_t write_value;
  uint8_t write_status;
  uint8_t reserved_13[3];
};

VEXLOR_SIZE(MEM_DIGITAL_VAL_STRU, 16);
VEXLOR_FIELD(MEM_DIGITAL_VAL_STRU, read_value, 0);
VEXLOR_FIELD(MEM_DIGITAL_VAL_STRU, read_status, 4);
VEXLOR_FIELD(MEM_DIGITAL_VAL_STRU, reserved_5, 5);
VEXLOR_FIELD(MEM_DIGITAL_VAL_STRU, write_value, 8);
VEXLOR_FIELD(MEM_DIGITAL_VAL_STRU, write_status, 12);
VEXLOR_FIELD(MEM_DIGITAL_VAL_STRU, reserved_13, 13);

// An analog point's definition.
struct MEM_ANALOG_SP_STRU {
  char name[64];
  char unit[16];
  int32_t iparam[3];
  int32_t oparam[3];
  double min;
  double max;
  int32_t idrv_point;
  int32_t odrv_point;
  int32_t idrv_type;  // DRIVER_TYPE
  int32_t odrv_type;  // DRIVER_TYPE
  uint8_t sintlk_use;
  uint8_t vintlk_use;
  uint8_t reserved_138[2];
  int32_t decimal;  // decimal places of the point's texts
  int32_t mode;     // ANALOG_MODE
  char annotation[128];
  uint8_t reserved_276[8];
  uint8_t tag_flag;
  char tag_names[4][64];
  char tag_type[16];
  char append[256];
  uint8_t reserved_813[3];
  double init;
};

VEXLOR_SIZE(MEM_ANALOG_SP_STRU, 824);
VEXLOR_FIELD(MEM_ANALOG_SP_STRU, name, 0);
VEXLOR_FIELD(MEM_ANALOG_SP_STRU, unit, 64);
VEXLOR_FIELD(MEM_ANALOG_SP_STRU, iparam, 80);
VEXLOR_FIELD(MEM_ANALOG_SP_STRU, oparam, 92);
VEXLOR_FIELD(MEM_ANALOG_SP_STRU, min, 104);
VEXLOR_FIELD(MEM_ANALOG_SP_STRU, max, 112);
VEXLOR_FIELD(MEM_ANALOG_SP_STRU, idrv_point, 120);
VEXLOR_FIELD(MEM_ANALOG_SP_STRU, odrv_point, 124);
VEXLOR_FIELD(MEM_ANALOG_SP_STRU, idrv_type, 128);
VEXLOR_FIELD(MEM_ANALOG_SP_STRU, odrv_type, 132);
VEXLOR_FIELD(MEM_ANALOG_SP_STRU, sintlk_use, 136);
VEXLOR_FIELD(MEM_ANALOG_SP_STRU, vintlk_use, 137);
VEXLOR_FIELD(MEM_ANALOG_SP_STRU, reserved_138, 138);
VEXLOR_FIELD(MEM_ANALOG_SP_STRU, decimal, 140);
VEXLOR_FIELD(MEM_ANALOG_SP_STRU, mode, 144);
VEXLOR_FIELD(MEM_ANALOG_SP_STRU, annotation, 148);
VEXLOR_FIELD(MEM_ANALOG_SP_STRU, reserved_276, 276);
VEXLOR_FIELD(MEM_ANALOG_SP_STRU, tag_flag, 284);
VEXLOR_FIELD(MEM_ANALOG_SP_STRU, tag_names, 285);
VEXLOR_STRIDE(MEM_ANALOG_SP_STRU, tag_names[0], 64);
VEXLOR_FIELD(MEM_ANALOG_SP_STRU, tag_type, 541);
VEXLOR_FIELD(MEM_ANALOG_SP_STRU, append, 557);
VEXLOR_FIELD(MEM_ANALOG_SP_STRU, reserved_813, 813);
VEXLOR_FIELD(MEM_ANALOG_SP_STRU, init, 816);

// An analog point's value slot.
struct MEM_ANALOG_VAL_STRU {
  double read_value;
  uint8_t read_status;
  uint8_t reserved_9[7];
  double write_value;
  uint8_t write_status;
  uint8_t reserved_25[7];
};

VEXLOR_SIZE(MEM_ANALOG_VAL_STRU, 32);
VEXLOR_FIELD(MEM_ANALOG_VAL_STRU, read_value, 0);
VEXLOR_FIELD(MEM_ANALOG_VAL_STRU, read_status, 8);
VEXLOR_FIELD(MEM_ANALOG_VAL_STRU, reserved_9, 9);
VEXLOR_FIELD(MEM_ANALOG_VAL_STRU, write_value, 16);
VEXLOR_FIELD(MEM_ANALOG_VAL_STRU, write_status, 24);
VEXLOR_FIELD(MEM_ANALOG_VAL_STRU, reserved_25, 25);

// A string point's definition.
struct MEM_STRING_SP_STRU {
  char name[64];
  int32_t iparam;
  int32_t oparam;
  int32_t idrv_point;
  int32_t odrv_point;
  int32_t idrv_type;  // DRIVER_TYPE
  int32_t odrv_type;  // DRIVER_TYPE
  uint8_t sintlk_use;
  uint8_t vintlk_use;
  uint8_t reserved_90[2];
  int32_t mode;  // STRING_MODE
  char annotation[128];
  uint8_t reserved_224[8];
  uint8_t tag_flag;
  char tag_names[4][64];
  char tag_type[16];
  uint8_t reserved_505[48];
  char append[256];
  char init[1024];
  uint8_t reserved_1833[3];
};

VEXLOR_SIZE(MEM_STRING_SP_STRU, 1836);
VEXLOR_FIELD(MEM_STRING_SP_STRU, name, 0);
VEXLOR_FIELD(MEM_STRING_SP_STRU, iparam, 64);
VEXLOR_FIELD(MEM_STRING_SP_STRU, oparam, 68);
VEXLOR_FIELD(MEM_STRING_SP_STRU, idrv_point, 72);
VEXLOR_FIELD(MEM_STRING_SP_STRU, odrv_point, 76);
VEXLOR_FIELD(MEM_STRING_SP_STRU, idrv_type, 80);
VEXLOR_FIELD(MEM_STRING_SP_STRU, odrv_type, 84);
VEXLOR_FIELD(MEM_STRING_SP_STRU, sintlk_use, 88);
VEXLOR_FIELD(MEM_STRING_SP_STRU, vintlk_use, 89);
VEXLOR_FIELD(MEM_STRING_SP_STRU, reserved_90, 90);
VEXLOR_FIELD(MEM_STRING_SP_STRU, mode, 92);
VEXLOR_FIELD(MEM_STRING_SP_STRU, annotation, 96);
VEXLOR_FIELD(MEM_STRING_SP_STRU, reserved_224, 224);
VEXLOR_FIELD(MEM_STRING_SP_STRU, tag_flag, 232);
VEXLOR_FIELD(MEM_STRING_SP_STRU, tag_names, 233);
VEXLOR_STRIDE(MEM_STRING_SP_STRU, tag_names[0], 64);
VEXLOR_FIELD(MEM_STRING_SP_STRU, tag_type, 489);
VEXLOR_FIELD(MEM_STRING_SP_STRU, reserved_505, 505);
VEXLOR_FIELD(MEM_STRING_SP_STRU, append, 553);
VEXLOR_FIELD(MEM_STRING_SP_STRU, init, 809);
VEXLOR_FIELD(MEM_STRING_SP_STRU, reserved_1833, 1833);

// A string point's value slot; byte fields only, so it is packed without a pragma.
struct MEM_STRING_VAL_STRU {
  char read_value[1024];
  uint8_t read_status;
  char write_value[1024];
  uint8_t write_status;
};

VEXLOR_SIZE(MEM_STRING_VAL_STRU, 2050);
static_assert(alignof(MEM_STRING_VAL_STRU) == 1, "layout: MEM_STRING_VAL_STRU is packed");
VEXLOR_FIELD(MEM_STRING_VAL_STRU, read_value, 0);
VEXLOR_FIELD(MEM_STRING_VAL_STRU, read_status, 1024);
VEXLOR_FIELD(MEM_STRING_VAL_STRU, write_value, 1025);
VEXLOR_FIELD(MEM_STRING_VAL_STRU, write_status, 2049);

// A function's definition; one per slot of the function table (N configured + 12 extra).
struct MEM_FUNCTION_SP_STRU {
  char name[64];
  char load_arg_param[512];
  char load_run_param[512];
  int32_t load_style;  // LOAD_STYLE
  int32_t level;
  uint8_t virtual_flag;
  char path[256];
  char annotation[128];
  uint8_t reserved_1481[11];
  char append[256];
  int32_t pool_count;
};

VEXLOR_SIZE(MEM_FUNCTION_SP_STRU, 1752);
VEXLOR_FIELD(MEM_FUNCTION_SP_STRU, name, 0);
VEXLOR_FIELD(MEM_FUNCTION_SP_STRU, load_arg_param, 64);
VEXLOR_FIELD(MEM_FUNCTION_SP_STRU, load_run_param, 576);
VEXLOR_FIELD(MEM_FUNCTION_SP_STRU, load_style, 1088);
VEXLOR_FIELD(MEM_FUNCTION_SP_STRU, level, 1092);
VEXLOR_FIELD(MEM_FUNCTION_SP_STRU, virtual_flag, 1096);
VEXLOR_FIELD(MEM_FUNCTION_SP_STRU, path, 1097);
VEXLOR_FIELD(MEM_FUNCTION_SP_STRU, annotation, 1353);
VEXLOR_FIELD(MEM_FUNCTION_SP_STRU, reserved_1481, 1481);
VEXLOR_FIELD(MEM_FUNCTION_SP_STRU, append, 1492);
VEXLOR_FIELD(MEM_FUNCTION_SP_STRU, pool_count, 1748);

// A function's run-time record.
struct MEM_FUNCTION_RT_STRU {
  int32_t run_status;    // FUNC_STATUS
  int32_t event_status;  // FUNC_STATUS
  uint8_t abort_flag;
  uint8_t free_flag;
  uint8_t manual_flag;
  uint8_t exit_flag;
  char regist_info[64];
};

VEXLOR_SIZE(MEM_FUNCTION_RT_STRU, 76);
VEXLOR_FIELD(MEM_FUNCTION_RT_STRU, run_status, 0);
VEXLOR_FIELD(MEM_FUNCTION_RT_STRU, event_status, 4);
VEXLOR_FIELD(MEM_FUNCTION_RT_STRU, abort_flag, 8);
VEXLOR_FIELD(MEM_FUNCTION_RT_STRU, free_flag, 9);
VEXLOR_FIELD(MEM_FUNCTION_RT_STRU, manual_flag, 10);
VEXLOR_FIELD(MEM_FUNCTION_RT_STRU, exit_flag, 11);
VEXLOR_FIELD(MEM_FUNCTION_RT_STRU, regist_info, 12);

// An alarm's definition.
struct MEM_ALARM_SP_STRU {
  int32_t alarm_id;      // module alarm base * 1000 + number
  int32_t module_point;  // negative: no module
  int32_t level;         // ALARM_LEVEL
  uint8_t used;
  char name[64];
  char text[512];  // bilingual
  char description[256];
  uint8_t reserved_845[3];
  int32_t recovery_count;       // 0 to 8
  int32_t recovery_results[8];  // ALARM_STYLE choices in display order
  char recovery_messages[8][64];
};

VEXLOR_SIZE(MEM_ALARM_SP_STRU, 1396);
VEXLOR_FIELD(MEM_ALARM_SP_STRU, alarm_id, 0);
VEXLOR_FIELD(MEM_ALARM_SP_STRU, module_point, 4);
VEXLOR_FIELD(MEM_ALARM_SP_STRU, level, 8);
VEXLOR_FIELD(MEM_ALARM_SP_STRU, used, 12);
VEXLOR_FIELD(MEM_ALARM_SP_STRU, name, 13);
VEXLOR_FIELD(MEM_ALARM_SP_STRU, text, 77);
VEXLOR_FIELD(MEM_ALARM_SP_STRU, description, 589);
VEXLOR_FIELD(MEM_ALARM_SP_STRU, reserved_845, 845);
VEXLOR_FIELD(MEM_ALARM_SP_STRU, recovery_count, 848);
VEXLOR_FIELD(MEM_ALARM_SP_STRU, recovery_results, 852);
VEXLOR_FIELD(MEM_ALARM_SP_STRU, recovery_messages, 884);
VEXLOR_STRIDE(MEM_ALARM_SP_STRU, recovery_messages[0], 64);

// An alarm's run-time record.
struct MEM_ALARM_RT_STRU {
  uint8_t reserved_0[12];
  int32_t post_type;       // 0 not posted, 1 posted, 2 managed (a routine waits)
  int32_t function_point;  // routine that last posted or answered it
  char code_position[256];
  char post_time[32];
  char clear_time[32];
  char append[512];
  int32_t status;  // ALARM_STYLE
};

VEXLOR_SIZE(MEM_ALARM_RT_STRU, 856);
VEXLOR_FIELD(MEM_ALARM_RT_STRU, reserved_0, 0);
VEXLOR_FIELD(MEM_ALARM_RT_STRU, post_type, 12);
VEXLOR_FIELD(MEM_ALARM_RT_STRU, function_point, 16);
VEXLOR_FIELD(MEM_ALARM_RT_STRU, code_position, 20);
VEXLOR_FIELD(MEM_ALARM_RT_STRU, post_time, 276);
VEXLOR_FIELD(MEM_ALARM_RT_STRU, clear_time, 308);
VEXLOR_FIELD(MEM_ALARM_RT_STRU, append, 340);
VEXLOR_FIELD(MEM_ALARM_RT_STRU, status, 852);

// The queue of posted alarms, in the order they were first posted.
struct MEM_ALARM_QUEUE_STRU {
  int32_t count;  // 0 to 200
  int32_t entries[200];
};

VEXLOR_SIZE(MEM_ALARM_QUEUE_STRU, 804);
VEXLOR_FIELD(MEM_ALARM_QUEUE_STRU, count, 0);
VEXLOR_FIELD(MEM_ALARM_QUEUE_STRU, entries, 4);
VEXLOR_STRIDE(MEM_ALARM_QUEUE_STRU, entries[0], 4);

// The abort manager's block; only the system-wide abort flag is used by this library.
struct MEM_ABORT_MANAGER_STRU {
  uint8_t reserved_0[8];
  uint8_t abort_flag;
  uint8_t reserved_9[7];
};

VEXLOR_SIZE(MEM_ABORT_MANAGER_STRU, 16);
VEXLOR_FIELD(MEM_ABORT_MANAGER_STRU, reserved_0, 0);
VEXLOR_FIELD(MEM_ABORT_MANAGER_STRU, abort_flag, 8);
VEXLOR_FIELD(MEM_ABORT_MANAGER_STRU, reserved_9, 9);

// Scheduler blocks. Items are named as the scheduler accessors name them; reserved_<offset>
// members fill the gaps between items, and each block is padded to a multiple of 8 bytes.

// The robot animation block (MMAP_STRU +1368): Map_ items by carrier module, fallback and
// Hom_ items by robot, per-module items by module then robot (then arm).
struct MEM_SCH_RBTANI_STRU {
  double RbtAni_Map_MoveX[6];
  double RbtAni_Map_MoveY[6];
  double RbtAni_Map_Rotate[6];
  double RbtAni_Map_Extend[6][4];
  double RbtAni_MoveX[10];
  double RbtAni_MoveY[10];
  double RbtAni_Rotate[10];
  double RbtAni_Extend[10][4];
  double RbtAni_Hom_MoveX[10];
  double RbtAni_Hom_MoveY[10];
  double RbtAni_Hom_Rotate[10];
  double RbtAni_Hom_Extend[10][4];
  double RbtAni_CM_MoveX[6][10];
  double RbtAni_CM_MoveY[6][10];
  double RbtAni_CM_Rotate[6][10];
  double RbtAni_CM_Extend[6][10][4];
  double RbtAni_BM_MoveX[100][10];
  double RbtAni_BM_MoveY[100][10];
  double RbtAni_BM_Rotate[100][10];
  double RbtAni_BM_Extend[100][10][4];
  double RbtAni_PM_MoveX[100][10];
  double RbtAni_PM_MoveY[100][10];
  double RbtAni_PM_Rotate[100][10];
  double RbtAni_PM_Extend[100][10][4];
};

VEXLOR_SIZE(MEM_SCH_RBTANI_STRU, 116816);
VEXLOR_FIELD(MEM_SCH_RBTANI_STRU, RbtAni_Map_MoveX, 0);
VEXLOR_STRIDE(MEM_SCH_RBTANI_STRU, RbtAni_Map_MoveX[0], 8);
VEXLOR_FIELD(MEM_SCH_RBTANI_STRU, RbtAni_Map_MoveY, 48);
VEXLOR_STRIDE(MEM_SCH_RBTANI_STRU, RbtAni_Map_MoveY[0], 8);
VEXLOR_FIELD(MEM_SCH_RBTANI_STRU, RbtAni_Map_Rotate, 96);
VEXLOR_STRIDE(MEM_SCH_RBTANI_STRU, RbtAni_Map_Rotate[0], 8);
VEXLOR_FIELD(MEM_SCH_RBTANI_STRU, RbtAni_Map_Extend, 144);
VEXLOR_STRIDE(MEM_SCH_RBTANI_STRU, RbtAni_Map_Extend[0], 32);
VEXLOR_STRIDE(MEM_SCH_RBTANI_STRU, RbtAni_Map_Extend[0][0], 8);
VEXLOR_FIELD(MEM_SCH_RBTANI_STRU, RbtAni_MoveX, 336);
VEXLOR_STRIDE(MEM_SCH_RBTANI_STRU, RbtAni_MoveX[0], 8);
VEXLOR_FIELD(MEM_SCH_RBTANI_STRU, RbtAni_MoveY, 416);
VEXLOR_STRIDE(MEM_SCH_RBTANI_STRU, RbtAni_MoveY[0], 8);
VEXLOR_FIELD(MEM_SCH_RBTANI_STRU, RbtAni_Rotate, 496);
VEXLOR_STRIDE(MEM_SCH_RBTANI_STRU, RbtAni_Rotate[0], 8);
VEXLOR_FIELD(MEM_SCH_RBTANI_STRU, RbtAni_Extend, 576);
VEXLOR_STRIDE(MEM_SCH_RBTANI_STRU, RbtAni_Extend[0], 32);
VEXLOR_STRIDE(MEM_SCH_RBTANI_STRU, RbtAni_Extend[0][0], 8);
VEXLOR_FIELD(MEM_SCH_RBTANI_STRU, RbtAni_Hom_MoveX, 896);
VEXLOR_STRIDE(MEM_SCH_RBTANI_STRU, RbtAni_Hom_MoveX[0], 8);
VEXLOR_FIELD(MEM_SCH_RBTANI_STRU, RbtAni_Hom_MoveY, 976);
VEXLOR_STRIDE(MEM_SCH_RBTANI_STRU, RbtAni_Hom_MoveY[0], 8);
VEXLOR_FIELD(MEM_SCH_RBTANI_STRU, RbtAni_Hom_Rotate, 1056);
VEXLOR_STRIDE(MEM_SCH_RBTANI_STRU, RbtAni_Hom_Rotate[0], 8);
VEXLOR_FIELD(MEM_SCH_RBTANI_STRU, RbtAni_Hom_Extend, 1136);
VEXLOR_STRIDE(MEM_SCH_RBTANI_STRU, RbtAni_Hom_Extend[0], 32);
VEXLOR_STRIDE(MEM_SCH_RBTANI_STRU, RbtAni_Hom_Extend[0][0], 8);
VEXLOR_FIELD(MEM_SCH_RBTANI_STRU, RbtAni_CM_MoveX, 1456);
VEXLOR_STRIDE(MEM_SCH_RBTANI_STRU, RbtAni_CM_MoveX[0], 80);
VEXLOR_STRIDE(MEM_SCH_RBTANI_STRU, RbtAni_CM_MoveX[0][0], 8);
VEXLOR_FIELD(MEM_SCH_RBTANI_STRU, RbtAni_CM_MoveY, 1936);
VEXLOR_STRIDE(MEM_SCH_RBTANI_STRU, RbtAni_CM_MoveY[0], 80);
VEXLOR_STRIDE(MEM_SCH_RBTANI_STRU, RbtAni_CM_MoveY[0][0], 8);
VEXLOR_FIELD(MEM_SCH_RBTANI_STRU, RbtAni_CM_Rotate, 2416);
VEXLOR_STRIDE(MEM_SCH_RBTANI_STRU, RbtAni_CM_Rotate[0], 80);
VEXLOR_STRIDE(MEM_SCH_RBTANI_STRU, RbtAni_CM_Rotate[0][0], 8);
VEXLOR_FIELD(MEM_SCH_RBTANI_STRU, RbtAni_CM_Extend, 2896);
VEXLOR_STRIDE(MEM_SCH_RBTANI_STRU, RbtAni_CM_Extend[0], 320);
VEXLOR_STRIDE(MEM_SCH_RBTANI_STRU, RbtAni_CM_Extend[0][0], 32);
VEXLOR_STRIDE(MEM_SCH_RBTANI_STRU, RbtAni_CM_Extend[0][0][0], 8);
VEXLOR_FIELD(MEM_SCH_RBTANI_STRU, RbtAni_BM_MoveX, 4816);
VEXLOR_STRIDE(MEM_SCH_RBTANI_STRU, RbtAni_BM_MoveX[0], 80);
VEXLOR_STRIDE(MEM_SCH_RBTANI_STRU, RbtAni_BM_MoveX[0][0], 8);
VEXLOR_FIELD(MEM_SCH_RBTANI_STRU, RbtAni_BM_MoveY, 12816);
VEXLOR_STRIDE(MEM_SCH_RBTANI_STRU, RbtAni_BM_MoveY[0], 80);
VEXLOR_STRIDE(MEM_SCH_RBTANI_STRU, RbtAni_BM_MoveY[0][0], 8);
VEXLOR_FIELD(MEM_SCH_RBTANI_STRU, RbtAni_BM_Rotate, 20816);
VEXLOR_STRIDE(MEM_SCH_RBTANI_STRU, RbtAni_BM_Rotate[0], 80);
VEXLOR_STRIDE(MEM_SCH_RBTANI_STRU, RbtAni_BM_Rotate[0][0], 8);
VEXLOR_FIELD(MEM_SCH_RBTANI_STRU, RbtAni_BM_Extend, 28816);
VEXLOR_STRIDE(MEM_SCH_RBTANI_STRU, RbtAni_BM_Extend[0], 320);
VEXLOR_STRIDE(MEM_SCH_RBTANI_STRU, RbtAni_BM_Extend[0][0], 32);
VEXLOR_STRIDE(MEM_SCH_RBTANI_STRU, RbtAni_BM_Extend[0][0][0], 8);
VEXLOR_FIELD(MEM_SCH_RBTANI_STRU, RbtAni_PM_MoveX, 60816);
VEXLOR_STRIDE(MEM_SCH_RBTANI_STRU, RbtAni_PM_MoveX[0], 80);
VEXLOR_STRIDE(MEM_SCH_RBTANI_STRU, RbtAni_PM_MoveX[0][0], 8);
VEXLOR_FIELD(MEM_SCH_RBTANI_STRU, RbtAni_PM_MoveY, 68816);
VEXLOR_STRIDE(MEM_SCH_RBTANI_STRU, RbtAni_PM_MoveY[0], 80);
VEXLOR_STRIDE(MEM_SCH_RBTANI_STRU, RbtAni_PM_MoveY[0][0], 8);
VEXLOR_FIELD(MEM_SCH_RBTANI_STRU, RbtAni_PM_Rotate, 76816);
VEXLOR_STRIDE(MEM_SCH_RBTANI_STRU, RbtAni_PM_Rotate[0], 80);
VEXLOR_STRIDE(MEM_SCH_RBTANI_STRU, RbtAni_PM_Rotate[0][0], 8);
VEXLOR_FIELD(MEM_SCH_RBTANI_STRU, RbtAni_PM_Extend, 84816);
VEXLOR_STRIDE(MEM_SCH_RBTANI_STRU, RbtAni_PM_Extend[0], 320);
VEXLOR_STRIDE(MEM_SCH_RBTANI_STRU, RbtAni_PM_Extend[0][0], 32);
VEXLOR_STRIDE(MEM_SCH_RBTANI_STRU, RbtAni_PM_Extend[0][0][0], 8);

// The job block (MMAP_STRU +1372), one entry per job (carrier module).
struct MEM_SCH_JOB_STRU {
  uint8_t Job_Signal_Start[6];
  uint8_t Job_Signal_End[6];
  uint8_t Job_Signal_Abort[6];
  uint8_t reserved_18[6];
  uint8_t Job_Signal_Pause[6];
  uint8_t Job_Signal_Continue[6];
  uint8_t Job_Signal_Cancel[6];
  uint8_t Job_Signal_Urgent[6];
  uint8_t Job_Signal_Finish[6];
  uint8_t Job_Signal_FirstIn[6];
  uint8_t Job_Signal_LastIn[6];
  uint8_t reserved_66[2];
  int32_t Job_Using_Tag[6];
  uint8_t Job_Running[6];
  uint8_t reserved_98[6];
};

VEXLOR_SIZE(MEM_SCH_JOB_STRU, 104);
VEXLOR_FIELD(MEM_SCH_JOB_STRU, Job_Signal_Start, 0);
VEXLOR_STRIDE(MEM_SCH_JOB_STRU, Job_Signal_Start[0], 1);
VEXLOR_FIELD(MEM_SCH_JOB_STRU, Job_Signal_End, 6);
VEXLOR_STRIDE(MEM_SCH_JOB_STRU, Job_Signal_End[0], 1);
VEXLOR_FIELD(MEM_SCH_JOB_STRU, Job_Signal_Abort, 12);
VEXLOR_STRIDE(MEM_SCH_JOB_STRU, Job_Signal_Abort[0], 1);
VEXLOR_FIELD(MEM_SCH_JOB_STRU, Job_Signal_Pause, 24);
VEXLOR_STRIDE(MEM_SCH_JOB_STRU, Job_Signal_Pause[0], 1);
VEXLOR_FIELD(MEM_SCH_JOB_STRU, Job_Signal_Continue, 30);
VEXLOR_STRIDE(MEM_SCH_JOB_STRU, Job_Signal_Continue[0], 1);
VEXLOR_FIELD(MEM_SCH_JOB_STRU, Job_Signal_Cancel, 36);
VEXLOR_STRIDE(MEM_SCH_JOB_STRU, Job_Signal_Cancel[0], 1);
VEXLOR_FIELD(MEM_SCH_JOB_STRU, Job_Signal_Urgent, 42);
VEXLOR_STRIDE(MEM_SCH_JOB_STRU, Job_Signal_Urgent[0], 1);
VEXLOR_FIELD(MEM_SCH_JOB_STRU, Job_Signal_Finish, 48);
VEXLOR_STRIDE(MEM_SCH_JOB_STRU, Job_Signal_Finish[0], 1);
VEXLOR_FIELD(MEM_SCH_JOB_STRU, Job_Signal_FirstIn, 54);
VEXLOR_STRIDE(MEM_SCH_JOB_STRU, Job_Signal_FirstIn[0], 1);
VEXLOR_FIELD(MEM_SCH_JOB_STRU, Job_Signal_LastIn, 60);
VEXLOR_STRIDE(MEM_SCH_JOB_STRU, Job_Signal_LastIn[0], 1);
VEXLOR_FIELD(MEM_SCH_JOB_STRU, Job_Using_Tag, 68);
VEXLOR_STRIDE(MEM_SCH_JOB_STRU, Job_Using_Tag[0], 4);
VEXLOR_FIELD(MEM_SCH_JOB_STRU, Job_Running, 92);
VEXLOR_STRIDE(MEM_SCH_JOB_STRU, Job_Running[0], 1);

// The carrier module block (MMAP_STRU +1376); interlock and assist items by module, transfer
// module and arm.
struct MEM_SCH_CM_STRU {
  uint8_t CM_Enable[6];
  uint8_t reserved_6[2];
  int32_t CM_Slot_Count[6];
  int32_t CM_Slot_Inch[6][25];
  uint8_t CM_Pick_Intlk[6][10][4];
  uint8_t CM_Place_Intlk[6][10][4];
  uint8_t CM_Pick_Assist_In[6][10][4];
  uint8_t CM_Place_Assist_In[6][10][4];
  uint8_t CM_Pick_Assist_Out[6][10][4];
  uint8_t CM_Place_Assist_Out[6][10][4];
  int32_t CM_Pick_Priority[6];
  int32_t CM_Place_Priority[6];
  double CM_Last_Supply_Time[6];
  double CM_Last_Mapping_Time[6];
  uint8_t reserved_2216[24];
  uint8_t CM_Ready_Flag[6];
  uint8_t CM_End_Flag[6];
  uint8_t reserved_2252[4];
};

VEXLOR_SIZE(MEM_SCH_CM_STRU, 2256);
VEXLOR_FIELD(MEM_SCH_CM_STRU, CM_Enable, 0);
VEXLOR_STRIDE(MEM_SCH_CM_STRU, CM_Enable[0], 1);
VEXLOR_FIELD(MEM_SCH_CM_STRU, CM_Slot_Count, 8);
VEXLOR_STRIDE(MEM_SCH_CM_STRU, CM_Slot_Count[0], 4);
VEXLOR_FIELD(MEM_SCH_CM_STRU, CM_Slot_Inch, 32);
VEXLOR_STRIDE(MEM_SCH_CM_STRU, CM_Slot_Inch[0], 100);
VEXLOR_STRIDE(MEM_SCH_CM_STRU, CM_Slot_Inch[0][0], 4);
VEXLOR_FIELD(MEM_SCH_CM_STRU, CM_Pick_Intlk, 632);
VEXLOR_STRIDE(MEM_SCH_CM_STRU, CM_Pick_Intlk[0], 40);
VEXLOR_STRIDE(MEM_SCH_CM_STRU, CM_Pick_Intlk[0][0], 4);
VEXLOR_STRIDE(MEM_SCH_CM_STRU, CM_Pick_Intlk[0][0][0], 1);
VEXLOR_FIELD(MEM_SCH_CM_STRU, CM_Place_Intlk, 872);
VEXLOR_STRIDE(MEM_SCH_CM_STRU, CM_Place_Intlk[0], 40);
VEXLOR_STRIDE(MEM_SCH_CM_STRU, CM_Place_Intlk[0][0], 4);
VEXLOR_STRIDE(MEM_SCH_CM_STRU, CM_Place_Intlk[0][0][0], 1);
VEXLOR_FIELD(MEM_SCH_CM_STRU, CM_Pick_Assist_In, 1112);
VEXLOR_STRIDE(MEM_SCH_CM_STRU, CM_Pick_Assist_In[0], 40);
VEXLOR_STRIDE(MEM_SCH_CM_STRU, CM_Pick_Assist_In[0][0], 4);
VEXLOR_STRIDE(MEM_SCH_CM_STRU, CM_Pick_Assist_In[0][0][0], 1);
VEXLOR_FIELD(MEM_SCH_CM_STRU, CM_Place_Assist_In, 1352);
VEXLOR_STRIDE(MEM_SCH_CM_STRU, CM_Place_Assist_In[0], 40);
VEXLOR_STRIDE(MEM_SCH_CM_STRU, CM_Place_Assist_In[0][0], 4);
VEXLOR_STRIDE(MEM_SCH_CM_STRU, CM_Place_Assist_In[0][0][0], 1);
VEXLOR_FIELD(MEM_SCH_CM_STRU, CM_Pick_Assist_Out, 1592);
VEXLOR_STRIDE(MEM_SCH_CM_STRU, CM_Pick_Assist_Out[0], 40);
VEXLOR_STRIDE(MEM_SCH_CM_STRU, CM_Pick_Assist_Out[0][0], 4);
VEXLOR_STRIDE(MEM_SCH_CM_STRU, CM_Pick_Assist_Out[0][0][0], 1);
VEXLOR_FIELD(MEM_SCH_CM_STRU, CM_Place_Assist_Out, 1832);
VEXLOR_STRIDE(MEM_SCH_CM_STRU, CM_Place_Assist_Out[0], 40);
VEXLOR_STRIDE(MEM_SCH_CM_STRU, CM_Place_Assist_Out[0][0], 4);
VEXLOR_STRIDE(MEM_SCH_CM_STRU, CM_Place_Assist_Out[0][0][0], 1);
VEXLOR_FIELD(MEM_SCH_CM_STRU, CM_Pick_Priority, 2072);
VEXLOR_STRIDE(MEM_SCH_CM_STRU, CM_Pick_Priority[0], 4);
VEXLOR_FIELD(MEM_SCH_CM_STRU, CM_Place_Priority, 2096);
VEXLOR_STRIDE(MEM_SCH_CM_STRU, CM_Place_Priority[0], 4);
VEXLOR_FIELD(MEM_SCH_CM_STRU, CM_Last_Supply_Time, 2120);
VEXLOR_STRIDE(MEM_SCH_CM_STRU, CM_Last_Supply_Time[0], 8);
VEXLOR_FIELD(MEM_SCH_CM_STRU, CM_Last_Mapping_Time, 2168);
VEXLOR_STRIDE(MEM_SCH_CM_STRU, CM_Last_Mapping_Time[0], 8);
VEXLOR_FIELD(MEM_SCH_CM_STRU, CM_Ready_Flag, 2240);
VEXLOR_STRIDE(MEM_SCH_CM_STRU, CM_Ready_Flag[0], 1);
VEXLOR_FIELD(MEM_SCH_CM_STRU, CM_End_Flag, 2246);
VEXLOR_STRIDE(MEM_SCH_CM_STRU, CM_End_Flag[0], 1);

// The buffer module block (MMAP_STRU +1380).
struct MEM_SCH_BM_STRU {
  uint8_t BM_Enable[100];
  int32_t BM_Slot_Count[100];
  int32_t BM_Slot_Inch[100][25];
  uint8_t BM_Pick_Intlk[100][10][4];
  uint8_t BM_Place_Intlk[100][10][4];
  uint8_t BM_Pick_Assist_In[100][10][4];
  uint8_t BM_Place_Assist_In[100][10][4];
  uint8_t BM_Pick_Assist_Out[100][10][4];
  uint8_t BM_Place_Assist_Out[100][10][4];
  int32_t BM_Pick_Priority[100];
  int32_t BM_Place_Priority[100];
  uint8_t reserved_35300[500];
  uint8_t BM_Running[100];
  uint8_t BM_Job_Using[100][6];
  uint8_t BM_Ready_Flag[100];
  uint8_t BM_End_Flag[100];
  uint8_t BM_Wafer_Clear_ITS_TM[100][10];
  uint8_t reserved_37700[4];
};

VEXLOR_SIZE(MEM_SCH_BM_STRU, 37704);
VEXLOR_FIELD(MEM_SCH_BM_STRU, BM_Enable, 0);
VEXLOR_STRIDE(MEM_SCH_BM_STRU, BM_Enable[0], 1);
VEXLOR_FIELD(MEM_SCH_BM_STRU, BM_Slot_Count, 100);
VEXLOR_STRIDE(MEM_SCH_BM_STRU, BM_Slot_Count[0], 4);
VEXLOR_FIELD(MEM_SCH_BM_STRU, BM_Slot_Inch, 500);
VEXLOR_STRIDE(MEM_SCH_BM_STRU, BM_Slot_Inch[0], 100);
VEXLOR_STRIDE(MEM_SCH_BM_STRU, BM_Slot_Inch[0][0], 4);
VEXLOR_FIELD(MEM_SCH_BM_STRU, BM_Pick_Intlk, 10500);
VEXLOR_STRIDE(MEM_SCH_BM_STRU, BM_Pick_Intlk[0], 40);
VEXLOR_STRIDE(MEM_SCH_BM_STRU, BM_Pick_Intlk[0][0], 4);
VEXLOR_STRIDE(MEM_SCH_BM_STRU, BM_Pick_Intlk[0][0][0], 1);
VEXLOR_FIELD(MEM_SCH_BM_STRU, BM_Place_Intlk, 14500);
VEXLOR_STRIDE(MEM_SCH_BM_STRU, BM_Place_Intlk[0], 40);
VEXLOR_STRIDE(MEM_SCH_BM_STRU, BM_Place_Intlk[0][0], 4);
VEXLOR_STRIDE(MEM_SCH_BM_STRU, BM_Place_Intlk[0][0][0], 1);
VEXLOR_FIELD(MEM_SCH_BM_STRU, BM_Pick_Assist_In, 18500);
VEXLOR_STRIDE(MEM_SCH_BM_STRU, BM_Pick_Assist_In[0], 40);
VEXLOR_STRIDE(MEM_SCH_BM_STRU, BM_Pick_Assist_In[0][0], 4);
VEXLOR_STRIDE(MEM_SCH_BM_STRU, BM_Pick_Assist_In[0][0][0], 1);
VEXLOR_FIELD(MEM_SCH_BM_STRU, BM_Place_Assist_In, 22500);
VEXLOR_STRIDE(MEM_SCH_BM_STRU, BM_Place_Assist_In[0], 40);
VEXLOR_STRIDE(MEM_SCH_BM_STRU, BM_Place_Assist_In[0][0], 4);
VEXLOR_STRIDE(MEM_SCH_BM_STRU, BM_Place_Assist_In[0][0][0], 1);
VEXLOR_FIELD(MEM_SCH_BM_STRU, BM_Pick_Assist_Out, 26500);
VEXLOR_STRIDE(MEM_SCH_BM_STRU, BM_Pick_Assist_Out[0], 40);
VEXLOR_STRIDE(MEM_SCH_BM_STRU, BM_Pick_Assist_Out[0][0], 4);
VEXLOR_STRIDE(MEM_SCH_BM_STRU, BM_Pick_Assist_Out[0][0][0], 1);
VEXLOR_FIELD(MEM_SCH_BM_STRU, BM_Place_Assist_Out, 30500);
VEXLOR_STRIDE(MEM_SCH_BM_STRU, BM_Place_Assist_Out[0], 40);
VEXLOR_STRIDE(MEM_SCH_BM_STRU, BM_Place_Assist_Out[0][0], 4);
VEXLOR_STRIDE(MEM_SCH_BM_STRU, BM_Place_Assist_Out[0][0][0], 1);
VEXLOR_FIELD(MEM_SCH_BM_STRU, BM_Pick_Priority, 34500);
VEXLOR_STRIDE(MEM_SCH_BM_STRU, BM_Pick_Priority[0], 4);
VEXLOR_FIELD(MEM_SCH_BM_STRU, BM_Place_Priority, 34900);
VEXLOR_STRIDE(MEM_SCH_BM_STRU, BM_Place_Priority[0], 4);
VEXLOR_FIELD(MEM_SCH_BM_STRU, BM_Running, 35800);
VEXLOR_STRIDE(MEM_SCH_BM_STRU, BM_Running[0], 1);
VEXLOR_FIELD(MEM_SCH_BM_STRU, BM_Job_Using, 35900);
VEXLOR_STRIDE(MEM_SCH_BM_STRU, BM_Job_Using[0], 6);
VEXLOR_STRIDE(MEM_SCH_BM_STRU, BM_Job_Using[0][0], 1);
VEXLOR_FIELD(MEM_SCH_BM_STRU, BM_Ready_Flag, 36500);
VEXLOR_STRIDE(MEM_SCH_BM_STRU, BM_Ready_Flag[0], 1);
VEXLOR_FIELD(MEM_SCH_BM_STRU, BM_End_Flag, 36600);
VEXLOR_STRIDE(MEM_SCH_BM_STRU, BM_End_Flag[0], 1);
VEXLOR_FIELD(MEM_SCH_BM_STRU, BM_Wafer_Clear_ITS_TM, 36700);
VEXLOR_STRIDE(MEM_SCH_BM_STRU, BM_Wafer_Clear_ITS_TM[0], 10);
VEXLOR_STRIDE(MEM_SCH_BM_STRU, BM_Wafer_Clear_ITS_TM[0][0], 1);

// The process module block (MMAP_STRU +1384).
struct MEM_SCH_PM_STRU {
  int32_t PM_Inline_In_Signal;
  int32_t PM_Inline_Out_Signal;
  uint8_t PM_Enable[100];
  int32_t PM_Slot_Count[100];
  int32_t PM_Slot_Inch[100][75];
  uint8_t PM_Pick_Intlk[100][10][4];
  uint8_t PM_Place_Intlk[100][10][4];
  uint8_t PM_Pick_Assist_In[100][10][4];
  uint8_t PM_Place_Assist_In[100][10][4];
  uint8_t PM_Pick_Assist_Out[100][10][4];
  uint8_t PM_Place_Assist_Out[100][10][4];
  int32_t PM_Pick_Priority[100];
  int32_t PM_Place_Priority[100];
  int32_t PM_Process_Loop_Count[100];
  int32_t PM_Process_Wafer_Count[100];
  uint8_t reserved_56108[4];
  double PM_Process_Start_Time[100];
  double PM_Process_End_Time[100];
  double PM_Process_Remain_Time[100];
  uint8_t PM_Prior_Pick[100];
  uint8_t PM_Running[100];
  uint8_t PM_Job_Using[100][6];
  uint8_t reserved_59312[800];
  uint8_t PM_Ready_Flag[100];
  uint8_t PM_End_Flag[100];
  uint8_t PM_Wafer_Clear_Clean[100];
  uint8_t PM_Run_Intlk_CM[100][6];
  uint8_t PM_Wafer_Clear_ITS_TM[100][10];
  uint8_t PM_Skip_Process[100];
  double PM_Process_Timer[100];
};

VEXLOR_SIZE(MEM_SCH_PM_STRU, 62912);
VEXLOR_FIELD(MEM_SCH_PM_STRU, PM_Inline_In_Signal, 0);
VEXLOR_FIELD(MEM_SCH_PM_STRU, PM_Inline_Out_Signal, 4);
VEXLOR_FIELD(MEM_SCH_PM_STRU, PM_Enable, 8);
VEXLOR_STRIDE(MEM_SCH_PM_STRU, PM_Enable[0], 1);
VEXLOR_FIELD(MEM_SCH_PM_STRU, PM_Slot_Count, 108);
VEXLOR_STRIDE(MEM_SCH_PM_STRU, PM_Slot_Count[0], 4);
VEXLOR_FIELD(MEM_SCH_PM_STRU, PM_Slot_Inch, 508);
VEXLOR_STRIDE(MEM_SCH_PM_STRU, PM_Slot_Inch[0], 300);
VEXLOR_STRIDE(MEM_SCH_PM_STRU, PM_Slot_Inch[0][0], 4);
VEXLOR_FIELD(MEM_SCH_PM_STRU, PM_Pick_Intlk, 30508);
VEXLOR_STRIDE(MEM_SCH_PM_STRU, PM_Pick_Intlk[0], 40);
VEXLOR_STRIDE(MEM_SCH_PM_STRU, PM_Pick_Intlk[0][0], 4);
VEXLOR_STRIDE(MEM_SCH_PM_STRU, PM_Pick_Intlk[0][0][0], 1);
VEXLOR_FIELD(MEM_SCH_PM_STRU, PM_Place_Intlk, 34508);
VEXLOR_STRIDE(MEM_SCH_PM_STRU, PM_Place_Intlk[0], 40);
VEXLOR_STRIDE(MEM_SCH_PM_STRU, PM_Place_Intlk[0][0], 4);
VEXLOR_STRIDE(MEM_SCH_PM_STRU, PM_Place_Intlk[0][0][0], 1);
VEXLOR_FIELD(MEM_SCH_PM_STRU, PM_Pick_Assist_In, 38508);
VEXLOR_STRIDE(MEM_SCH_PM_STRU, PM_Pick_Assist_In[0], 40);
VEXLOR_STRIDE(MEM_SCH_PM_STRU, PM_Pick_Assist_In[0][0], 4);
VEXLOR_STRIDE(MEM_SCH_PM_STRU, PM_Pick_Assist_In[0][0][0], 1);
VEXLOR_FIELD(MEM_SCH_PM_STRU, PM_Place_Assist_In, 42508);
VEXLOR_STRIDE(MEM_SCH_PM_STRU, PM_Place_Assist_In[0], 40);
VEXLOR_STRIDE(MEM_SCH_PM_STRU, PM_Place_Assist_In[0][0], 4);
VEXLOR_STRIDE(MEM_SCH_PM_STRU, PM_Place_Assist_In[0][0][0], 1);
VEXLOR_FIELD(MEM_SCH_PM_STRU, PM_Pick_Assist_Out, 46508);
VEXLOR_STRIDE(MEM_SCH_PM_STRU, PM_Pick_Assist_Out[0], 40);
VEXLOR_STRIDE(MEM_SCH_PM_STRU, PM_Pick_Assist_Out[0][0], 4);
VEXLOR_STRIDE(MEM_SCH_PM_STRU, PM_Pick_Assist_Out[0][0][0], 1);
VEXLOR_FIELD(MEM_SCH_PM_STRU, PM_Place_Assist_Out, 50508);
VEXLOR_STRIDE(MEM_SCH_PM_STRU, PM_Place_Assist_Out[0], 40);
VEXLOR_STRIDE(MEM_SCH_PM_STRU, PM_Place_Assist_Out[0][0], 4);
VEXLOR_STRIDE(MEM_SCH_PM_STRU, PM_Place_Assist_Out[0][0][0], 1);
VEXLOR_FIELD(MEM_SCH_PM_STRU, PM_Pick_Priority, 54508);
VEXLOR_STRIDE(MEM_SCH_PM_STRU, PM_Pick_Priority[0], 4);
VEXLOR_FIELD(MEM_SCH_PM_STRU, PM_Place_Priority, 54908);
VEXLOR_STRIDE(MEM_SCH_PM_STRU, PM_Place_Priority[0], 4);
VEXLOR_FIELD(MEM_SCH_PM_STRU, PM_Process_Loop_Count, 55308);
VEXLOR_STRIDE(MEM_SCH_PM_STRU, PM_Process_Loop_Count[0], 4);
VEXLOR_FIELD(MEM_SCH_PM_STRU, PM_Process_Wafer_Count, 55708);
VEXLOR_STRIDE(MEM_SCH_PM_STRU, PM_Process_Wafer_Count[0], 4);
VEXLOR_FIELD(MEM_SCH_PM_STRU, PM_Process_Start_Time, 56112);
VEXLOR_STRIDE(MEM_SCH_PM_STRU, PM_Process_Start_Time[0], 8);
VEXLOR_FIELD(MEM_SCH_PM_STRU, PM_Process_End_Time, 56912);
VEXLOR_STRIDE(MEM_SCH_PM_STRU, PM_Process_End_Time[0], 8);
VEXLOR_FIELD(MEM_SCH_PM_STRU, PM_Process_Remain_Time, 57712);
VEXLOR_STRIDE(MEM_SCH_PM_STRU, PM_Process_Remain_Time[0], 8);
VEXLOR_FIELD(MEM_SCH_PM_STRU, PM_Prior_Pick, 58512);
VEXLOR_STRIDE(MEM_SCH_PM_STRU, PM_Prior_Pick[0], 1);
VEXLOR_FIELD(MEM_SCH_PM_STRU, PM_Running, 58612);
VEXLOR_STRIDE(MEM_SCH_PM_STRU, PM_Running[0], 1);
VEXLOR_FIELD(MEM_SCH_PM_STRU, PM_Job_Using, 58712);
VEXLOR_STRIDE(MEM_SCH_PM_STRU, PM_Job_Using[0], 6);
VEXLOR_STRIDE(MEM_SCH_PM_STRU, PM_Job_Using[0][0], 1);
VEXLOR_FIELD(MEM_SCH_PM_STRU, PM_Ready_Flag, 60112);
VEXLOR_STRIDE(MEM_SCH_PM_STRU, PM_Ready_Flag[0], 1);
VEXLOR_FIELD(MEM_SCH_PM_STRU, PM_End_Flag, 60212);
VEXLOR_STRIDE(MEM_SCH_PM_STRU, PM_End_Flag[0], 1);
VEXLOR_FIELD(MEM_SCH_PM_STRU, PM_Wafer_Clear_Clean, 60312);
VEXLOR_STRIDE(MEM_SCH_PM_STRU, PM_Wafer_Clear_Clean[0], 1);
VEXLOR_FIELD(MEM_SCH_PM_STRU, PM_Run_Intlk_CM, 60412);
VEXLOR_STRIDE(MEM_SCH_PM_STRU, PM_Run_Intlk_CM[0], 6);
VEXLOR_STRIDE(MEM_SCH_PM_STRU, PM_Run_Intlk_CM[0][0], 1);
VEXLOR_FIELD(MEM_SCH_PM_STRU, PM_Wafer_Clear_ITS_TM, 61012);
VEXLOR_STRIDE(MEM_SCH_PM_STRU, PM_Wafer_Clear_ITS_TM[0], 10);
VEXLOR_STRIDE(MEM_SCH_PM_STRU, PM_Wafer_Clear_ITS_TM[0][0], 1);
VEXLOR_FIELD(MEM_SCH_PM_STRU, PM_Skip_Process, 62012);
VEXLOR_STRIDE(MEM_SCH_PM_STRU, PM_Skip_Process[0], 1);
VEXLOR_FIELD(MEM_SCH_PM_STRU, PM_Process_Timer, 62112);
VEXLOR_STRIDE(MEM_SCH_PM_STRU, PM_Process_Timer[0], 8);

// The transfer module block (MMAP_STRU +1388). The three *_Wafer items hold WAFER_ORDER
// references of 4 bytes on every target; the scheduler accessors convert them to and from
// pointers, so the block has one layout for 32- and 64-bit processes.
struct MEM_SCH_TM_STRU {
  uint8_t TM_Enable[10];
  uint8_t reserved_10[2];
  int32_t TM_Finger_Count[10];
  int32_t TM_Finger_Inch[10][4];
  uint8_t TM_Finger_Enable[10][4];
  int32_t TM_Pick_Priority[10];
  int32_t TM_Place_Priority[10];
  uint8_t TM_PickGroup_PM[10][100];
  uint8_t TM_PlaceGroup_PM[10][100];
  uint8_t TM_PickGroup_CM[10][6];
  uint8_t TM_PlaceGroup_CM[10][6];
  uint8_t TM_PickGroup_BM[10][100];
  uint8_t TM_PlaceGroup_BM[10][100];
  int32_t TM_PickMode_PM[10][100];
  int32_t TM_PlaceMode_PM[10][100];
  int32_t TM_PickMode_CM[10][6];
  int32_t TM_PlaceMode_CM[10][6];
  int32_t TM_PickMode_BM[10][100];
  int32_t TM_PlaceMode_BM[10][100];
  int32_t TM_PickMode_TM[10][10];
  int32_t TM_PlaceMode_TM[10][10];
  uint8_t TM_Job_Using[10][6];
  uint8_t reserved_21792[40];
  int32_t TM_Last_Module_Type[10];
  int32_t TM_Last_Module_Side[10];
  int32_t TM_Last_Pick_Module_Type[10];
  int32_t TM_Last_Pick_Module_Side[10];
  int32_t TM_Last_Place_Module_Type[10];
  int32_t TM_Last_Place_Module_Side[10];
  int32_t TM_Ready_Pick_Module_Type[10];
  int32_t TM_Ready_Pick_Module_Side[10];
  int32_t TM_Ready_Pick_Finger[10];
  int32_t TM_Ready_Pick_Wafer_Step[10];
  uint32_t TM_Ready_Pick_Wafer[10];
  int32_t TM_Ready_Place_Module_Type[10];
  int32_t TM_Ready_Place_Module_Side[10];
  int32_t TM_Ready_Place_Finger[10];
  int32_t TM_Ready_Place_Wafer_Step[10];
  uint32_t TM_Ready_Place_Wafer[10];
  uint8_t TM_Check_Finger_Place_Result[10][4];
  int32_t TM_Ready_PlacePos_Module_Type[10];
  int32_t TM_Ready_PlacePos_Module_Side[10];
  uint32_t TM_Ready_PlacePos_Wafer[10];
  uint8_t TM_Ready_Flag[10];
  uint8_t TM_End_Flag[10];
  uint8_t TM_Running[10];
  uint8_t reserved_22662[2];
};

VEXLOR_SIZE(MEM_SCH_TM_STRU, 22664);
VEXLOR_FIELD(MEM_SCH_TM_STRU, TM_Enable, 0);
VEXLOR_STRIDE(MEM_SCH_TM_STRU, TM_Enable[0], 1);
VEXLOR_FIELD(MEM_SCH_TM_STRU, TM_Finger_Count, 12);
VEXLOR_STRIDE(MEM_SCH_TM_STRU, TM_Finger_Count[0], 4);
VEXLOR_FIELD(MEM_SCH_TM_STRU, TM_Finger_Inch, 52);
VEXLOR_STRIDE(MEM_SCH_TM_STRU, TM_Finger_Inch[0], 16);
VEXLOR_STRIDE(MEM_SCH_TM_STRU, TM_Finger_Inch[0][0], 4);
VEXLOR_FIELD(MEM_SCH_TM_STRU, TM_Finger_Enable, 212);
VEXLOR_STRIDE(MEM_SCH_TM_STRU, TM_Finger_Enable[0], 4);
VEXLOR_STRIDE(MEM_SCH_TM_STRU, TM_Finger_Enable[0][0], 1);
VEXLOR_FIELD(MEM_SCH_TM_STRU, TM_Pick_Priority, 252);
VEXLOR_STRIDE(MEM_SCH_TM_STRU, TM_Pick_Priority[0], 4);
VEXLOR_FIELD(MEM_SCH_TM_STRU, TM_Place_Priority, 292);
VEXLOR_STRIDE(MEM_SCH_TM_STRU, TM_Place_Priority[0], 4);
VEXLOR_FIELD(MEM_SCH_TM_STRU, TM_PickGroup_PM, 332);
VEXLOR_STRIDE(MEM_SCH_TM_STRU, TM_PickGroup_PM[0], 100);
VEXLOR_STRIDE(MEM_SCH_TM_STRU, TM_PickGroup_PM[0][0], 1);
VEXLOR_FIELD(MEM_SCH_TM_STRU, TM_PlaceGroup_PM, 1332);
VEXLOR_STRIDE(MEM_SCH_TM_STRU, TM_PlaceGroup_PM[0], 100);
VEXLOR_STRIDE(MEM_SCH_TM_STRU, TM_PlaceGroup_PM[0][0], 1);
VEXLOR_FIELD(MEM_SCH_TM_STRU, TM_PickGroup_CM, 2332);
VEXLOR_STRIDE(MEM_SCH_TM_STRU, TM_PickGroup_CM[0], 6);
VEXLOR_STRIDE(MEM_SCH_TM_STRU, TM_PickGroup_CM[0][0], 1);
VEXLOR_FIELD(MEM_SCH_TM_STRU, TM_PlaceGroup_CM, 2392);
VEXLOR_STRIDE(MEM_SCH_TM_STRU, TM_PlaceGroup_CM[0], 6);
VEXLOR_STRIDE(MEM_SCH_TM_STRU, TM_PlaceGroup_CM[0][0], 1);
VEXLOR_FIELD(MEM_SCH_TM_STRU, TM_PickGroup_BM, 2452);
VEXLOR_STRIDE(MEM_SCH_TM_STRU, TM_PickGroup_BM[0], 100);
VEXLOR_STRIDE(MEM_SCH_TM_STRU, TM_PickGroup_BM[0][0], 1);
VEXLOR_FIELD(MEM_SCH_TM_STRU, TM_PlaceGroup_BM, 3452);
VEXLOR_STRIDE(MEM_SCH_TM_STRU, TM_PlaceGroup_BM[0], 100);
VEXLOR_STRIDE(MEM_SCH_TM_STRU, TM_PlaceGroup_BM[0][0], 1);
VEXLOR_FIELD(MEM_SCH_TM_STRU, TM_PickMode_PM, 4452);
VEXLOR_STRIDE(MEM_SCH_TM_STRU, TM_PickMode_PM[0], 400);
VEXLOR_STRIDE(MEM_SCH_TM_STRU, TM_PickMode_PM[0][0], 4);
VEXLOR_FIELD(MEM_SCH_TM_STRU, TM_PlaceMode_PM, 8452);
VEXLOR_STRIDE(MEM_SCH_TM_STRU, TM_PlaceMode_PM[0], 400);
VEXLOR_STRIDE(MEM_SCH_TM_STRU, TM_PlaceMode_PM[0][0], 4);
VEXLOR_FIELD(MEM_SCH_TM_STRU, TM_PickMode_CM, 12452);
VEXLOR_STRIDE(MEM_SCH_TM_STRU, TM_PickMode_CM[0], 24);
VEXLOR_STRIDE(MEM_SCH_TM_STRU, TM_PickMode_CM[0][0], 4);
VEXLOR_FIELD(MEM_SCH_TM_STRU, TM_PlaceMode_CM, 12692);
VEXLOR_STRIDE(MEM_SCH_TM_STRU, TM_PlaceMode_CM[0], 24);
VEXLOR_STRIDE(MEM_SCH_TM_STRU, TM_PlaceMode_CM[0][0], 4);
VEXLOR_FIELD(MEM_SCH_TM_STRU, TM_PickMode_BM, 12932);
VEXLOR_STRIDE(MEM_SCH_TM_STRU, TM_PickMode_BM[0], 400);
VEXLOR_STRIDE(MEM_SCH_TM_STRU, TM_PickMode_BM[0][0], 4);
VEXLOR_FIELD(MEM_SCH_TM_STRU, TM_PlaceMode_BM, 16932);
VEXLOR_STRIDE(MEM_SCH_TM_STRU, TM_PlaceMode_BM[0], 400);
VEXLOR_STRIDE(MEM_SCH_TM_STRU, TM_PlaceMode_BM[0][0], 4);
VEXLOR_FIELD(MEM_SCH_TM_STRU, TM_PickMode_TM, 20932);
VEXLOR_STRIDE(MEM_SCH_TM_STRU, TM_PickMode_TM[0], 40);
VEXLOR_STRIDE(MEM_SCH_TM_STRU, TM_PickMode_TM[0][0], 4);
VEXLOR_FIELD(MEM_SCH_TM_STRU, TM_PlaceMode_TM, 21332);
VEXLOR_STRIDE(MEM_SCH_TM_STRU, TM_PlaceMode_TM[0], 40);
VEXLOR_STRIDE(MEM_SCH_TM_STRU, TM_PlaceMode_TM[0][0], 4);
VEXLOR_FIELD(MEM_SCH_TM_STRU, TM_Job_Using, 21732);
VEXLOR_STRIDE(MEM_SCH_TM_STRU, TM_Job_Using[0], 6);
VEXLOR_STRIDE(MEM_SCH_TM_STRU, TM_Job_Using[0][0], 1);
VEXLOR_FIELD(MEM_SCH_TM_STRU, TM_Last_Module_Type, 21832);
VEXLOR_STRIDE(MEM_SCH_TM_STRU, TM_Last_Module_Type[0], 4);
VEXLOR_FIELD(MEM_SCH_TM_STRU, TM_Last_Module_Side, 21872);
VEXLOR_STRIDE(MEM_SCH_TM_STRU, TM_Last_Module_Side[0], 4);
VEXLOR_FIELD(MEM_SCH_TM_STRU, TM_Last_Pick_Module_Type, 21912);
VEXLOR_STRIDE(MEM_SCH_TM_STRU, TM_Last_Pick_Module_Type[0], 4);
VEXLOR_FIELD(MEM_SCH_TM_STRU, TM_Last_Pick_Module_Side, 21952);
VEXLOR_STRIDE(MEM_SCH_TM_STRU, TM_Last_Pick_Module_Side[0], 4);
VEXLOR_FIELD(MEM_SCH_TM_STRU, TM_Last_Place_Module_Type, 21992);
VEXLOR_STRIDE(MEM_SCH_TM_STRU, TM_Last_Place_Module_Type[0], 4);
VEXLOR_FIELD(MEM_SCH_TM_STRU, TM_Last_Place_Module_Side, 22032);
VEXLOR_STRIDE(MEM_SCH_TM_STRU, TM_Last_Place_Module_Side[0], 4);
VEXLOR_FIELD(MEM_SCH_TM_STRU, TM_Ready_Pick_Module_Type, 22072);
VEXLOR_STRIDE(MEM_SCH_TM_STRU, TM_Ready_Pick_Module_Type[0], 4);
VEXLOR_FIELD(MEM_SCH_TM_STRU, TM_Ready_Pick_Module_Side, 22112);
VEXLOR_STRIDE(MEM_SCH_TM_STRU, TM_Ready_Pick_Module_Side[0], 4);
VEXLOR_FIELD(MEM_SCH_TM_STRU, TM_Ready_Pick_Finger, 22152);
VEXLOR_STRIDE(MEM_SCH_TM_STRU, TM_Ready_Pick_Finger[0], 4);
VEXLOR_FIELD(MEM_SCH_TM_STRU, TM_Ready_Pick_Wafer_Step, 22192);
VEXLOR_STRIDE(MEM_SCH_TM_STRU, TM_Ready_Pick_Wafer_Step[0], 4);
VEXLOR_FIELD(MEM_SCH_TM_STRU, TM_Ready_Pick_Wafer, 22232);
VEXLOR_STRIDE(MEM_SCH_TM_STRU, TM_Ready_Pick_Wafer[0], 4);
VEXLOR_FIELD(MEM_SCH_TM_STRU, TM_Ready_Place_Module_Type, 22272);
VEXLOR_STRIDE(MEM_SCH_TM_STRU, TM_Ready_Place_Module_Type[0], 4);
VEXLOR_FIELD(MEM_SCH_TM_STRU, TM_Ready_Place_Module_Side, 22312);
VEXLOR_STRIDE(MEM_SCH_TM_STRU, TM_Ready_Place_Module_Side[0], 4);
VEXLOR_FIELD(MEM_SCH_TM_STRU, TM_Ready_Place_Finger, 22352);
VEXLOR_STRIDE(MEM_SCH_TM_STRU, TM_Ready_Place_Finger[0], 4);
VEXLOR_FIELD(MEM_SCH_TM_STRU, TM_Ready_Place_Wafer_Step, 22392);
VEXLOR_STRIDE(MEM_SCH_TM_STRU, TM_Ready_Place_Wafer_Step[0], 4);
VEXLOR_FIELD(MEM_SCH_TM_STRU, TM_Ready_Place_Wafer, 22432);
VEXLOR_STRIDE(MEM_SCH_TM_STRU, TM_Ready_Place_Wafer[0], 4);
VEXLOR_FIELD(MEM_SCH_TM_STRU, TM_Check_Finger_Place_Result, 22472);
VEXLOR_STRIDE(MEM_SCH_TM_STRU, TM_Check_Finger_Place_Result[0], 4);
VEXLOR_STRIDE(MEM_SCH_TM_STRU, TM_Check_Finger_Place_Result[0][0], 1);
VEXLOR_FIELD(MEM_SCH_TM_STRU, TM_Ready_PlacePos_Module_Type, 22512);
VEXLOR_STRIDE(MEM_SCH_TM_STRU, TM_Ready_PlacePos_Module_Type[0], 4);
VEXLOR_FIELD(MEM_SCH_TM_STRU, TM_Ready_PlacePos_Module_Side, 22552);
VEXLOR_STRIDE(MEM_SCH_TM_STRU, TM_Ready_PlacePos_Module_Side[0], 4);
VEXLOR_FIELD(MEM_SCH_TM_STRU, TM_Ready_PlacePos_Wafer, 22592);
VEXLOR_STRIDE(MEM_SCH_TM_STRU, TM_Ready_PlacePos_Wafer[0], 4);
VEXLOR_FIELD(MEM_SCH_TM_STRU, TM_Ready_Flag, 22632);
VEXLOR_STRIDE(MEM_SCH_TM_STRU, TM_Ready_Flag[0], 1);
VEXLOR_FIELD(MEM_SCH_TM_STRU, TM_End_Flag, 22642);
VEXLOR_STRIDE(MEM_SCH_TM_STRU, TM_End_Flag[0], 1);
VEXLOR_FIELD(MEM_SCH_TM_STRU, TM_Running, 22652);
VEXLOR_STRIDE(MEM_SCH_TM_STRU, TM_Running[0], 1);

// The wafer block (MMAP_STRU +1392), by source carrier module and slot, then cluster step or
// flow step, then entry within a cluster step.
struct MEM_SCH_WAFER_STRU {
  uint8_t reserved_0[1800];
  uint8_t Wafer_Enable[6][25];
  uint8_t reserved_1950[602];
  int32_t Wafer_Target_Source[6][25];
  int32_t Wafer_Target_Slot[6][25];
  int32_t Wafer_Cluster_Priority[6][25];
  char Wafer_Cluster_Recipe[6][25][64];
  int32_t Wafer_Cluster_PM_Side[6][25][20][20];
  char Wafer_Cluster_PM_Recipe[6][25][20][20][64];
  int32_t Wafer_Cluster_Step[6][25];
  int32_t Wafer_Cluster_Step_Count[6][25];
  int32_t Wafer_Flow_Counter[6][25];
  int32_t Wafer_Flow_Module_Type[6][25][200];
  int32_t Wafer_Flow_Module_Side[6][25][200];
  int32_t Wafer_Flow_Module_Slot[6][25][200];
  double Wafer_Flow_Module_InTime[6][25][200];
  double Wafer_Flow_Module_OutTime[6][25][200];
  double Wafer_Flow_Start_Time[6][25];
  double Wafer_Flow_End_Time[6][25];
};

VEXLOR_SIZE(MEM_SCH_WAFER_STRU, 4938152);
VEXLOR_FIELD(MEM_SCH_WAFER_STRU, Wafer_Enable, 1800);
VEXLOR_STRIDE(MEM_SCH_WAFER_STRU, Wafer_Enable[0], 25);
VEXLOR_STRIDE(MEM_SCH_WAFER_STRU, Wafer_Enable[0][0], 1);
VEXLOR_FIELD(MEM_SCH_WAFER_STRU, Wafer_Target_Source, 2552);
VEXLOR_STRIDE(MEM_SCH_WAFER_STRU, Wafer_Target_Source[0], 100);
VEXLOR_STRIDE(MEM_SCH_WAFER_STRU, Wafer_Target_Source[0][0], 4);
VEXLOR_FIELD(MEM_SCH_WAFER_STRU, Wafer_Target_Slot, 3152);
VEXLOR_STRIDE(MEM_SCH_WAFER_STRU, Wafer_Target_Slot[0], 100);
VEXLOR_STRIDE(MEM_SCH_WAFER_STRU, Wafer_Target_Slot[0][0], 4);
VEXLOR_FIELD(MEM_SCH_WAFER_STRU, Wafer_Cluster_Priority, 3752);
VEXLOR_STRIDE(MEM_SCH_WAFER_STRU, Wafer_Cluster_Priority[0], 100);
VEXLOR_STRIDE(MEM_SCH_WAFER_STRU, Wafer_Cluster_Priority[0][0], 4);
VEXLOR_FIELD(MEM_SCH_WAFER_STRU, Wafer_Cluster_Recipe, 4352);
VEXLOR_STRIDE(MEM_SCH_WAFER_STRU, Wafer_Cluster_Recipe[0], 1600);
VEXLOR_STRIDE(MEM_SCH_WAFER_STRU, Wafer_Cluster_Recipe[0][0], 64);
VEXLOR_FIELD(MEM_SCH_WAFER_STRU, Wafer_Cluster_PM_Side, 13952);
VEXLOR_STRIDE(MEM_SCH_WAFER_STRU, Wafer_Cluster_PM_Side[0], 40000);
VEXLOR_STRIDE(MEM_SCH_WAFER_STRU, Wafer_Cluster_PM_Side[0][0], 1600);
VEXLOR_STRIDE(MEM_SCH_WAFER_STRU, Wafer_Cluster_PM_Side[0][0][0], 80);
VEXLOR_STRIDE(MEM_SCH_WAFER_STRU, Wafer_Cluster_PM_Side[0][0][0][0], 4);
VEXLOR_FIELD(MEM_SCH_WAFER_STRU, Wafer_Cluster_PM_Recipe, 253952);
VEXLOR_STRIDE(MEM_SCH_WAFER_STRU, Wafer_Cluster_PM_Recipe[0], 640000);
VEXLOR_STRIDE(MEM_SCH_WAFER_STRU, Wafer_Cluster_PM_Recipe[0][0], 25600);
VEXLOR_STRIDE(MEM_SCH_WAFER_STRU, Wafer_Cluster_PM_Recipe[0][0][0], 1280);
VEXLOR_STRIDE(MEM_SCH_WAFER_STRU, Wafer_Cluster_PM_Recipe[0][0][0][0], 64);
VEXLOR_FIELD(MEM_SCH_WAFER_STRU, Wafer_Cluster_Step, 4093952);
VEXLOR_STRIDE(MEM_SCH_WAFER_STRU, Wafer_Cluster_Step[0], 100);
VEXLOR_STRIDE(MEM_SCH_WAFER_STRU, Wafer_Cluster_Step[0][0], 4);
VEXLOR_FIELD(MEM_SCH_WAFER_STRU, Wafer_Cluster_Step_Count, 4094552);
VEXLOR_STRIDE(MEM_SCH_WAFER_STRU, Wafer_Cluster_Step_Count[0], 100);
VEXLOR_STRIDE(MEM_SCH_WAFER_STRU, Wafer_Cluster_Step_Count[0][0], 4);
VEXLOR_FIELD(MEM_SCH_WAFER_STRU, Wafer_Flow_Counter, 4095152);
VEXLOR_STRIDE(MEM_SCH_WAFER_STRU, Wafer_Flow_Counter[0], 100);
VEXLOR_STRIDE(MEM_SCH_WAFER_STRU, Wafer_Flow_Counter[0][0], 4);
VEXLOR_FIELD(MEM_SCH_WAFER_STRU, Wafer_Flow_Module_Type, 4095752);
VEXLOR_STRIDE(MEM_SCH_WAFER_STRU, Wafer_Flow_Module_Type[0], 20000);
VEXLOR_STRIDE(MEM_SCH_WAFER_STRU, Wafer_Flow_Module_Type[0][0], 800);
VEXLOR_STRIDE(MEM_SCH_WAFER_STRU, Wafer_Flow_Module_Type[0][0][0], 4);
VEXLOR_FIELD(MEM_SCH_WAFER_STRU, Wafer_Flow_Module_Side, 4215752);
VEXLOR_STRIDE(MEM_SCH_WAFER_STRU, Wafer_Flow_Module_Side[0], 20000);
VEXLOR_STRIDE(MEM_SCH_WAFER_STRU, Wafer_Flow_Module_Side[0][0], 800);
VEXLOR_STRIDE(MEM_SCH_WAFER_STRU, Wafer_Flow_Module_Side[0][0][0], 4);
VEXLOR_FIELD(MEM_SCH_WAFER_STRU, Wafer_Flow_Module_Slot, 4335752);
VEXLOR_STRIDE(MEM_SCH_WAFER_STRU, Wafer_Flow_Module_Slot[0], 20000);
VEXLOR_STRIDE(MEM_SCH_WAFER_STRU, Wafer_Flow_Module_Slot[0][0], 800);
VEXLOR_STRIDE(MEM_SCH_WAFER_STRU, Wafer_Flow_Module_Slot[0][0][0], 4);
VEXLOR_FIELD(MEM_SCH_WAFER_STRU, Wafer_Flow_Module_InTime, 4455752);
VEXLOR_STRIDE(MEM_SCH_WAFER_STRU, Wafer_Flow_Module_InTime[0], 40000);
VEXLOR_STRIDE(MEM_SCH_WAFER_STRU, Wafer_Flow_Module_InTime[0][0], 1600);
VEXLOR_STRIDE(MEM_SCH_WAFER_STRU, Wafer_Flow_Module_InTime[0][0][0], 8);
VEXLOR_FIELD(MEM_SCH_WAFER_STRU, Wafer_Flow_Module_OutTime, 4695752);
VEXLOR_STRIDE(MEM_SCH_WAFER_STRU, Wafer_Flow_Module_OutTime[0], 40000);
VEXLOR_STRIDE(MEM_SCH_WAFER_STRU, Wafer_Flow_Module_OutTime[0][0], 1600);
VEXLOR_STRIDE(MEM_SCH_WAFER_STRU, Wafer_Flow_Module_OutTime[0][0][0], 8);
VEXLOR_FIELD(MEM_SCH_WAFER_STRU, Wafer_Flow_Start_Time, 4935752);
VEXLOR_STRIDE(MEM_SCH_WAFER_STRU, Wafer_Flow_Start_Time[0], 200);
VEXLOR_STRIDE(MEM_SCH_WAFER_STRU, Wafer_Flow_Start_Time[0][0], 8);
VEXLOR_FIELD(MEM_SCH_WAFER_STRU, Wafer_Flow_End_Time, 4936952);
VEXLOR_STRIDE(MEM_SCH_WAFER_STRU, Wafer_Flow_End_Time[0], 200);
VEXLOR_STRIDE(MEM_SCH_WAFER_STRU, Wafer_Flow_End_Time[0][0], 8);

// The scheduler utility block (MMAP_STRU +1396).
struct MEM_SCH_UTIL_STRU {
  int32_t Util_Sch_Start_Option;
  int32_t Util_Map_Style_When_Multi_Run;
  int32_t Util_Map_Style_When_Loop_Test;
  int32_t Util_Sch_Change_Process_Wafer;
  int32_t Util_CM_Supply_Interval_Time;
  int32_t Util_CM_Supply_Mode;
  int32_t Util_Wafer_Order_Mode;
  int32_t Util_Preprocess_Recipe_Check;
  int32_t Util_CM_Supply_When_Processing;
  int32_t Util_PM_Recipe_Multi_Run;
  int32_t Util_CM_Supply_Max_WaferCount;
  int32_t Util_CM_Supply_Pause_When_FM_Has_Wafer;
  int32_t Util_CM_Supply_Pause_When_NoWafer_Place;
  int32_t Util_PM_Inline_In_Side;
  int32_t Util_PM_Inline_Out_Side;
  int32_t Util_Job_Stop_When_PM_Pause_DeadLock;
  int32_t Util_Transfer_Wafer_Alg_Direct_Return;
  int32_t Util_Job_Start_Env_Check;
  int32_t Util_Job_Recipe_Uniform;
  uint8_t reserved_76[4];
};

VEXLOR_SIZE(MEM_SCH_UTIL_STRU, 80);
VEXLOR_FIELD(MEM_SCH_UTIL_STRU, Util_Sch_Start_Option, 0);
VEXLOR_FIELD(MEM_SCH_UTIL_STRU, Util_Map_Style_When_Multi_Run, 4);
VEXLOR_FIELD(MEM_SCH_UTIL_STRU, Util_Map_Style_When_Loop_Test, 8);
VEXLOR_FIELD(MEM_SCH_UTIL_STRU, Util_Sch_Change_Process_Wafer, 12);
VEXLOR_FIELD(MEM_SCH_UTIL_STRU, Util_CM_Supply_Interval_Time, 16);
VEXLOR_FIELD(MEM_SCH_UTIL_STRU, Util_CM_Supply_Mode, 20);
VEXLOR_FIELD(MEM_SCH_UTIL_STRU, Util_Wafer_Order_Mode, 24);
VEXLOR_FIELD(MEM_SCH_UTIL_STRU, Util_Preprocess_Recipe_Check, 28);
VEXLOR_FIELD(MEM_SCH_UTIL_STRU, Util_CM_Supply_When_Processing, 32);
VEXLOR_FIELD(MEM_SCH_UTIL_STRU, Util_PM_Recipe_Multi_Run, 36);
VEXLOR_FIELD(MEM_SCH_UTIL_STRU, Util_CM_Supply_Max_WaferCount, 40);
VEXLOR_FIELD(MEM_SCH_UTIL_STRU, Util_CM_Supply_Pause_When_FM_Has_Wafer, 44);
VEXLOR_FIELD(MEM_SCH_UTIL_STRU, Util_CM_Supply_Pause_When_NoWafer_Place, 48);
VEXLOR_FIELD(MEM_SCH_UTIL_STRU, Util_PM_Inline_In_Side, 52);
VEXLOR_FIELD(MEM_SCH_UTIL_STRU, Util_PM_Inline_Out_Side, 56);
VEXLOR_FIELD(MEM_SCH_UTIL_STRU, Util_Job_Stop_When_PM_Pause_DeadLock, 60);
VEXLOR_FIELD(MEM_SCH_UTIL_STRU, Util_Transfer_Wafer_Alg_Direct_Return, 64);
VEXLOR_FIELD(MEM_SCH_UTIL_STRU, Util_Job_Start_Env_Check, 68);
VEXLOR_FIELD(MEM_SCH_UTIL_STRU, Util_Job_Recipe_Uniform, 72);

// The descriptor of an attached database: the alarm mutex handle and one pointer per block or
// table. It lives in the attaching process, so its pointers have the process's width; the
// offsets asserted (and named in the reserved members) are those of the 32-bit target.
struct MMAP_STRU {
  uint8_t reserved_0[1312];
  void* alarm_mutex;  // serialises alarm posting, answering and the alarm queue
  uint8_t reserved_1316[44];
  MEM_SYSTEM_STRU* system_block;
  MEM_MODULE_SP_STRU* module_sp;
  MEM_SCH_RBTANI_STRU* sch_rbtani;
  MEM_SCH_JOB_STRU* sch_job;
  MEM_SCH_CM_STRU* sch_cm;
  MEM_SCH_BM_STRU* sch_bm;
  MEM_SCH_PM_STRU* sch_pm;
  MEM_SCH_TM_STRU* sch_tm;
  MEM_SCH_WAFER_STRU* sch_wafer;
  MEM_SCH_UTIL_STRU* sch_util;
  MEM_ENUM_SP_STRU* enum_sp;
  MEM_DRIVER_SP_STRU* driver_sp;
  void* unused_1408;
  MEM_DIGITAL_VAL_STRU* digital_val;
  MEM_DIGITAL_SP_STRU* digital_sp;
  MEM_ANALOG_VAL_STRU* analog_val;
  MEM_ANALOG_SP_STRU* analog_sp;
  MEM_STRING_VAL_STRU* string_val;
  MEM_STRING_SP_STRU* string_sp;
  MEM_ALARM_RT_STRU* alarm_rt;
  MEM_ALARM_QUEUE_STRU* alarm_queue;
  MEM_ALARM_SP_STRU* alarm_sp;
  MEM_FUNCTION_RT_STRU* function_rt;  // N + 12 records
  MEM_ABORT_MANAGER_STRU* abort_manager;
  MEM_FUNCTION_SP_STRU* function_sp;  // N + 12 records
};

VEXLOR_FIELD32(MMAP_STRU, alarm_mutex, 1312);
VEXLOR_FIELD32(MMAP_STRU, reserved_1316, 1316);
VEXLOR_FIELD32(MMAP_STRU, system_block, 1360);
VEXLOR_FIELD32(MMAP_STRU, module_sp, 1364);
VEXLOR_FIELD32(MMAP_STRU, sch_rbtani, 1368);
VEXLOR_FIELD32(MMAP_STRU, sch_job, 1372);
VEXLOR_FIELD32(MMAP_STRU, sch_cm, 1376);
VEXLOR_FIELD32(MMAP_STRU, sch_bm, 1380);
VEXLOR_FIELD32(MMAP_STRU, sch_pm, 1384);
VEXLOR_FIELD32(MMAP_STRU, sch_tm, 1388);
VEXLOR_FIELD32(MMAP_STRU, sch_wafer, 1392);
VEXLOR_FIELD32(MMAP_STRU, sch_util, 1396);
VEXLOR_FIELD32(MMAP_STRU, enum_sp, 1400);
VEXLOR_FIELD32(MMAP_STRU, driver_sp, 1404);
VEXLOR_FIELD32(MMAP_STRU, unused_1408, 1408);
VEXLOR_FIELD32(MMAP_STRU, digital_val, 1412);
VEXLOR_FIELD32(MMAP_STRU, digital_sp, 1416);
VEXLOR_FIELD32(MMAP_STRU, analog_val, 1420);
VEXLOR_FIELD32(MMAP_STRU, analog_sp, 1424);
VEXLOR_FIELD32(MMAP_STRU, string_val, 1428);
VEXLOR_FIELD32(MMAP_STRU, string_sp, 1432);
VEXLOR_FIELD32(MMAP_STRU, alarm_rt, 1436);
VEXLOR_FIELD32(MMAP_STRU, alarm_queue, 1440);
VEXLOR_FIELD32(MMAP_STRU, alarm_sp, 1444);
VEXLOR_FIELD32(MMAP_STRU, function_rt, 1448);
VEXLOR_FIELD32(MMAP_STRU, abort_manager, 1452);
VEXLOR_FIELD32(MMAP_STRU, function_sp, 1456);

}  // namespace Vexlor
