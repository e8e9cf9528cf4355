// Posting and answering in one routine: what a post and an answer write (run-time record, queue,
// log rows, IO engine notices), re-posts, the full queue, refused answers, forms, queue reads.
#include <cstring>
#include <regex>
#include <string>
#include <vector>

#include "alarms/alarm_fixture.h"
#include "fifo/manager_process.h"

using namespace Vexlor;
namespace d = vexlor::detail;
using vexlor::test::alarm_lines;
using vexlor::test::alarm_notices;
using vexlor::test::Texts;

namespace {

constexpr int kFillers = 204;  // L1..L204, IDs 50001.., levels 0, 1, 2, 3, 4, 0, ...

class Posting : public vexlor::test::AlarmTest {
 protected:
  void SetUp() override {
    auto& b = builder();
    b.add_function("OPERATOR");
    b.add_module("PM1", "Chamber A", MODULE_PM, 0, 41);
    valve_ = b.add_alarm(41001, "PM1_VALVE", "Valve open fail|阀门打开失败");
    b.alarm(valve_).module_point = 0;
    b.alarm(valve_).level = 1;
    std::strcpy(b.alarm(valve_).description, "Check the air supply");
    for (int i = 1; i <= kFillers; ++i) {
      const int l = b.add_alarm(50000 + i, "FILLER_" + std::to_string(i), "Filler");
      b.alarm(l).level = i % 5 == 0 ? 4 : (i % 5) - 1;
    }
    publish();
  }
  bool start(bool with_engine = true) {
    if (with_engine && !manager_.start()) return false;
    return VHub_Initial("OPERATOR");
  }
  const MEM_ALARM_QUEUE_STRU& queue() const { return *MMAP_DB()->alarm_queue; }

  int valve_ = -1;
  vexlor::test::ManagerProcess manager_;
};

TEST_F(Posting, PostTwiceThenWithAnotherAppendThenAnswer) {
  ASSERT_TRUE(start());
  d::ConsoleCapture capture;
  ASSERT_TRUE(VAlarm_Post_Here(valve_, "proc.cpp", 12, "Port 2|端口2"));
  EXPECT_EQ(VAlarm_Status(valve_), ALM_PAUSED);
  EXPECT_EQ(VAlarm_Get_Post_Type(valve_), 1);
  EXPECT_STREQ(VAlarm_Get_Clear_Time(valve_), "");
  const std::string first_post = VAlarm_Get_Post_Time(valve_);
  EXPECT_EQ(first_post.size(), 19u);
  EXPECT_EQ(queue().count, 1);
  EXPECT_EQ(queue().entries[0], valve_);
  EXPECT_EQ(alarm_lines(capture),
            (Texts{"[DBG] 报警日志:Valve open fail(Port 2)|阀门打开失败(端口2)"}));
  auto rows = log_rows();
  ASSERT_EQ(rows.size(), 1u);
  const AlarmLog_Item& post = rows[0].item;
  EXPECT_EQ(rows[0].table, VDB_New_Log_Table_Name());
  EXPECT_EQ(
      Texts({post.alarm_name, post.log_text, post.post_time, post.answer, post.clear_time,
             post.module_name, post.alarm_id, post.level, post.code_position, post.description}),
      Texts({"PM1_VALVE", "Valve open fail(Port 2)|阀门打开失败(端口2)", first_post, "", "",
             "Chamber A", "41001", "1", "OPERATOR:proc.cpp:12", "Check the air supply"}));

  // The same append (names compare ignoring letter case) or none: nothing happens.
  capture.clear();
  EXPECT_TRUE(VAlarm_Post_Here(valve_, "other.cpp", 99, "PORT 2|端口2"));
  EXPECT_TRUE(VAlarm_Post(valve_, nullptr));
  EXPECT_STREQ(VAlarm_Get_Code_Position(valve_), "OPERATOR:proc.cpp:12");
  EXPECT_EQ(queue().count, 1);
  EXPECT_EQ(log_rows().size(), 1u);
  EXPECT_TRUE(capture.console_lines().empty());

  // Another append re-posts in the same place, with a second row.
  MMAP_DB()->alarm_rt[valve_].post_time[0] = '\0';
  ASSERT_TRUE(VAlarm_Post(valve_, "Port 3"));
  EXPECT_STREQ(VAlarm_Get_Code_Position(valve_), "OPERATOR");
  EXPECT_EQ(std::strlen(VAlarm_Get_Post_Time(valve_)), 19u);
  EXPECT_EQ(queue().count, 1);
  rows = log_rows();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[1].item.log_text, "Valve open fail(Port 3)|阀门打开失败(Port 3)");
  EXPECT_EQ(rows[1].item.code_position, "OPERATOR");

  ASSERT_TRUE(VAlarm_Retry(valve_));
  EXPECT_EQ(VAlarm_Status(valve_), ALM_RETRY);
  EXPECT_EQ(VAlarm_Get_Post_Type(valve_), 0);
  EXPECT_EQ(queue().count, 0);
  EXPECT_EQ(queue().entries[0], -1);
  rows = log_rows();
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[2].item.answer, "ALM_RETRY");
  EXPECT_EQ(rows[2].item.clear_time, VAlarm_Get_Clear_Time(valve_));
  EXPECT_EQ(rows[2].item.clear_time.size(), 19u);
  EXPECT_EQ(rows[2].item.post_time, VAlarm_Get_Post_Time(valve_));
  EXPECT_EQ(rows[2].item.log_text, rows[1].item.log_text);

  // The append stays until the next post; the IO engine heard two posts and one answer.
  char append[512];
  ASSERT_TRUE(VAlarm_Get_Append(valve_, LANGUAGE_ENGLISH, append));
  EXPECT_STREQ(append, "Port 3");
  EXPECT_EQ(alarm_notices("OPERATOR", 3), (Texts{"W1 0", "W1 0", "W2 0"}));
}

TEST_F(Posting, RefusedAnswersBadAlarmsAndPostingForms) {
  ASSERT_TRUE(start());
  VSystem_Set_Log_Status(LOG_DBG, LOG_STATUS_OFF);
  d::ConsoleCapture capture;
  // Answers to an alarm that is not posted change nothing and write nothing.
  EXPECT_TRUE(VAlarm_Handle(valve_, ALM_IGNORE));
  EXPECT_TRUE(VAlarm_Clear(valve_));
  EXPECT_TRUE(VAlarm_ID_Abort(41001));
  EXPECT_EQ(VAlarm_Status(valve_), 0);  // the database's initial status
  EXPECT_TRUE(log_rows().empty());
  EXPECT_TRUE(alarm_notices("OPERATOR", 0).empty());

  // ALM_PAUSED is no answer.
  ASSERT_TRUE(VAlarm_Post(valve_, "x"));
  EXPECT_FALSE(VAlarm_Handle(valve_, ALM_PAUSED));
  EXPECT_FALSE(VAlarm_ID_Handle(41001, ALM_PAUSED));
  EXPECT_EQ(VAlarm_Status(valve_), ALM_PAUSED);
  EXPECT_EQ(queue().count, 1);
  EXPECT_EQ(log_rows().size(), 1u);
  EXPECT_TRUE(VAlarm_ID_Clear(41001));
  EXPECT_EQ(VAlarm_ID_Status(41001), ALM_CLEAR);
  EXPECT_EQ(log_rows().back().item.answer, "ALM_CLEAR");
  EXPECT_TRUE(alarm_lines(capture).empty());

  // A bad point: one line naming the function, and the failure values; an unconfigured alarm
  // ID: the lookup's line, then false, -1 or 0.
  EXPECT_FALSE(VAlarm_Post(999, "x"));
  EXPECT_EQ(VAlarm_Manage_Free_Here(-1, "f.cpp", 1, "x"), ALM_ABORT);
  EXPECT_FALSE(VAlarm_Handle(999, ALM_CLEAR));
  EXPECT_EQ(VAlarm_Status(999), ALM_ABORT);
  EXPECT_FALSE(VAlarm_ID_Post(77, "x"));
  EXPECT_EQ(VAlarm_ID_Manage(77, "x"), -1);
  EXPECT_EQ(VAlarm_ID_Get_Post_Type(77), 0);
  const std::string unknown = "ALARM_ID:77未识别. [代码行:Vexlor::VAlarm_Find_Point:N]";
  EXPECT_EQ(alarm_lines(capture),
            (Texts{"Alarm Alarm_Point = 999 , 超限.[代码行:Vexlor::VAlarm_Post_Here:N]",
                   "Alarm Alarm_Point  = ERROR_IO_POINT.[代码行:Vexlor::VAlarm_Post_Here:N]",
                   "Alarm Alarm_Point = 999 , 超限.[代码行:Vexlor::VAlarm_Handle:N]",
                   "Alarm Alarm_Point = 999 , 超限.[代码行:Vexlor::VAlarm_Status:N]", unknown,
                   unknown, unknown}));
  EXPECT_EQ(log_rows().size(), 2u);
  EXPECT_EQ(alarm_notices("OPERATOR", 2), (Texts{"W1 0", "W2 0"}));

  // The posting forms join, format and resolve IDs.
  char text[512];
  auto append_of = [&](int point) {
    EXPECT_TRUE(VAlarm_Get_Append(point, LANGUAGE_CHINESE, text));
    return std::string(text);
  };
  EXPECT_TRUE(VAlarm_Post(1, "Open fail|打开失败", "(|(", "PM1", ")|)"));
  EXPECT_EQ(append_of(1), "打开失败(PM1)");
  EXPECT_TRUE(VAlarm_Post_HereF(3, "f.cpp", 7, "n=%d", 3));
  EXPECT_EQ(append_of(3), "n=3");
  EXPECT_STREQ(VAlarm_Get_Code_Position(3), "OPERATOR:f.cpp:7");
  EXPECT_TRUE(VAlarm_ID_Post_Here(50004, "g.cpp", 8, "a", "b", "c"));
  EXPECT_EQ(append_of(4), "abc");
  EXPECT_TRUE(VAlarm_ID_PostF(50005, "%0600d", 1));  // cut to 511 characters
  EXPECT_EQ(append_of(5).size(), 511u);
  EXPECT_TRUE(VAlarm_PostF(7, nullptr));  // no format: an empty append
  EXPECT_EQ(append_of(7), "");

  // Managing routines whose exit flag is set return at once with the alarm still posted.
  VFunction_Set_Exit_Flag(true);
  EXPECT_EQ(VAlarm_Manage_Here(8, "m.cpp", 9, "z"), ALM_PAUSED);
  EXPECT_EQ(VAlarm_Get_Post_Type(8), 0);
  EXPECT_EQ(VAlarm_ID_Manage_Free(50009, "q", "r"), ALM_PAUSED);
  EXPECT_EQ(append_of(9), "qr");
  EXPECT_EQ(queue().count, 7);
  EXPECT_EQ(log_rows().size(), 9u);
}

TEST_F(Posting, WithoutTheEnginePostsFailAndManagesAbort) {
  ASSERT_TRUE(start(false));
  EXPECT_FALSE(VAlarm_Post(valve_, "x"));  // posted, but the notice was not accepted
  EXPECT_EQ(VAlarm_Status(valve_), ALM_PAUSED);
  EXPECT_EQ(queue().count, 1);
  EXPECT_EQ(VAlarm_Manage(1, "y"), ALM_ABORT);
  EXPECT_EQ(VAlarm_Get_Post_Type(1), 0);
  EXPECT_EQ(VAlarm_Status(1), ALM_PAUSED);
  EXPECT_FALSE(VAlarm_Abort(valve_));  // answered, but the notice was not accepted
  EXPECT_EQ(VAlarm_Status(valve_), ALM_ABORT);
  EXPECT_EQ(queue().count, 1);
  EXPECT_EQ(log_rows().size(), 3u);
}

TEST_F(Posting, TheTwoHundredFirstAlarmReplacesTheLastPlace) {
  ASSERT_TRUE(start());
  VSystem_Set_Log_Status(LOG_DBG, LOG_STATUS_OFF);
  for (int l = 1; l <= 200; ++l) ASSERT_TRUE(VAlarm_Post(l, "x")) << l;
  EXPECT_EQ(queue().count, 200);
  d::ConsoleCapture capture;
  ASSERT_TRUE(VAlarm_Post(201, "x"));
  EXPECT_EQ(alarm_lines(capture), (Texts{"[ERR] 报警队列已超出最大长度限定,覆盖掉最后一个报警。"}));
  EXPECT_EQ(queue().count, 200);
  EXPECT_EQ(queue().entries[198], 199);
  EXPECT_EQ(queue().entries[199], 201);
  EXPECT_EQ(log_rows().size(), 201u);

  // Reads past the queue (below the alarm count) and past the alarm count.
  capture.clear();
  int point = 5, count = 0;
  EXPECT_FALSE(VAlarm_Queue_Point(200, &point, &count));
  EXPECT_EQ(point, -1);
  EXPECT_EQ(count, 200);
  point = 5;
  EXPECT_FALSE(VAlarm_Queue_Point(kFillers + 1, &point, nullptr));
  EXPECT_EQ(point, 5);
  EXPECT_EQ(alarm_lines(capture),
            (Texts{"Alarm Alarm_Queue_Index = 205 , 超限.[代码行:Vexlor::VAlarm_Queue_Point:N]"}));
}

TEST_F(Posting, QueueReadsCountsAndChangeCheck) {
  ASSERT_TRUE(start());
  std::vector<int> known;
  bool changed = true;
  int severe = 0;
  ASSERT_TRUE(VAlarm_Queue_Check(known, &changed, &severe));
  EXPECT_FALSE(changed);
  EXPECT_EQ(severe, 0);
  for (int l : {valve_, 1, 3, 5}) ASSERT_TRUE(VAlarm_Post(l, "x"));  // levels 1, 0, 2, 4
  EXPECT_EQ(VAlarm_Queue_Count(0, 1), 2);
  EXPECT_EQ(VAlarm_Queue_Count(2, 4), 2);
  int id = 0, module = 9, count = 0;
  EXPECT_TRUE(VAlarm_Queue_ID(0, &id, &count));
  EXPECT_EQ(std::make_pair(id, count), std::make_pair(41001, 4));
  EXPECT_TRUE(VAlarm_Queue_Module(1, &module, nullptr));
  EXPECT_EQ(module, -1);
  MEM_ALARM_SP_STRU* record = nullptr;
  EXPECT_TRUE(VAlarm_Queue_Shape(2, &record, &count));
  EXPECT_EQ(record, &MMAP_DB()->alarm_sp[3]);

  ASSERT_TRUE(VAlarm_Queue_Check(known, &changed, &severe));
  EXPECT_TRUE(changed);
  EXPECT_EQ(known, (std::vector<int>{valve_, 1, 3, 5}));
  EXPECT_EQ(severe, 2);
  known = {1, valve_, 3, 5};  // same entries, another order: changed, the copy is kept
  ASSERT_TRUE(VAlarm_Queue_Check(known, &changed, nullptr));
  EXPECT_TRUE(changed);
  EXPECT_EQ(known, (std::vector<int>{1, valve_, 3, 5}));

  // Answering shifts the later entries up and frees the last one.
  ASSERT_TRUE(VAlarm_Ignore(1));
  EXPECT_EQ(std::vector<int>(queue().entries, queue().entries + 4),
            (std::vector<int>{valve_, 3, 5, -1}));
  EXPECT_EQ(queue().count, 3);
  VHub_Release();
  EXPECT_EQ(VAlarm_Queue_Count(), 0);
  EXPECT_FALSE(VAlarm_Queue_Check(known, &changed, &severe));
}

TEST_F(Posting, VexlorDbPrintsTheLog) {
  Texts lines;
  // Runs vexlor-db with `args`: its output lines (stdout, then stderr) and exit status.
  auto run_vexlor_db = [this](const Texts& args, Texts* out) {
    const auto run =
        vexlor::test::run_tool(VEXLOR_TOOLS_DIR "/vexlor-db", args, instance_.runtime_dir());
    *out = vexlor::test::text_lines(run.out + run.err);
    return run.code;
  };
  ASSERT_TRUE(start());
  EXPECT_EQ(run_vexlor_db({"alarms"}, &lines), 1);  // no database file yet
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].rfind("vexlor-db: alarm log: ", 0), 0u) << lines[0];

  ASSERT_TRUE(VAlarm_Post_Here(valve_, "proc.cpp", 12, "Port 2|端口2"));
  ASSERT_TRUE(VAlarm_Ignore(valve_));
  ASSERT_EQ(run_vexlor_db({"alarms"}, &lines), 0);
  const std::string post = VAlarm_Get_Post_Time(valve_);
  const std::string clear = VAlarm_Get_Clear_Time(valve_);
  const std::string rest =
      " | Chamber A | 1 | OPERATOR:proc.cpp:12 | Valve open fail(Port 2)|阀门打开失败(端口2) | "
      "Check the air supply";
  ASSERT_EQ(lines.size(), 2u);
  const std::regex stamp("^[0-9]{4}/[0-9]{2}/[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}\\.[0-9]{3} \\| ");
  for (const std::string& line : lines) EXPECT_TRUE(std::regex_search(line, stamp)) << line;
  EXPECT_EQ(lines[0].substr(26), "41001 | PM1_VALVE | POST | " + post + " | -" + rest);
  EXPECT_EQ(lines[1].substr(26), "41001 | PM1_VALVE | ALM_IGNORE | " + post + " | " + clear + rest);

  EXPECT_EQ(run_vexlor_db({"alarms", "--since", "2000-01-01"}, &lines), 0);
  EXPECT_EQ(lines.size(), 2u);
  EXPECT_EQ(run_vexlor_db({"alarms", "--since", "2999/01/01 00:00:00"}, &lines), 0);
  EXPECT_TRUE(lines.empty());
}

}  // namespace
