// Makes the field table included next expand into definitions of the operations that
// <vexlor/points/field_rows.h> declares, each a call of the shared operation of typed_point.h
// for the row's kind (DigitalKind, AnalogKind, StringKind). Include inside namespace Vexlor,
// after typed_point.h. No include guard: every table undefines its rows at its end.
#define VEXLOR_KIND(K) ::vexlor::detail::K##Kind

#define VEXLOR_POINT_FAMILY(Kind, Value, Record)                                       \
  Value V##Kind##_Read_Mem(int index) {                                                \
    return ::vexlor::detail::read_mem<VEXLOR_KIND(Kind)>(index, VEXLOR_SITE);          \
  }                                                                                    \
  VEXLOR_SLOT_SETTER(Kind, Write_Mem, Value, write_value)                              \
  VEXLOR_SLOT_SETTER(Kind, Set_Write_Mem, Value, write_value)                          \
  VEXLOR_SLOT_SETTER(Kind, Set_Read_Mem, Value, read_value)                            \
  bool V##Kind##_Get_Read_Status(int index) {                                          \
    return ::vexlor::detail::get_slot_status<VEXLOR_KIND(Kind)>(                       \
        index, &VEXLOR_KIND(Kind)::Slot::read_status, VEXLOR_SITE);                    \
  }                                                                                    \
  bool V##Kind##_Get_Write_Status(int index) {                                         \
    return ::vexlor::detail::get_slot_status<VEXLOR_KIND(Kind)>(                       \
        index, &VEXLOR_KIND(Kind)::Slot::write_status, VEXLOR_SITE);                   \
  }                                                                                    \
  void V##Kind##_Set_Status(int index, bool status) {                                  \
    ::vexlor::detail::set_status<VEXLOR_KIND(Kind)>(index, status, VEXLOR_SITE);       \
  }                                                                                    \
  bool V##Kind##_Get_Shape(int index, Record* out) {                                   \
    return ::vexlor::detail::get_shape<VEXLOR_KIND(Kind)>(index, out, VEXLOR_SITE);    \
  }                                                                                    \
  bool V##Kind##_Set_Shape(int index, const Record& record) {                          \
    return ::vexlor::detail::set_shape<VEXLOR_KIND(Kind)>(index, record, VEXLOR_SITE); \
  }                                                                                    \
  bool V##Kind##_Reset_Shape(int index) {                                              \
    return ::vexlor::detail::reset_shape<VEXLOR_KIND(Kind)>(index, VEXLOR_SITE);       \
  }

#define VEXLOR_SLOT_SETTER(Kind, Op, Value, member)                                               \
  void V##Kind##_##Op(int index, Value value) {                                                   \
    ::vexlor::detail::set_slot<VEXLOR_KIND(Kind)>(index, &VEXLOR_KIND(Kind)::Slot::member, value, \
                                                  VEXLOR_SITE);                                   \
  }

#define VEXLOR_NUMBER_ACCESS(Kind, Value)                                                   \
  Value V##Kind##_Read(int index) {                                                         \
    return ::vexlor::detail::raw_value<VEXLOR_KIND(Kind)>(index, nullptr);                  \
  }                                                                                         \
  Value V##Kind##_Read(int index, bool* ok) {                                               \
    return ::vexlor::detail::raw_value<VEXLOR_KIND(Kind)>(index, ok);                       \
  }                                                                                         \
  bool V##Kind##_Read(int index, Value* value) {                                            \
    return ::vexlor::detail::raw_read<VEXLOR_KIND(Kind)>(index, value);                     \
  }                                                                                         \
  Value V##Kind##_Read(const char* name) {                                                  \
    return ::vexlor::detail::read_by_name<VEXLOR_KIND(Kind)>(name, nullptr, true, Value{}); \
  }                                                                                         \
  Value V##Kind##_Read(const char* name, bool* ok, bool silent) {                           \
    return ::vexlor::detail::read_by_name<VEXLOR_KIND(Kind)>(name, ok, silent, Value{});    \
  }                                                                                         \
  bool V##Kind##_Write(int index, Value value) {                                            \
    return ::vexlor::detail::raw_write<VEXLOR_KIND(Kind)>(index, value);                    \
  }                                                                                         \
  bool V##Kind##_Write(const char* name, Value value) {                                     \
    return ::vexlor::detail::write_by_name<VEXLOR_KIND(Kind)>(name, value);                 \
  }                                                                                         \
  VEXLOR_CACHED_NAME_OP(Kind, Read_Name, Value* value, V##Kind##_Read(*index, value))       \
  VEXLOR_CACHED_NAME_OP(Kind, Write_Name, Value value, V##Kind##_Write(*index, value))      \
  VEXLOR_CACHED_NAME_OP(Kind, Read_Name_Str, char* text, V##Kind##_Read_Str(*index, text))  \
  VEXLOR_CACHED_NAME_OP(Kind, Write_Name_Str, const char* text, V##Kind##_Write_Str(*index, text))

// An operation that resolves the caller's cached index from its format and arguments, then
// makes `call`.
#define VEXLOR_CACHED_NAME_OP(Kind, Op, Param, call)                                      \
  bool V##Kind##_##Op(int* index, Param, const char* format, ...) {                       \
    bool resolved = false;                                                                \
    VEXLOR_WITH_ARGS(                                                                     \
        resolved, format,                                                                 \
        ::vexlor::detail::resolve_cached(VEXLOR_KIND(Kind)::kType, index, format, args)); \
    return resolved && (call);                                                            \
  }

#define VEXLOR_TEXT_FIELD(Kind, Item, member, chars)                                         \
  const char* V##Kind##_Get_##Item(int index) {                                              \
    return ::vexlor::detail::get_text<VEXLOR_KIND(Kind)>(                                    \
        index, &VEXLOR_KIND(Kind)::Record::member, VEXLOR_SITE);                             \
  }                                                                                          \
  void V##Kind##_Set_##Item(int index, const char* text) {                                   \
    ::vexlor::detail::set_text<VEXLOR_KIND(Kind)>(index, &VEXLOR_KIND(Kind)::Record::member, \
                                                  chars, text, VEXLOR_SITE);                 \
  }

#define VEXLOR_GET_FIELD(Kind, Item, Type, member, failure)               \
  Type V##Kind##_Get_##Item(int index) {                                  \
    return ::vexlor::detail::get_value<VEXLOR_KIND(Kind), Type>(          \
        index, &VEXLOR_KIND(Kind)::Record::member, failure, VEXLOR_SITE); \
  }

#define VEXLOR_VALUE_FIELD(Kind, Item, Type, SetType, member, failure)                        \
  VEXLOR_GET_FIELD(Kind, Item, Type, member, failure)                                         \
  void V##Kind##_Set_##Item(int index, SetType value) {                                       \
    ::vexlor::detail::set_value<VEXLOR_KIND(Kind)>(index, &VEXLOR_KIND(Kind)::Record::member, \
                                                   value, VEXLOR_SITE);                       \
  }

#define VEXLOR_PARAM_FIELD(Kind, Item, member, count)                                          \
  static_assert(sizeof(VEXLOR_KIND(Kind)::Record::member) == (count) * sizeof(int32_t),        \
                "parameter count of " #Item);                                                  \
  void V##Kind##_Get_##Item(int index, int out[count]) {                                       \
    ::vexlor::detail::get_params<VEXLOR_KIND(Kind)>(index, &VEXLOR_KIND(Kind)::Record::member, \
                                                    count, out, VEXLOR_SITE);                  \
  }                                                                                            \
  void V##Kind##_Set_##Item(int index, const int in[count]) {                                  \
    ::vexlor::detail::set_params<VEXLOR_KIND(Kind)>(index, &VEXLOR_KIND(Kind)::Record::member, \
                                                    count, in, VEXLOR_SITE);                   \
  }

#define VEXLOR_TAG_FIELD(Kind, Item, member, chars)                                                \
  const char* V##Kind##_Get_##Item(int index, int slot) {                                          \
    return ::vexlor::detail::get_tag<VEXLOR_KIND(Kind)>(index, &VEXLOR_KIND(Kind)::Record::member, \
                                                        slot, VEXLOR_SITE);                        \
  }                                                                                                \
  void V##Kind##_Set_##Item(int index, int slot, const char* text) {                               \
    ::vexlor::detail::set_tag<VEXLOR_KIND(Kind)>(index, &VEXLOR_KIND(Kind)::Record::member, chars, \
                                                 slot, text, VEXLOR_SITE);                         \
  }

#define VEXLOR_DRIVER_NAME(Kind, Item, member)                   \
  const char* V##Kind##_Get_##Item(int index) {                  \
    return ::vexlor::detail::driver_name<VEXLOR_KIND(Kind)>(     \
        index, &VEXLOR_KIND(Kind)::Record::member, VEXLOR_SITE); \
  }
