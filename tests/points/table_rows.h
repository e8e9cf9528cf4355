// Points the rows of the field table included next at the includer's ROW_* macros, which must
// all be defined. No include guard: every table undefines its rows at its end.
#define VEXLOR_POINT_FAMILY ROW_POINT_FAMILY
#define VEXLOR_TEXT_FIELD ROW_TEXT_FIELD
#define VEXLOR_VALUE_FIELD ROW_VALUE_FIELD
#define VEXLOR_GET_FIELD ROW_GET_FIELD
#define VEXLOR_PARAM_FIELD ROW_PARAM_FIELD
#define VEXLOR_TAG_FIELD ROW_TAG_FIELD
#define VEXLOR_DRIVER_NAME ROW_DRIVER_NAME
