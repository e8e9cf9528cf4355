// What a routine's own endpoint answers. Until the routine installs a handler (the serve loop
// of <vexlor/routine.h> does), a run request is refused with kNotServing (its caller then asks
// the manager), so is an event (a sender told true relies on the routine having it: the
// process that just took over a routine's endpoint may not serve it yet), and every other
// request is accepted and dropped. Query requests are
// always answered here with "pid=<process id> serving=<0|1>", so that the sequence manager can
// tell which process serves a routine name.
#pragma once

#include <functional>

#include "fifo/fifo_server.h"

namespace vexlor::fifo {

inline constexpr const char* kNotServing = "not serving";

using OwnHandler = std::function<Reply(const Request&)>;

// Installs (or, with an empty handler, removes) the handler of this process's own endpoint.
void set_own_handler(OwnHandler handler);

// The answer of this process's own endpoint to one request; called on the endpoint's threads.
Reply own_request(const Request& request);

}  // namespace vexlor::fifo
