// Included by the includer of a scheduler block table after its last expansion: the row macros
// are undefined again, so a table can be expanded differently next. No include guard.
#undef VEXLOR_SCH_ITEM0
#undef VEXLOR_SCH_ITEM1
#undef VEXLOR_SCH_ITEM2
#undef VEXLOR_SCH_ITEM3
#undef VEXLOR_SCH_ITEM4
#undef VEXLOR_SCH_STORE1
#undef VEXLOR_SCH_STORE2
