// VMMAP: attachment to the instance's database and the simulated value slots.
#include <vexlor/image_state.h>
#include <vexlor/util.h>
#include <vexlor/vmmap.h>

#include <string>
#include <string_view>

#include "db/attach_registry.h"
#include "db/driver_link.h"
#include "db/db_image.h"
#include "db/name_index.h"
#include "os/instance.h"
#include "os/atomic_field.h"
#include "os/named_mutex.h"
#include "os/shared_section.h"
#include "util/text.h"

namespace Vexlor {

using vexlor::detail::DbTable;
using vexlor::os::load_relaxed;
using vexlor::os::store_relaxed;

// Value slots, statuses and the fields that route a value are written by other threads and
// processes while we read them: each is one relaxed atomic load or store in place.

struct VMMAP::Attachment {
  vexlor::os::SharedSection section;
  MMAP_STRU descriptor{};
  vexlor::os::MutexHandle alarm_mutex = nullptr;
  vexlor::detail::AttachRecord record;

  // Records present for `table`, bounded by both the system block's count and what the
  // image holds, so a count rewritten by another process can never reach past a table.
  uint32_t limit(DbTable table, int32_t count) const {
    uint32_t capacity = vexlor::detail::table_capacity(section.address, table);
    return count < 0 ? 0 : (static_cast<uint32_t>(count) < capacity ? count : capacity);
  }

  bool valid(DbTable table, int index, int32_t count) const {
    return index >= 0 && static_cast<uint32_t>(index) < limit(table, count);
  }

  bool driver_offline(int32_t driver) const {
    return has_driver(driver) &&
           load_relaxed(descriptor.driver_sp[driver].params[kDriverParamOffline]) != 0;
  }

  bool has_driver(int32_t driver) const {
    return valid(DbTable::Drivers, driver, descriptor.system_block->driver_count);
  }

  // A driver served by a driver program: the device, not this layer, decides reads and writes.
  bool served(int32_t driver) const {
    return descriptor.system_block->simulation == 0 && has_driver(driver) &&
           vexlor::detail::served_driver_type(load_relaxed(descriptor.driver_sp[driver].type));
  }

  bool loop_back(int32_t input_driver) const {
    return descriptor.system_block->simulation != 0 || !has_driver(input_driver);
  }

  // A numeric point's value: what its input driver delivered, or what was last written when it
  // has none; false through an offline driver.
  template <typename Def, typename Slot, typename Value>
  bool read_value(const Def& def, const Slot& slot, Value* value) const {
    const int32_t input = load_relaxed(def.idrv_point);
    if (driver_offline(input)) return false;
    // A served point's value counts only while its program last read it from the device.
    if (served(input) && load_relaxed(slot.read_status) == 0) return false;
    *value = has_driver(input) ? load_relaxed(slot.read_value) : load_relaxed(slot.write_value);
    return true;
  }

  // Stores a numeric point's write value (already checked against its limits) and loops it
  // back into the read value in simulation or without an input driver.
  template <typename Def, typename Slot, typename Value>
  bool write_value(const Def& def, Slot& slot, Value value,
                   const vexlor::detail::DriverWrite& request) const {
    const int32_t output = load_relaxed(def.odrv_point);
    if (driver_offline(output)) return false;
    if (served(output) && !vexlor::detail::driver_write(output, request)) return false;
    store_relaxed(slot.write_value, value);
    store_relaxed(slot.write_status, 1);
    if (loop_back(load_relaxed(def.idrv_point))) {
      store_relaxed(slot.read_value, value);
      store_relaxed(slot.read_status, 1);
    }
    return true;
  }
};

VMMAP::VMMAP() : attachment_(nullptr) {}

VMMAP::~VMMAP() { VMMAP_Release(); }

bool VMMAP::VMMAP_Initial(const char* name) {
  VMMAP_Release();
  const char* source = name ? name : "";
  const std::string instance = vexlor::os::instance_name();
  auto* a = new Attachment();
  std::string error;
  if (!vexlor::os::section_exists(vexlor::detail::kDatabaseSection)) {
    VPrint_Red(source, "VMMAP_Initial: no database of instance \"%s\" in %s", instance.c_str(),
               vexlor::os::instance_dir().c_str());
    delete a;
    return false;
  }
  if (!vexlor::os::section_open(vexlor::detail::kDatabaseSection, &a->section, &error) ||
      !vexlor::detail::image_valid(a->section.address, a->section.size, &error)) {
    VPrint_Red(source, "VMMAP_Initial: the database of instance \"%s\" in %s is not usable: %s",
               instance.c_str(), vexlor::os::instance_dir().c_str(), error.c_str());
    vexlor::os::section_unmap(&a->section);
    delete a;
    return false;
  }
  a->alarm_mutex = vexlor::os::mutex_create(vexlor::detail::kAlarmMutexName, false);
  if (a->alarm_mutex == nullptr) {
    VPrint_Red(source, "VMMAP_Initial: cannot open the alarm mutex of instance \"%s\"",
               instance.c_str());
    vexlor::os::section_unmap(&a->section);
    delete a;
    return false;
  }
  vexlor::detail::fill_descriptor(a->section.address, &a->descriptor);
  a->descriptor.alarm_mutex = a->alarm_mutex;
  // A first lookup then costs a few probes, not a page fault per probe run.
  vexlor::detail::prefetch_name_index(a->section.address);
  // Without its record the process is attached all the same, only unseen by vexlor-db.
  a->record.open(source);
  attachment_ = a;
  return true;
}

bool VMMAP::VMMAP_Release() {
  if (attachment_ == nullptr) return true;
  if (attachment_->alarm_mutex) vexlor::os::mutex_close(attachment_->alarm_mutex);
  attachment_->record.close();
  vexlor::os::section_unmap(&attachment_->section);
  delete attachment_;
  attachment_ = nullptr;
  return true;
}

MMAP_STRU* VMMAP::DB() { return attachment_ ? &attachment_->descriptor : nullptr; }

bool VMMAP::VMMAP_Digital_Read(int index, int* value) {
  if (!attachment_ || !value) return false;
  const MMAP_STRU& d = attachment_->descriptor;
  if (!attachment_->valid(DbTable::DigitalDefs, index, d.system_block->digital_count)) return false;
  const MEM_DIGITAL_SP_STRU& def = d.digital_sp[index];
  const MEM_DIGITAL_VAL_STRU& slot = d.digital_val[index];
  return attachment_->read_value(def, slot, value);
}

bool VMMAP::VMMAP_Digital_Write(int index, int value) {
  if (!attachment_) return false;
  const MMAP_STRU& d = attachment_->descriptor;
  if (!attachment_->valid(DbTable::DigitalDefs, index, d.system_block->digital_count)) return false;
  const MEM_DIGITAL_SP_STRU& def = d.digital_sp[index];
  MEM_DIGITAL_VAL_STRU& slot = d.digital_val[index];
  if (value < load_relaxed(def.min) || value > load_relaxed(def.max)) return false;
  vexlor::detail::DriverWrite request;
  request.kind = 'D';
  request.point = index;
  request.int_value = value;
  return attachment_->write_value(def, slot, value, request);
}

bool VMMAP::VMMAP_Analog_Read(int index, double* value) {
  if (!attachment_ || !value) return false;
  const MMAP_STRU& d = attachment_->descriptor;
  if (!attachment_->valid(DbTable::AnalogDefs, index, d.system_block->analog_count)) return false;
  const MEM_ANALOG_SP_STRU& def = d.analog_sp[index];
  const MEM_ANALOG_VAL_STRU& slot = d.analog_val[index];
  return attachment_->read_value(def, slot, value);
}

bool VMMAP::VMMAP_Analog_Write(int index, double value) {
  if (!attachment_) return false;
  const MMAP_STRU& d = attachment_->descriptor;
  if (!attachment_->valid(DbTable::AnalogDefs, index, d.system_block->analog_count)) return false;
  const MEM_ANALOG_SP_STRU& def = d.analog_sp[index];
  MEM_ANALOG_VAL_STRU& slot = d.analog_val[index];
  if (!(value >= load_relaxed(def.min) && value <= load_relaxed(def.max))) return false;  // NaN too
  vexlor::detail::DriverWrite request;
  request.kind = 'A';
  request.point = index;
  request.real_value = value;
  return attachment_->write_value(def, slot, value, request);
}

bool VMMAP::VMMAP_String_Read(int index, char* buffer) {
  if (!attachment_) return false;
  const MMAP_STRU& d = attachment_->descriptor;
  if (!attachment_->valid(DbTable::StringDefs, index, d.system_block->string_count)) return false;
  const MEM_STRING_SP_STRU& def = d.string_sp[index];
  MEM_STRING_VAL_STRU& slot = d.string_val[index];
  const int32_t input = load_relaxed(def.idrv_point);
  if (attachment_->driver_offline(input)) return false;
  if (attachment_->served(input) && load_relaxed(slot.read_status) == 0) return false;
  bool from_driver = attachment_->has_driver(input);
  std::string_view current = from_driver ? vexlor::detail::field_text(slot.read_value)
                                         : vexlor::detail::field_text(slot.write_value);
  if (buffer == nullptr) {
    if (!from_driver) vexlor::detail::copy_text(slot.read_value, current);
    store_relaxed(slot.read_status, 1);
    return true;
  }
  vexlor::detail::copy_text(buffer, sizeof slot.read_value, current);
  return true;
}

bool VMMAP::VMMAP_String_Write(int index, const char* text) {
  if (!attachment_ || !text) return false;
  const MMAP_STRU& d = attachment_->descriptor;
  if (!attachment_->valid(DbTable::StringDefs, index, d.system_block->string_count)) return false;
  const MEM_STRING_SP_STRU& def = d.string_sp[index];
  MEM_STRING_VAL_STRU& slot = d.string_val[index];
  const int32_t output = load_relaxed(def.odrv_point);
  if (attachment_->driver_offline(output)) return false;
  if (attachment_->served(output)) {
    vexlor::detail::DriverWrite request;
    request.kind = 'S';
    request.point = index;
    request.text.assign(std::string_view(text).substr(0, sizeof slot.write_value - 1));
    if (!vexlor::detail::driver_write(output, request)) return false;
  }
  vexlor::detail::copy_text(slot.write_value, text);
  store_relaxed(slot.write_status, 1);
  if (attachment_->loop_back(load_relaxed(def.idrv_point))) {
    vexlor::detail::copy_text(slot.read_value, text);
    store_relaxed(slot.read_status, 1);
  }
  return true;
}

}  // namespace Vexlor

namespace vexlor {

bool database_retired(const Vexlor::MMAP_STRU* db) {
  return db != nullptr && detail::image_retired(*db);
}

}  // namespace vexlor
