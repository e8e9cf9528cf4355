// The receiving side of the GUI bridge: the GUI endpoint served for a main-form program.
#include <vexlor/main_form.h>

#include "fifo/fifo_server.h"
#include "os/local_endpoint.h"

namespace vexlor {

struct MainFormServer::State {
  fifo::EndpointServer server;
};

MainFormServer::MainFormServer() : state_(new State) {}

MainFormServer::~MainFormServer() {
  stop();
  delete state_;
}

bool MainFormServer::start(Handler handler, std::string* error, bool* busy) {
  if (busy) *busy = false;
  if (!handler) {
    if (error) *error = "no handler";
    return false;
  }
  if (!state_->server.open(os::kGuiEndpoint, error, busy)) return false;
  // GUI commands and forwarded exit requests reach the handler; everything else addressed to
  // the GUI endpoint is refused.
  const bool serving = state_->server.serve([handler](const fifo::Request& r) {
    MainFormCommand command;
    command.sender = r.sender;
    if (r.type == fifo::RequestType::GuiMainForm) {
      command.command = r.command;
      command.text = r.text;
    } else if (r.type == fifo::RequestType::FunctionExit) {
      command.command = "EXIT";
      command.text = r.argument;
    } else {
      return fifo::Reply{false, "refused"};
    }
    try {
      return fifo::Reply{handler(command), {}};
    } catch (...) {
      return fifo::Reply{false, "refused"};  // a throwing handler refuses; the server lives on
    }
  });
  if (!serving) {
    state_->server.stop();
    if (error) *error = "cannot serve the GUI endpoint";
  }
  return serving;
}

void MainFormServer::stop() { state_->server.stop(); }

}  // namespace vexlor
