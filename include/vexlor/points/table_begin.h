// Included first by every field table: rows the includer left undefined expand to nothing.
// No include guard.
#ifndef VEXLOR_POINT_FAMILY
#define VEXLOR_POINT_FAMILY(Kind, Value, Record)
#endif
#ifndef VEXLOR_NUMBER_ACCESS
#define VEXLOR_NUMBER_ACCESS(Kind, Value)
#endif
#ifndef VEXLOR_TEXT_FIELD
#define VEXLOR_TEXT_FIELD(Kind, Item, member, chars)
#endif
#ifndef VEXLOR_VALUE_FIELD
#define VEXLOR_VALUE_FIELD(Kind, Item, Type, SetType, member, failure)
#endif
#ifndef VEXLOR_GET_FIELD
#define VEXLOR_GET_FIELD(Kind, Item, Type, member, failure)
#endif
#ifndef VEXLOR_PARAM_FIELD
#define VEXLOR_PARAM_FIELD(Kind, Item, member, count)
#endif
#ifndef VEXLOR_TAG_FIELD
#define VEXLOR_TAG_FIELD(Kind, Item, member, chars)
#endif
#ifndef VEXLOR_DRIVER_NAME
#define VEXLOR_DRIVER_NAME(Kind, Item, member)
#endif
