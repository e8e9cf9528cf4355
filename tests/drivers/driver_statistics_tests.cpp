// The statistics file of a driver program as the console and the panel read it: the fields,
// the line for people, and files that are malformed, stale or missing.
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "driver_statistics.h"
#include "support/instance.h"

namespace {

using vexlor_tools::DriverStatistics;

const char* kPublished =
    "{\"updated\":1700000000,\"name\":\"PM1_PLC\",\"device\":\"127.0.0.1:1502\",\"unit\":1,"
    "\"period_ms\":100,\"state\":\"offline\",\"online_since\":\"\",\"points\":20,"
    "\"requests_per_scan\":3,\"scans\":40,\"reads_ok\":117,\"writes_ok\":9,\"io_errors\":1,"
    "\"exceptions\":0,\"last_io_us\":215,\"longest_io_us\":1304,\"last_cycle_us\":640,"
    "\"cycle_histogram_ms\":{\"le_1\":37,\"le_2\":2,\"le_5\":0,\"le_10\":0,\"le_20\":0,\"le_50\":0,"
    "\"le_100\":0,\"le_200\":0,\"le_500\":0,\"over_500\":1},"
    "\"last_error\":\"read failed: Connection \\\"reset\\\" by peer\"}";

TEST(DriverStatistics, FieldsLineJsonAndBadFiles) {
  const DriverStatistics s = vexlor_tools::parse_driver_statistics(kPublished);
  ASSERT_TRUE(s.present);
  EXPECT_EQ(s.updated, 1700000000);
  EXPECT_EQ(s.reads_ok, 117u);
  EXPECT_EQ(s.histogram[9], 1u);
  EXPECT_EQ(s.last_error, "read failed: Connection \"reset\" by peer");
  EXPECT_EQ(vexlor_tools::driver_statistics_line(s),
            "reads 117 ok, writes 9 ok, 1 I/O errors; I/O 0.21 ms, longest 1.30 ms; cycles ≤1 ms "
            "37, ≤2 ms 2, >500 ms 1; offline: read failed: Connection \"reset\" by peer");
  vexlor_tools::JsonWriter json;
  vexlor_tools::write_driver_statistics(json, s);
  EXPECT_EQ(json.text(),
            "{\"state\":\"offline\",\"online_since\":\"\",\"scans\":40,\"reads_ok\":117,"
            "\"writes_ok\":9,\"io_errors\":1,\"exceptions\":0,\"last_io_us\":215,"
            "\"longest_io_us\":1304,\"last_cycle_us\":640,\"cycle_histogram_ms\":{\"le_1\":37,"
            "\"le_2\":2,\"le_5\":0,\"le_10\":0,\"le_20\":0,\"le_50\":0,\"le_100\":0,\"le_200\":0,"
            "\"le_500\":0,\"over_500\":1},\"last_error\":\"read failed: Connection \\\"reset\\\" by "
            "peer\",\"updated\":1700000000}");

  // Torn, truncated, empty or foreign texts give nothing (and no negative or huge counts).
  for (const std::string& bad :
       {std::string(kPublished).substr(0, 120), std::string(""), std::string("{}"),
        std::string("{\"state\":\"online\""), std::string("[\"state\":\"online\"]"),
        std::string("{\"state\":\"online") + std::string(9000, 'x') + "\"}"}) {
    EXPECT_FALSE(vexlor_tools::parse_driver_statistics(bad).present) << bad;
  }
  const DriverStatistics odd =
      vexlor_tools::parse_driver_statistics("{\"state\":\"online\",\"reads_ok\":-5,\"writes_ok\":1e30}");
  EXPECT_TRUE(odd.present);
  EXPECT_EQ(odd.reads_ok, 0u);
  EXPECT_EQ(odd.writes_ok, 0u);

  // A file is read only while fresh: its program publishes it each second.
  vexlor::test::PrivateInstance instance("dstat");
  const std::string folder = instance.runtime_dir();
  EXPECT_FALSE(vexlor_tools::read_driver_statistics(folder, 3, 1700000000).present);  // none
  std::ofstream(folder + "/driver.3.status.json") << kPublished;
  EXPECT_TRUE(vexlor_tools::read_driver_statistics(folder, 3, 1700000005).present);
  EXPECT_EQ(vexlor_tools::read_driver_statistics(folder, 3, 1700000002).reads_ok, 117u);
  EXPECT_FALSE(vexlor_tools::read_driver_statistics(folder, 3, 1700000006).present);
  EXPECT_FALSE(vexlor_tools::read_driver_statistics(folder, 2, 1700000002).present);
}

}  // namespace
