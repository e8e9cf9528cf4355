// The mapping table: stable CEIDs for every event line, unique IDs, the JSON form the host
// team reads, and how remote command parameters become a routine's argument text.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "gem/mapping.h"

namespace {

using vexlor::gem::CommandDef;
using vexlor::gem::Mapping;

TEST(GemMapping, EveryEventLineHasAStableUniqueCeid) {
  const auto events = vexlor::gem::standard_events();
  EXPECT_EQ(events.size(), 190u);
  std::set<uint32_t> ceids;
  std::set<std::string> names;
  for (const auto& e : events) {
    EXPECT_TRUE(ceids.insert(e.ceid).second) << e.ceid << " " << e.name;
    EXPECT_TRUE(names.insert(e.name).second) << e.name;
    EXPECT_EQ(e.ceid % 1000, static_cast<uint32_t>(e.code)) << e.name;
  }
  Mapping m;
  m.events = events;
  auto ceid = [&m](const char* name) {
    const auto* e = m.event_by_name(name);
    return e != nullptr ? e->ceid : 0u;
  };
  EXPECT_EQ(ceid("ALARM_DETECTED"), 1001u);
  EXPECT_EQ(ceid("CARRIER_CLAMPED"), 2011u);
  EXPECT_EQ(ceid("CARRIER_ID_DUPLICATION"), 2093u);
  EXPECT_EQ(ceid("EQUIP_OFFLINE"), 8001u);
  EXPECT_EQ(ceid("COMM_ESTABLISH"), 8011u);
  EXPECT_EQ(ceid("PM_START"), 14002u);
  // SUBST_MID 1 is two events: a port going in service and a substrate ID read.
  EXPECT_EQ(ceid("PORT_IN_SERVICE"), 18001u);
  EXPECT_EQ(ceid("SUBST_MID_READ_COMPLETE"), 23001u);
  EXPECT_EQ(ceid("TR_ABORT_ACCEPT"), 26007u);
  EXPECT_EQ(m.event(2011)->token, "CARRIER_ACTION");
  EXPECT_EQ(m.event(2011)->code, 11);
}

TEST(GemMapping, VariablesAndConstantsHaveUniqueIdsAndPoints) {
  const auto vars = vexlor::gem::standard_variables();
  std::set<uint32_t> vids;
  std::set<std::string> points;
  int dvs = 0;
  for (const auto& v : vars) {
    EXPECT_TRUE(vids.insert(v.vid).second) << v.vid << " " << v.name;
    if (!v.point.empty()) {
      EXPECT_TRUE(points.insert(v.point).second) << v.point;
    }
    dvs += v.status ? 0 : 1;
  }
  EXPECT_EQ(dvs, 60);  // the 16 digital and 44 string data variables of the event lines
  Mapping m;
  m.variables = vars;
  m.constants = vexlor::gem::standard_constants();
  EXPECT_EQ(m.variable(1)->name, "Clock");
  EXPECT_EQ(m.variable(1001)->name, "GEM.AlarmReport_ALCD");
  EXPECT_FALSE(m.variable(1001)->status);
  EXPECT_EQ(m.variable(1001)->format, vexlor::secs::Format::kI4);
  // The step name's point lacks its final e.
  bool step = false;
  for (const auto& v : vars) step = step || v.point == "GEM.PMState_StepNam";
  EXPECT_TRUE(step);
  const auto* soft = [&]() -> const vexlor::gem::VariableDef* {
    for (const auto& v : vars) {
      if (v.name == "GEM.Soft_Revision") return &v;
    }
    return nullptr;
  }();
  ASSERT_NE(soft, nullptr);
  EXPECT_TRUE(soft->status);
  EXPECT_EQ(soft->format, vexlor::secs::Format::kAscii);
  EXPECT_EQ(m.constant(1)->point, "FA.T3");
  EXPECT_EQ(m.constant_by_name("SpoolEnable")->point, "GEM.Spool_Enable");
  EXPECT_EQ(m.constant_by_name("SpoolMax")->point, "");
}

TEST(GemMapping, JsonOfTheTable) {
  Mapping m;
  m.events = {{2011, "CARRIER_CLAMPED", "CARRIER_ACTION", 11}};
  vexlor::gem::VariableDef v;
  v.vid = 1022;
  v.name = "GEM.PortID";
  v.point = "GEM.PortID";
  v.status = false;
  v.format = vexlor::secs::Format::kI4;
  m.variables = {v};
  m.constants = {vexlor::gem::standard_constants()[0]};
  m.alarms = {{800, "System \"alarm\""}};
  m.commands = {vexlor::gem::run_command()};
  EXPECT_EQ(m.to_json(),
            R"({"events":[{"ceid":2011,"name":"CARRIER_CLAMPED","token":"CARRIER_ACTION","code":11}],)"
            R"("variables":[{"vid":1022,"name":"GEM.PortID","class":"DV","format":"I4","point":"GEM.PortID"}],)"
            R"("constants":[{"ecid":1,"name":"T3","point":"FA.T3","min":1,"max":120,"default":45,"unit":"s"}],)"
            R"("alarms":[{"alid":800,"text":"System \"alarm\""}],)"
            R"("commands":[{"rcmd":"RUN","routine":"","params":["ROUTINE","ARGS"],"args":"{ARGS}"}]})");
}

TEST(GemMapping, ParametersBecomeTheArgumentText) {
  std::string text, missing;
  const CommandDef pp{"PPSELECT", "PM1_PROCESS", {"PPID", "LOT"}, "recipe={PPID} lot={LOT}"};
  EXPECT_TRUE(vexlor::gem::expand_arguments(pp, {{"LOT", "L7"}, {"PPID", "R1"}}, &text, &missing));
  EXPECT_EQ(text, "recipe=R1 lot=L7");
  // A declared parameter the host left out is empty; an undeclared placeholder is an error.
  EXPECT_TRUE(vexlor::gem::expand_arguments(pp, {{"PPID", "R1"}}, &text, &missing));
  EXPECT_EQ(text, "recipe=R1 lot=");
  const CommandDef bad{"X", "R", {"A"}, "{A},{B}"};
  EXPECT_FALSE(vexlor::gem::expand_arguments(bad, {{"A", "1"}}, &text, &missing));
  EXPECT_EQ(missing, "B");
  // Without a template the values are joined by commas in parameter order.
  const CommandDef joined{"START", "PM1_PROCESS", {"PPID", "LOT", "SLOT"}, ""};
  EXPECT_TRUE(vexlor::gem::expand_arguments(joined, {{"SLOT", "3"}, {"PPID", "R1"}}, &text, &missing));
  EXPECT_EQ(text, "R1,,3");
  EXPECT_TRUE(vexlor::gem::expand_arguments(vexlor::gem::run_command(),
                                            {{"ROUTINE", "PM1_VENT"}, {"ARGS", "a,{b}"}}, &text,
                                            &missing));
  EXPECT_EQ(text, "a,{b}");
}

}  // namespace
