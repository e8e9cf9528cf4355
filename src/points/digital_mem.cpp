// Value-slot access of digital points: the read and write values of MEM_DIGITAL_VAL_STRU,
// without drivers.
#include "frame/index_check.h"
#include "vexlor/digital.h"

namespace Vexlor {

int VDigital_Read_Mem(int index) {
  MMAP_STRU* db = VEXLOR_CHECKED_DB(kDigital, index);
  if (db == nullptr) return VEXLOR_UNUSED_POINT;
  const MEM_DIGITAL_VAL_STRU& slot = db->digital_val[index];
  // A point fed by an input driver shows what the driver delivered; any other point shows
  // what was last written.
  return db->digital_sp[index].idrv_point != VEXLOR_UNUSED_POINT ? slot.read_value
                                                                 : slot.write_value;
}

void VDigital_Write_Mem(int index, int value) {
  MMAP_STRU* db = VEXLOR_CHECKED_DB(kDigital, index);
  if (db == nullptr) return;
  db->digital_val[index].write_value = value;
}

}  // namespace Vexlor
