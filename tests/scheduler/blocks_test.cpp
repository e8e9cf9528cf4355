// The scheduler blocks: sampled items at block start + offset + index x stride, clearing and
// counting, bad indices, WAFER_ORDER references, inspection waits and the console's views.
#include <cstddef>
#include <cstring>
#include <iterator>
#include <string>
#include <type_traits>
#include <vector>

#include "db/db_image.h"
#include "frame/context.h"
#include "named/named_fixture.h"

namespace vexlor::test {
namespace {

using namespace Vexlor;

// Rows of the tables, counted by block, against the item lists of the eight blocks.
#define VEXLOR_SCH_COUNT(block, ...) +(std::string_view(#block) == kBlock ? 1 : 0)
template <std::size_t N>
constexpr int rows_of(const char (&block)[N]) {
  const std::string_view kBlock(block, N - 1);
  return 0
#define VEXLOR_SCH_ITEM0 VEXLOR_SCH_COUNT
#define VEXLOR_SCH_ITEM1 VEXLOR_SCH_COUNT
#define VEXLOR_SCH_ITEM2 VEXLOR_SCH_COUNT
#define VEXLOR_SCH_ITEM3 VEXLOR_SCH_COUNT
#define VEXLOR_SCH_ITEM4 VEXLOR_SCH_COUNT
// clang-format off
#include <vexlor/scheduler/blocks.def>
#include <vexlor/scheduler/items_end.h>
      ;
  // clang-format on
}
static_assert(rows_of("RBTANI") == 24 - 4);  // the four fallback stores have no functions
static_assert(rows_of("JOB") == 12 && rows_of("CM") == 15 && rows_of("BM") == 16);
static_assert(rows_of("PM") == 28 && rows_of("TM") == 44 && rows_of("WAFER") == 17);
static_assert(rows_of("UTIL") == 19);
constexpr int kForwarded = 0
#define VEXLOR_SCH_FORWARD1(...) +1
#define VEXLOR_SCH_FORWARD2(...) +1
#include <vexlor/scheduler/forwarded.def>
    ;
static_assert(kForwarded == 3 + 3 + 3 + 1 + 1 + 7 + 1 + 1 + 1);

char* block(int which) {
  MMAP_STRU* db = detail::attached_db();
  char* blocks[] = {reinterpret_cast<char*>(db->sch_rbtani), reinterpret_cast<char*>(db->sch_job),
                    reinterpret_cast<char*>(db->sch_cm),     reinterpret_cast<char*>(db->sch_bm),
                    reinterpret_cast<char*>(db->sch_pm),     reinterpret_cast<char*>(db->sch_tm),
                    reinterpret_cast<char*>(db->sch_wafer),  reinterpret_cast<char*>(db->sch_util)};
  return blocks[which];
}
enum { RBTANI, JOB, CM, BM, PM, TM, WAFER, UTIL };
constexpr std::size_t kBlockSizes[] = {116816, 104, 2256, 37704, 62912, 22664, 4938152, 80};

struct Sample {
  const char* item;
  int block;
  long at;                  // block offset + index x stride, from the item lists
  bool (*set)();            // writes the sample value
  bool (*got)();            // the getter returns it
  std::vector<char> bytes;  // what the raw block holds afterwards
};

template <typename T>
std::vector<char> raw(T v) {
  std::vector<char> b(sizeof v);
  std::memcpy(b.data(), &v, sizeof v);
  return b;
}
std::vector<char> raw_bool() { return {1}; }
std::vector<char> raw_text(const std::string& t) {
  std::vector<char> b(t.begin(), t.end());
  b.push_back('\0');
  return b;
}

const std::string kLong(100, 'r');  // cut to 63 characters
const std::string kCut = kLong.substr(0, 63);

// clang-format off
#define SET(call) [] { return call; }
const Sample kSamples[] = {
  {"RbtAni_Map_MoveX[0]", RBTANI, 0, SET(VSCH_Set_RbtAni_Map_MoveX(0, 1.5)), SET(VSCH_Get_RbtAni_Map_MoveX(0) == 1.5), raw(1.5)},
  {"RbtAni_Hom_Extend[9][3]", RBTANI, 1136 + 9 * 32 + 3 * 8, SET(VSCH_Set_RbtAni_Hom_Extend(9, 3, -2.25)), SET(VSCH_Get_RbtAni_Hom_Extend(9, 3) == -2.25), raw(-2.25)},
  {"RbtAni_CM_Rotate[5][9]", RBTANI, 2416 + 5 * 80 + 9 * 8, SET(VSCH_Set_RbtAni_CM_Rotate(5, 9, 7.0)), SET(VSCH_Get_RbtAni_CM_Rotate(5, 9) == 7.0), raw(7.0)},
  {"RbtAni_PM_Extend[99][9][3]", RBTANI, 84816 + 99 * 320 + 9 * 32 + 3 * 8, SET(VSCH_Set_RbtAni_PM_Extend(99, 9, 3, 3.5)), SET(VSCH_Get_RbtAni_PM_Extend(99, 9, 3) == 3.5), raw(3.5)},
  {"Job_Signal_Start[0]", JOB, 0, SET(VSCH_Set_Job_Signal_Start(0, true)), SET(VSCH_Get_Job_Signal_Start(0)), raw_bool()},
  {"Job_Using_Tag[5]", JOB, 68 + 5 * 4, SET(VSCH_Set_Job_Using_Tag(5, -7)), SET(VSCH_Get_Job_Using_Tag(5) == -7), raw<int32_t>(-7)},
  {"Job_Running[5]", JOB, 92 + 5, SET(VSCH_Set_Job_Running(5, true)), SET(VSCH_Get_Job_Running(5)), raw_bool()},
  {"CM_Enable[0]", CM, 0, SET(VSCH_Set_CM_Enable(0, true)), SET(VSCH_Get_CM_Enable(0)), raw_bool()},
  {"CM_Slot_Inch[5][24]", CM, 32 + 5 * 100 + 24 * 4, SET(VSCH_Set_CM_Slot_Inch(5, 24, 12)), SET(VSCH_Get_CM_Slot_Inch(5, 24) == 12), raw<int32_t>(12)},
  {"CM_Pick_Intlk[4][7][2]", CM, 632 + 4 * 40 + 7 * 4 + 2, SET(VSCH_Set_CM_Pick_Intlk(4, 7, 2, true)), SET(VSCH_Get_CM_Pick_Intlk(4, 7, 2)), raw_bool()},
  {"CM_Place_Assist_Out[5][9][3]", CM, 1832 + 5 * 40 + 9 * 4 + 3, SET(VSCH_Set_CM_Place_Assist_Out(5, 9, 3, true)), SET(VSCH_Get_CM_Place_Assist_Out(5, 9, 3)), raw_bool()},
  {"CM_Last_Mapping_Time[5]", CM, 2168 + 5 * 8, SET(VSCH_Set_CM_Last_Mapping_Time(5, 1e9)), SET(VSCH_Get_CM_Last_Mapping_Time(5) == 1e9), raw(1e9)},
  {"CM_End_Flag[5]", CM, 2246 + 5, SET(VSCH_Set_CM_End_Flag(5, true)), SET(VSCH_Get_CM_End_Flag(5)), raw_bool()},
  {"BM_Enable[0]", BM, 0, SET(VSCH_Set_BM_Enable(0, true)), SET(VSCH_Get_BM_Enable(0)), raw_bool()},
  {"BM_Pick_Intlk[99][9][3]", BM, 10500 + 99 * 40 + 9 * 4 + 3, SET(VSCH_Set_BM_Pick_Intlk(99, 9, 3, true)), SET(VSCH_Get_BM_Pick_Intlk(99, 9, 3)), raw_bool()},
  {"BM_Job_Using[99][5]", BM, 35900 + 99 * 6 + 5, SET(VSCH_Set_BM_Job_Using(99, 5, true)), SET(VSCH_Get_BM_Job_Using(99, 5)), raw_bool()},
  {"BM_Wafer_Clear_ITS_TM[99][9]", BM, 36700 + 99 * 10 + 9, SET(VSCH_Set_BM_Wafer_Clear_ITS_TM(99, 9, true)), SET(VSCH_Get_BM_Wafer_Clear_ITS_TM(99, 9)), raw_bool()},
  {"PM_Inline_In_Signal", PM, 0, SET(VSCH_Set_PM_Inline_In_Signal(3)), SET(VSCH_Get_PM_Inline_In_Signal() == 3), raw<int32_t>(3)},
  {"PM_Inline_Out_Signal", PM, 4, SET(VSCH_Set_PM_Inline_Out_Signal(-1)), SET(VSCH_Get_PM_Inline_Out_Signal() == -1), raw<int32_t>(-1)},
  {"PM_Slot_Inch[99][74]", PM, 508 + 99 * 300 + 74 * 4, SET(VSCH_Set_PM_Slot_Inch(99, 74, 8)), SET(VSCH_Get_PM_Slot_Inch(99, 74) == 8), raw<int32_t>(8)},
  {"PM_Process_Start_Time[99]", PM, 56112 + 99 * 8, SET(VSCH_Set_PM_Process_Start_Time(99, 0.125)), SET(VSCH_Get_PM_Process_Start_Time(99) == 0.125), raw(0.125)},
  {"PM_Process_Timer[99]", PM, 62112 + 99 * 8, SET(VSCH_Set_PM_Process_Timer(99, 60.5)), SET(VSCH_Get_PM_Process_Timer(99) == 60.5), raw(60.5)},
  {"TM_Enable[0]", TM, 0, SET(VSCH_Set_TM_Enable(0, true)), SET(VSCH_Get_TM_Enable(0)), raw_bool()},
  {"TM_Finger_Inch[9][3]", TM, 52 + 9 * 16 + 3 * 4, SET(VSCH_Set_TM_Finger_Inch(9, 3, 6)), SET(VSCH_Get_TM_Finger_Inch(9, 3) == 6), raw<int32_t>(6)},
  {"TM_PlaceMode_TM[9][9]", TM, 21332 + 9 * 40 + 9 * 4, SET(VSCH_Set_TM_PlaceMode_TM(9, 9, 2)), SET(VSCH_Get_TM_PlaceMode_TM(9, 9) == 2), raw<int32_t>(2)},
  {"TM_PickGroup_CM[9][5]", TM, 2332 + 9 * 6 + 5, SET(VSCH_Set_TM_PickGroup_CM(9, 5, true)), SET(VSCH_Get_TM_PickGroup_CM(9, 5)), raw_bool()},
  {"TM_Running[9]", TM, 22652 + 9, SET(VSCH_Set_TM_Running(9, true)), SET(VSCH_Get_TM_Running(9)), raw_bool()},
  {"Wafer_Enable[0][0]", WAFER, 1800, SET(VSCH_Set_Wafer_Enable(0, 0, true)), SET(VSCH_Get_Wafer_Enable(0, 0)), raw_bool()},
  {"Wafer_Cluster_Recipe[5][24]", WAFER, 4352 + 5 * 1600 + 24 * 64, SET(VSCH_Set_Wafer_Cluster_Recipe(5, 24, kLong.c_str())), SET(VSCH_Get_Wafer_Cluster_Recipe(5, 24) == kCut), raw_text(kCut)},
  {"Wafer_Cluster_PM_Side[5][24][19][19]", WAFER, 13952 + 5 * 40000 + 24 * 1600 + 19 * 80 + 19 * 4, SET(VSCH_Set_Wafer_Cluster_PM_Side(5, 24, 19, 19, 4)), SET(VSCH_Get_Wafer_Cluster_PM_Side(5, 24, 19, 19) == 4), raw<int32_t>(4)},
  {"Wafer_Cluster_PM_Recipe[1][2][3][4]", WAFER, 253952 + 640000 + 2 * 25600 + 3 * 1280 + 4 * 64, SET(VSCH_Set_Wafer_Cluster_PM_Recipe(1, 2, 3, 4, "ETCH_A")), SET(VSCH_Get_Wafer_Cluster_PM_Recipe(1, 2, 3, 4) == std::string("ETCH_A")), raw_text("ETCH_A")},
  {"Wafer_Flow_Module_Slot[5][24][199]", WAFER, 4335752 + 5 * 20000 + 24 * 800 + 199 * 4, SET(VSCH_Set_Wafer_Flow_Module_Slot(5, 24, 199, 9)), SET(VSCH_Get_Wafer_Flow_Module_Slot(5, 24, 199) == 9), raw<int32_t>(9)},
  {"Wafer_Flow_Module_OutTime[5][24][199]", WAFER, 4695752 + 5 * 40000 + 24 * 1600 + 199 * 8, SET(VSCH_Set_Wafer_Flow_Module_OutTime(5, 24, 199, 2.5)), SET(VSCH_Get_Wafer_Flow_Module_OutTime(5, 24, 199) == 2.5), raw(2.5)},
  {"Wafer_Flow_End_Time[5][24]", WAFER, 4936952 + 5 * 200 + 24 * 8, SET(VSCH_Set_Wafer_Flow_End_Time(5, 24, 9.75)), SET(VSCH_Get_Wafer_Flow_End_Time(5, 24) == 9.75), raw(9.75)},
  {"Util_Sch_Start_Option", UTIL, 0, SET(VSCH_Set_Util_Sch_Start_Option(1)), SET(VSCH_Get_Util_Sch_Start_Option() == 1), raw<int32_t>(1)},
  {"Util_Job_Recipe_Uniform", UTIL, 72, SET(VSCH_Set_Util_Job_Recipe_Uniform(5)), SET(VSCH_Get_Util_Job_Recipe_Uniform() == 5), raw<int32_t>(5)},
};
// clang-format on

// Where each row of the tables puts its item, and where the record has the member: the
// offset, then the entries and the stride of each index in turn.
struct Layout {
  const char* item;
  std::size_t offset, member_offset;
  std::vector<std::size_t> dims, member_dims;
};
template <typename M>
std::vector<std::size_t> dims_of() {
  std::vector<std::size_t> dims;
  if constexpr (std::rank_v < M >> 0) {
    dims = {std::extent_v<M>, sizeof(std::remove_extent_t<M>)};
    for (std::size_t d : dims_of<std::remove_extent_t<M>>()) dims.push_back(d);
  }
  return dims;
}
// clang-format off
#define LAYOUT(block, item, offset, dims) \
  Layout{#item, offset, offsetof(MEM_SCH_##block##_STRU, item), std::vector<std::size_t> dims, \
         dims_of<decltype(MEM_SCH_##block##_STRU::item)>()},
#define VEXLOR_SCH_ITEM0(block, item, type, offset) LAYOUT(block, item, offset, {})
#define VEXLOR_SCH_ITEM1(block, item, type, offset, ni, si) LAYOUT(block, item, offset, ({ni, si}))
#define VEXLOR_SCH_ITEM2(block, item, type, offset, ni, si, nj, sj) \
  LAYOUT(block, item, offset, ({ni, si, nj, sj}))
#define VEXLOR_SCH_ITEM3(block, item, type, offset, ni, si, nj, sj, nk, sk) \
  LAYOUT(block, item, offset, ({ni, si, nj, sj, nk, sk}))
#define VEXLOR_SCH_ITEM4(block, item, type, offset, ni, si, nj, sj, nk, sk, nl, sl) \
  LAYOUT(block, item, offset, ({ni, si, nj, sj, nk, sk, nl, sl}))
#define VEXLOR_SCH_STORE1 VEXLOR_SCH_ITEM1
#define VEXLOR_SCH_STORE2 VEXLOR_SCH_ITEM2
const Layout kLayouts[] = {
#include <vexlor/scheduler/blocks.def>
#include <vexlor/scheduler/items_end.h>
};
#undef LAYOUT
// clang-format on

class SchedulerBlocks : public StandardEquipment {
 protected:
  static std::vector<std::vector<char>> snapshot() {
    std::vector<std::vector<char>> all;
    for (int b = RBTANI; b <= UTIL; ++b) all.emplace_back(block(b), block(b) + kBlockSizes[b]);
    return all;
  }
};

TEST_F(SchedulerBlocks, SampledItemsClearingCountingBadIndicesAndWaferOrderReferences) {
  for (const Sample& s : kSamples) {
    char* at = block(s.block) + s.at;
    const char after = at[s.bytes.size()];
    std::memset(at, 0x5A, s.bytes.size());
    EXPECT_TRUE(s.set()) << s.item;
    EXPECT_EQ(std::vector<char>(at, at + s.bytes.size()), s.bytes) << s.item;
    EXPECT_TRUE(s.got()) << s.item;
    EXPECT_EQ(at[s.bytes.size()], after) << s.item << ": the next byte is not the item's";
  }
  for (int k = 0; k < 20; ++k) VSCH_Set_Wafer_Cluster_PM_Side(2, 4, k, 19, 7);
  VSCH_Set_Wafer_Cluster_PM_Side(2, 5, 0, 0, 7);
  VSCH_Set_Wafer_Cluster_Step(2, 4, 3);
  EXPECT_TRUE(VSCH_Inc_Wafer_Cluster_Step(2, 4));
  EXPECT_EQ(VSCH_Get_Wafer_Cluster_Step(2, 4), 4);
  EXPECT_TRUE(VSCH_Clr_Wafer_Cluster_PM_Side(2, 4));
  const char* sides = block(WAFER) + 13952 + 2 * 40000 + 4 * 1600;
  std::vector<int32_t> entries(400);
  std::memcpy(entries.data(), sides, 1600);
  EXPECT_EQ(entries, std::vector<int32_t>(400, -1));
  EXPECT_EQ(VSCH_Get_Wafer_Cluster_Step(2, 4), 0);
  EXPECT_EQ(VSCH_Get_Wafer_Cluster_PM_Side(2, 5, 0, 0), 7);

  VSCH_Set_Wafer_Flow_Module_Type(1, 1, 199, 3);
  VSCH_Set_Wafer_Flow_Module_InTime(1, 1, 199, 5.0);
  VSCH_Set_Wafer_Flow_Counter(1, 1, 8);
  EXPECT_TRUE(VSCH_Inc_Wafer_Flow_Counter(1, 1));
  EXPECT_EQ(VSCH_Get_Wafer_Flow_Counter(1, 1), 9);
  VSCH_Set_Wafer_Flow_Start_Time(1, 1, 1.0);
  EXPECT_TRUE(VSCH_Clr_Wafer_Flow_All(1, 1));
  EXPECT_EQ(VSCH_Get_Wafer_Flow_Module_InTime(1, 1, 199), 0.0);
  EXPECT_EQ(VSCH_Get_Wafer_Flow_Counter(1, 1), 0);
  EXPECT_EQ(VSCH_Get_Wafer_Flow_Start_Time(1, 1), 0.0);
  EXPECT_EQ(VSCH_Get_Wafer_Flow_Module_Type(1, 1, 199), 3);  // the flow modules stay

  std::memset(block(JOB), 1, 66);  // every signal of every job
  EXPECT_TRUE(VSCH_Clr_Job_Signal(2));
  for (int signal_at : {0, 6, 12, 24, 30, 36, 42, 48, 54, 60}) {
    EXPECT_EQ(block(JOB)[signal_at + 2], 0) << signal_at;
    EXPECT_EQ(block(JOB)[signal_at + 3], 1) << signal_at;
  }
  EXPECT_EQ(block(JOB)[18 + 2], 1);  // the gap between Abort and Pause is no signal
  const auto before = snapshot();
  EXPECT_FALSE(
      VSCH_Set_CM_Enable(6, true) || VSCH_Set_CM_Enable(-1, true) ||
      VSCH_Set_CM_Pick_Intlk(0, 10, 0, true) || VSCH_Set_PM_Pick_Intlk(0, 0, 4, true) ||
      VSCH_Set_PM_Slot_Inch(99, 75, 1) || VSCH_Set_RbtAni_PM_Extend(100, 0, 0, 1.0) ||
      VSCH_Set_TM_PickMode_CM(0, 6, 1) || VSCH_Set_Wafer_Cluster_PM_Recipe(5, 24, 19, 20, "x") ||
      VSCH_Set_Wafer_Cluster_Recipe(0, 25, "x") || VSCH_Set_Wafer_Cluster_Recipe(0, 0, nullptr) ||
      VSCH_Set_Wafer_Flow_Counter(6, 0, 1) || VSCH_Set_TM_Ready_Pick_Wafer(10, nullptr) ||
      VSCH_Inc_Wafer_Flow_Counter(0, -1) || VSCH_Clr_Job_Signal(6) ||
      VSCH_Clr_Wafer_Flow_All(6, 0));
  EXPECT_TRUE(snapshot() == before);

  block(CM)[0] = 1;
  EXPECT_FALSE(VSCH_Get_CM_Enable(-1));
  EXPECT_EQ(VSCH_Get_BM_Slot_Count(100), 0);
  EXPECT_EQ(VSCH_Get_Wafer_Flow_End_Time(0, 25), 0.0);
  EXPECT_STREQ(VSCH_Get_Wafer_Cluster_PM_Recipe(0, 0, 20, 0), "");
  EXPECT_EQ(VSCH_Get_TM_Ready_Place_Wafer(-1), nullptr);

  // A 64-bit process keeps a record of shared memory as its offset in the image and a record
  // of its own memory as an entry of its table; both read back as the same pointer.
  alignas(8) static char own_record[64];
  auto* own = reinterpret_cast<WAFER_ORDER*>(own_record);
  auto* shared = reinterpret_cast<WAFER_ORDER*>(block(WAFER) + 64);
  uint32_t slot[3];
  EXPECT_TRUE(VSCH_Set_TM_Ready_Pick_Wafer(0, own));
  EXPECT_TRUE(VSCH_Set_TM_Ready_Place_Wafer(9, shared));
  EXPECT_TRUE(VSCH_Set_TM_Ready_PlacePos_Wafer(4, nullptr));
  std::memcpy(&slot[0], block(TM) + 22232, 4);
  std::memcpy(&slot[1], block(TM) + 22432 + 9 * 4, 4);
  std::memcpy(&slot[2], block(TM) + 22592 + 4 * 4, 4);
  EXPECT_EQ(VSCH_Get_TM_Ready_Pick_Wafer(0), own);
  EXPECT_EQ(VSCH_Get_TM_Ready_Place_Wafer(9), shared);
  EXPECT_EQ(VSCH_Get_TM_Ready_PlacePos_Wafer(4), nullptr);
  const char* image = static_cast<const char*>(detail::image_base(*detail::attached_db()));
  EXPECT_EQ(slot[1], static_cast<uint32_t>(block(WAFER) + 64 - image));
  EXPECT_NE(slot[0] & 0x80000000u, 0u);
  EXPECT_EQ(slot[2], 0u);
  EXPECT_TRUE(VSCH_Set_TM_Ready_Pick_Wafer(1, own));  // one entry per record
  EXPECT_EQ(std::memcmp(block(TM) + 22232 + 4, &slot[0], 4), 0);
  std::memcpy(block(TM) + 22232 + 8, "\xff\xff\xff\x7f", 4);  // beyond the image
  EXPECT_EQ(VSCH_Get_TM_Ready_Pick_Wafer(2), nullptr);

  // Another process that maps the image itself reads the shared record at its own address.
  VSCH_Set_PM_Ready_Flag(3, true);
  in_child([] {
    EXPECT_EQ(VSCH_Get_TM_Ready_Place_Wafer(9), reinterpret_cast<WAFER_ORDER*>(block(WAFER) + 64));
    EXPECT_TRUE(VSCH_Get_PM_Ready_Flag(3));
  });
}

// The inspection waits, then the operations that combine items on the standard vocabulary (4
// robots: robot 5 has no points and keeps its position in the block).
TEST_F(SchedulerBlocks, EveryItemSitsOnItsRecordMember) {
  EXPECT_EQ(std::size(kLayouts), 175u);  // every row of the tables
  for (const Layout& l : kLayouts) {
    EXPECT_EQ(l.offset, l.member_offset) << l.item;
    // A text item's member has one more index, its characters.
    ASSERT_LE(l.dims.size(), l.member_dims.size()) << l.item;
    EXPECT_EQ(l.dims, std::vector<std::size_t>(l.member_dims.begin(),
                                               l.member_dims.begin() + l.dims.size()))
        << l.item;
  }
}

TEST_F(SchedulerBlocks, InspectionWaitsAndCombinedOperations) {
  in_child([] {
    detail::ConsoleCapture capture;
    EXPECT_FALSE(VSCH_Wafer_Inspect_Wait(-1, 3));
    EXPECT_FALSE(VSCH_Wafer_Inspect_Wait(0));    // process module 0 holds no wafer
    EXPECT_TRUE(VSCH_Wafer_Inspect_Wait(1, 3));  // not reserved: done after one poll
    std::vector<std::string> lines = console_texts(capture);
    // A poll at a whole second that is a multiple of 5 shows the wait on the GUI, which is not
    // started here, so the GUI bridge reports the message it dropped.
    if (lines.size() == 4) {
      EXPECT_NE(lines[3].find("<MESSAGE|等待晶圆(片源:CM2 , 片号:3 )料检...>"), std::string::npos);
      lines.pop_back();
    }
    EXPECT_EQ(lines, (std::vector<std::string>{
                         "等待料检完成,传入参数错误 Wafer_Source : -1  Wafer_Number : 3 ",
                         "PM1(ETCH1)等待前方料检失败,因为PM中没有晶圆信息",
                         "等待料检完成 Wafer_Source : 1  Wafer_Number : 3 "}));
    VIO_Set_CTC_CMx_Wafer_Status(0, 4, 1);
    EXPECT_EQ(VSCH_Get_CM_Wafer_Number(0, 4), 0);
    VIO_Set_CTC_CMx_Wafer_Status(0, 4, 2);
    EXPECT_EQ(VSCH_Get_CM_Wafer_Number(0, 4), 5);
    EXPECT_TRUE(VSCH_Set_CM_Wafer_Number(0, 4, 7));
    EXPECT_EQ(VIO_Get_CTC_CMx_Wafer_Status(0, 4), 2);
    EXPECT_TRUE(VSCH_Set_CM_Wafer_Number(0, 4, 0));
    EXPECT_EQ(VIO_Get_CTC_CMx_Wafer_Status(0, 4), 1);

    VSCH_Set_PM_Slot_Count(0, 3);
    VSCH_Set_PM_Wafer_Number(0, 2, 7);
    VSCH_Set_PM_Wafer_Source(0, 2, 1);
    EXPECT_TRUE(VSCH_Set_PM_Wafer_Trace(0, 2, "etched"));
    EXPECT_STREQ(VIO_Get_CTC_Wafer_Trace(1, 6), "etched");
    EXPECT_FALSE(VSCH_Set_PM_Wafer_Trace(0, 3, "x"));
    EXPECT_FALSE(VSCH_Set_PM_Wafer_Trace(kProcessModules, 0, "x"));

    VSCH_Set_TM_Finger_Count(0, 2);
    int finger = -1;
    EXPECT_TRUE(VSCH_Get_TM_Free_Finger(0, &finger, false));
    EXPECT_EQ(finger, 1);
    EXPECT_TRUE(VSCH_Get_TM_Free_Finger(0, &finger, true));
    EXPECT_EQ(finger, 0);
    VSCH_Set_TM_Wafer_Number(0, 1, 3);
    EXPECT_TRUE(VSCH_Get_TM_Free_Finger(0, &finger, false));
    EXPECT_EQ(finger, 0);

    VSCH_Set_CM_Slot_Count(0, 5);  // slot 0 full, wafer 3 on a finger: slots 2, 4, 5 free
    for (int j = 0; j < 5; ++j) VIO_Set_CTC_CMx_Wafer_Status(0, j, j == 0 ? 2 : 1);
    EXPECT_EQ(VSCH_Get_CM_Free_Slot_Number(0), 3);

    EXPECT_EQ(VSCH_Get_Pick_Priority(5, 0), 0);
    EXPECT_FALSE(VSCH_Set_Pick_Priority(5, 0, 1));
    EXPECT_TRUE(VSCH_Set_Place_Priority(MODULE_PM, 2, 9));
    EXPECT_EQ(VSCH_Get_PM_Place_Priority(2), 9);
    EXPECT_STREQ(VSCH_Get_PM_Module_Name(0), "ETCH1");
    EXPECT_EQ(VSCH_Get_Module_Alarm_Base(-1, 0), 0);
    EXPECT_EQ(VSCH_Get_Module_Annotation(MODULE_PM, -1), nullptr);

    EXPECT_EQ(VSCH_Get_PM_Job_Side(1), -1);
    VSCH_Set_PM_Job_Using(1, 4, true);
    EXPECT_EQ(VSCH_Get_PM_Job_Side(1), 4);
    EXPECT_TRUE(VSCH_Get_PM_Job_Using2(1));
    EXPECT_FALSE(VSCH_Get_Job_Running2());
    VSCH_Set_Job_Running(5, true);
    EXPECT_TRUE(VSCH_Get_Job_Running2());

    EXPECT_TRUE(VSCH_Set_RbtAni_MoveX(5, 12.5));
    EXPECT_EQ(VSCH_Get_RbtAni_MoveX(5), 12.5);
    double stored = 0;
    std::memcpy(&stored, block(RBTANI) + 336 + 5 * 8, sizeof stored);
    EXPECT_EQ(stored, 12.5);
    EXPECT_TRUE(VSCH_Set_RbtAni_Extend(0, 1, 4.0));
    EXPECT_EQ(VIO_Get_CTC_Rbx_Extension(0, 1), 4.0);
    std::memcpy(&stored, block(RBTANI) + 576 + 8, sizeof stored);
    EXPECT_EQ(stored, 0.0);
  });
}

// `vexlor wafers` and `vexlor modules` on wafers in a carrier, on a finger and in a module.
TEST_F(SchedulerBlocks, ConsoleShowsWafersAndModules) {
  in_child([] {
    VSCH_Set_CM_Slot_Count(0, 3);
    VIO_Set_CTC_CMx_Wafer_Status(0, 0, 2);
    for (int j = 1; j < 3; ++j) VIO_Set_CTC_CMx_Wafer_Status(0, j, 1);
    VSCH_Set_TM_Wafer_Number(0, 1, 2);  // arm B of VTM1
    VSCH_Set_TM_Wafer_Source(0, 1, 0);
    VSCH_Set_PM_Slot_Count(1, 1);
    VSCH_Set_PM_Wafer_Number(1, 0, 3);
    VSCH_Set_PM_Wafer_Source(1, 0, 0);
    VSCH_Set_PM_Wafer_Result(1, 0, 1);
    VIO_Set_CTC_PMx_Wafer_CarrierID(1, 0, "LOT7");
    VSCH_Set_PM_Enable(1, true);
    VIO_Set_CTC_PM_PAUSE_FLAG(1, 2);
  });
  auto vexlor = [this](const std::vector<std::string>& args) {
    return run_tool(VEXLOR_TOOLS_DIR "/vexlor", args, instance_.runtime_dir());
  };
  const ToolRun wafers = vexlor({"wafers"});
  EXPECT_EQ(wafers.code, 0) << wafers.err;
  EXPECT_EQ(wafers.out,
            "MODULE  NAME   SLOT  WAFER  SOURCE  RESULT  CARRIER\n"
            "CM1     LP1    1     1      CM1     0       CID01\n"
            "TM1     VTM1   2     2      CM1     0       CID01\n"
            "PM2     ETCH2  1     3      CM1     1       LOT7\n");

  const ToolRun modules = vexlor({"--json", "modules"});
  EXPECT_EQ(modules.code, 0) << modules.err;
  EXPECT_NE(modules.out.find("{\"kind\":\"PM\",\"module\":\"PM2\",\"name\":\"ETCH2\",\"enabled\":"
                             "true,\"ready\":false,\"running\":false,\"pause\":2,\"routines\":[{"
                             "\"name\":\"ETCH2_PROCESS\",\"run_status\":\"SYS_AVAILABLE\"}]}"),
            std::string::npos)
      << modules.out;
  EXPECT_NE(modules.out.find("{\"kind\":\"CM\",\"module\":\"CM1\",\"name\":\"LP1\",\"enabled\":"
                             "false,\"ready\":false,\"running\":null,\"pause\":null,"
                             "\"routines\":[]}"),
            std::string::npos)
      << modules.out;
}

}  // namespace
}  // namespace vexlor::test
