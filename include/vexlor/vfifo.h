// VFIFO: this process's message queue to the sequence manager, the IO engine and the GUI
// main form. Every request returns true only when the receiving process accepted it; a peer
// that is absent fails at once, a peer that dies or hangs fails within the request time-out.
//
// Request time-out: 3000 ms, or VEXLOR_FIFO_TIMEOUT_MS (a positive number of milliseconds)
// when set at VFIFO_Initial. A peer that closes the connection fails the request at once.
// Each peer gets one connection per object, opened on first use and re-opened after any
// failure. A thread that finds the connection busy with another thread's request sends over a
// connection of its own, so a slow answer (a pool request) never holds up the other threads.
//
// Inputs: a null text is sent as the empty text; every text is cut to 1023 bytes (the pool
// parameter to 4095). A null buffer or a capacity of 0 or less returns false without sending
// or writing anything; an answer longer than the buffer is cut to capacity-1 bytes and
// terminated. VFIFO_Function_Pool sets *answer to null first and, on success, to a malloc'ed
// copy of the whole answer, freed by VFIFO_Release_Read_Mem (which accepts null).
// Every request before VFIFO_Initial or after VFIFO_Release returns false.
#pragma once

#include <vexlor/export.h>

namespace Vexlor {

class VEXLOR_API VFIFO {
 public:
  VFIFO();
  ~VFIFO();
  VFIFO(const VFIFO&) = delete;
  VFIFO& operator=(const VFIFO&) = delete;

  // Opens this routine's own endpoint in the current instance. Succeeds whether or not the
  // peers run yet, and also when another live process already serves this routine name (its
  // requests then keep going to that process; sending works all the same). Attaching again
  // releases the previous attachment first. False for a null or empty name, or when the
  // instance folder cannot be created.
  bool VFIFO_Initial(const char* name);
  // Closes the connections and the routine's endpoint. False when not attached. The
  // destructor releases.
  bool VFIFO_Release();

  // To the sequence manager.
  bool VFIFO_Function_Run(const char* function, const char* run_param, const char* parents);
  // The manager accepts every wait request it receives, so this one does not wait for the
  // answer: true when it was handed to the manager's connection.
  bool VFIFO_Function_Wait(const char* function, const char* param, const char* argument);
  bool VFIFO_Function_Exit(const char* function, const char* param, const char* parents);
  bool VFIFO_Function_Send_Event(const char* function, const char* message, const char* caller);
  bool VFIFO_Function_Post_Event(const char* function, const char* message, const char* caller);
  bool VFIFO_Function_Dnload(const char* function, const char* param, const char* caller,
                             char* buffer, int capacity);
  bool VFIFO_Function_Upload(const char* own_name, const char* message, const char* caller);
  bool VFIFO_Function_Pool(const char* function, const char* param, const char* caller,
                           char** answer, int pool_count);
  // Frees an answer of VFIFO_Function_Pool and sets the pointer to null.
  void VFIFO_Release_Read_Mem(char** answer);

  // To the IO engine.
  bool VFIFO_Engine_Read(const char* kind, const char* param, const char* command, int index,
                         const char* argument, char* buffer, int capacity);
  bool VFIFO_Engine_Write(const char* kind, const char* param, const char* command, int index,
                          const char* argument);
  bool VFIFO_Engine_Write_G(const char* kind, const char* param, const char* command, int index,
                            const char* argument);
  // As VFIFO_Engine_Write_G, but returns once the request is on its way to the engine, without
  // waiting for the engine's reply (true: handed to the connection).
  bool VFIFO_Engine_Write_G_Queued(const char* kind, const char* param, const char* command,
                                   int index, const char* argument);

  // To the GUI main form.
  bool VFIFO_Gui_MainForm(const char* command, const char* text);

 private:
  struct Channel;
  Channel* channel_;
};

}  // namespace Vexlor
