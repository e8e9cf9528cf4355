// tools/common/extra_slot.h
// Attaching a tool as a routine of its own name in one of the 12 extra slots of the function
// table. The library's start-up (VHub_Initial2) takes the first slot that is empty or already
// holds the name, and leaves the name there after the program ends; so every tool name that
// ever ran keeps a slot. Here, when all of them hold other names, the slot of a program that
// has ended is given back first.
#pragma once
#include <string>
namespace vexlor_tools {

enum class ExtraSlot {
  kAttached,    // the library is started as `name` in an extra slot
  kNoDatabase,  // the instance has no database
  kAllRunning,  // every extra slot but the main form's holds a program that still runs
};

// Starts the library as `name` with VHub_Initial2. When no extra slot is empty or holds `name`,
// the first of the slots N+1 to N+11 whose name no live process has the database attached
// under (its program ended: the attachment goes with the process, also when it is killed) is
// emptied, definition and run-time record as the database builds them, and the start-up takes
// it. Slot N, the main form's, is never given away. The library is started only on kAttached.
ExtraSlot attach_extra_slot(const std::string& name);

}  // namespace vexlor_tools
