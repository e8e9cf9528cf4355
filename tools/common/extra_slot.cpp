// Attaching a tool in an extra slot of the function table, giving back the slot of an ended
// program when all are taken.
#include "extra_slot.h"

#include <vexlor/instance_state.h>
#include <vexlor/vexlor.h>

#include <cstring>
#include <set>

namespace vexlor_tools {
namespace {

constexpr int kExtraSlots = 12;
// The name the look at the slot table attaches under: a tool waiting for another to attach by
// its name must not mistake the look for it.
constexpr char kLookName[] = "vexlor-slot-look";

std::string slot_name(const Vexlor::MEM_FUNCTION_SP_STRU& record) {
  return std::string(record.name, strnlen(record.name, sizeof record.name));
}

// Upper-cased, as the library compares routine names.
std::string folded(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

enum class Look { kNoDatabase, kRoom, kFull };

// Whether VHub_Initial2(name) finds a slot; when all are taken, empties the first slot of an
// ended program and says kRoom.
Look make_room(const std::string& name) {
  Vexlor::VMMAP look;
  Vexlor::MMAP_STRU* db = look.VMMAP_Initial(kLookName) ? look.DB() : nullptr;
  if (db == nullptr) {
    look.VMMAP_Release();
    return Look::kNoDatabase;
  }
  const int n = db->system_block->function_count;
  Look result = Look::kFull;
  for (int i = n; i < n + kExtraSlots && result == Look::kFull; ++i) {
    const std::string taken = slot_name(db->function_sp[i]);
    if (taken.empty() || folded(taken) == folded(name)) result = Look::kRoom;
  }
  if (result == Look::kFull) {
    std::set<std::string> running;
    for (const vexlor::AttachedRoutine& p : vexlor::inspect_instance().attached) {
      running.insert(folded(p.routine));
    }
    for (int i = n + 1; i < n + kExtraSlots; ++i) {
      if (running.count(folded(slot_name(db->function_sp[i]))) != 0) continue;
      // As the database builds an extra slot: no name, no run.
      std::memset(&db->function_sp[i], 0, sizeof db->function_sp[i]);
      std::memset(&db->function_rt[i], 0, sizeof db->function_rt[i]);
      db->function_rt[i].run_status = Vexlor::SYS_KILLED;
      db->function_rt[i].event_status = Vexlor::SYS_AVAILABLE;
      result = Look::kRoom;
      break;
    }
  }
  look.VMMAP_Release();
  return result;
}

}  // namespace

ExtraSlot attach_extra_slot(const std::string& name) {
  // Another tool may take the slot given back before this one does: look again then.
  for (int attempt = 0; attempt < kExtraSlots; ++attempt) {
    const Look look = make_room(name);
    if (look == Look::kNoDatabase) return ExtraSlot::kNoDatabase;
    if (look == Look::kFull) return ExtraSlot::kAllRunning;
    if (Vexlor::VHub_Initial2(name.c_str()) && Vexlor::MMAP_DB() != nullptr) {
      return ExtraSlot::kAttached;
    }
    Vexlor::VHub_Release();
  }
  return ExtraSlot::kAllRunning;
}

}  // namespace vexlor_tools
