# The export tables of the Windows DLLs against the exported-name list:
#   cmake -DLIBRARIES="<32-bit vexlor.dll>;<64-bit vexlor.dll>" -DNAMES=<exported_names.txt>
#         -DINCLUDE_DIR=<include> [-DREFERENCE=<libvexlor.so>] -P check_dll_exports.cmake
# - every name of the list is exported by each DLL, and nothing else of namespace Vexlor is:
#   no other function, no data, no member of a class other than the interface's exported
#   classes (`class VEXLOR_API X` in the public headers: VFIFO, VMMAP);
# - the overloads: every DLL exports the same functions with the same parameters as every other
#   one (the pointer-sized integer types written alike), and as the Linux library when one is
#   given (-DREFERENCE, read with nm; a variadic list's va_list written alike).
# Needs, next to the DLL's toolchain, <triple>-objdump and <triple>-c++filt, which it derives
# from the DLL's machine type.
cmake_minimum_required(VERSION 3.25)

foreach(var LIBRARIES NAMES INCLUDE_DIR)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "check_dll_exports.cmake: -D${var}=... missing")
  endif()
endforeach()

# The listed names, one a line; lines starting with # are comments.
file(STRINGS ${NAMES} listed REGEX "^[^#]")
list(LENGTH listed listed_count)
list(REMOVE_DUPLICATES listed)
list(LENGTH listed distinct_count)
if(NOT listed_count EQUAL distinct_count)
  message(FATAL_ERROR "${NAMES}: a name is listed twice")
endif()

set(failures "")

# The interface's exported classes, from the public headers.
file(GLOB headers ${INCLUDE_DIR}/vexlor/*.h)
set(classes "")
foreach(header IN LISTS headers)
  file(STRINGS ${header} declarations REGEX "^class VEXLOR_API [A-Za-z0-9_]+")
  foreach(declaration IN LISTS declarations)
    string(REGEX REPLACE "^class VEXLOR_API ([A-Za-z0-9_]+).*" "\\1" class "${declaration}")
    list(APPEND classes ${class})
  endforeach()
endforeach()
list(JOIN classes "|" class_pattern)

# The demangled signatures of namespace Vexlor in `text` (one symbol a line), into out_var,
# written so that every platform's spelling compares equal: 64-bit integers are "<i64>" and
# "<u64>", and va_list is char* (MinGW's; the Linux library's is __va_list_tag*).
function(normalize text out_var)
  # Square brackets would split CMake's lists: an ABI tag "[abi:cxx11]" is read as parentheses.
  string(REPLACE "[" "(" text "${text}")
  string(REPLACE "]" ")" text "${text}")
  string(REPLACE ";" "," text "${text}")
  string(REPLACE "__va_list_tag*" "char*" text "${text}")
  string(REPLACE "unsigned long long" "<u64>" text "${text}")
  string(REPLACE "long long" "<i64>" text "${text}")
  string(REPLACE "\n" ";" lines "${text}")
  set(result "")
  foreach(line IN LISTS lines)
    if(line MATCHES "^Vexlor::")
      list(APPEND result "${line}")
    endif()
  endforeach()
  list(SORT result)
  set(${out_var} "${result}" PARENT_SCOPE)
endfunction()

set(first_signatures "")
set(first_library "")
foreach(library IN LISTS LIBRARIES)
  if(NOT EXISTS ${library})
    message(FATAL_ERROR "${library}: no such file")
  endif()
  # The machine type picks the toolchain: i386 for the 32-bit DLL, x86-64 for the 64-bit one.
  file(READ ${library} header LIMIT 4096 HEX)
  string(SUBSTRING "${header}" 120 8 pe_offset_hex)  # e_lfanew at 0x3c, little-endian
  string(REGEX REPLACE "(..)(..)(..)(..)" "\\4\\3\\2\\1" pe_offset_hex "${pe_offset_hex}")
  math(EXPR machine_at "(0x${pe_offset_hex} + 4) * 2")
  string(SUBSTRING "${header}" ${machine_at} 4 machine)
  if(machine STREQUAL "4c01")
    set(triple i686-w64-mingw32)
  elseif(machine STREQUAL "6486")
    set(triple x86_64-w64-mingw32)
  else()
    message(FATAL_ERROR "${library}: not an i386 or x86-64 PE file (machine ${machine})")
  endif()
  execute_process(COMMAND ${triple}-objdump -p ${library} OUTPUT_VARIABLE dump
    RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "${triple}-objdump failed on ${library}")
  endif()
  # The export name table: "\t[  12] _ZN6Vexlor...", up to the first empty line after it.
  string(FIND "${dump}" "[Ordinal/Name Pointer] Table" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "${library}: no export name table")
  endif()
  string(SUBSTRING "${dump}" ${at} -1 table)
  string(FIND "${table}" "\n\n" end)
  string(SUBSTRING "${table}" 0 ${end} table)
  # Square brackets would group CMake's list elements: the ordinals' are written as <...>.
  string(REPLACE "[" "<" table "${table}")
  string(REPLACE "]" ">" table "${table}")
  string(REGEX MATCHALL "> [^\n]+" symbols "${table}")
  list(TRANSFORM symbols REPLACE "^> " "")
  list(JOIN symbols "\n" mangled)
  file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/dll_exports.txt "${mangled}\n")
  execute_process(COMMAND ${triple}-c++filt --no-strip-underscore INPUT_FILE ${CMAKE_CURRENT_BINARY_DIR}/dll_exports.txt
    OUTPUT_VARIABLE demangled RESULT_VARIABLE result)
  file(REMOVE ${CMAKE_CURRENT_BINARY_DIR}/dll_exports.txt)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "${triple}-c++filt failed")
  endif()
  normalize("${demangled}" signatures)

  # Names: free functions of namespace Vexlor and members of its exported classes (anything
  # else of it is a failure).
  set(exported "")
  foreach(signature IN LISTS signatures)
    if(signature MATCHES "^Vexlor::([A-Za-z0-9_]+)(\\(abi:[a-z0-9]+\\))?\\(")
      list(APPEND exported ${CMAKE_MATCH_1})
    elseif(class_pattern AND signature MATCHES "^Vexlor::(${class_pattern})::~?[A-Za-z0-9_]+\\(")
      # A member of an exported class.
    else()
      list(APPEND failures "${library}: exported beyond the list: ${signature}")
    endif()
  endforeach()
  list(REMOVE_DUPLICATES exported)
  set(missing ${listed})
  if(exported)
    list(REMOVE_ITEM missing ${exported})
  endif()
  set(unlisted ${exported})
  list(REMOVE_ITEM unlisted ${listed})
  foreach(name IN LISTS missing)
    list(APPEND failures "${library}: not exported: ${name}")
  endforeach()
  foreach(name IN LISTS unlisted)
    list(APPEND failures "${library}: exported beyond the list: ${name}")
  endforeach()
  list(LENGTH signatures signature_count)
  list(LENGTH exported exported_count)
  message(STATUS "${library}: ${signature_count} functions of Vexlor, ${exported_count} names")

  # Overloads: the same set from every library.
  if(first_library STREQUAL "")
    set(first_library ${library})
    set(first_signatures "${signatures}")
  elseif(NOT signatures STREQUAL first_signatures)
    set(only_first "${first_signatures}")
    list(REMOVE_ITEM only_first ${signatures})
    set(only_this "${signatures}")
    list(REMOVE_ITEM only_this ${first_signatures})
    foreach(signature IN LISTS only_first)
      list(APPEND failures "only ${first_library} exports ${signature}")
    endforeach()
    foreach(signature IN LISTS only_this)
      list(APPEND failures "only ${library} exports ${signature}")
    endforeach()
  endif()
endforeach()

if(DEFINED REFERENCE AND NOT REFERENCE STREQUAL "")
  execute_process(COMMAND nm -D --defined-only -C ${REFERENCE} OUTPUT_VARIABLE nm_output
    RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "nm failed on ${REFERENCE}")
  endif()
  # "<address> T Vexlor::Name(...)" and "... T Vexlor::Class::Member(...)": functions.
  string(REGEX MATCHALL "\n[0-9a-f]+ [TW] Vexlor::[^\n]*" lines "\n${nm_output}")
  list(TRANSFORM lines REPLACE "^\n[0-9a-f]+ [TW] " "")
  list(JOIN lines "\n" text)
  normalize("${text}" reference)
  set(only_dll "${first_signatures}")
  list(REMOVE_ITEM only_dll ${reference})
  set(only_reference "${reference}")
  list(REMOVE_ITEM only_reference ${first_signatures})
  foreach(signature IN LISTS only_dll)
    list(APPEND failures "the DLLs export, ${REFERENCE} does not: ${signature}")
  endforeach()
  foreach(signature IN LISTS only_reference)
    list(APPEND failures "${REFERENCE} exports, the DLLs do not: ${signature}")
  endforeach()
  list(LENGTH reference reference_count)
  message(STATUS "${REFERENCE}: ${reference_count} functions of Vexlor")
endif()

if(failures)
  list(LENGTH failures failure_count)
  list(JOIN failures "\n  " text)
  message(FATAL_ERROR "${failure_count} export table differences:\n  ${text}")
endif()
message(STATUS "${distinct_count} listed names: every one exported, nothing beyond them")
