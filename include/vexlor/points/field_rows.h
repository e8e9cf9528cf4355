// The rows of the point field tables (<vexlor/points/*_fields.def>) and what each row declares.
// A table lists every definition field of one point kind; the public headers expand it into
// declarations, the library into definitions, so each field is written once.
//
// Rows (`Kind` is Digital, Analog or String; the family prefix is V<Kind>):
//   VEXLOR_POINT_FAMILY(Kind, Value, Record)   operations every kind shares (value slot, status,
//                                              whole record), with the kind's value type
//   VEXLOR_NUMBER_ACCESS(Kind, Value)   raw access, by name and through a caller's cached
//                                       index, of the kinds whose value is a number
//   VEXLOR_TEXT_FIELD(Kind, Item, member, chars)
//       const char* V<Kind>_Get_<Item>(int index)     "" on failure
//       void V<Kind>_Set_<Item>(int index, text)      stores at most `chars` characters
//   VEXLOR_VALUE_FIELD(Kind, Item, Type, SetType, member, failure)
//       Type V<Kind>_Get_<Item>(int index)            `failure` on failure
//       void V<Kind>_Set_<Item>(int index, SetType)
//   VEXLOR_GET_FIELD(Kind, Item, Type, member, failure)   getter only
//   VEXLOR_PARAM_FIELD(Kind, Item, member, count)
//       void V<Kind>_Get_<Item>(int index, int out[count])   out untouched on failure
//       void V<Kind>_Set_<Item>(int index, const int in[count])
//   VEXLOR_TAG_FIELD(Kind, Item, member, chars)
//       const char* V<Kind>_Get_<Item>(int index, int slot)   slots 0-3; "" otherwise
//       void V<Kind>_Set_<Item>(int index, int slot, text)    other slots: nothing
//   VEXLOR_DRIVER_NAME(Kind, Item, member)
//       const char* V<Kind>_Get_<Item>(int index)   name of the driver the member points at;
//                                                   "" when it is negative
//
// A bad index prints the index check line ("<Kind> IO_Point ...") and gives the failure value;
// setters then write nothing. Before start-up everything fails silently. Texts returned point
// into the shared record and stay valid while the database is attached.
#pragma once

#include <vexlor/export.h>
#include <vexlor/records.h>
#include <vexlor/types.h>
#include <vexlor/util.h>

#define VEXLOR_DECLARE_POINT_FAMILY(Kind, Value, Record)                         \
  /* Value slot (no driver involved): the read value when the point has an       \
     input driver, else the write value. */                                      \
  VEXLOR_API Value V##Kind##_Read_Mem(int index);                                \
  /* Write_Mem and Set_Write_Mem store the write value. */                       \
  VEXLOR_API void V##Kind##_Write_Mem(int index, Value value);                   \
  VEXLOR_API void V##Kind##_Set_Write_Mem(int index, Value value);               \
  VEXLOR_API void V##Kind##_Set_Read_Mem(int index, Value value);                \
  VEXLOR_API bool V##Kind##_Get_Read_Status(int index);                          \
  VEXLOR_API bool V##Kind##_Get_Write_Status(int index);                         \
  /* Sets the read status and the write status to the same value. */             \
  VEXLOR_API void V##Kind##_Set_Status(int index, bool status);                  \
  /* The whole definition record: copied out, copied in (no lock). */            \
  VEXLOR_API bool V##Kind##_Get_Shape(int index, Record* out);                   \
  VEXLOR_API bool V##Kind##_Set_Shape(int index, const Record& record);          \
  /* Asks the IO engine to reset the point's definition; true once sent, the     \
     engine's answer is not awaited. False without message queue or database. */ \
  VEXLOR_API bool V##Kind##_Reset_Shape(int index);

#define VEXLOR_DECLARE_NUMBER_ACCESS(Kind, Value)                                                 \
  /* Through the shared-database layer, which drives the point's drivers; the value read          \
     (0 when not attached; unspecified when the read failed). No index check of its own. */       \
  VEXLOR_API Value V##Kind##_Read(int index);                                                     \
  VEXLOR_API Value V##Kind##_Read(int index, bool* ok);                                           \
  VEXLOR_API bool V##Kind##_Read(int index, Value* value);                                        \
  /* By name, through the process's name cache: a name not cached for this kind is looked         \
     up silently (or as `silent` says) and cached. 0 and *ok false when it does not               \
     resolve. */                                                                                  \
  VEXLOR_API Value V##Kind##_Read(const char* name);                                              \
  VEXLOR_API Value V##Kind##_Read(const char* name, bool* ok, bool silent);                       \
  VEXLOR_API bool V##Kind##_Write(int index, Value value);                                        \
  VEXLOR_API bool V##Kind##_Write(const char* name, Value value);                                 \
  /* Name caching through the caller's int, which starts at -99999999: the first call             \
     formats the name (63 characters at most) and looks it up into *index (a miss prints          \
     and leaves -1); later calls use the index; -1 fails at once. Then the raw access, or         \
     V<Kind>_Read_Str / V<Kind>_Write_Str. */                                                     \
  VEXLOR_API bool V##Kind##_Read_Name(int* index, Value* value, const char* format, ...)          \
      VEXLOR_PRINTF(3, 4);                                                                        \
  VEXLOR_API bool V##Kind##_Write_Name(int* index, Value value, const char* format, ...)          \
      VEXLOR_PRINTF(3, 4);                                                                        \
  VEXLOR_API bool V##Kind##_Read_Name_Str(int* index, char* text, const char* format, ...)        \
      VEXLOR_PRINTF(3, 4);                                                                        \
  VEXLOR_API bool V##Kind##_Write_Name_Str(int* index, const char* text, const char* format, ...) \
      VEXLOR_PRINTF(3, 4);

#define VEXLOR_DECLARE_TEXT_FIELD(Kind, Item, member, chars) \
  VEXLOR_API const char* V##Kind##_Get_##Item(int index);    \
  VEXLOR_API void V##Kind##_Set_##Item(int index, const char* text);

#define VEXLOR_DECLARE_VALUE_FIELD(Kind, Item, Type, SetType, member, failure) \
  VEXLOR_API Type V##Kind##_Get_##Item(int index);                             \
  VEXLOR_API void V##Kind##_Set_##Item(int index, SetType value);

#define VEXLOR_DECLARE_GET_FIELD(Kind, Item, Type, member, failure) \
  VEXLOR_API Type V##Kind##_Get_##Item(int index);

#define VEXLOR_DECLARE_PARAM_FIELD(Kind, Item, member, count)      \
  VEXLOR_API void V##Kind##_Get_##Item(int index, int out[count]); \
  VEXLOR_API void V##Kind##_Set_##Item(int index, const int in[count]);

#define VEXLOR_DECLARE_TAG_FIELD(Kind, Item, member, chars)         \
  VEXLOR_API const char* V##Kind##_Get_##Item(int index, int slot); \
  VEXLOR_API void V##Kind##_Set_##Item(int index, int slot, const char* text);

#define VEXLOR_DECLARE_DRIVER_NAME(Kind, Item, member) \
  VEXLOR_API const char* V##Kind##_Get_##Item(int index);
