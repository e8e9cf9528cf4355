// vexlor-manager as a process: one per instance, interlock answers from the equipment
// configuration, clean stop.
#include <gtest/gtest.h>
#include <vexlor/vfifo.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "config/builder.h"
#include "fifo/manager_process.h"
#include "os/local_endpoint.h"
#include "support/instance.h"

namespace {

using Vexlor::VFIFO;
using vexlor::test::ManagerProcess;
using vexlor::test::PrivateInstance;
using vexlor::test::run_manager;

TEST(ManagerProcess, SecondManagerOnSameInstanceIsRefused) {
  PrivateInstance instance("mgr-second");
  ManagerProcess first;
  ASSERT_TRUE(first.start());
  std::string err;
  EXPECT_EQ(run_manager({"--quiet"}, &err), 1);
  EXPECT_EQ(err, "vexlor-manager: another vexlor-manager already serves instance \"" +
                     instance.name() + "\"\n");
  // The refused one touched nothing: the first still serves.
  VFIFO fifo;
  ASSERT_TRUE(fifo.VFIFO_Initial("R"));
  EXPECT_TRUE(fifo.VFIFO_Gui_MainForm("SHOW", ""));
  EXPECT_EQ(first.record(), std::vector<std::string>{"GuiMainForm command=SHOW text= sender=R"});

  // A manager on another instance runs side by side.
  instance.use(instance.name() + "-other");
  ManagerProcess other;
  EXPECT_TRUE(other.start({"--no-gui"}));
  EXPECT_EQ(other.stop(), 0);
  instance.use(instance.name());

  // SIGTERM: exit 0, endpoints and lock files removed; a killed one leaves files that the
  // next manager replaces.
  EXPECT_EQ(first.stop(), 0);
  for (const char* role : {"manager", "engine", "gui"}) {
    std::string path = vexlor::os::endpoint_path(role);
    EXPECT_FALSE(std::filesystem::exists(path)) << path;
    EXPECT_FALSE(std::filesystem::exists(path + ".lock")) << path;
  }
  ASSERT_TRUE(first.start());
  first.kill9();
  EXPECT_TRUE(std::filesystem::exists(vexlor::os::endpoint_path("manager")));
  ASSERT_TRUE(first.start());
  EXPECT_TRUE(fifo.VFIFO_Gui_MainForm("HIDE", ""));
  EXPECT_EQ(first.record(), std::vector<std::string>{"GuiMainForm command=HIDE text= sender=R"});
}

class ManagerInterlocks : public ::testing::Test {
 protected:
  void SetUp() override {
    vexlor::config::DatabaseBuilder b;
    b.add_digital("PM1.Gas1_Valve");
    b.add_digital("PM1.Gas2_Valve");
    b.add_digital("pm1.gas2_valve");  // same name, later: the first match wins
    b.add_analog("PM1.MFC1_Set");
    std::string error;
    ASSERT_TRUE(b.publish(false, "manager_test", &error)) << error;
    config_ = instance_.runtime_dir() + "/equipment.toml";
  }
  void TearDown() override { vexlor::config::remove_database(nullptr); }
  void write_config(const std::string& text) { std::ofstream(config_) << text; }

  PrivateInstance instance_{"mgr-ilk"};
  std::string config_;
};

TEST_F(ManagerInterlocks, AnswersInterlockQueriesFromConfiguration) {
  write_config(
      "interlocks = [\n"
      "  { point = \"PM1.GAS2_VALVE\", kind = \"digital\", answer = \"1\" },\n"
      "  { point = \"PM1.MFC1_Set\", kind = \"analog\", answer = \"27\" },\n"
      "  { point = \"PM1.Gas1_Valve\", kind = \"digital\", answer = \"0\" },\n"
      "]\n");
  ManagerProcess manager;
  ASSERT_TRUE(manager.start({"--config", config_}));
  VFIFO fifo;
  ASSERT_TRUE(fifo.VFIFO_Initial("PM1_PROC"));
  auto ask = [&](const char* kind, const char* param, int index) {
    char buffer[64] = "unset";
    if (!fifo.VFIFO_Engine_Read(kind, param, "R1", index, "-", buffer, sizeof buffer)) {
      return std::string("failed");
    }
    return std::string(buffer);
  };
  EXPECT_EQ(ask("$D", "P7", 1), "1");   // PM1.Gas2_Valve (case-insensitive name)
  EXPECT_EQ(ask("$D", "P7", 2), "0");   // the later duplicate is not the configured point
  EXPECT_EQ(ask("$D", "P7", 0), "0");   // configured "0": not intercepted
  EXPECT_EQ(ask("$A", "P7", 0), "27");  // analog point 0
  EXPECT_EQ(ask("$A", "P7", 1), "0");   // analog index 1 is not configured
  EXPECT_EQ(ask("$D", "P6", 1), "0");   // not an interlock query
  EXPECT_EQ(ask("$S", "P7", 1), "0");
  EXPECT_EQ(manager.record().size(), 7u);
}

TEST_F(ManagerInterlocks, BadInterlockTablesStopTheStart) {
  struct Case {
    std::string toml, message;
  };
  const std::vector<Case> cases = {
      {"interlocks = [ { point = \"PM1.Nope\", kind = \"digital\", answer = \"1\" } ]\n",
       ":1: interlocks[0].point: unknown digital point \"PM1.Nope\""},
      {"interlocks = [ { point = \"PM1.Gas1_Valve\", kind = \"string\" } ]\n",
       ":1: interlocks[0].kind: must be \"digital\" or \"analog\""},
      {"interlocks = [\n  { point = \"PM1.Gas1_Valve\", kind = \"digital\", answer = \"yes\" "
       "}\n]\n",
       ":2: interlocks[0].answer: not a decimal number: \"yes\""},
      {"interlocks = [ { point = \"PM1.Gas1_Valve\", kind = \"digital\", colour = 1 } ]\n",
       ":1: interlocks[0].colour: unknown key"},
      {"interlocks = 3\n", ":1: interlocks: not an array"},
  };
  for (const auto& c : cases) {
    write_config(c.toml);
    std::string err;
    EXPECT_EQ(run_manager({"--quiet", "--config", config_}, &err), 1) << c.toml;
    EXPECT_EQ(err, "vexlor-manager: " + config_ + c.message + "\n");
  }
  // Nothing was left serving.
  std::string dir = vexlor::os::endpoint_dir(false);
  EXPECT_TRUE(!std::filesystem::exists(dir) || std::filesystem::is_empty(dir));
}

}  // namespace
