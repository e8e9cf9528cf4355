// VFIFO: this process's message queue to the sequence manager, the IO engine and the GUI
// main form. Every request returns true only when the receiving process accepted it; a peer
// that is absent fails at once, a peer that dies or hangs fails within the request time-out.
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
  // peers run yet.
  bool VFIFO_Initial(const char* name);
  bool VFIFO_Release();

  // To the sequence manager.
  bool VFIFO_Function_Run(const char* function, const char* run_param, const char* parents);
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

  // To the GUI main form.
  bool VFIFO_Gui_MainForm(const char* command, const char* text);

 private:
  struct Channel;
  Channel* channel_;
};

}  // namespace Vexlor
