// The routine's own endpoint: dispatch to the installed handler.
#include "fifo/own_endpoint.h"

#include <memory>
#include <mutex>
#include <string>

#include "os/instance.h"

namespace vexlor::fifo {
namespace {

std::mutex& handler_mutex() {
  static std::mutex m;
  return m;
}

std::shared_ptr<OwnHandler>& handler_slot() {
  static std::shared_ptr<OwnHandler> slot;
  return slot;
}

}  // namespace

void set_own_handler(OwnHandler handler) {
  std::shared_ptr<OwnHandler> next;
  if (handler) next = std::make_shared<OwnHandler>(std::move(handler));
  std::lock_guard<std::mutex> lock(handler_mutex());
  handler_slot() = std::move(next);
}

Reply own_request(const Request& request) {
  std::shared_ptr<OwnHandler> handler;
  {
    std::lock_guard<std::mutex> lock(handler_mutex());
    handler = handler_slot();
  }
  if (request.type == RequestType::Query) {
    return Reply{true,
                 "pid=" + std::to_string(os::process_id()) + " serving=" + (handler ? "1" : "0")};
  }
  if (!handler) {
    switch (request.type) {
      case RequestType::FunctionRun:
      case RequestType::SendEvent:
      case RequestType::PostEvent:
        return Reply{false, kNotServing};
      default:
        break;
    }
    return Reply{true, {}};
  }
  return (*handler)(request);
}

}  // namespace vexlor::fifo
