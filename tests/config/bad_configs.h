// Bad equipment configurations and the one error line each must produce. "FILE" in a
// configuration's expected line stands for the path of the file it was written to. Shared by
// the loader tests (in process) and the vexlor-db tests (through the tool).
#pragma once

#include <string>
#include <vector>

namespace vexlor::test {

struct BadConfig {
  const char* what;
  std::string toml;
  std::string line;
};

// The two warnings of a configuration without the system alarm pool and the language point.
inline std::vector<std::string> pool_and_language_warnings(const std::string& path) {
  return {path +
              ": alarms: no system alarm 800 (pool 800..898): faults the library finds itself "
              "(a routine that cannot be run, for example) are only logged, never shown to "
              "the operator",
          path +
              ": digital: no point \"CTC.Language\": the language cannot be switched at run "
              "time and every routine shows the English texts"};
}

inline std::string enum_with_items(int count) {
  std::string text = "enums = [\n  { name = \"Many\", items = [\n";
  for (int i = 0; i < count; ++i)
    text += "    [\"Item" + std::to_string(i) + "\", " + std::to_string(i) + "],\n";
  return text + "  ] },\n]\n";
}

inline std::vector<BadConfig> bad_configs() {
  const std::string enums = R"(enums = [ { name = "OnOff", items = [["Off|关", 0], ["On|开", 1]] } ]
)";
  const std::string pm1 = R"(modules = [ { id = "PM1", kind = "PM", alarm_base = 5 } ]
)";
  const std::string rule = " (names hold no blanks, control characters or * ? [ ])";
  return {
      {"inline table split over lines", "digital = [\n  { name = \"A\",\n    unit = \"V\" },\n]\n",
       "FILE:2: an inline table { ... } must close with '}' on the line where it opens: write the "
       "whole record on one line (the array [ ... ] around the records may span lines)"},
      {"one backslash in a path", "[system]\nhistory_path = \"Z:\\History\"\n",
       "FILE:2: a backslash in a \"...\" text starts an escape: write \\\\ for one backslash "
       "(\"Z:\\\\History\"), or quote the text with single quotes ('Z:\\History')"},
      {"comma missing between records", "digital = [ { name = \"A\" } { name = \"B\" } ]\n",
       "FILE:1: a comma is missing between two items of an array: write [ x, y ]"},
      {"key given twice", "[system]\nuser_name = \"a\"\nuser_name = \"b\"\n",
       "FILE:3: the key user_name is given twice in the same table: keep one"},
      {"unquoted text", "modules = [ { id = PM1, kind = \"PM\" } ]\n",
       "FILE:1: not a TOML value: write texts in double quotes (\"PM1\"), numbers as 12 or 1.5, "
       "and "
       "true or false"},
      {"unknown key, a slip of a known one", "digital = [\n  { name = \"A\", nmae = \"B\" },\n]\n",
       "FILE:2: digital[0].nmae: unknown key (did you mean \"name\"?)"},
      {"unknown key, nothing like a known one", "digital = [ { name = \"B\", colour = 1 } ]\n",
       "FILE:1: digital[0].colour: unknown key"},
      {"unknown key before a missing one", "functions = [ { nam = \"PM1_PUMP\" } ]\n",
       "FILE:1: functions[0].nam: unknown key (did you mean \"name\"?)"},
      {"unknown section", "alarm = [ { id = 1, name = \"A\" } ]\n",
       "FILE:1: alarm: unknown key (did you mean \"alarms\"?)"},
      {"unknown system key", "[system]\nuser_level = 3\nSimulaton = false\n",
       "FILE:3: system.Simulaton: unknown key (did you mean \"simulation\"?)"},
      {"unknown log category", "[system]\nlog = { ALM = \"both\", DGB = \"off\" }\n",
       "FILE:2: system.log.DGB: unknown key (did you mean \"DBG\"?)"},
      {"missing point name", "digital = [\n  { unit = \"V\" },\n]\n",
       "FILE:2: digital[0].name: missing required field"},
      {"empty name", "functions = [ { name = \"\" } ]\n",
       "FILE:1: functions[0].name: must not be empty"},
      {"unknown enumeration",
       enums + "digital = [\n  { name = \"V1\" },\n  { name = \"V2\", enum = \"OnOf\" },\n]\n",
       "FILE:4: digital[1].enum: unknown enumeration \"OnOf\""},
      {"unknown driver",
       "drivers = [ { name = \"AIO1\" } ]\nanalog = [\n  { name = \"P\", input_driver = \"AIO9\" "
       "},\n]\n",
       "FILE:3: analog[0].input_driver: unknown driver \"AIO9\""},
      {"unknown module", pm1 + "alarms = [\n  { id = 5001, module = \"PM9\", name = \"X\" },\n]\n",
       "FILE:3: alarms[0].module: unknown module \"PM9\""},
      {"unknown module kind", "modules = [ { id = \"XM1\", kind = \"XM\" } ]\n",
       "FILE:1: modules[0].kind: unknown module kind \"XM\" (CM, BM, TM or PM)"},
      {"side beyond the 100 of a kind",
       "modules = [ { id = \"TM101\", kind = \"TM\", side = 100 } ]\n",
       "FILE:1: modules[0].side: value 100 is out of range 0..99 for a TM module"},
      {"negative alarm ID", "alarms = [ { id = -1, name = \"A\" } ]\n",
       "FILE:1: alarms[0].id: value -1 is out of range 0..2147483647"},
      {"empty file", "",
       "FILE: the configuration is empty (no system settings, modules or points)"},
      {"comments only", "# nothing yet\n",
       "FILE: the configuration is empty (no system settings, modules or points)"},
      {"blank in a point name", "analog = [\n  { name = \"PM1 Pressure\" },\n]\n",
       "FILE:2: analog[0].name: name \"PM1 Pressure\" contains a blank" + rule},
      {"no-break space in a point name", "digital = [ { name = \"PM1\u00A0Valve\" } ]\n",
       "FILE:1: digital[0].name: name \"PM1\u00A0Valve\" contains a blank (U+00A0)" + rule},
      {"ideographic space in a function name", "functions = [ { name = \"PM1\u3000PUMP\" } ]\n",
       "FILE:1: functions[0].name: name \"PM1\u3000PUMP\" contains a blank (U+3000)" + rule},
      {"zero-width space in a module ID", "modules = [ { id = \"PM1\u200B\", kind = \"PM\" } ]\n",
       "FILE:1: modules[0].id: name \"PM1\u200B\" contains a blank (U+200B)" + rule},
      {"control character in a string point name", "string = [ { name = \"PM1.\\tRecipe\" } ]\n",
       "FILE:1: string[0].name: name \"PM1.\tRecipe\" contains a control character" + rule},
      {"glob in a module ID", "modules = [ { id = \"PM*\", kind = \"PM\" } ]\n",
       "FILE:1: modules[0].id: name \"PM*\" contains '*'" + rule},
      {"bracket in a module name",
       "modules = [ { id = \"PM1\", name = \"[PM1]\", kind = \"PM\" } ]\n",
       "FILE:1: modules[0].name: name \"[PM1]\" contains '['" + rule},
      {"question mark in a function name", "functions = [ { name = \"PM1_?\" } ]\n",
       "FILE:1: functions[0].name: name \"PM1_?\" contains '?'" + rule},
      {"side taken twice",
       "modules = [\n  { id = \"PM1\", kind = \"PM\", side = 0 },\n  { id = \"PM2\", kind = "
       "\"PM\", side = 0 },\n]\n",
       "FILE:3: modules[1].side: PM side 0 is already taken by modules[0] (line 2)"},
      {"duplicate module ID",
       "modules = [\n  { id = \"PM1\", kind = \"PM\" },\n  { id = \"PM1\", kind = \"PM\" },\n]\n",
       "FILE:3: modules[1].id: duplicate module ID \"PM1\", first at line 2 (modules[0])"},
      {"user level out of range", "[system]\nuser_level = 10\n",
       "FILE:2: system.user_level: value 10 is out of range 0..9"},
      {"unknown language", "[system]\nlanguage = \"fr\"\n",
       "FILE:2: system.language: unknown language \"fr\" (en, zh, 0 or 1)"},
      {"unknown log setting", "[system]\nlog = { ALM = \"both\", DBG = \"on\" }\n",
       "FILE:2: system.log.DBG: unknown log setting \"on\" (both, console, file or off)"},
      {"table after [system]", "[system]\nuser_name = \"op\"\ndigital = [ { name = \"A\" } ]\n",
       "FILE:3: system.digital: belongs at the top level; write [system] after it, at the end of "
       "the file"},
      {"digital min above max", "digital = [ { name = \"D\", min = 5, max = 1 } ]\n",
       "FILE:1: digital[0].max: max 1 is below min 5"},
      {"analog min above max", "analog = [ { name = \"P\", min = 2.5, max = 1.25 } ]\n",
       "FILE:1: analog[0].max: max 1.25 is below min 2.5"},
      {"digital init outside",
       enums + "digital = [ { name = \"D\", enum = \"OnOff\", init = 3 } ]\n",
       "FILE:2: digital[0].init: value 3 is out of range 0..1"},
      {"analog init outside", "analog = [ { name = \"P\", min = 0, max = 100, init = 150.5 } ]\n",
       "FILE:1: analog[0].init: value 150.5 is out of range 0..100"},
      {"wrong value type", "digital = [ { name = \"D\", min = \"0\" } ]\n",
       "FILE:1: digital[0].min: expected an integer"},
      {"integer beyond int32", "digital = [ { name = \"D\", max = 3000000000 } ]\n",
       "FILE:1: digital[0].max: value 3000000000 is out of range -2147483648..2147483647"},
      {"more than 10 driver params",
       "drivers = [ { name = \"DIO\", params = [0,1,2,3,4,5,6,7,8,9,10] } ]\n",
       "FILE:1: drivers[0].params: at most 10 values, got 11"},
      {"more than 60 items", enum_with_items(61),
       "FILE:2: enums[0].items: at most 60 items, got 61"},
      {"more than 8 choices",
       "alarms = [ { id = 800, name = \"S\", choices = [[\"RETRY\", \"1\"], [\"WAIT\", \"2\"], "
       "[\"IGNORE\", \"3\"], [\"ABORT\", \"4\"], [\"STOP\", \"5\"], [\"CLEAR\", \"6\"], "
       "[\"ENABLE\", \"7\"], [\"DISABLE\", \"8\"], [\"RETRY\", \"9\"]] } ]\n",
       "FILE:1: alarms[0].choices: at most 8 choices, got 9"},
      {"unknown choice",
       "alarms = [ { id = 800, name = \"S\", choices = [[\"RETRY\", \"Retry\"], [\"RETRI\", "
       "\"x\"]] } ]\n",
       "FILE:1: alarms[0].choices[1]: unknown choice \"RETRI\" (CLEAR, RETRY, WAIT, IGNORE, "
       "DISABLE, ENABLE, STOP, ABORT or 0 to 7)"},
      {"duplicate alarm ID",
       pm1 + "alarms = [\n  { id = 5001, module = \"PM1\", name = \"A\" },\n  { id = 5001, module "
             "= \"PM1\", name = \"B\" },\n]\n",
       "FILE:4: alarms[1].id: duplicate alarm ID 5001, first at line 3 (alarms[0])"},
      {"unit longer than its field in bytes",
       "analog = [ { name = \"T\", unit = \"摄氏度摄氏度\" } ]\n",
       "FILE:1: analog[0].unit: text is 18 bytes, its 16-byte field holds at most 15"},
      {"duplicate data-log table, ignoring case",
       "datalogs = [\n  { name = \"PM1_TRACE\", points = [] },\n  { name = \"pm1_trace\", "
       "points = [] },\n]\n",
       "FILE:3: datalogs[1].name: duplicate data-log table \"pm1_trace\", first at line 2 "
       "(datalogs[0])"},
      {"missing points", "datalogs = [\n  { name = \"T\" },\n]\n",
       "FILE:2: datalogs[0].points: missing required field"},
      {"points not a list", "datalogs = [\n  { name = \"T\", points = \"PM1.Flow\" },\n]\n",
       "FILE:2: datalogs[0].points: expected an array of point names"},
      {"point not a text", "datalogs = [\n  { name = \"T\", points = [\"A\", 5] },\n]\n",
       "FILE:2: datalogs[0].points[1]: expected a string"},
      {"point too long",
       "datalogs = [\n  { name = \"T\", points = [\"" + std::string(64, 'P') + "\"] },\n]\n",
       "FILE:2: datalogs[0].points[0]: text is 64 bytes, its 64-byte field holds at most 63"},
      {"empty point", "datalogs = [\n  { name = \"T\", points = [\"A\", \"\"] },\n]\n",
       "FILE:2: datalogs[0].points[1]: must not be empty"},
      {"empty name", "datalogs = [ { name = \"\", points = [] } ]\n",
       "FILE:1: datalogs[0].name: must not be empty"},
      {"not an array", "datalogs = { name = \"T\" }\n",
       "FILE:1: datalogs: expected an array of tables"},
      {"no database path",
       "datalogs = [\n  { name = \"T\", points = [] },\n]\n[system]\ndatabase_path = \"\"\n",
       "FILE:1: datalogs: data-log tables are kept below system.database_path, which is empty"},
      // The host link's mapping table.
      {"unknown key in host", "[host]\nvariable = []\n",
       "FILE:2: host.variable: unknown key (did you mean \"variables\"?)"},
      {"host variable on a missing point",
       "[host]\nvariables = [\n  { vid = 5001, point = \"PM1.Nothing\" },\n]\n",
       "FILE:3: host.variables[0].point: no digital, analog or string point \"PM1.Nothing\" in "
       "this configuration"},
      {"host variable in the default table's VIDs",
       "digital = [ { name = \"P\" } ]\n[host]\nvariables = [ { vid = 1001, point = \"P\" } ]\n",
       "FILE:3: host.variables[0].vid: value 1001 is out of range 4000..2147483647"},
      {"host variable of no class",
       "digital = [ { name = \"P\" } ]\n[host]\nvariables = [ { vid = 5001, point = \"P\", class = "
       "\"EV\" } ]\n",
       "FILE:3: host.variables[0].class: must be \"SV\" or \"DV\""},
      {"duplicate VID",
       "digital = [ { name = \"P\" } ]\n[host]\nvariables = [\n  { vid = 5001, point = \"P\" },\n  "
       "{ vid = 5001, point = \"P\" },\n]\n",
       "FILE:5: host.variables[1].vid: duplicate VID 5001"},
      {"host constant outside its limits",
       "digital = [ { name = \"P\" } ]\n[host]\nconstants = [ { ecid = 100, point = \"P\", min = 1, "
       "max = 5, default = 9 } ]\n",
       "FILE:3: host.constants[0].default: is outside min..max"},
      {"host constant on a string point",
       "string = [ { name = \"S\" } ]\n[host]\nconstants = [ { ecid = 100, point = \"S\", max = 1 } "
       "]\n",
       "FILE:3: host.constants[0].point: no digital point \"S\" in this configuration"},
      {"remote command of no routine",
       "[host]\ncommands = [ { rcmd = \"START\", routine = \"PM9_RUN\" } ]\n",
       "FILE:2: host.commands[0].routine: no function \"PM9_RUN\" in this configuration"},
      {"remote command argument of no parameter",
       "functions = [ { name = \"PM1_RUN\" } ]\n[host]\ncommands = [ { rcmd = \"START\", routine = "
       "\"PM1_RUN\", params = [\"PPID\"], args = \"{PPID},{LOT}\" } ]\n",
       "FILE:3: host.commands[0].args: {LOT} is none of the command's params"},
      {"remote command RUN",
       "functions = [ { name = \"PM1_RUN\" } ]\n[host]\ncommands = [ { rcmd = \"RUN\", routine = "
       "\"PM1_RUN\" } ]\n",
       "FILE:3: host.commands[0].rcmd: RUN is the host link's own command"},
  };
}

}  // namespace vexlor::test
