// The printed names of FUNC_STATUS and ALARM_STYLE values.
#include "util/type_names.h"

#include <iterator>

namespace vexlor::detail {

const char* status_name(int32_t status) {
  static constexpr const char* kBasic[] = {
      "SYS_AVAILABLE", "SYS_RUNNING", "SYS_ABORTED", "SYS_SUCCESS", "SYS_ERROR",
      "SYS_WAITTING",  "SYS_KILLED",  "SYS_BUSY",    "SYS_SKIP",
  };
  static constexpr const char* kErrorCodes[] = {
      "SYS_ERRCODE",  "SYS_ERRCODE1", "SYS_ERRCODE2", "SYS_ERRCODE3", "SYS_ERRCODE4",
      "SYS_ERRCODE5", "SYS_ERRCODE6", "SYS_ERRCODE7", "SYS_ERRCODE8", "SYS_ERRCODE9",
  };
  if (status >= 0 && status <= 8) return kBasic[status];
  if (status >= 100 && status <= 109) return kErrorCodes[status - 100];
  return "SYS_UNKNOWN";
}

const char* alarm_style_name(int32_t style) {
  static const char* const kNames[] = {"ALM_CLEAR",  "ALM_RETRY",   "ALM_WAIT",
                                       "ALM_IGNORE", "ALM_DISABLE", "ALM_ENABLE",
                                       "ALM_STOP",   "ALM_ABORT",   "ALM_PAUSED"};
  if (style < 0 || style >= static_cast<int32_t>(std::size(kNames))) return "ALM_UNKNOWN";
  return kNames[style];
}

}  // namespace vexlor::detail
