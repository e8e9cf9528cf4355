// Test support: an equipment built in the test or configured from TOML text, as vexlor-db builds
// it, published into the test's private instance.
#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "config/builder.h"
#include "config/loader.h"
#include "support/instance.h"
#include "util/console_sink.h"
#include "vexlor/vexlor.h"

namespace vexlor::test {

// Lines of text, as the capture helpers below return them.
using Texts = std::vector<std::string>;

// The instance's configuration file, <runtime folder>/equipment.toml.
inline std::string equipment_file(const PrivateInstance& instance) {
  return instance.runtime_dir() + "/equipment.toml";
}

// Writes `toml` to equipment_file(instance), loads it and publishes its database.
inline ::testing::AssertionResult publish_equipment(const PrivateInstance& instance,
                                                    const std::string& toml, const char* tag) {
  std::ofstream(equipment_file(instance)) << toml;
  config::DatabaseBuilder builder;
  std::string error;
  if (!config::load_configuration(equipment_file(instance), builder, &error, nullptr) ||
      !builder.publish(true, tag, &error)) {
    return ::testing::AssertionFailure() << error;
  }
  return ::testing::AssertionSuccess();
}

// The lines of a text (a last line may lack its line feed).
inline std::vector<std::string> text_lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The texts of the captured console lines.
inline std::vector<std::string> console_texts(const detail::ConsoleCapture& capture) {
  std::vector<std::string> texts;
  for (const auto& line : capture.console_lines()) texts.push_back(line.text);
  return texts;
}

// `text` with its source line numbers as "N": "[代码行:Vexlor::F:123]" becomes "...:F:N]".
inline std::string without_line(const std::string& text) {
  return std::regex_replace(text, std::regex(":[0-9]+\\]"), ":N]");
}

// The captured console lines as "<tag> <text>" ("<text>" when untagged), line numbers as "N".
inline std::vector<std::string> tagged_texts(const detail::ConsoleCapture& capture) {
  std::vector<std::string> out;
  for (const auto& l : capture.console_lines())
    out.push_back((l.tag.empty() ? "" : l.tag + " ") + without_line(l.text));
  return out;
}

// The texts of the captured log lines of category "[ERR]", without line numbers.
inline std::vector<std::string> error_log_texts(const detail::ConsoleCapture& capture) {
  std::vector<std::string> texts;
  for (const auto& line : capture.file_lines()) {
    if (line.tag == "[ERR]") texts.push_back(without_line(line.text));
  }
  return texts;
}

// The console texts without line numbers; every line must be red and printed for `source`.
inline std::vector<std::string> red_texts(const detail::ConsoleCapture& capture,
                                          const std::string& source) {
  std::vector<std::string> texts;
  for (const auto& line : capture.console_lines()) {
    EXPECT_EQ(line.colour, detail::LineColour::kRed) << line.text;
    EXPECT_EQ(line.source, source) << line.text;
    texts.push_back(without_line(line.text));
  }
  return texts;
}

// The three bad indices of a table of `count` records, each with the line that reports it for
// `operation` (before the source line, as "N").
inline std::vector<std::pair<int, std::string>> bad_index_lines(const std::string& words,
                                                                int count,
                                                                const std::string& operation) {
  const std::string where = "[代码行:Vexlor::" + operation + ":N]";
  return {{-1, words + "  = ERROR_IO_POINT." + where},
          {Vexlor::VEXLOR_UNUSED_POINT, words + " = UNUSE_IO_POINT." + where},
          {count, words + " = " + std::to_string(count) + " , 超限." + where}};
}

// A test on its own equipment: build it through b_, then start(); released after each test.
class EquipmentTest : public ::testing::Test {
 protected:
  void TearDown() override { Vexlor::VHub_Release(); }
  // Publishes b_ into the private instance and, given a routine, starts up as that routine.
  void start(const char* routine = nullptr) {
    std::string error;
    ASSERT_TRUE(b_.publish(true, "test", &error)) << error;
    ASSERT_TRUE(routine == nullptr || Vexlor::VHub_Initial(routine)) << routine;
  }

  PrivateInstance instance_{"equipment"};
  config::DatabaseBuilder b_;
};

}  // namespace vexlor::test
