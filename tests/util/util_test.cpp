// VStr, VPrint and VTime: the text rules every lookup relies on, the console sink, log files.
#include "vexlor/util.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "os/named_mutex.h"
#include "support/instance.h"
#include "util/charset.h"
#include "util/console_sink.h"
#include "util/paths.h"

using namespace Vexlor;
namespace d = vexlor::detail;
namespace fs = std::filesystem;
using vexlor::test::PrivateInstance;

namespace {

std::vector<std::string> read_lines(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// A captured line as "colour attribute tag|source|text".
std::string describe(const d::ConsoleLine& l) {
  return std::to_string(static_cast<int>(l.colour)) + " " + std::to_string(l.attribute) + " " +
         l.tag + "|" + l.source + "|" + l.text;
}

void log_line(const char* source, bool to_console, bool to_file, const char* path,
              const char* format, ...) {
  va_list args;
  va_start(args, format);
  VPrint_Log(source, format, args, 79, "[ERR]", to_console, to_file, path);
  va_end(args);
}

const std::string kFileStamp(R"(\d{4}/\d{2}/\d{2} \d{2}:\d{2}:\d{2}\.\d{3} )");

// Log files land under the private instance's drive root.
class VPrintLog : public ::testing::Test {
 protected:
  fs::path root() const { return instance_.drive_root(); }
  PrivateInstance instance_{"util"};
};

}  // namespace

TEST(VStrCompare, CaseRulesAndChineseBytes) {
  // "10": equal for VStr_Compare, not for VStr_Compare_L; likewise for VStr_Find_SubString(_L).
  auto cmp = [](const char* a, const char* b) {
    return std::string{"01"[VStr_Compare(a, b)], "01"[VStr_Compare_L(a, b)], ' '};
  };
  auto find = [](const char* text, const char* part) {
    return std::string{"01"[VStr_Find_SubString(text, part)],
                       "01"[VStr_Find_SubString_L(text, part)], ' '};
  };
  EXPECT_EQ(cmp("PM1.Valve", "PM1.Valve") + cmp("PM1.Valve", "pm1.valve") +
                cmp("PM1.Valve", "PM1.Valve2") + cmp(nullptr, "") + cmp(nullptr, "a") +
                cmp(nullptr, nullptr) + cmp("\xC4", "\xE4") /* Latin-1: not letters here */ +
                cmp("阀门A", "阀门a") + cmp("阀门", "阀闩"),
            "11 01 00 11 00 11 00 01 00 ");
  EXPECT_EQ(find("CM1.Carrier 8Inch", "Inch") + find("CM1.Carrier 8Inch", "INCH") +
                find("12 A/1 switch", "SWITCH") + find("12 A/1 SWITC", "SWITCH") + find("abc", "") +
                find(nullptr, "a"),
            "11 01 01 00 11 00 ");
  // GBK: the second byte of a double-byte character may be an ASCII letter or '|'.
  EXPECT_FALSE(d::equal_text("\xB0\x41", "\xB0\x61", true, d::Charset::kGbk));
  EXPECT_TRUE(d::equal_text("\xB0\x41x", "\xB0\x41X", true, d::Charset::kGbk));
  EXPECT_EQ(d::find_char("\xB0|x|", '|', d::Charset::kGbk), 3u);
  EXPECT_EQ(d::find_text("\xB0\x41", "A", false, d::Charset::kGbk), std::string_view::npos);
  std::string upper = "a\xB0\x61z";
  d::upper_ascii(upper, d::Charset::kGbk);
  EXPECT_EQ(upper, "A\xB0\x61Z");
  EXPECT_EQ(d::cut_length("a阀", 3, d::Charset::kUtf8), 1u);
}

TEST(VStrSeperate, WalksListsCutsAtSizeAndAcceptsNulls) {
  // The rest goes back into the list's own buffer.
  char list[64] = "1&22&&333";
  char item[64];
  std::vector<std::string> items;
  while (list[0] != '\0') {
    VStr_Seperate_Char(list, '&', item, list, sizeof list);
    items.push_back(item);
  }
  EXPECT_EQ(items, (std::vector<std::string>{"1", "22", "", "333"}));

  char first[8], rest[8], guard[12];
  EXPECT_FALSE(VStr_Seperate_Char("MODULE", '|', first, rest, 8));
  EXPECT_EQ(std::string(first) + "," + rest, "MODULE,");
  std::memset(guard, 'Z', sizeof guard);
  EXPECT_TRUE(VStr_Seperate_Char("abcdef|xyzuvw", '|', guard, rest, 4));
  EXPECT_EQ(std::string(guard, 12), std::string("abc\0ZZZZZZZZ", 12));
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
  char head[128], w1[16], w2[16], w3[16];
  EXPECT_TRUE(VStr_Seperate(run, head, run, sizeof run));
  EXPECT_EQ(std::string(head) + "," + run, "CMD,a,b,12 A/1/2/3 SWITCH");
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
  // Accepted texts read as the standard library reads them.
  for (const char* yes : {"12", "-0", "+7", "2147483647", "-2147483648", "007"}) {
    int value = 77;
    EXPECT_EQ(VStr_Int_Check(yes), 1) << yes;
    EXPECT_TRUE(VStr_To_Int(yes, &value) && value == std::stoi(yes)) << yes << " " << value;
  }
  for (const char* no :
       {"12a", "", " 5", "5 ", "1e3", "99999999999", "2147483648", "-", "+-5", "1.0", "０"}) {
    int value = 77;
    EXPECT_EQ(VStr_Int_Check(no), 0) << no;
    EXPECT_FALSE(VStr_To_Int(no, &value)) << no;
    EXPECT_EQ(value, 77) << no;
  }
  EXPECT_EQ(VStr_Int_Check(nullptr), 0);
  EXPECT_TRUE(VStr_To_Int("+42", nullptr));

  double x = 0;
  for (const char* text : {"1e3", "-2.5E-2", ".5", "+5.", "99999999999"})
    EXPECT_TRUE(VStr_To_Double(text, &x) && x == std::stod(text)) << text << " " << x;
  EXPECT_TRUE(VStr_To_Double("-0", &x));
  EXPECT_TRUE(x == 0.0 && std::signbit(x));
  for (const char* no : {"12a", "", " 5", "1e", ".", "-", "inf", "nan", "0x10", "1e999", "1,5"}) {
    x = 3.0;
    EXPECT_FALSE(VStr_To_Double(no, &x)) << no;
    EXPECT_EQ(x, 3.0) << no;
  }
  EXPECT_FALSE(VStr_To_Double(nullptr, &x));
}

TEST(VStrEdit, ReplaceUpperAllocateCopyAndBoundedCopies) {
  std::string name = "PM{1}.Valve{1}", grow = "aXa", same = "$1.$10", size = "8inch 阀 wafer";
  EXPECT_EQ(VStr_Replace(name, "{1}", "12"), 2);
  EXPECT_EQ(VStr_Replace(grow, std::string("a"), std::string("aa")), 2);  // no rescan
  EXPECT_EQ(VStr_Replace(same, "", "x") + VStr_Replace(same, nullptr, "x"), 0);
  EXPECT_EQ(VStr_Replace(same, "$1", nullptr), 2);
  VStr_Upper(size);
  EXPECT_EQ(name + "," + grow + "," + same + "," + size, "PM12.Valve12,aaXaa,.0,8INCH 阀 WAFER");

  // Buffers: allocated, copied, bounded copies.
  char* p = nullptr;
  ASSERT_TRUE(VStr_Prepare_Mem(&p, 10));
  EXPECT_EQ(std::string(p, 64), std::string(64, '\0'));  // at least 64 bytes, zero-filled
  const std::string long_text(100, 'q');
  ASSERT_TRUE(VStr_Copy_Mem(&p, long_text.c_str()));
  EXPECT_EQ(std::string(p), long_text);
  ASSERT_TRUE(VStr_Copy_Mem(&p, p + 90));  // a text inside the buffer itself
  EXPECT_STREQ(p, "qqqqqqqqqq");
  ASSERT_TRUE(VStr_Copy_Mem(&p, nullptr));
  EXPECT_STREQ(p, "");
  std::free(p);
  EXPECT_FALSE(VStr_Prepare_Mem(nullptr, 64) || VStr_Copy_Mem(nullptr, "x"));

  char guard[8];
  std::memset(guard, 'Z', sizeof guard);
  EXPECT_FALSE(VStr_Copy_Stack(guard, "abcdef", 4));
  EXPECT_EQ(std::string(guard, 8), std::string("abc\0ZZZZ", 8));
  EXPECT_TRUE(VStr_Copy_Stack(guard, nullptr, 4));
  EXPECT_STREQ(guard, "");
  EXPECT_FALSE(VStr_Copy_Stack(nullptr, "x", 4));
  std::memset(guard, 'Z', sizeof guard);
  VStr_Set_Mem(guard, 0, 3);
  VStr_Set_Mem(nullptr, 0, 3);
  VStr_Set_Mem(guard, 'x', -1);
  EXPECT_EQ(std::string(guard, 8), std::string("\0\0\0ZZZZZ", 8));
  const char* text = "x";
  EXPECT_EQ(VStr_Get_Mem_Str(text), text);
  EXPECT_STREQ(VStr_Get_Mem_Str(nullptr), "");
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
  VStr_Strcat_Alarm_Append_Text(buffer, (std::string(600, 'E') + "|中文").c_str(), "tail");
  EXPECT_EQ(std::string(buffer), std::string(511, 'E'));
  EXPECT_EQ(std::string(buffer + 512, 8), "ZZZZZZZZ");
  std::string chinese;
  for (int i = 0; i < 100; ++i) chinese += "中";
  VStr_Strcat_Alarm_Append_Text(buffer, (std::string(301, 'a') + "|" + chinese).c_str(), "");
  std::string cut = buffer;
  ASSERT_EQ(cut.size(), 509u);  // 302 + 69 whole characters of 3 bytes
  EXPECT_EQ(cut.substr(302), chinese.substr(0, 207));
}

TEST(VStrClock, TimeTextsSystemErrorAndBadSleeps) {
  EXPECT_TRUE(
      std::regex_match(VStr_Get_DateTime2() + std::string(".000 "), std::regex(kFileStamp)));
  EXPECT_TRUE(std::regex_match(VStr_Get_Time(), std::regex(R"(\d{2}:\d{2}:\d{2}\.\d{3})")));
  {
    PrivateInstance instance("util");
    EXPECT_EQ(vexlor::os::mutex_open("no_such_mutex"), nullptr);
    EXPECT_STREQ(VStr_Get_SysErrMsg(), "The system cannot find the file specified. (2)");
  }
  // Bad durations return at once instead of sleeping forever (a hang fails by time-out).
  VTime_MSleep(-5);
  VTime_Sleep(-1.0);
  VTime_Sleep(std::nan(""));
  VTime_Sleep(INFINITY);
}

TEST(VPrintConsole, LinesCarrySourceTextAndColour) {
  d::ConsoleCapture capture;
  VPrint("PM1_PROC", "step %d of %s", 3, "purge");
  VPrint_Red("PM1_PROC", "Digital IO_Point  = ERROR_IO_POINT.[代码行:%s:%d]", "Vexlor::VIO_Find",
             42);
  VPrint_Yellow(nullptr, "done\r\n");
  VPrint("S", nullptr);
  VPrint("S", "%s", std::string(5000, 'w').c_str());
  std::vector<std::string> lines;
  for (const d::ConsoleLine& line : capture.console_lines()) lines.push_back(describe(line));
  EXPECT_EQ(lines,
            (std::vector<std::string>{
                "0 0 |PM1_PROC|step 3 of purge",
                "1 0 |PM1_PROC|Digital IO_Point  = ERROR_IO_POINT.[代码行:Vexlor::VIO_Find:42]",
                "2 0 ||done", "0 0 |S|", "0 0 |S|" + std::string(4095, 'w')}));
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
  std::string ansi;
  for (int attribute : {79, 31, 223, 176, 112, 12}) ansi += d::ansi_for_attribute(attribute) + " ";
  EXPECT_EQ(ansi, "97;41 97;44 97;105 30;106 30;47 91 ");
}

TEST_F(VPrintLog, MapsWindowsPaths) {
  const std::string drive = root().string(), long_path = "/" + std::string(258, 'p');
  EXPECT_EQ(d::map_system_path("Z:\\History\\2025\\03\\05/system.log"),
            drive + "/Z/History/2025/03/05/system.log");
  EXPECT_EQ(d::map_system_path("d:log.txt"), drive + "/D/log.txt");
  EXPECT_EQ(d::map_system_path("/var/log\\x.log") + "," + d::map_system_path("rel\\x.log"),
            "/var/log/x.log,rel/x.log");
  EXPECT_EQ(d::map_system_path("") + d::map_system_path(nullptr), "");
  EXPECT_EQ(d::map_system_path(long_path.c_str()), long_path);
  EXPECT_EQ(d::map_system_path((long_path + "p").c_str()), "");
  // Without a drive root: under the home folder, else a fixed one.
  const std::string home = getenv("HOME") ? getenv("HOME") : "";
  unsetenv("VEXLOR_DRIVE_ROOT");
  setenv("HOME", "/home/op", 1);
  EXPECT_EQ(d::drive_root(), "/home/op/.vexlor/drives");
  unsetenv("HOME");
  EXPECT_EQ(d::map_system_path("C:\\a"), "/tmp/vexlor-drives/C/a");
  if (!home.empty()) setenv("HOME", home.c_str(), 1);
}

// A log line: on the console in its colour, in the file under the drive root with its stamp.
// (Which switch selects which side: the Logging tests.)
TEST_F(VPrintLog, LogLinesReachConsoleAndFile) {
  const char* path = "Z:\\History\\2025\\03\\05/system.log";
  const fs::path file = root() / "Z/History/2025/03/05/system.log";
  d::ConsoleCapture capture;
  log_line("PM1", false, false, path, "valve %d failed", 1);  // neither
  EXPECT_FALSE(fs::exists(file));
  log_line("PM1", true, true, path, "valve %d failed", 2);
  ASSERT_EQ(capture.console_lines().size(), 1u);
  EXPECT_EQ(describe(capture.console_lines()[0]), "3 79 [ERR]|PM1|valve 2 failed");
  const std::vector<std::string> lines = read_lines(file);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_TRUE(std::regex_match(lines[0].substr(0, 24), std::regex(kFileStamp))) << lines[0];
  EXPECT_EQ(lines[0].substr(24), "[ERR] [PM1] valve 2 failed");
  ASSERT_EQ(capture.file_lines().size(), 1u);
  EXPECT_EQ(capture.file_lines()[0].path, file.string());

  // A folder in place of the file, and an over-long path: skipped without a trace.
  log_line("PM1", false, true, "Z:\\History", "lost");
  log_line("PM1", false, true, ("Z:\\" + std::string(300, 'p')).c_str(), "lost");
  EXPECT_EQ(read_lines(file).size(), 1u);
}

TEST_F(VPrintLog, ConcurrentLinesNeverInterleave) {
  constexpr int kThreads = 4, kChildren = 3, kLines = 200;
  const std::string payload(300, 'x');
  auto write_lines = [&](int writer, bool to_console) {
    for (int i = 0; i < kLines; ++i) {
      log_line(("T" + std::to_string(writer)).c_str(), to_console, true, "Z:\\History/threads.log",
               "line %d-%d %s", writer, i, payload.c_str());
    }
  };
  // Threads print to the terminal (standard output redirected to a file) and the log file.
  const fs::path out_file = fs::path(instance_.runtime_dir()) / "console.txt";
  std::fflush(stdout);
  const int saved = dup(STDOUT_FILENO);
  const int fd = open(out_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  ASSERT_GE(fd, 0);
  dup2(fd, STDOUT_FILENO);
  {
    d::ConsoleCapture capture(/*echo=*/true);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) threads.emplace_back(write_lines, t, true);
    for (std::thread& th : threads) th.join();
  }
  std::fflush(stdout);
  dup2(saved, STDOUT_FILENO);
  close(saved);
  close(fd);
  // Child processes append to the same log file at the same time.
  std::vector<pid_t> children;
  for (int t = kThreads; t < kThreads + kChildren; ++t) {
    children.push_back(vexlor::test::spawn_child([&, t] { return write_lines(t, false), 0; }));
  }
  for (pid_t pid : children) EXPECT_EQ(vexlor::test::wait_child(pid, 60), 0);

  // Every line whole, once: "<stamp>[ERR] [T<w>] line <w>-<i> x...x".
  auto check = [&](const fs::path& path, const std::string& stamp, int writers) {
    const std::regex pattern(stamp + R"(\[ERR\] \[T(\d)\] line (\d)-(\d+) x{300})");
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
  check(out_file, R"(\d{2}:\d{2}:\d{2}\.\d{3} )", kThreads);
  check(root() / "Z/History/threads.log", kFileStamp, kThreads + kChildren);
}
