// Shared pieces of the run, wait, event and message operations.
#include "functions/run_support.h"

#include <vexlor/gui.h>

#include <cstdio>

#include "frame/context.h"
#include "vexlor/alarms.h"
#include "vexlor/frame.h"

namespace vexlor::detail {

void log_if_on(Vexlor::LOG_TYPE type, const char* format, ...) {
  if (Vexlor::VSystem_Get_Log_Status(type) <= 0) return;
  char text[1024];
  va_list args;
  va_start(args, format);
  format_into(text, sizeof text, format, args);
  va_end(args);
  Vexlor::VSystem_Log(type, "%s", text);
}

void gui_message(const char* text) { Vexlor::VGui_Display_Message(text); }

void gui_message_f(const char* format, ...) {
  char text[1024];
  va_list args;
  va_start(args, format);
  format_into(text, sizeof text, format, args);
  va_end(args);
  gui_message(text);
}

Vexlor::ALARM_STYLE refuse_with(const char* operation, int line, const char* text) {
  gui_message(text);
  Vexlor::VSystem_Log(Vexlor::LOG_ERR, "%s", text);
  return Vexlor::VSystem_Alarm_Manage(operation, line, text);
}

std::string parent_chain() {
  HUB_CONTEXT* ctx = context();
  if (ctx == nullptr) return {};
  std::string chain = std::to_string(ctx->own_index);
  MapLock lock(map_mutex());
  if (!ctx->parent_points_text.empty()) {
    chain += '&';
    chain += ctx->parent_points_text;
  }
  return chain;
}

void format_into(char* out, std::size_t size, const char* format, va_list args) {
  if (size == 0) return;
  out[0] = '\0';
  if (format == nullptr) return;
  std::vsnprintf(out, size, format, args);
}

}  // namespace vexlor::detail
