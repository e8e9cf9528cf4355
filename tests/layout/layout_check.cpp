// Compile-time layout checks beyond the per-member asserts of the headers. Built natively and,
// with VEXLOR_LAYOUT_CHECK_WIN32, by the 32-bit Windows build (the win32 preset),
// where the descriptor's 32-bit offsets in <vexlor/records.h> are live as well.
#include <vexlor/vexlor.h>

#include <cstddef>
#include <cstdint>
#include <type_traits>

namespace {

using namespace Vexlor;

#if defined(VEXLOR_LAYOUT_CHECK_WIN32)
static_assert(sizeof(void*) == 4, "the Windows check must be a 32-bit build");
#if !defined(_WIN32) || defined(_WIN64)
#error "the Windows check must be built for 32-bit Windows"
#endif

// The target compiler aligns a double inside a record to 8 bytes (as MSVC does, unlike the
// i386 System V ABI). The records never depend on it: every double sits at a multiple of 8
// and every record holding one has a size that is a multiple of 8.
struct DoubleAfterInt {
  int32_t i;
  double d;
};
static_assert(offsetof(DoubleAfterInt, d) == 8, "double is 8-aligned inside records");

// The scheduler keeps WAFER_ORDER references in 4-byte slots; here a pointer fits exactly.
static_assert(sizeof(WAFER_ORDER*) == sizeof(MEM_SCH_TM_STRU::TM_Ready_Pick_Wafer[0]),
              "a WAFER_ORDER pointer fills its slot");
static_assert(sizeof(MMAP_STRU) == 1460, "the descriptor ends after the last table pointer");
#endif

// Every shared record is a plain block of bytes: standard layout (so offsetof is meaningful),
// trivially copyable (so it can live in a shared mapping), and its size and alignment keep
// doubles 8-aligned in tables whatever the ABI's own alignment of double.
template <typename T, std::size_t Align>
constexpr bool plain_record() {
  return std::is_standard_layout_v<T> && std::is_trivially_copyable_v<T> &&
         std::is_trivially_default_constructible_v<T> && alignof(T) <= Align &&
         sizeof(T) % Align == 0;
}

static_assert(plain_record<MEM_SYSTEM_STRU, 4>());
static_assert(plain_record<MEM_MODULE_SP_STRU, 4>());
static_assert(plain_record<MEM_ENUM_SP_STRU, 4>());
static_assert(plain_record<MEM_DRIVER_SP_STRU, 4>());
static_assert(plain_record<MEM_DIGITAL_SP_STRU, 4>());
static_assert(plain_record<MEM_DIGITAL_VAL_STRU, 4>());
static_assert(plain_record<MEM_ANALOG_SP_STRU, 8>());
static_assert(plain_record<MEM_ANALOG_VAL_STRU, 8>());
static_assert(plain_record<MEM_STRING_SP_STRU, 4>());
static_assert(plain_record<MEM_STRING_VAL_STRU, 1>());
static_assert(plain_record<MEM_FUNCTION_SP_STRU, 4>());
static_assert(plain_record<MEM_FUNCTION_RT_STRU, 4>());
static_assert(plain_record<MEM_ALARM_SP_STRU, 4>());
static_assert(plain_record<MEM_ALARM_RT_STRU, 4>());
static_assert(plain_record<MEM_ALARM_QUEUE_STRU, 4>());
static_assert(plain_record<MEM_ABORT_MANAGER_STRU, 8>());
static_assert(plain_record<MEM_SCH_RBTANI_STRU, 8>());
static_assert(plain_record<MEM_SCH_JOB_STRU, 8>());
static_assert(plain_record<MEM_SCH_CM_STRU, 8>());
static_assert(plain_record<MEM_SCH_BM_STRU, 8>());
static_assert(plain_record<MEM_SCH_PM_STRU, 8>());
static_assert(plain_record<MEM_SCH_TM_STRU, 8>());
static_assert(plain_record<MEM_SCH_WAFER_STRU, 8>());
static_assert(plain_record<MEM_SCH_UTIL_STRU, 8>());
static_assert(plain_record<RUN_PARAM_INFO_STRU, 4>());
static_assert(std::is_standard_layout_v<MMAP_STRU> && std::is_trivially_copyable_v<MMAP_STRU>);

// Values the headers fix and other code relies on.
static_assert(VEXLOR_UNUSED_POINT == -99999999 && VEXLOR_ERROR_POINT == -1);
static_assert(sizeof(VEXLOR_VERSION_INFO) == 14 && VEXLOR_VERSION_INFO[0] == '0' &&
              VEXLOR_VERSION_INFO[5] == '2' && VEXLOR_VERSION_INFO[12] == '1');
static_assert(IO_NONE == -1 && IO_D == 0 && IO_A == 1 && IO_S == 2 && IO_F == 3 && IO_L == 4);
static_assert(CM == MODULE_CM && BM == MODULE_BM && TM == MODULE_TM && PM == MODULE_PM &&
              MODULE_CM == 0 && MODULE_BM == 1 && MODULE_TM == 2 && MODULE_PM == 3);
static_assert(LOG_ALM == 0 && LOG_VIR == 5 && LOG_STATUS_BOTH == 3);
static_assert(ALM_CLEAR == 0 && ALM_ABORT == 7 && ALM_PAUSED == 8);
static_assert(SYS_SKIP == 8 && SYS_ERRCODE == 100 && SYS_ERRCODE1 == 101 && SYS_ERRCODE9 == 109);

}  // namespace
