// Test support for the typed point families: points of every kind with and without (offline)
// drivers, an enumeration in two languages, and PM1_PROC attached.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/equipment.h"

namespace vexlor::test {

// Digital points.
constexpr int kLanguage = 0, kValve = 1, kCount = 2, kSensor = 3, kDeadDigital = 4, kTwin = 5;
// Analog points.
constexpr int kPressure = 0, kTemp = 1, kDeadAnalog = 2;
// String points.
constexpr int kRecipe = 0, kLog = 1, kLogCompanion = 2, kHostText = 3, kDeadString = 4;
// Drivers.
constexpr int kOnline = 0, kOffline = 1;

class TypedPoints : public EquipmentTest {
 protected:
  void SetUp() override {
    b_.add_driver("DNET", 3);
    b_.add_driver("DEAD", 4);
    b_.driver(kOffline).params[Vexlor::kDriverParamOffline] = 1;
    const int valve = b_.add_enum("Valve");
    b_.add_enum_item(valve, "Close|关闭", 0);
    b_.add_enum_item(valve, "Open|打开", 1);
    b_.add_enum_item(valve, "Moving", 2);
    b_.add_enum_item(valve, "Fault|", 3);

    b_.add_digital("CTC.Language", Vexlor::LANGUAGE_ENGLISH);
    b_.add_digital("PM1.Valve");
    b_.digital(kValve).enum_point = valve;
    b_.digital(kValve).max = 9;
    b_.add_digital("PM1.Count");
    b_.digital(kCount).min = -100;
    b_.digital(kCount).max = 100;
    drivers(b_.digital(b_.add_digital("PM1.Sensor")), kOnline, Vexlor::VEXLOR_UNUSED_POINT);
    drivers(b_.digital(b_.add_digital("PM1.Broken")), kOffline, kOffline);
    b_.add_digital("PM1.Pressure");  // also an analog point

    b_.add_analog("PM1.Pressure");
    b_.analog(kPressure).decimal = 3;
    b_.analog(kPressure).min = -1000;
    b_.analog(kPressure).max = 1000;
    drivers(b_.analog(b_.add_analog("PM1.Temp")), kOnline, Vexlor::VEXLOR_UNUSED_POINT);
    drivers(b_.analog(b_.add_analog("PM1.Broken")), kOffline, kOffline);

    b_.add_string("PM1.Recipe");
    b_.add_string("PM1.Log");
    b_.add_string("PM1.Log0");
    drivers(b_.string_point(b_.add_string("PM1.HostText")), kOnline, Vexlor::VEXLOR_UNUSED_POINT);
    drivers(b_.string_point(b_.add_string("PM1.Broken")), kOffline, kOffline);

    b_.add_function("PM1_PROC");
    start("PM1_PROC");
  }

  Vexlor::MMAP_STRU& db() { return *Vexlor::MMAP_DB(); }

  template <typename Record>
  static void drivers(Record& record, int input, int output) {
    record.idrv_point = input;
    record.odrv_point = output;
  }
};

// What a call that fills a text gave: "+" or "-" for its result, then the text.
template <typename Call>
std::string outcome(Call&& call) {
  char text[1024] = "";
  const bool ok = call(text);
  return (ok ? "+" : "-") + std::string(text);
}

}  // namespace vexlor::test
