// Test support for the named point accessors and host link items. Their lazy point caches live
// for the whole process, so each case runs its calls in a forked child with fresh caches.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "config/vocabulary.h"
#include "support/equipment.h"

namespace vexlor::test {

// Module counts of the test equipment; process modules are named ETCH1 to ETCH8.
constexpr int kCarrierModules = 6, kBufferModules = 2, kTransferModules = 4, kProcessModules = 8;

inline void add_modules(config::DatabaseBuilder& b) {
  const struct {
    const char* prefix;
    const char* name_prefix;
    Vexlor::MODULE_TYPE kind;
    int count;
  } kinds[] = {{"CM", "LP", Vexlor::MODULE_CM, kCarrierModules},
               {"BM", "LL", Vexlor::MODULE_BM, kBufferModules},
               {"TM", "VTM", Vexlor::MODULE_TM, kTransferModules},
               {"PM", "ETCH", Vexlor::MODULE_PM, kProcessModules}};
  int base = 1;
  for (const auto& k : kinds) {
    for (int side = 0; side < k.count; ++side) {
      b.add_module(k.prefix + std::to_string(side + 1), k.name_prefix + std::to_string(side + 1),
                   k.kind, side, base++);
    }
  }
}

class NamedAccess : public EquipmentTest {
 protected:
  // Publishes the builder's equipment and attaches the parent.
  void publish() {
    b_.add_function("NAMED_TEST");
    start("NAMED_TEST");
  }

  // Runs `body` in a child with fresh caches; fails the test when the child reports a failure
  // or does not finish. The parent lets go of the library first (no library thread of it may
  // hold a lock at the fork); the child attaches on its own unless `attached` is false.
  static void in_child(const std::function<void()>& body, bool attached = true) {
    Vexlor::VHub_Release();
    const pid_t pid = spawn_child([&] {
      if (attached && !Vexlor::VHub_Initial("NAMED_TEST")) return 2;
      body();
      return ::testing::Test::HasFailure() ? 1 : 0;
    });
    EXPECT_EQ(wait_child(pid, 60), 0);
    if (attached) {
      ASSERT_TRUE(Vexlor::VHub_Initial("NAMED_TEST"));
    }
  }

  // The index of a point by name in the table of `type` (-1 when missing).
  static int point(Vexlor::IO_TYPE type, const char* name) {
    int index = -1;
    Vexlor::VIO_Find_Point(&index, type, true, name);
    return index;
  }
};

// The test equipment with the standard vocabulary and the routine ETCH2_PROCESS.
class StandardEquipment : public NamedAccess {
 protected:
  void SetUp() override {
    add_modules(b_);
    config::add_standard_vocabulary(b_);
    b_.add_function("ETCH2_PROCESS");
    publish();
  }
};

}  // namespace vexlor::test
