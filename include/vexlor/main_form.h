// The receiving side of the GUI bridge, for programs that play the operator GUI's main form
// (`vexlor gui`): serve the instance's GUI endpoint and get each command the routines send
// with the VGui_ calls. Routines never need it. Our own interface, not part of `Vexlor`.
#pragma once

#include <vexlor/export.h>

#include <functional>
#include <string>

namespace vexlor {

// One command as it arrived.
struct MainFormCommand {
  // "SHOW", "HIDE", "MESSAGE", "EVENT", "RECORD" (or any other word a sender chose), or
  // "EXIT" for an exit request forwarded to the main form by the sequence manager.
  std::string command;
  // The command's text; for "EXIT" the parent chain of the routine that asked.
  std::string text;
  // The name the sending process attached its message queue with.
  std::string sender;
};

// Serves the GUI endpoint of the current instance (VEXLOR_INSTANCE) on background threads.
// One process at a time serves it: a vexlor-manager started without --no-gui, or a main form.
class VEXLOR_API MainFormServer {
 public:
  // The handler's result is the answer the sender gets: true accepted, false refused. It may
  // run on several threads at once (one per sending process) and must guard its own state.
  using Handler = std::function<bool(const MainFormCommand&)>;

  MainFormServer();
  ~MainFormServer();  // stops serving
  MainFormServer(const MainFormServer&) = delete;
  MainFormServer& operator=(const MainFormServer&) = delete;

  // Opens the endpoint and starts serving. False with `error` set when it cannot; `busy` is
  // set when another live process serves the endpoint.
  bool start(Handler handler, std::string* error, bool* busy = nullptr);
  // Stops promptly and removes the endpoint. Repeatable.
  void stop();

 private:
  struct State;
  State* state_;
};

}  // namespace vexlor
