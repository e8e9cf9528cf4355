// Events and messages between routines: send and post events, wait for a posted event, download
// and upload messages, exit, abort and reset, reload, and the engine pass-through requests.
#include <cstdarg>
#include <string>

#include "frame/context.h"
#include "frame/index_check.h"
#include "functions/function_table.h"
#include "functions/run_support.h"
#include "os/clock.h"
#include "vexlor/frame.h"
#include "vexlor/functions.h"
#include "vexlor/run_control.h"
#include "vexlor/util.h"

namespace vexlor::detail {
namespace {

constexpr char kSendEvent[] = "Vexlor::VFunction_Send_Event";
constexpr char kPostEvent[] = "Vexlor::VFunction_Post_Event";
constexpr char kWaitEvent[] = "Vexlor::VFunction_Wait_Event";
constexpr char kDnload[] = "Vexlor::VFunction_Dnload_Message";
constexpr char kUpload[] = "Vexlor::VFunction_Upload_Message";
constexpr char kExit[] = "Vexlor::VFunction_Exit";
constexpr double kEventTimeout = 5.0;

std::string sender_text() {
  HUB_CONTEXT* ctx = context();
  return std::to_string(ctx ? ctx->own_index : Vexlor::VEXLOR_UNUSED_POINT);
}

bool deliver_event(int index, const char* message, bool post, const char* op, int line) {
  Vexlor::MMAP_STRU* db = checked_db(IndexKind::kFunction, index, op, line);
  if (db == nullptr) return false;
  if (message == nullptr) message = "";
  const char* name = db->function_sp[index].name;
  if (db->function_sp[index].virtual_flag != 0) {
    log_if_on(Vexlor::LOG_VIR, "%s:%s VIRTUAL_FLAG = true , 忽略消息:%s,  返回 true.", op, name,
              message);
    return true;
  }
  if (Vexlor::VFunction_Get_Run_Status(index) == Vexlor::SYS_KILLED) {
    Vexlor::VSystem_Log(Vexlor::LOG_ERR, "%s:%s 退出状态( SYS_KILLED ) , 忽略消息:%s,  返回 true.",
                        op, name, message);
    return true;
  }
  HUB_CONTEXT* ctx = context();
  if (ctx->fifo == nullptr) return false;
  const std::string sender = sender_text();
  bool sent;
  if (post) {
    Vexlor::VFunction_Set_Event_Status(index, Vexlor::SYS_RUNNING);
    sent = ctx->fifo->VFIFO_Function_Post_Event(name, message, sender.c_str());
  } else {
    sent = ctx->fifo->VFIFO_Function_Send_Event(name, message, sender.c_str());
  }
  if (sent) return true;
  Vexlor::VSystem_Log(Vexlor::LOG_ERR, "%s:%s 消息发送失败:%s,  返回 false.", op, name, message);
  return false;
}

bool wait_event(int index, int line) {
  const double start = Vexlor::VTime_Get();
  for (;;) {
    const Vexlor::FUNC_STATUS status = Vexlor::VFunction_Get_Event_Status(index);
    if (status != Vexlor::SYS_RUNNING) return true;
    os::sleep_milliseconds(1);
    if (Vexlor::VTime_Get() - start >= kEventTimeout) {
      Vexlor::VSystem_Log(Vexlor::LOG_ALM, "%s等待事件超时(当前事件状态:%s)[代码行:%s:%d]",
                          Vexlor::VFunction_Get_Name(index),
                          status_name(Vexlor::VFunction_Get_Event_Status(index)), kWaitEvent,
                          line);
      return false;
    }
  }
}

bool dnload(int index, char* buffer, int capacity, int line) {
  Vexlor::MMAP_STRU* db = checked_db(IndexKind::kFunction, index, kDnload, line);
  if (db == nullptr) return false;
  const char* name = db->function_sp[index].name;
  if (db->function_sp[index].virtual_flag != 0) {
    log_if_on(Vexlor::LOG_VIR, "%s:%s VIRTUAL_FLAG = true , 下载消息忽略,  返回 true.", kDnload,
              name);
    return true;
  }
  HUB_CONTEXT* ctx = context();
  if (ctx->fifo == nullptr) return false;
  const std::string sender = sender_text();
  if (ctx->fifo->VFIFO_Function_Dnload(name, "-", sender.c_str(), buffer, capacity)) return true;
  Vexlor::VSystem_Log(Vexlor::LOG_ERR, "%s:%s 执行失败 , 下载消息:%s,  返回 false.", kDnload, name,
                      buffer != nullptr && capacity > 0 ? buffer : "");
  return false;
}

template <typename Each>
bool for_all_functions(Each each) {
  Vexlor::MMAP_STRU* db = attached_db();
  if (db == nullptr) return false;
  const int count = db->system_block->function_count;
  bool all = true;
  for (int i = 0; i < count; ++i) all = each(i) && all;
  return all;
}

void set_abort(int index, bool flag, const char* op, int line) {
  Vexlor::MMAP_STRU* db = checked_db(IndexKind::kFunction, index, op, line);
  if (db != nullptr) Vexlor::VFunction_Set_Abort_Flag(index, flag);
}

int own() {
  HUB_CONTEXT* ctx = context();
  return ctx ? ctx->own_index : Vexlor::VEXLOR_UNUSED_POINT;
}

bool resolve(const char* name, int* index) {
  int32_t i = -1;
  if (!resolve_function(name, &i)) return false;
  *index = i;
  return true;
}

}  // namespace
}  // namespace vexlor::detail

namespace Vexlor {

namespace d = vexlor::detail;

#define VEXLOR_FORMAT_512()                        \
  char text[512];                                  \
  va_list args;                                    \
  va_start(args, format);                          \
  d::format_into(text, sizeof text, format, args); \
  va_end(args)

// ---- Events ------------------------------------------------------------------------------

bool VFunction_Send_Event(int index, const char* message) {
  return d::deliver_event(index, message, false, d::kSendEvent, __LINE__);
}
bool VFunction_Send_Event(const char* name, const char* message) {
  int index = -1;
  return d::resolve(name, &index) && VFunction_Send_Event(index, message);
}
bool VFunction_Send_Event(const char* message) { return VFunction_Send_Event(d::own(), message); }
bool VFunction_Send_EventF(int index, const char* format, ...) {
  VEXLOR_FORMAT_512();
  return VFunction_Send_Event(index, text);
}
bool VFunction_Send_EventF(const char* name, const char* format, ...) {
  VEXLOR_FORMAT_512();
  return VFunction_Send_Event(name, text);
}
bool VFunction_Send_EventF(const char* format, ...) {
  VEXLOR_FORMAT_512();
  return VFunction_Send_Event(text);
}
bool VFunction_Send_Event_All(const char* message) {
  return d::for_all_functions([message](int i) { return VFunction_Send_Event(i, message); });
}

bool VFunction_Post_Event(int index, const char* message) {
  return d::deliver_event(index, message, true, d::kPostEvent, __LINE__);
}
bool VFunction_Post_Event(const char* name, const char* message) {
  int index = -1;
  return d::resolve(name, &index) && VFunction_Post_Event(index, message);
}
bool VFunction_Post_Event(const char* message) { return VFunction_Post_Event(d::own(), message); }
bool VFunction_Post_EventF(int index, const char* format, ...) {
  VEXLOR_FORMAT_512();
  return VFunction_Post_Event(index, text);
}
bool VFunction_Post_EventF(const char* name, const char* format, ...) {
  VEXLOR_FORMAT_512();
  return VFunction_Post_Event(name, text);
}
bool VFunction_Post_EventF(const char* format, ...) {
  VEXLOR_FORMAT_512();
  return VFunction_Post_Event(text);
}
bool VFunction_Post_Event_All(const char* message) {
  return d::for_all_functions([message](int i) { return VFunction_Post_Event(i, message); });
}

bool VFunction_Wait_Event(int index) { return d::wait_event(index, __LINE__); }
bool VFunction_Wait_Event(const char* name) {
  int index = -1;
  return d::resolve(name, &index) && VFunction_Wait_Event(index);
}
bool VFunction_Wait_Event_All() {
  return d::for_all_functions([](int i) { return VFunction_Wait_Event(i); });
}

// ---- Messages ----------------------------------------------------------------------------

bool VFunction_Dnload_Message(int index, char* buffer, int capacity) {
  return d::dnload(index, buffer, capacity, __LINE__);
}
bool VFunction_Dnload_Message(int index, char buffer[512]) {
  return VFunction_Dnload_Message(index, buffer, 511);
}
bool VFunction_Dnload_Message(const char* name, char* buffer, int capacity) {
  int index = -1;
  return d::resolve(name, &index) && VFunction_Dnload_Message(index, buffer, capacity);
}
bool VFunction_Dnload_Message(const char* name, char buffer[512]) {
  return VFunction_Dnload_Message(name, buffer, 511);
}

bool VFunction_Upload_Message(const char* message) {
  d::HUB_CONTEXT* ctx = d::context();
  if (ctx == nullptr || ctx->db == nullptr) return false;
  if (message == nullptr) message = "";
  if (VFunction_Get_Virtual_Flag()) {
    d::log_if_on(LOG_VIR, "%s:%s VIRTUAL_FLAG = true , 上载消息:%s,  返回 true.", d::kUpload,
                 ctx->own_name, message);
    return true;
  }
  if (ctx->fifo == nullptr) return false;
  const std::string sender = d::sender_text();
  if (ctx->fifo->VFIFO_Function_Upload(ctx->own_name, message, sender.c_str())) {
    VPrint_Yellow(ctx->own_name, "上传消息: %s", message);
    return true;
  }
  VSystem_Log(LOG_ERR, "%s:%s 上载消息失败:%s,  返回 false.", d::kUpload, ctx->own_name, message);
  return false;
}
bool VFunction_Upload_MessageF(const char* format, ...) {
  VEXLOR_FORMAT_512();
  return VFunction_Upload_Message(text);
}

// ---- Exit, abort, reload -----------------------------------------------------------------

bool VFunction_Exit(int index) {
  MMAP_STRU* db = VEXLOR_CHECKED_DB(kFunction, index);
  if (db == nullptr) return false;
  const char* name = db->function_sp[index].name;
  if (db->function_sp[index].virtual_flag != 0) {
    d::log_if_on(LOG_VIR, "%s:%s VIRTUAL_FLAG == true , 返回true.", d::kExit, name);
    return true;
  }
  if (VFunction_Get_Run_Status(index) == SYS_KILLED) {
    VPrint_Yellow(d::own_name(), "%s:%s 已处于退出状态1(状态为:SYS_KILLED)", d::kExit, name);
    return true;
  }
  if (VFunction_Check_Locker(index)) {
    d::HUB_CONTEXT* ctx = d::context();
    if (ctx->fifo == nullptr) return false;
    const std::string chain = d::parent_chain();
    if (ctx->fifo->VFIFO_Function_Exit(name, "-", chain.c_str())) return true;
    VPrint_Red(d::own_name(), "%s:%s 退出执行失败.", d::kExit, name);
    return false;
  }
  VFunction_Set_Run_Status(index, SYS_KILLED);
  VPrint_Yellow(d::own_name(), "%s:%s 已处于退出状态2(互斥锁不存在)", d::kExit, name);
  return true;
}
bool VFunction_Exit() { return VFunction_Exit(d::own()); }

void VFunction_Abort(int index) { d::set_abort(index, true, __func__, __LINE__); }
void VFunction_Abort(const char* name) {
  int index = -1;
  if (d::resolve(name, &index)) VFunction_Abort(index);
}
void VFunction_Abort() { VFunction_Abort(d::own()); }
bool VFunction_Abort_All() {
  if (d::attached_db() == nullptr) return false;
  d::for_all_functions([](int i) {
    VFunction_Set_Abort_Flag(i, true);
    return true;
  });
  return true;
}
void VFunction_Reset(int index) { d::set_abort(index, false, __func__, __LINE__); }
void VFunction_Reset(const char* name) {
  int index = -1;
  if (d::resolve(name, &index)) VFunction_Reset(index);
}
void VFunction_Reset() { VFunction_Reset(d::own()); }
bool VFunction_Reset_All() {
  if (d::attached_db() == nullptr) return false;
  d::for_all_functions([](int i) {
    VFunction_Set_Abort_Flag(i, false);
    return true;
  });
  return true;
}

bool VFunction_Reload(int index) {
  d::HUB_CONTEXT* ctx = d::context();
  if (ctx == nullptr || ctx->fifo == nullptr) return false;
  return ctx->fifo->VFIFO_Engine_Write("$F", "P8", "W1", index, "-");
}

bool VFIFO_Engine_Read(const char* kind, const char* param, const char* command, int index,
                       const char* argument, char* buffer, int capacity) {
  d::HUB_CONTEXT* ctx = d::context();
  if (ctx == nullptr || ctx->fifo == nullptr) return false;
  return ctx->fifo->VFIFO_Engine_Read(kind, param, command, index, argument, buffer, capacity);
}
bool VFIFO_Engine_Write(const char* kind, const char* param, const char* command, int index,
                        const char* argument) {
  d::HUB_CONTEXT* ctx = d::context();
  if (ctx == nullptr || ctx->fifo == nullptr) return false;
  return ctx->fifo->VFIFO_Engine_Write(kind, param, command, index, argument);
}

}  // namespace Vexlor
