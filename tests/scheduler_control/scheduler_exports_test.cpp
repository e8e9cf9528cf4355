// The scheduler's calls by kind and its control functions: every call exists with its exact
// signature (a mismatch fails the build), and the calls the kind table generates are exactly
// the documented ones.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "vexlor/vexlor.h"

using namespace Vexlor;

namespace {

struct Export {
  const char* name;
  const void* address;
};
#define EXP(type, name) \
  Export { #name, reinterpret_cast < const void*>(static_cast <type>(&Vexlor::name)) }

// The documented calls: five per kind with run calls, the event alone for two kinds, and the
// process routine's virtual flag.
#define FIVE_SINGLE(K)                                                                      \
  EXP(FUNC_STATUS (*)(const char*, ...), VSCH_RUN_F_##K),                                   \
      EXP(bool (*)(const char*, ...), VSCH_RUN_SET_F_##K),                                  \
      EXP(FUNC_STATUS (*)(), VSCH_RUN_WAIT_F_##K), EXP(FUNC_STATUS (*)(), VSCH_READ_F_##K), \
      EXP(bool (*)(const char*, ...), VSCH_EVENT_F_##K)
#define FIVE_ROW(K)                                                                               \
  EXP(FUNC_STATUS (*)(int, const char*, ...), VSCH_RUN_F_##K),                                    \
      EXP(bool (*)(int, const char*, ...), VSCH_RUN_SET_F_##K),                                   \
      EXP(FUNC_STATUS (*)(int), VSCH_RUN_WAIT_F_##K), EXP(FUNC_STATUS (*)(int), VSCH_READ_F_##K), \
      EXP(bool (*)(int, const char*, ...), VSCH_EVENT_F_##K)

const Export kDocumentedCalls[] = {
    FIVE_SINGLE(EAP),
    FIVE_SINGLE(SCHEDULER),
    FIVE_ROW(INTERFACE_CM),
    FIVE_ROW(INTERFACE_BM),
    FIVE_ROW(INTERFACE_TM),
    FIVE_ROW(INTERFACE_PM),
    FIVE_ROW(MAINT_CM),
    FIVE_ROW(MAINT_BM),
    FIVE_ROW(MAINT_TM),
    FIVE_ROW(MAINT_PM),
    FIVE_ROW(PROCESS_PM),
    EXP(bool (*)(const char*, ...), VSCH_EVENT_F_MAIN_MONITOR),
    EXP(bool (*)(int, char*, ...), VSCH_EVENT_F_PROCESS_LOG),
    EXP(bool (*)(int), VSCH_VIRTUAL_F_PROCESS_PM),
};

extern const Export kControlExports[];
const Export kControlExports[] = {
    EXP(bool (*)(int), VSCH_TM_Mutex_Lock),
    EXP(bool (*)(int), VSCH_TM_Mutex_Unlock),
    EXP(bool (*)(int), VSCH_TM_PAUSE_WAIT),
    EXP(bool (*)(int), VSCH_PM_PAUSE_WAIT),
    EXP(bool (*)(int, const char*, ...), VSCH_ALARM_POST),
    EXP(bool (*)(int, const char*, int, const char*, ...), VSCH_ALARM_POST),
    EXP(ALARM_STYLE (*)(int, const char*, ...), VSCH_ERROR_HANDLER),
    EXP(FUNC_STATUS (*)(const char*, ...), VSCH_BUTTON_HANDLER),
    EXP(bool (*)(), VSCH_IsValid),
    EXP(void (*)(int, int, const char*, ...), VSCH_LOT_LOG),
    EXP(bool (*)(int, const char*, ...), VSCH_EVENT_F_PROCESS_LOG),  // literals compile too
};

// The names the kind table generates, by its calls column.
void add_generated(std::set<std::string>& out, const std::string& kind, const std::string& calls) {
  const bool run = calls != "EVENT";
  for (const char* call : {"RUN", "RUN_SET", "RUN_WAIT", "READ"}) {
    if (run) out.insert(std::string("VSCH_") + call + "_F_" + kind);
  }
  out.insert("VSCH_EVENT_F_" + kind);
  if (calls == "RUN_VIRT") out.insert("VSCH_VIRTUAL_F_" + kind);
}

TEST(SchedulerCalls, TheKindTableGeneratesExactlyTheDocumentedCalls) {
  std::set<std::string> documented, generated;
  for (const Export& e : kDocumentedCalls) documented.insert(e.name);
  EXPECT_EQ(documented.size(), 58u);
#define VEXLOR_SCH_KIND(kind, shape, name, slots, calls, run, format) \
  add_generated(generated, #kind, #calls);
#include "vexlor/scheduler/calls.def"
  EXPECT_EQ(generated, documented);
}

}  // namespace
