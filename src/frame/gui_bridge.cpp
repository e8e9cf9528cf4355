// The GUI bridge: commands to the operator GUI's main form (slot N of the function table)
// through the message queue.
#include <vexlor/functions.h>
#include <vexlor/gui.h>

#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

#include "frame/context.h"
#include "vexlor/frame.h"

namespace vexlor::detail {
namespace {

constexpr std::size_t kGuiTextSize = 1024;
constexpr char kNavigationDefault[] = "Z:\\Gui\\Setup\\Navigation.xml";

Vexlor::VFIFO* own_fifo() {
  HUB_CONTEXT* ctx = context();
  return ctx ? ctx->fifo : nullptr;
}

bool main_form_running() {
  return Vexlor::VFunction_Get_Run_Status(Vexlor::VSystem_Get_Function_Count()) !=
         Vexlor::SYS_KILLED;
}

// How one of the three text commands reports: its command word and its refusal line.
struct TextCommand {
  const char* command;
  const char* refused;  // LOG_ERR, filled with the operation and the text
};

constexpr TextCommand kMessage{"MESSAGE",
                               "%s 与GUI_MAINFORM FIFO交互失败 指令:MESSAGE . 要显示内容为: %s"};
constexpr TextCommand kEvent{"EVENT", "%s 与GUI_MAINFORM FIFO交互失败 指令:EVENT , %s"};
constexpr TextCommand kRecord{"RECORD",
                              "%s 与GUI_MAINFORM FIFO交互失败 指令:RECORD . 要显示内容为: %s"};

bool send_text(const TextCommand& kind, const char* text, const char* operation, int line) {
  Vexlor::VFIFO* fifo = own_fifo();
  if (fifo == nullptr) return false;
  if (text == nullptr) text = "";
  if (!main_form_running()) {
    Vexlor::VSystem_Log(Vexlor::LOG_ALM, "主界面未启动 , 忽略FIFO接收: <%s|%s> [代码行:%s:%d]",
                        kind.command, text, operation, line);
    return false;
  }
  if (fifo->VFIFO_Gui_MainForm(kind.command, text)) return true;
  Vexlor::VSystem_Log(Vexlor::LOG_ERR, kind.refused, operation, text);
  return false;
}

// The text of an F form: formatted into 1024 bytes, longer output cut.
struct Formatted {
  char text[kGuiTextSize] = {};
  Formatted(const char* format, va_list args) {
    if (format != nullptr) std::vsnprintf(text, sizeof text, format, args);
  }
};

}  // namespace
}  // namespace vexlor::detail

namespace Vexlor {

namespace d = vexlor::detail;

bool VGui_MainForm_Show() {
  VFIFO* fifo = d::own_fifo();
  return fifo != nullptr && fifo->VFIFO_Gui_MainForm("SHOW", "");
}

bool VGui_MainForm_Hide() {
  VFIFO* fifo = d::own_fifo();
  return fifo != nullptr && fifo->VFIFO_Gui_MainForm("HIDE", "");
}

bool VGui_MainForm_Restart() {
  VFIFO* fifo = d::own_fifo();
  return fifo != nullptr && fifo->VFIFO_Engine_Write_G("$G", "P1", "W1", 0, "-");
}

bool VGui_MainForm_Exit() {
  VFIFO* fifo = d::own_fifo();
  if (fifo == nullptr) return false;
  if (!d::main_form_running()) return true;
  const d::HUB_CONTEXT* ctx = d::context();
  // The "&" is written even when the routine has no parents.
  const std::string sender = std::to_string(ctx->own_index) + "&" + ctx->parent_points_text;
  return fifo->VFIFO_Function_Exit("GUI_MAINFORM", "-", sender.c_str());
}

bool VGui_Display_Message(const char* text) {
  return d::send_text(d::kMessage, text, "Vexlor::VGui_Display_Message", __LINE__);
}

bool VGui_Display_MessageF(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const d::Formatted formatted(format, args);
  va_end(args);
  return VGui_Display_Message(formatted.text);
}

bool VGui_Send_Event(const char* text) {
  return d::send_text(d::kEvent, text, "Vexlor::VGui_Send_Event", __LINE__);
}

bool VGui_Send_EventF(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const d::Formatted formatted(format, args);
  va_end(args);
  return VGui_Send_Event(formatted.text);
}

bool VGui_Send_Record(const char* text) {
  return d::send_text(d::kRecord, text, "Vexlor::VGui_Send_Record", __LINE__);
}

bool VGui_Send_Record(const char* /*name*/, std::vector<std::string>& fields) {
  std::string text = std::to_string(fields.size()) + "|";
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (i > 0) text += ',';
    text += fields[i];
  }
  return d::send_text(d::kRecord, text.c_str(), "Vexlor::VGui_Send_Record", __LINE__);
}

bool VGui_Send_RecordF(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const d::Formatted formatted(format, args);
  va_end(args);
  return VGui_Send_Record(formatted.text);
}

const char* VGui_Get_Navigation_Full_Path() {
  MMAP_STRU* db = d::attached_db();
  return db ? db->system_block->navigation_path : d::kNavigationDefault;
}

}  // namespace Vexlor
