// Included last by every field table: undefines the rows for the next table. No include guard.
#undef VEXLOR_POINT_FAMILY
#undef VEXLOR_NUMBER_ACCESS
#undef VEXLOR_TEXT_FIELD
#undef VEXLOR_VALUE_FIELD
#undef VEXLOR_GET_FIELD
#undef VEXLOR_PARAM_FIELD
#undef VEXLOR_TAG_FIELD
#undef VEXLOR_DRIVER_NAME
