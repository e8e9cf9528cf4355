// Round trips between raw bytes at the documented offsets and the record structs: what another
// process writes by offset must read back through our members, in tables of records and in
// multi-index scheduler items.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "vexlor/vexlor.h"

namespace {

using namespace Vexlor;

template <typename T>
void put(void* base, std::size_t offset, T value) {
  std::memcpy(static_cast<unsigned char*>(base) + offset, &value, sizeof value);
}

void put_text(void* base, std::size_t offset, const char* text) {
  std::memcpy(static_cast<unsigned char*>(base) + offset, text, std::strlen(text) + 1);
}

template <typename T>
T get(const void* base, std::size_t offset) {
  T value;
  std::memcpy(&value, static_cast<const unsigned char*>(base) + offset, sizeof value);
  return value;
}

TEST(RecordsLayout, DigitalValueTableRoundTrip) {
  MEM_DIGITAL_VAL_STRU table[3] = {};
  put<int32_t>(table, 2 * 16 + 0, -7);
  put<uint8_t>(table, 2 * 16 + 4, 1);
  put<int32_t>(table, 2 * 16 + 8, 0x12345678);
  put<uint8_t>(table, 2 * 16 + 12, 1);
  EXPECT_EQ(table[2].read_value, -7);
  EXPECT_EQ(table[2].read_status, 1);
  EXPECT_EQ(table[2].write_value, 0x12345678);
  EXPECT_EQ(table[2].write_status, 1);
  EXPECT_EQ(table[1].write_status, 0);  // the neighbour slot is untouched

  table[0].write_value = VEXLOR_UNUSED_POINT;
  EXPECT_EQ(get<int32_t>(table, 8), -99999999);
}

TEST(RecordsLayout, StringValueSlotsArePacked) {
  auto table = std::make_unique<MEM_STRING_VAL_STRU[]>(2);
  put_text(table.get(), 2050 + 0, "read text");
  put<uint8_t>(table.get(), 2050 + 1024, 1);
  put_text(table.get(), 2050 + 1025, "write text");
  put<uint8_t>(table.get(), 2050 + 2049, 1);
  EXPECT_STREQ(table[1].read_value, "read text");
  EXPECT_EQ(table[1].read_status, 1);
  EXPECT_STREQ(table[1].write_value, "write text");
  EXPECT_EQ(table[1].write_status, 1);
  EXPECT_EQ(table[0].write_status, 0);
}

TEST(RecordsLayout, AlarmQueueAndRuntimeRecord) {
  MEM_ALARM_QUEUE_STRU queue = {};
  put<int32_t>(&queue, 0, 200);
  put<int32_t>(&queue, 4 + 4 * 199, 4321);
  EXPECT_EQ(queue.count, 200);
  EXPECT_EQ(queue.entries[199], 4321);

  auto rt = std::make_unique<MEM_ALARM_RT_STRU>();
  rt->status = ALM_PAUSED;
  rt->post_type = 2;
  const char append[] = "append|附加";
  std::memcpy(rt->append, append, sizeof append);
  EXPECT_EQ(get<int32_t>(rt.get(), 852), 8);
  EXPECT_EQ(get<int32_t>(rt.get(), 12), 2);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(rt.get()) + 340), "append|附加");
}

TEST(RecordsLayout, SystemBlockModuleArraysByKindAndSide) {
  auto sys = std::make_unique<MEM_SYSTEM_STRU>();
  put_text(sys.get(), 1260 + 6400 * MODULE_PM + 64 * 99, "PM100");
  put<int32_t>(sys.get(), 52460 + 400 * MODULE_TM + 4 * 3, 17);
  put_text(sys.get(), 54060 + 12800 * MODULE_BM + 128 * 5, "buffer six");
  EXPECT_STREQ(sys->module_ids[PM][99], "PM100");
  EXPECT_EQ(sys->module_alarm_bases[TM][3], 17);
  EXPECT_STREQ(sys->module_annotations[BM][5], "buffer six");
  EXPECT_STREQ(sys->module_ids[PM][98], "");
}

TEST(RecordsLayout, SchedulerItemsFromStrides) {
  // The wafer block is about 4.9 MB: keep it off the stack.
  auto wafer = std::make_unique<MEM_SCH_WAFER_STRU>();
  const std::size_t recipe = 253952 + 5 * 640000 + 24 * 25600 + 19 * 1280 + 19 * 64;
  put_text(wafer.get(), recipe, "LAST_RECIPE");
  put_text(wafer.get(), 253952 + 2 * 640000 + 3 * 25600 + 4 * 1280 + 1 * 64, "R2341");
  EXPECT_STREQ(wafer->Wafer_Cluster_PM_Recipe[5][24][19][19], "LAST_RECIPE");
  EXPECT_STREQ(wafer->Wafer_Cluster_PM_Recipe[2][3][4][1], "R2341");
  EXPECT_STREQ(wafer->Wafer_Cluster_PM_Recipe[2][3][4][0], "");

  put<double>(wafer.get(), 4695752 + 5 * 40000 + 24 * 1600 + 199 * 8, 1234.5);
  EXPECT_EQ(wafer->Wafer_Flow_Module_OutTime[5][24][199], 1234.5);
  wafer->Wafer_Flow_End_Time[5][24] = -2.25;  // the block's last bytes
  EXPECT_EQ(get<double>(wafer.get(), sizeof(MEM_SCH_WAFER_STRU) - 8), -2.25);

  MEM_SCH_CM_STRU cm = {};
  put<uint8_t>(&cm, 632 + 3 * 40 + 7 * 4 + 2, 1);
  EXPECT_EQ(cm.CM_Pick_Intlk[3][7][2], 1);
  EXPECT_EQ(cm.CM_Pick_Intlk[3][7][1], 0);

  MEM_SCH_TM_STRU tm = {};
  tm.TM_Ready_PlacePos_Wafer[9] = 0xDEADBEEFu;
  EXPECT_EQ(get<uint32_t>(&tm, 22592 + 9 * 4), 0xDEADBEEFu);
}

}  // namespace
