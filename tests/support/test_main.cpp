// The test program's entry on Windows: it is also every child process of the cross-process
// tests (see support/child.h).
#include <gtest/gtest.h>

#include "support/child.h"

int main(int argc, char** argv) {
  int child = vexlor::test::run_child_from_args(argc, argv);
  if (child >= 0) return child;
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
