// What an equipment instance consists of right now, as the operator's tools show it (`vexlor
// status`): its database image, whether a sequence manager serves it and which processes have
// the database attached. Our own interface, not part of `Vexlor`; it attaches nothing.
#pragma once

#include <vexlor/export.h>

#include <string>
#include <vector>

namespace vexlor {

struct AttachedRoutine {
  long pid = 0;
  std::string routine;  // the name it attached under ("vexlor-manager" for the manager)
};

struct InstanceState {
  std::string instance;  // VEXLOR_INSTANCE, or "default"
  std::string folder;    // its runtime folder
  // "valid", "invalid" (with `database_problem`) or "none".
  std::string database = "none";
  std::string database_problem;
  std::string source;           // the configuration the database was built from
  std::string created;          // local date and time of the build
  unsigned long long size = 0;  // bytes of the image
  // The manager endpoint answers a connection.
  bool manager_serving = false;
  // The endpoint's socket is there but nobody answers: its server ended without closing it
  // (killed).
  bool manager_endpoint_left = false;
  long long manager_since = 0;  // when the endpoint was opened (seconds since 1970; 0 unknown)
  // "manager.log" in the folder: a manager ran here once; when it last wrote (0 if never).
  long long manager_log_time = 0;
  // Live attachments, by pid (dead ones are dropped on the way).
  std::vector<AttachedRoutine> attached;
};

// The state of the current instance (VEXLOR_INSTANCE under VEXLOR_RUNTIME_DIR).
VEXLOR_API InstanceState inspect_instance();

// Only the database fields of inspect_instance() (instance, folder, database, database_problem,
// source, created, size): the image is read, nothing is attached or registered, no endpoint is
// asked.
VEXLOR_API InstanceState inspect_database();

}  // namespace vexlor
