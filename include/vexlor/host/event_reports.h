// Host event reports: one-line texts that tell the factory host what happens on the equipment,
// sent as function events to the host link routine "EAP_ENGINE". Every line is the token, a
// blank, a decimal code and zero or more fields each preceded by '|' (at most 511 characters;
// longer lines are cut and still sent). The functions are listed in
// <vexlor/host/event_reports.def> with the line each one sends; a report only formats its line
// and hands it to VFA_SEND_EVENT, which returns whether the event was handed over. The data
// variables that go with an event are filled beforehand (VFA_Set_DVID_<item>, <vexlor/host.h>).
#pragma once

#include <vexlor/export.h>
#include <vexlor/types.h>
#include <vexlor/util.h>

namespace Vexlor {

// True when the routine "EAP_ENGINE" exists: looked up on the first call after start-up (before,
// false and nothing kept), then kept, found or not, for the life of the process; prints nothing.
VEXLOR_API bool VFA_IsValid();

// Formats one event line (512-character buffer, cut to 511) and sends it to "EAP_ENGINE" with
// VFunction_Send_Event; false without formatting when there is no such routine.
VEXLOR_API bool VFA_SEND_EVENT(const char* format, ...) VEXLOR_PRINTF(1, 2);

#define VEXLOR_HOST_REQUEST(function, token) VEXLOR_API bool VFA_##function();
#define VEXLOR_HOST_CODED(function, token) VEXLOR_API bool VFA_##function(int p1);
#define VEXLOR_HOST_BARE(function, token, code) VEXLOR_API bool VFA_##function();
#define VEXLOR_HOST_LINE(function, token, code, fields, parameters, arguments) \
  VEXLOR_API bool VFA_##function parameters;
#define VEXLOR_HOST_PRIMARY(function, token, parameters) VEXLOR_API bool VFA_##function parameters;
#include <vexlor/host/event_reports.def>

}  // namespace Vexlor
