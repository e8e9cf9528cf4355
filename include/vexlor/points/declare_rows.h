// Makes the field table included next expand into declarations (see field_rows.h). No include
// guard: it is included once before each table, and every table undefines its rows at its end.
#include <vexlor/points/field_rows.h>

#define VEXLOR_POINT_FAMILY VEXLOR_DECLARE_POINT_FAMILY
#define VEXLOR_NUMBER_ACCESS VEXLOR_DECLARE_NUMBER_ACCESS
#define VEXLOR_TEXT_FIELD VEXLOR_DECLARE_TEXT_FIELD
#define VEXLOR_VALUE_FIELD VEXLOR_DECLARE_VALUE_FIELD
#define VEXLOR_GET_FIELD VEXLOR_DECLARE_GET_FIELD
#define VEXLOR_PARAM_FIELD VEXLOR_DECLARE_PARAM_FIELD
#define VEXLOR_TAG_FIELD VEXLOR_DECLARE_TAG_FIELD
#define VEXLOR_DRIVER_NAME VEXLOR_DECLARE_DRIVER_NAME
