// The shared database: publishing, attaching from several processes, instance isolation and
// the simulated value slots.
#include <vexlor/vmmap.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "db/db_image.h"
#include "os/shared_section.h"
#include "support/equipment.h"

using namespace Vexlor;
using vexlor::config::DatabaseBuilder;
using vexlor::test::PrivateInstance;

namespace {

// A small equipment: one driver, points with and without it, a few functions and alarms.
struct SmallEquipment {
  int dio, valve, lamp, pressure, recipe;

  explicit SmallEquipment(DatabaseBuilder& b, bool simulation = true) {
    b.system().simulation = simulation ? 1 : 0;
    b.add_module("PM1", "Chamber A", MODULE_PM, 0, 41, "etch chamber");
    b.add_module("TM1", "Robot", MODULE_TM, 0, 21);
    dio = b.add_driver("DIO", 7);
    valve = b.add_digital("PM1.Valve1", 0);
    b.digital(valve).idrv_point = b.digital(valve).odrv_point = dio;
    lamp = b.add_digital("CTC.Lamp", 1);
    b.digital(lamp).max = 3;
    pressure = b.add_analog("PM1.Pressure", 760.0);
    b.analog(pressure).min = 0;
    b.analog(pressure).max = 1000;
    b.analog(pressure).odrv_point = dio;
    recipe = b.add_string("PM1.Recipe", "idle");
    b.string_point(recipe).idrv_point = dio;
    b.add_function("SCHEDULER_ENGINE");
    b.add_function("PM1_PUMP_DOWN");
    b.add_alarm(41001, "PM1_VALVE", "Valve failed|阀门故障");
    std::string error;
    EXPECT_TRUE(b.publish(false, "small.toml", &error)) << error;
  }
};

}  // namespace

TEST(Vmmap, PublishedTablesAreReachableAndAttachFailsCleanlyWithoutADatabase) {
  PrivateInstance instance("vmmap");
  DatabaseBuilder b;
  SmallEquipment eq(b);
  VMMAP map;
  ASSERT_TRUE(map.VMMAP_Initial("TEST"));
  MMAP_STRU* db = map.DB();
  ASSERT_NE(db, nullptr);
  ASSERT_NE(db->alarm_mutex, nullptr);
  const MEM_SYSTEM_STRU& sys = *db->system_block;
  // Counts, then the per-kind module arrays and counts.
  EXPECT_EQ((std::vector<int32_t>{sys.module_count, sys.driver_count, sys.digital_count,
                                  sys.analog_count, sys.string_count, sys.function_count,
                                  sys.alarm_count, sys.user_level, sys.pm_count, sys.tm_count,
                                  sys.cm_count, sys.module_alarm_bases[MODULE_TM][0]}),
            (std::vector<int32_t>{2, 1, 2, 1, 1, 2, 1, 9, 1, 1, 0, 21}));
  EXPECT_STREQ(sys.history_path, "Z:\\History");
  EXPECT_STREQ(sys.module_ids[MODULE_PM][0], "PM1");
  EXPECT_STREQ(sys.module_names[MODULE_PM][0], "Chamber A");
  EXPECT_STREQ(sys.module_annotations[MODULE_PM][0], "etch chamber");
  // Function tables: N configured, then 12 slots; slot N is the main form.
  EXPECT_STREQ(db->function_sp[1].name, "PM1_PUMP_DOWN");
  EXPECT_STREQ(db->function_sp[2].name, "GUI_MAINFORM");
  EXPECT_STREQ(db->function_sp[13].name, "");
  EXPECT_EQ((std::vector<int32_t>{db->function_rt[1].run_status, db->function_rt[2].run_status,
                                  db->function_rt[13].run_status}),
            (std::vector<int32_t>{SYS_AVAILABLE, SYS_KILLED, SYS_KILLED}));
  EXPECT_EQ(db->alarm_sp[0].alarm_id, 41001);
  EXPECT_STREQ(db->alarm_sp[0].text, "Valve failed|阀门故障");
  EXPECT_EQ(db->alarm_queue->count, 0);
  EXPECT_EQ(db->abort_manager->abort_flag, 0);
  // Initial values are in the slots.
  EXPECT_EQ(db->digital_val[eq.lamp].write_value, 1);
  EXPECT_EQ(db->analog_val[eq.pressure].read_value, 760.0);
  EXPECT_STREQ(db->string_val[eq.recipe].read_value, "idle");

  // A second publish refuses to replace the database unless asked to.
  std::string error;
  EXPECT_FALSE(b.publish(false, "small.toml", &error));
  EXPECT_EQ(error, "a database exists already in instance \"" + instance.name() + "\"");
  EXPECT_TRUE(map.VMMAP_Release());
  EXPECT_EQ(map.DB(), nullptr);
  EXPECT_TRUE(map.VMMAP_Release());
  EXPECT_TRUE(vexlor::config::remove_database(&error));
  EXPECT_FALSE(vexlor::config::remove_database(&error));

  // Without a valid database attaching fails cleanly.
  int v = 5;
  double a = 1.5;
  char text[1024] = "keep";
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);  // no section, then a section that is not a database image
    EXPECT_FALSE(map.VMMAP_Initial("TEST"));
    EXPECT_EQ(map.DB(), nullptr);
    EXPECT_FALSE(map.VMMAP_Digital_Read(0, &v) || map.VMMAP_Digital_Write(0, 1) ||
                 map.VMMAP_Analog_Read(0, &a) || map.VMMAP_String_Read(0, text) ||
                 map.VMMAP_String_Write(0, "x"));
    EXPECT_EQ(v, 5);
    EXPECT_STREQ(text, "keep");
    vexlor::os::SharedSection junk;
    if (round == 0) {
      ASSERT_TRUE(vexlor::os::section_create(vexlor::detail::kDatabaseSection, 4096, false, &junk,
                                             &error));
      std::memset(junk.address, 0x5A, 4096);
      vexlor::os::section_unmap(&junk);
    }
  }
}

TEST(Vmmap, SimulatedValueSlotsFollowTheDriverRules) {
  PrivateInstance instance("vmmap-sim");
  DatabaseBuilder b;
  SmallEquipment eq(b, /*simulation=*/false);
  VMMAP map;
  ASSERT_TRUE(map.VMMAP_Initial("TEST"));
  MMAP_STRU* db = map.DB();
  int v = -1;
  auto digital = [&](int point) { return map.VMMAP_Digital_Read(point, &v) ? v : -100; };

  // With an input driver and simulation off, a read returns what the driver delivered (the
  // limits and the points without driver are checked through the typed access).
  EXPECT_TRUE(map.VMMAP_Digital_Write(eq.valve, 1));
  EXPECT_EQ(db->digital_val[eq.valve].write_value, 1);
  EXPECT_EQ(db->digital_val[eq.valve].write_status, 1);
  EXPECT_EQ(digital(eq.valve), 0);
  db->digital_val[eq.valve].read_value = 1;
  EXPECT_EQ(digital(eq.valve), 1);

  // An offline driver fails every read and write through it, and changes nothing.
  db->driver_sp[eq.dio].params[kDriverParamOffline] = 1;
  v = 42;
  EXPECT_FALSE(map.VMMAP_Digital_Read(eq.valve, &v));
  EXPECT_EQ(v, 42);
  EXPECT_FALSE(map.VMMAP_Digital_Write(eq.valve, 0));
  EXPECT_EQ(db->digital_val[eq.valve].write_value, 1);
  EXPECT_FALSE(map.VMMAP_Analog_Write(eq.pressure, 10.0));
  EXPECT_EQ(db->analog_val[eq.pressure].write_value, 760.0);
  char text[1024];
  EXPECT_FALSE(map.VMMAP_String_Read(eq.recipe, text));
  EXPECT_TRUE(map.VMMAP_Digital_Write(eq.lamp, 2));  // no driver: unaffected
  db->driver_sp[eq.dio].params[kDriverParamOffline] = 0;
  EXPECT_TRUE(map.VMMAP_Digital_Write(eq.valve, 0));

  // NaN refused; an output-only driver still loops back (no input driver).
  double a = 0;
  EXPECT_FALSE(map.VMMAP_Analog_Write(eq.pressure, std::nan("")));
  EXPECT_TRUE(map.VMMAP_Analog_Write(eq.pressure, 1000.0));
  EXPECT_TRUE(map.VMMAP_Analog_Read(eq.pressure, &a));
  EXPECT_EQ(a, 1000.0);

  // Strings: cut to 1023 bytes; with the input driver the read is the driver's value.
  EXPECT_TRUE(map.VMMAP_String_Write(eq.recipe, std::string(3000, 'x').c_str()));
  EXPECT_EQ(std::strlen(db->string_val[eq.recipe].write_value), 1023u);
  EXPECT_TRUE(map.VMMAP_String_Read(eq.recipe, text));
  EXPECT_STREQ(text, "idle");
  std::strcpy(db->string_val[eq.recipe].read_value, "ETCH_A");
  EXPECT_TRUE(map.VMMAP_String_Read(eq.recipe, text));
  EXPECT_STREQ(text, "ETCH_A");
  EXPECT_FALSE(map.VMMAP_String_Write(eq.recipe, nullptr));

  // Out-of-range indices and null outputs fail; a count rewritten past the table cannot reach
  // beyond it.
  EXPECT_FALSE(map.VMMAP_Digital_Read(-1, &v) || map.VMMAP_Digital_Read(2, &v) ||
               map.VMMAP_Digital_Read(0, nullptr) || map.VMMAP_Analog_Write(-99999999, 1.0) ||
               map.VMMAP_String_Read(1, text));
  db->system_block->digital_count = 1000000;
  EXPECT_FALSE(map.VMMAP_Digital_Write(500000, 1));
  db->system_block->digital_count = 2;

  // Simulation on: writes loop back to the read value even with an input driver.
  db->system_block->simulation = 1;
  EXPECT_TRUE(map.VMMAP_Digital_Write(eq.valve, 0));
  EXPECT_EQ(digital(eq.valve), 0);
  EXPECT_TRUE(map.VMMAP_String_Write(eq.recipe, "DEPO_B"));
  EXPECT_TRUE(map.VMMAP_String_Read(eq.recipe, text));
  EXPECT_STREQ(text, "DEPO_B");
}

TEST(Vmmap, ProcessesShareOneInstanceAndInstancesShareNothing) {
  PrivateInstance instance("vmmap-xproc");
  DatabaseBuilder b;
  SmallEquipment eq(b);
  // A second instance under the same runtime folder, with its own database.
  const std::string other = instance.name() + "-other";
  instance.use(other);
  DatabaseBuilder b2;
  SmallEquipment eq2(b2);
  instance.use(instance.name());

  VMMAP map;
  ASSERT_TRUE(map.VMMAP_Initial("PARENT"));
  pid_t child = vexlor::test::spawn_child([&] {
    VMMAP m;
    if (!m.VMMAP_Initial("CHILD")) return 1;
    // The lamp goes last: the parent reads the text once it sees the lamp.
    if (!m.VMMAP_String_Write(eq.recipe, "from child")) return 3;
    if (!m.VMMAP_Digital_Write(eq.lamp, 2)) return 2;
    // Wait for the parent's answer written in shared memory.
    double a = 0;
    return vexlor::test::wait_until(
               [&] { return m.VMMAP_Analog_Read(eq.pressure, &a) && a == 123.5; }, 10)
               ? 0
               : 4;
  });
  int v = 0;
  ASSERT_TRUE(
      vexlor::test::wait_until([&] { return map.VMMAP_Digital_Read(eq.lamp, &v) && v == 2; }, 10));
  char text[1024];
  ASSERT_TRUE(map.VMMAP_String_Read(eq.recipe, text));
  EXPECT_STREQ(text, "from child");
  ASSERT_TRUE(map.VMMAP_Analog_Write(eq.pressure, 123.5));
  EXPECT_EQ(vexlor::test::wait_child(child, 10), 0);

  // The other instance saw none of it.
  instance.use(other);
  VMMAP other_map;
  ASSERT_TRUE(other_map.VMMAP_Initial("OTHER"));
  EXPECT_TRUE(other_map.VMMAP_Digital_Read(eq2.lamp, &v));
  EXPECT_EQ(v, 1);
  EXPECT_TRUE(other_map.VMMAP_String_Read(eq2.recipe, text));
  EXPECT_STREQ(text, "idle");
  EXPECT_NE(other_map.DB()->system_block, map.DB()->system_block);
  instance.use(instance.name());
}
