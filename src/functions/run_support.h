// What the run, wait, event and message operations share: category-gated log lines, the
// operator message of a refused call, the three-text refusal alarm, the parent chain sent with
// run and exit requests, and bounded formatting for the F forms.
#pragma once

#include <vexlor/types.h>

#include <cstdarg>
#include <cstddef>
#include <string>

#include "util/type_names.h"

namespace vexlor::detail {

// Writes the line with VSystem_Log only while the category is on (log status above 0).
void log_if_on(Vexlor::LOG_TYPE type, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;

// Shows a refusal on the operator GUI's main form (command "MESSAGE", 1023 characters at most).
void gui_message(const char* text);
void gui_message_f(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

// GUI message, LOG_ERR line and the one-text system alarm for `text`; the operator's answer.
Vexlor::ALARM_STYLE refuse_with(const char* operation, int line, const char* text);

// The routine's own index, then "&" and its own parent chain when that is not empty.
std::string parent_chain();

// vsnprintf into `out` (a null format gives ""); longer output is cut.
void format_into(char* out, std::size_t size, const char* format, va_list args);

}  // namespace vexlor::detail
