// The host event reports, expanded from the line table: each formats its line from its
// parameters (module IDs, slot numbers from 1 and arm letters where the line carries them) and
// hands it to VFA_SEND_EVENT.
#include "vexlor/host.h"
#include "vexlor/scheduler.h"

namespace vexlor::detail {
namespace {

// A null text is sent as an empty field.
const char* field(const char* text) { return text != nullptr ? text : ""; }
template <typename T>
T field(T value) {
  return value;
}

template <typename... Args>
bool send_line(const char* format, Args... args) {
  return Vexlor::VFA_SEND_EVENT(format, field(args)...);
}

}  // namespace
}  // namespace vexlor::detail

namespace Vexlor {

#define VEXLOR_HOST_UNPAREN(...) __VA_ARGS__
// clang-format off
#define VEXLOR_HOST_REQUEST(function, token) \
  bool VFA_##function() { return VFA_SEND_EVENT("%s", token); }
#define VEXLOR_HOST_CODED(function, token) \
  bool VFA_##function(int p1) { return VFA_SEND_EVENT(token " %d", p1); }
#define VEXLOR_HOST_BARE(function, token, code) \
  bool VFA_##function() { return VFA_SEND_EVENT("%s", token " " #code); }
// The unevaluated call lets the compiler check each row's format against its arguments.
#define VEXLOR_HOST_LINE(function, token, code, fields, parameters, arguments)             \
  bool VFA_##function parameters {                                                          \
    static_cast<void>(                                                                      \
        sizeof(VFA_SEND_EVENT(token " " #code fields, VEXLOR_HOST_UNPAREN arguments)));     \
    return vexlor::detail::send_line(token " " #code fields, VEXLOR_HOST_UNPAREN arguments); \
  }
#include "vexlor/host/event_reports.def"
// clang-format on
#undef VEXLOR_HOST_UNPAREN

bool VFA_Send_SxxFxx(unsigned char stream, unsigned char function, const char* a, const char* b,
                     const char* c, const char* d, const char* e) {
  // The texts end at the first null pointer.
  const char* texts[] = {a, b, c, d, e};
  int n = 0;
  while (n < 5 && texts[n] != nullptr) ++n;
  switch (n) {
    case 0:
      return VFA_SEND_EVENT("SEND_PRIMIRY S%dF|%d", stream, function);
    case 1:
      return VFA_SEND_EVENT("SEND_PRIMIRY S%dF|%d %s", stream, function, a);
    case 2:
      return VFA_SEND_EVENT("SEND_PRIMIRY S%dF|%d %s,%s", stream, function, a, b);
    case 3:
      return VFA_SEND_EVENT("SEND_PRIMIRY S%dF|%d %s,%s,%s", stream, function, a, b, c);
    case 4:
      return VFA_SEND_EVENT("SEND_PRIMIRY S%dF|%d %s,%s,%s,%s", stream, function, a, b, c, d);
    default:
      return VFA_SEND_EVENT("SEND_PRIMIRY S%dF|%d %s,%s,%s,%s,%s", stream, function, a, b, c, d, e);
  }
}

}  // namespace Vexlor
