// The printed names of FUNC_STATUS values.
#include "functions/function_table.h"

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

}  // namespace vexlor::detail
