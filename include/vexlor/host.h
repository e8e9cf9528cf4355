// Host link data variables and settings: the "FA." link settings, the "GEM." data variables
// that the host event reports carry (VFA_Get_DVID_<rest>), and the load ports' state points
// ("LP%d_"), one getter and one setter each, built like the named point accessors of
// <vexlor/named.h>. The items are listed in <vexlor/host/host_items.def>.
//
// A DVID item naming the point of a "GEM." named item shares that item's cache. Load-port
// accessors go through the driver-facing reads and writes: the getter stores the read status
// through `ok` when it is given (false when the point is missing) and the setter returns what
// the write returned. VFA_Get_Local_IP asks the system for the machine's IPv4 address, writes
// it to "FA.Local_IP" and returns it; after a failed ask it keeps the address of an earlier
// call ("" at first).
#pragma once

#include <vexlor/export.h>
#include <vexlor/host/event_reports.h>
#include <vexlor/named.h>

namespace Vexlor {

#define VEXLOR_HOST_POINT(item, kind, name, mode)        \
  VEXLOR_API VEXLOR_NAMED_VALUE_##kind VFA_Get_##item(); \
  VEXLOR_API bool VFA_Set_##item(VEXLOR_NAMED_VALUE_##kind value);
#define VEXLOR_HOST_SHARED(item, kind, gem_item) VEXLOR_HOST_POINT(item, kind, "", BOTH)
#define VEXLOR_HOST_LP(item, kind, get_format, set_format)                           \
  VEXLOR_API VEXLOR_NAMED_VALUE_##kind VFA_Get_LP_##item(int i, bool* ok = nullptr); \
  VEXLOR_API bool VFA_Set_LP_##item(int i, VEXLOR_NAMED_VALUE_##kind value);
#include <vexlor/host/host_items.def>
#undef VEXLOR_HOST_SHARED

}  // namespace Vexlor
