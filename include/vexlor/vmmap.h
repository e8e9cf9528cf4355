// VMMAP: this process's attachment to the equipment's shared point database, and the value
// reads and writes of typed points through their value slots and drivers.
//
// Simulated drivers. The database carries no real I/O; the value slots behave as a
// simulated equipment:
//  - a write stores the write value and sets the write status; when the equipment runs in
//    simulation mode (system block) or the point has no input driver, the value is also
//    looped back into the read value;
//  - a read of a point without input driver returns its write value, otherwise its read
//    value;
//  - a digital or analog write outside the point's min..max fails and stores nothing;
//  - driver parameter 9 (kDriverParamOffline) of a point's driver is its simulated state:
//    0 online, anything else offline. Every read through an offline input driver and every
//    write through an offline output driver fails and changes nothing.
//
// Served drivers. Outside simulation, a driver whose type is 100 or above is served by a
// driver program (docs/drivers.md): a write through it succeeds only when the program reports
// that the device took the value, and a read through it fails while the program marks the
// point's read status bad.
#pragma once

#include <vexlor/export.h>
#include <vexlor/records.h>

namespace Vexlor {

// Driver parameter that puts a simulated driver offline (non-zero) or online (0).
constexpr int kDriverParamOffline = 9;

class VEXLOR_API VMMAP {
 public:
  VMMAP();
  ~VMMAP();
  VMMAP(const VMMAP&) = delete;
  VMMAP& operator=(const VMMAP&) = delete;

  // Attaches the database of the current instance (VEXLOR_INSTANCE). True when mapped.
  bool VMMAP_Initial(const char* name);
  // Detaches; safe to call when VMMAP_Initial failed or was never called.
  bool VMMAP_Release();
  // The descriptor with every table pointer valid, or null when not attached.
  MMAP_STRU* DB();

  bool VMMAP_Digital_Read(int index, int* value);
  bool VMMAP_Digital_Write(int index, int value);
  bool VMMAP_Analog_Read(int index, double* value);
  bool VMMAP_Analog_Write(int index, double value);
  // Copies the current value (at most 1023 bytes and a terminator) into `buffer`, which
  // must hold 1024 bytes; with a null buffer only refreshes the slot's read value.
  bool VMMAP_String_Read(int index, char* buffer);
  bool VMMAP_String_Write(int index, const char* text);

 private:
  struct Attachment;
  Attachment* attachment_;
};

}  // namespace Vexlor
