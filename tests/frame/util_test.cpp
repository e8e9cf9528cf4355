// VStr, VPrint and VTime: the text rules every lookup relies on, the console sink, log files.
#include "vexlor/util.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "frame/charset.h"
#include "frame/console_sink.h"
#include "frame/paths.h"
#include "os/named_mutex.h"

using namespace Vexlor;
namespace d = vexlor::detail;
namespace fs = std::filesystem;

namespace {

std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::vector<std::string> read_lines(const fs::path& path) {
  std::vector<std::string> lines;
  std::istringstream in(read_file(path));
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

void log_line(const char* source, bool to_console, bool to_file, const char* path,
              const char* format, ...) {
  va_list args;
  va_start(args, format);
  VPrint_Log(source, format, args, 79, "[ERR]", to_console, to_file, path);
  va_end(args);
}

// A private drive root for log files, removed afterwards.
class DriveRoot : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/vexlor-util-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root_ = pattern;
    setenv("VEXLOR_DRIVE_ROOT", root_.c_str(), 1);
  }
  void TearDown() override {
    unsetenv("VEXLOR_DRIVE_ROOT");
    std::error_code ec;
    fs::remove_all(root_, ec);
  }
  fs::path root_;
};

const std::regex kFileStamp(R"(\d{4}/\d{2}/\d{2} \d{2}:\d{2}:\d{2}\.\d{3} )");

}  // namespace

TEST(VStrCompare, CaseRulesAndChineseBytes) {
  EXPECT_TRUE(VStr_Compare("PM1.Valve", "PM1.Valve"));
  EXPECT_FALSE(VStr_Compare("PM1.Valve", "pm1.valve"));
  EXPECT_TRUE(VStr_Compare(nullptr, ""));
  EXPECT_FALSE(VStr_Compare(nullptr, "a"));
  EXPECT_TRUE(VStr_Compare_L("PM1.Valve_Open", "pm1.VALVE_open"));
  EXPECT_FALSE(VStr_Compare_L("PM1.Valve", "PM1.Valve2"));
  EXPECT_TRUE(VStr_Compare_L(nullptr, nullptr));
  EXPECT_FALSE(VStr_Compare_L("\xC4", "\xE4"));  // Latin-1 case pairs are not letters here
  EXPECT_TRUE(VStr_Compare_L("阀门A", "阀门a"));
  EXPECT_FALSE(VStr_Compare_L("阀门", "阀闩"));
  // GBK: the second byte of a double-byte character may be an ASCII letter or '|'.
  EXPECT_FALSE(d::equal_text("\xB0\x41", "\xB0\x61", true, d::Charset::kGbk));
  EXPECT_TRUE(d::equal_text("\xB0\x41x", "\xB0\x41X", true, d::Charset::kGbk));
  EXPECT_EQ(d::find_char("\xB0|x|", '|', d::Charset::kGbk), 3u);
  EXPECT_EQ(d::find_text("\xB0\x41", "A", false, d::Charset::kGbk), std::string_view::npos);
  d::Bilingual gbk = d::split_bilingual("Open\xB4|zh|x", d::Charset::kGbk);
  EXPECT_EQ(gbk.english, "Open\xB4|zh");
  EXPECT_EQ(gbk.chinese, "x");
  std::string upper = "a\xB0\x61z";
  d::upper_ascii(upper, d::Charset::kGbk);
  EXPECT_EQ(upper, "A\xB0\x61Z");
  EXPECT_EQ(d::cut_length("ab\xB0\x41", 3, d::Charset::kGbk), 2u);
  EXPECT_EQ(d::cut_length("a阀", 3, d::Charset::kUtf8), 1u);

  EXPECT_TRUE(VStr_Find_SubString("CM1.Carrier 8Inch", "Inch"));
  EXPECT_FALSE(VStr_Find_SubString("CM1.Carrier 8Inch", "INCH"));
  EXPECT_TRUE(VStr_Find_SubString_L("12 A/1 switch", "SWITCH"));
  EXPECT_FALSE(VStr_Find_SubString_L("12 A/1 SWITC", "SWITCH"));
  EXPECT_TRUE(VStr_Find_SubString("abc", ""));
  EXPECT_FALSE(VStr_Find_SubString(nullptr, "a"));
}

TEST(VStrSeperate, WalksListsCutsAtSizeAndAcceptsNulls) {
  char list[64] = "1&22&&333";
  char item[64];
  std::vector<std::string> items;
  while (list[0] != '\0') {
    VStr_Seperate_Char(list, '&', item, list, sizeof list);
    items.push_back(item);
  }
  EXPECT_EQ(items, (std::vector<std::string>{"1", "22", "", "333"}));

  char first[8], rest[8];
  EXPECT_FALSE(VStr_Seperate_Char("MODULE", '|', first, rest, 8));
  EXPECT_STREQ(first, "MODULE");
  EXPECT_STREQ(rest, "");

  char guard[12];
  std::memset(guard, 'Z', sizeof guard);
  EXPECT_TRUE(VStr_Seperate_Char("abcdef|xyzuvw", '|', guard, rest, 4));
  EXPECT_STREQ(guard, "abc");
  EXPECT_EQ(std::string(guard + 4, 8), "ZZZZZZZZ");
  EXPECT_STREQ(rest, "xyz");

  EXPECT_FALSE(VStr_Seperate_Char(nullptr, '|', first, rest, 8));
  EXPECT_STREQ(first, "");
  EXPECT_TRUE(VStr_Seperate_Char("a|b", '|', nullptr, rest, 8));
  EXPECT_STREQ(rest, "b");
  std::strcpy(first, "keep");
  VStr_Seperate_Char("a|b", '|', first, nullptr, 0);
  EXPECT_STREQ(first, "keep");

  char a[16], b[16], c[16], dd[16], e[16];
  EXPECT_EQ(VStr_Seperate_Char("A/1/2/3/4/5/6", '/', a, b, c, dd, e, 16), 4);
  EXPECT_EQ(std::string(a) + b + c + dd + "," + e, "A123,4/5/6");
  EXPECT_EQ(VStr_Seperate_Char("A/1", '/', a, b, c, dd, e, 16), 1);
  EXPECT_EQ(std::string(a) + "," + b + "," + c + "," + dd + "," + e, "A,1,,,");

  std::vector<std::string> parts;
  EXPECT_EQ(VStr_Seperate_Char(std::string("M1|H1$3&4$2,H2"), '|', parts), 2u);
  EXPECT_EQ(parts, (std::vector<std::string>{"M1", "H1$3&4$2,H2"}));
  EXPECT_EQ(VStr_Seperate_Char(std::string("a||b|"), '|', parts), 4u);
  EXPECT_EQ(parts, (std::vector<std::string>{"a", "", "b", ""}));
  EXPECT_EQ(VStr_Seperate_Char(std::string(), '|', parts), 1u);
  std::string s_first, s_rest;
  EXPECT_TRUE(VStr_Seperate_Char(std::string("H1$3"), '$', s_first, s_rest));
  EXPECT_EQ(s_first + "," + s_rest, "H1,3");

  // The field separator: blanks, a run counting as one.
  char run[128] = "CMD,a,b 12 A/1/2/3 SWITCH";
  char head[128];
  EXPECT_TRUE(VStr_Seperate(run, head, run, sizeof run));
  EXPECT_STREQ(head, "CMD,a,b");
  EXPECT_STREQ(run, "12 A/1/2/3 SWITCH");
  char w1[16], w2[16], w3[16];
  EXPECT_EQ(VStr_Seperate(run, w1, w2, w3, 16), 2);
  EXPECT_EQ(std::string(w1) + "," + w2 + "," + w3, "12,A/1/2/3,SWITCH");
  EXPECT_EQ(VStr_Seperate("  CMD \t  12  ", w1, w2, w3, 16), 1);
  EXPECT_EQ(std::string(w1) + "," + w2 + "," + w3, "CMD,12,");
  EXPECT_FALSE(VStr_Seperate("CMD", w1, w2, 16));
  EXPECT_EQ(std::string(w1) + "," + w2, "CMD,");
  EXPECT_FALSE(VStr_Seperate(nullptr, nullptr, w2, 16));
  EXPECT_STREQ(w2, "");
}

TEST(VStrNumbers, IntegerAndDoubleEdgeCases) {
  for (const char* yes : {"12", "-0", "+7", "2147483647", "-2147483648", "007"}) {
    EXPECT_EQ(VStr_Int_Check(yes), 1) << yes;
  }
  for (const char* no :
       {"12a", "", " 5", "5 ", "1e3", "99999999999", "2147483648", "-", "+-5", "1.0", "０"}) {
    EXPECT_EQ(VStr_Int_Check(no), 0) << no;
    int value = 77;
    EXPECT_FALSE(VStr_To_Int(no, &value)) << no;
    EXPECT_EQ(value, 77) << no;
  }
  EXPECT_EQ(VStr_Int_Check(nullptr), 0);
  int value = 5;
  EXPECT_TRUE(VStr_To_Int("-0", &value));
  EXPECT_EQ(value, 0);
  EXPECT_TRUE(VStr_To_Int("-2147483648", &value));
  EXPECT_EQ(value, -2147483647 - 1);
  EXPECT_TRUE(VStr_To_Int("+42", nullptr));

  double x = 0;
  EXPECT_TRUE(VStr_To_Double("1e3", &x));
  EXPECT_EQ(x, 1000.0);
  EXPECT_TRUE(VStr_To_Double("-2.5E-2", &x));
  EXPECT_EQ(x, -0.025);
  EXPECT_TRUE(VStr_To_Double(".5", &x));
  EXPECT_EQ(x, 0.5);
  EXPECT_TRUE(VStr_To_Double("+5.", &x));
  EXPECT_EQ(x, 5.0);
  EXPECT_TRUE(VStr_To_Double("99999999999", &x));
  EXPECT_EQ(x, 99999999999.0);
  EXPECT_TRUE(VStr_To_Double("-0", &x));
  EXPECT_TRUE(x == 0.0 && std::signbit(x));
  for (const char* no : {"12a", "", " 5", "1e", ".", "-", "inf", "nan", "0x10", "1e999", "1,5"}) {
    x = 3.0;
    EXPECT_FALSE(VStr_To_Double(no, &x)) << no;
    EXPECT_EQ(x, 3.0) << no;
  }
  EXPECT_FALSE(VStr_To_Double(nullptr, &x));
}

TEST(VStrEdit, ReplaceEveryOccurrenceAndUpper) {
  std::string name = "PM{1}.Valve{1}";
  EXPECT_EQ(VStr_Replace(name, "{1}", "12"), 2);
  EXPECT_EQ(name, "PM12.Valve12");
  std::string grow = "aXa";
  EXPECT_EQ(VStr_Replace(grow, std::string("a"), std::string("aa")), 2);  // no rescan
  EXPECT_EQ(grow, "aaXaa");
  std::string same = "$1.$10";
  EXPECT_EQ(VStr_Replace(same, "", "x"), 0);
  EXPECT_EQ(VStr_Replace(same, nullptr, "x"), 0);
  EXPECT_EQ(VStr_Replace(same, "$1", nullptr), 2);
  EXPECT_EQ(same, ".0");
  std::string size = "8inch 阀 wafer";
  VStr_Upper(size);
  EXPECT_EQ(size, "8INCH 阀 WAFER");
}

TEST(VStrBuffers, AllocateCopyAndBoundedCopies) {
  char* p = nullptr;
  ASSERT_TRUE(VStr_Prepare_Mem(&p, 10));
  EXPECT_EQ(std::string(p, 64), std::string(64, '\0'));  // at least 64 bytes, zero-filled
  std::string long_text(100, 'q');
  ASSERT_TRUE(VStr_Copy_Mem(&p, long_text.c_str()));
  EXPECT_EQ(std::string(p), long_text);
  ASSERT_TRUE(VStr_Copy_Mem(&p, p + 90));  // a text inside the buffer itself
  EXPECT_STREQ(p, "qqqqqqqqqq");
  ASSERT_TRUE(VStr_Copy_Mem(&p, nullptr));
  EXPECT_STREQ(p, "");
  std::free(p);
  EXPECT_FALSE(VStr_Prepare_Mem(nullptr, 64));
  EXPECT_FALSE(VStr_Copy_Mem(nullptr, "x"));

  char guard[8];
  std::memset(guard, 'Z', sizeof guard);
  EXPECT_FALSE(VStr_Copy_Stack(guard, "abcdef", 4));
  EXPECT_EQ(std::string(guard, 8), std::string("abc\0ZZZZ", 8));
  EXPECT_TRUE(VStr_Copy_Stack(guard, nullptr, 4));
  EXPECT_STREQ(guard, "");
  EXPECT_FALSE(VStr_Copy_Stack(nullptr, "x", 4));
  std::memset(guard, 'Z', sizeof guard);
  VStr_Set_Mem(guard, 0, 3);
  EXPECT_EQ(std::string(guard, 8), std::string("\0\0\0ZZZZZ", 8));
  VStr_Set_Mem(nullptr, 0, 3);
  VStr_Set_Mem(guard, 'x', -1);
  EXPECT_EQ(guard[0], '\0');

  const char* empty = VStr_Get_Mem_Str(nullptr);
  EXPECT_STREQ(empty, "");
  EXPECT_EQ(empty, VStr_Get_Mem_Str(nullptr));
  const char* text = "x";
  EXPECT_EQ(VStr_Get_Mem_Str(text), text);
}

TEST(VStrAppendText, JoinsPartByPartAndCutsAt511) {
  char buffer[520];
  std::strcpy(buffer, "junk");
  VStr_Strcat_Alarm_Append_Text(buffer, "Open fail|打开失败", "PM1|腔1");
  EXPECT_STREQ(buffer, "Open failPM1|打开失败腔1");
  VStr_Strcat_Alarm_Append_Text(buffer, "Valve open timeout|阀门打开超时", "(|(", "PM1", ")|)");
  EXPECT_STREQ(buffer, "Valve open timeout(PM1)|阀门打开超时(PM1)");
  VStr_Strcat_Alarm_Append_Text(buffer, "A|", "B|b", "C");
  EXPECT_STREQ(buffer, "ABC|AbC");
  VStr_Strcat_Alarm_Append_Text(buffer, "PM1", " pressure", " high");  // no '|' anywhere
  EXPECT_STREQ(buffer, "PM1 pressure high");
  VStr_Strcat_Alarm_Append_Text(buffer, nullptr, "x|y", nullptr, "");
  EXPECT_STREQ(buffer, "x|y");
  VStr_Strcat_Alarm_Append_Text(nullptr, "a", "b");

  std::memset(buffer, 'Z', sizeof buffer);
  std::string over = std::string(600, 'E') + "|中文";
  VStr_Strcat_Alarm_Append_Text(buffer, over.c_str(), "tail");
  EXPECT_EQ(std::string(buffer), std::string(511, 'E'));
  EXPECT_EQ(std::string(buffer + 512, 8), "ZZZZZZZZ");

  std::string english(301, 'a');
  std::string chinese;
  for (int i = 0; i < 100; ++i) chinese += "中";
  VStr_Strcat_Alarm_Append_Text(buffer, (english + "|" + chinese).c_str(), "");
  std::string cut = buffer;
  ASSERT_EQ(cut.size(), 509u);  // 302 + 69 whole characters of 3 bytes
  EXPECT_EQ(cut.substr(302), chinese.substr(0, 207));
}

TEST(VStrClock, DateTimeAndTimeTextsAndSystemError) {
  EXPECT_TRUE(
      std::regex_match(VStr_Get_DateTime2(), std::regex(R"(\d{4}/\d{2}/\d{2} \d{2}:\d{2}:\d{2})")));
  EXPECT_TRUE(std::regex_match(VStr_Get_Time(), std::regex(R"(\d{2}:\d{2}:\d{2}\.\d{3})")));
  std::string instance = "util_test_" + std::to_string(getpid());
  setenv("VEXLOR_INSTANCE", instance.c_str(), 1);
  EXPECT_EQ(vexlor::os::mutex_open("no_such_mutex"), nullptr);
  EXPECT_STREQ(VStr_Get_SysErrMsg(), "The system cannot find the file specified. (2)");
  unsetenv("VEXLOR_INSTANCE");
}

TEST(VTime, ClockAdvancesAndBadSleepsReturn) {
  double t0 = VTime_Get();
  VTime_MSleep(20);
  double t1 = VTime_Get();
  EXPECT_GE(t1 - t0, 0.019);  // a sleep never ends early
  VTime_Sleep(0.01);
  EXPECT_GE(VTime_Get() - t1, 0.009);
  VTime_MSleep(-5);
  VTime_Sleep(-1.0);
  VTime_Sleep(std::nan(""));
  VTime_Sleep(INFINITY);
  EXPECT_GE(VTime_Get(), t1);
}

TEST(VPrintConsole, LinesCarrySourceTextAndColour) {
  d::ConsoleCapture capture;
  VPrint("PM1_PROC", "step %d of %s", 3, "purge");
  VPrint_Red("PM1_PROC", "Digital IO_Point  = ERROR_IO_POINT.[代码行:%s:%d]", "Vexlor::VIO_Find",
             42);
  VPrint_Yellow(nullptr, "done\r\n");
  VPrint("S", nullptr);
  VPrint("S", "%s", std::string(5000, 'w').c_str());
  std::vector<d::ConsoleLine> lines = capture.console_lines();
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[0].source, "PM1_PROC");
  EXPECT_EQ(lines[0].text, "step 3 of purge");
  EXPECT_EQ(lines[0].colour, d::LineColour::kPlain);
  EXPECT_EQ(lines[1].text, "Digital IO_Point  = ERROR_IO_POINT.[代码行:Vexlor::VIO_Find:42]");
  EXPECT_EQ(lines[1].colour, d::LineColour::kRed);
  EXPECT_EQ(lines[2].source, "");
  EXPECT_EQ(lines[2].text, "done");
  EXPECT_EQ(lines[2].colour, d::LineColour::kYellow);
  EXPECT_EQ(lines[3].text, "");
  EXPECT_EQ(lines[4].text, std::string(4095, 'w'));
  EXPECT_TRUE(capture.file_lines().empty());
}

TEST(VPrintConsole, TerminalAndFileLayouts) {
  vexlor::os::LocalTime now{2025, 3, 5, 3, 9, 8, 7, 6};
  d::ConsoleLine line;
  line.source = "PM1";
  line.text = "hello";
  EXPECT_EQ(d::render_console_line(line, now, false), "09:08:07.006 [PM1] hello\n");
  EXPECT_EQ(d::render_console_line(line, now, true), "09:08:07.006 [PM1] hello\n");
  line.colour = d::LineColour::kRed;
  EXPECT_EQ(d::render_console_line(line, now, true), "\x1b[31m09:08:07.006 [PM1] hello\x1b[0m\n");
  line.colour = d::LineColour::kYellow;
  EXPECT_EQ(d::render_console_line(line, now, true), "\x1b[33m09:08:07.006 [PM1] hello\x1b[0m\n");
  line.colour = d::LineColour::kAttribute;
  line.attribute = 224;
  line.tag = "[ALM]";
  EXPECT_EQ(d::render_console_line(line, now, true),
            "\x1b[30;103m09:08:07.006 [ALM] [PM1] hello\x1b[0m\n");
  EXPECT_EQ(d::render_log_file_line(line, now), "2025/03/05 09:08:07.006 [ALM] [PM1] hello\n");
  line.source.clear();
  EXPECT_EQ(d::render_log_file_line(line, now), "2025/03/05 09:08:07.006 [ALM] hello\n");
  // The category colours of the log and the GUI error colour.
  EXPECT_EQ(d::ansi_for_attribute(79), "97;41");
  EXPECT_EQ(d::ansi_for_attribute(31), "97;44");
  EXPECT_EQ(d::ansi_for_attribute(223), "97;105");
  EXPECT_EQ(d::ansi_for_attribute(176), "30;106");
  EXPECT_EQ(d::ansi_for_attribute(112), "30;47");
  EXPECT_EQ(d::ansi_for_attribute(12), "91");
}

TEST_F(DriveRoot, MapsWindowsPaths) {
  EXPECT_EQ(d::map_system_path("Z:\\History\\2025\\03\\05/system.log"),
            root_.string() + "/Z/History/2025/03/05/system.log");
  EXPECT_EQ(d::map_system_path("d:log.txt"), root_.string() + "/D/log.txt");
  EXPECT_EQ(d::map_system_path("/var/log\\x.log"), "/var/log/x.log");
  EXPECT_EQ(d::map_system_path("rel\\x.log"), "rel/x.log");
  EXPECT_EQ(d::map_system_path(""), "");
  EXPECT_EQ(d::map_system_path(nullptr), "");
  EXPECT_EQ(d::map_system_path(("/" + std::string(258, 'p')).c_str()), "/" + std::string(258, 'p'));
  EXPECT_EQ(d::map_system_path(("/" + std::string(259, 'p')).c_str()), "");

  std::string home = getenv("HOME") ? getenv("HOME") : "";
  unsetenv("VEXLOR_DRIVE_ROOT");
  setenv("HOME", "/home/op", 1);
  EXPECT_EQ(d::drive_root(), "/home/op/.vexlor/drives");
  unsetenv("HOME");
  EXPECT_EQ(d::map_system_path("C:\\a"), "/tmp/vexlor-drives/C/a");
  if (!home.empty()) setenv("HOME", home.c_str(), 1);
}

TEST_F(DriveRoot, LogSwitchesSelectConsoleAndFile) {
  const char* path = "Z:\\History\\2025\\03\\05/system.log";
  fs::path file = root_ / "Z/History/2025/03/05/system.log";
  d::ConsoleCapture capture;

  log_line("PM1", true, false, path, "valve %d failed", 1);  // console only
  EXPECT_FALSE(fs::exists(file));
  ASSERT_EQ(capture.console_lines().size(), 1u);
  d::ConsoleLine console = capture.console_lines()[0];
  EXPECT_EQ(console.colour, d::LineColour::kAttribute);
  EXPECT_EQ(console.attribute, 79);
  EXPECT_EQ(console.tag, "[ERR]");
  EXPECT_EQ(console.source, "PM1");
  EXPECT_EQ(console.text, "valve 1 failed");

  log_line("PM1", false, true, path, "valve %d failed", 2);  // file only
  EXPECT_EQ(capture.console_lines().size(), 1u);
  log_line("PM1", true, true, path, "valve %d failed", 3);  // both
  EXPECT_EQ(capture.console_lines().size(), 2u);
  log_line("PM1", false, false, path, "valve %d failed", 4);  // neither
  EXPECT_EQ(capture.console_lines().size(), 2u);

  std::vector<std::string> lines = read_lines(file);
  ASSERT_EQ(lines.size(), 2u);
  for (int i = 0; i < 2; ++i) {
    std::smatch m;
    ASSERT_TRUE(std::regex_search(lines[i], m, kFileStamp)) << lines[i];
    EXPECT_EQ(m.position(0), 0);
    EXPECT_EQ(m.suffix().str(), "[ERR] [PM1] valve " + std::to_string(i + 2) + " failed");
  }
  std::vector<d::ConsoleLine> file_lines = capture.file_lines();
  ASSERT_EQ(file_lines.size(), 2u);
  EXPECT_EQ(file_lines[0].path, file.string());

  // A folder in place of the file, and an over-long path: skipped without a trace.
  log_line("PM1", false, true, "Z:\\History", "lost");
  log_line("PM1", false, true, ("Z:\\" + std::string(300, 'p')).c_str(), "lost");
  EXPECT_EQ(read_lines(file).size(), 2u);
}

TEST_F(DriveRoot, ConcurrentLinesNeverInterleave) {
  constexpr int kThreads = 4;
  constexpr int kLines = 200;
  const std::string payload(300, 'x');
  const std::string log = "Z:\\History/threads.log";
  fs::path out_file = root_ / "console.txt";

  // Terminal lines: standard output goes to a file while the threads print.
  std::fflush(stdout);
  int saved = dup(STDOUT_FILENO);
  int fd = open(out_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  ASSERT_GE(fd, 0);
  dup2(fd, STDOUT_FILENO);
  {
    d::ConsoleCapture capture(/*echo=*/true);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([&, t] {
        for (int i = 0; i < kLines; ++i) {
          log_line(("T" + std::to_string(t)).c_str(), true, true, log.c_str(), "line %d-%d %s", t,
                   i, payload.c_str());
        }
      });
    }
    for (std::thread& th : threads) th.join();
  }
  std::fflush(stdout);
  dup2(saved, STDOUT_FILENO);
  close(saved);
  close(fd);

  // Child processes append to the same log file at the same time.
  std::vector<pid_t> children;
  for (int t = kThreads; t < kThreads + 3; ++t) {
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      for (int i = 0; i < kLines; ++i) {
        log_line(("T" + std::to_string(t)).c_str(), false, true, log.c_str(), "line %d-%d %s", t, i,
                 payload.c_str());
      }
      _exit(0);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }

  const std::regex console_line(
      R"(\d{2}:\d{2}:\d{2}\.\d{3} \[ERR\] \[T(\d)\] line (\d)-(\d+) x{300})");
  const std::regex file_line(
      R"(\d{4}/\d{2}/\d{2} \d{2}:\d{2}:\d{2}\.\d{3} \[ERR\] \[T(\d)\] line (\d)-(\d+) x{300})");
  auto check = [&](const fs::path& path, const std::regex& pattern, int writers) {
    std::vector<std::string> lines = read_lines(path);
    EXPECT_EQ(lines.size(), static_cast<std::size_t>(writers * kLines));
    std::set<std::pair<int, int>> seen;
    for (const std::string& line : lines) {
      std::smatch m;
      ASSERT_TRUE(std::regex_match(line, m, pattern)) << line.substr(0, 80);
      ASSERT_EQ(m[1].str(), m[2].str());
      seen.insert({std::stoi(m[2].str()), std::stoi(m[3].str())});
    }
    EXPECT_EQ(seen.size(), static_cast<std::size_t>(writers * kLines));
  };
  check(out_file, console_line, kThreads);
  check(root_ / "Z/History/threads.log", file_line, kThreads + 3);
}
