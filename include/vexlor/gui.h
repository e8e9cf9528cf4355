// The GUI bridge: show, hide, restart and close the operator GUI's main form, and hand it
// messages, events and records. The main form is the routine in function slot N; it counts
// as running while that slot's run status is not SYS_KILLED.
//
// Commands reach the main form through the message queue (VFIFO_Gui_MainForm): "SHOW" and
// "HIDE" with an empty text, "MESSAGE", "EVENT" and "RECORD" with the text. A text is sent
// up to 1023 bytes; the F forms format into 1024 bytes and cut longer output there. A null
// text is sent as the empty text.
//
// Every call returns false when the routine has no message queue (before start-up). The
// message, event and record calls also return false, after a LOG_ALM line
// "主界面未启动 , 忽略FIFO接收: <MESSAGE|text> [代码行:...]", when the main form is not running,
// and after a LOG_ERR line when the queue refused the command.
#pragma once

#include <vexlor/export.h>
#include <vexlor/util.h>

#include <string>
#include <vector>

namespace Vexlor {

VEXLOR_API bool VGui_MainForm_Show();
VEXLOR_API bool VGui_MainForm_Hide();
// Asks the IO engine to restart the main form ("$G" "P1" "W1").
VEXLOR_API bool VGui_MainForm_Restart();
// Tells the main form to exit through the sequence manager, with the parent chain
// "<own index>&<own parents>"; true at once when the main form is not running.
VEXLOR_API bool VGui_MainForm_Exit();

VEXLOR_API bool VGui_Display_Message(const char* text);
VEXLOR_API bool VGui_Display_MessageF(const char* format, ...) VEXLOR_PRINTF(1, 2);
VEXLOR_API bool VGui_Send_Event(const char* text);
VEXLOR_API bool VGui_Send_EventF(const char* format, ...) VEXLOR_PRINTF(1, 2);
VEXLOR_API bool VGui_Send_Record(const char* text);
// Sends the record "<field count>|<field>,<field>,..." ("0|" without fields). `name` is not
// used by the library.
VEXLOR_API bool VGui_Send_Record(const char* name, std::vector<std::string>& fields);
VEXLOR_API bool VGui_Send_RecordF(const char* format, ...) VEXLOR_PRINTF(1, 2);

// The navigation file of the system block; "Z:\Gui\Setup\Navigation.xml" when not attached.
VEXLOR_API const char* VGui_Get_Navigation_Full_Path();

}  // namespace Vexlor
