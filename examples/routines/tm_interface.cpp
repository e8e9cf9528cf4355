// Transfer-module interface: the robot of one transfer module, as the scheduler drives it.
// Each run is one move, "PICK <module> <slot> <arm>" or "PLACE <module> <slot> <arm>", e.g.
// "PICK CM1 1 A": the robot takes the wafer from slot 1 of carrier module CM1 onto arm A. The
// move updates the shared picture the way the real robot's routine does: the wafer's number
// and source leave the module slot and appear on the arm (or the other way round), and the
// transfer module remembers where it picked and placed last.
//
//   tm_interface [ROUTINE [MODULE]]      e.g. tm_interface SCHEDULER_INTERFACE_TM1 TM1
#include <vexlor/routine.h>
#include <vexlor/vexlor.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

using namespace Vexlor;

namespace {

// Where a wafer sits: a module slot of a kind, or a robot arm.
struct Place {
  int type = -1;  // MODULE_TYPE: 0 carrier, 1 buffer, 3 process module
  int index = -1;
  int slot = -1;  // zero-based
};

// "CM1 1" -> carrier 0, slot 0. False for anything else.
bool parse_place(const char* module, int slot, Place* place) {
  static const struct {
    const char* prefix;
    int type;
  } kinds[] = {{"CM", 0}, {"BM", 1}, {"PM", 3}};
  for (const auto& kind : kinds) {
    int number = 0;
    if (std::strncmp(module, kind.prefix, 2) == 0 && std::sscanf(module + 2, "%d", &number) == 1 &&
        number >= 1 && slot >= 1) {
      *place = {kind.type, number - 1, slot - 1};
      return true;
    }
  }
  return false;
}

// The wafer number and source at a module slot (0 when the slot is empty).
int wafer_at(const Place& p, int* source) {
  switch (p.type) {
    case 0:
      *source = p.index;
      return VSCH_Get_CM_Wafer_Number(p.index, p.slot);
    case 1:
      *source = VSCH_Get_BM_Wafer_Source(p.index, p.slot);
      return VSCH_Get_BM_Wafer_Number(p.index, p.slot);
    default:
      *source = VSCH_Get_PM_Wafer_Source(p.index, p.slot);
      return VSCH_Get_PM_Wafer_Number(p.index, p.slot);
  }
}

void put_wafer(const Place& p, int number, int source) {
  switch (p.type) {
    case 0:  // a carrier slot knows only whether its wafer is home; the source is the carrier
      VSCH_Set_CM_Wafer_Number(p.index, p.slot, number);
      break;
    case 1:
      VSCH_Set_BM_Wafer_Number(p.index, p.slot, number);
      VSCH_Set_BM_Wafer_Source(p.index, p.slot, source);
      break;
    default:
      VSCH_Set_PM_Wafer_Number(p.index, p.slot, number);
      VSCH_Set_PM_Wafer_Source(p.index, p.slot, source);
      break;
  }
}

}  // namespace

int main(int argc, char** argv) {
  const char* routine = argc > 1 ? argv[1] : "SCHEDULER_INTERFACE_TM1";
  const std::string module = argc > 2 ? argv[2] : "TM1";
  const int tm = std::atoi(module.c_str() + 2) - 1;

  vexlor::routine::Handlers handlers;
  handlers.run = [&](const vexlor::routine::Run& run) {
    char verb[16] = "", where[16] = "";
    int slot = 0;
    char arm_letter = 'A';
    Place place;
    if (std::sscanf(run.param.c_str(), "%15s %15s %d %c", verb, where, &slot, &arm_letter) < 3 ||
        !parse_place(where, slot, &place) || arm_letter < 'A' || arm_letter > 'D') {
      VPrint_Red(routine, "bad move \"%s\" (PICK|PLACE <module> <slot> <arm>)", run.param.c_str());
      return SYS_ERROR;
    }
    const int arm = arm_letter - 'A';
    const bool pick = std::strcmp(verb, "PICK") == 0;
    if (!pick && std::strcmp(verb, "PLACE") != 0) {
      VPrint_Red(routine, "bad move \"%s\": PICK or PLACE", run.param.c_str());
      return SYS_ERROR;
    }
    VPrint(routine, "%s %s slot %d with arm %c", pick ? "pick from" : "place into", where, slot,
           arm_letter);
    if (!VTimer_Wait_Seconds(0.3)) return SYS_ABORTED;  // the robot moves

    int source = -1, number = 0;
    if (pick) {
      number = wafer_at(place, &source);
      if (number <= 0) {
        VPrint_Red(routine, "no wafer in %s slot %d", where, slot);
        return SYS_ERROR;
      }
      put_wafer(place, 0, -1);
      VSCH_Set_TM_Wafer_Number(tm, arm, number);
      VSCH_Set_TM_Wafer_Source(tm, arm, source);
      VSCH_Set_TM_Last_Pick_Module_Type(tm, place.type);
      VSCH_Set_TM_Last_Pick_Module_Side(tm, place.index);
    } else {
      number = VSCH_Get_TM_Wafer_Number(tm, arm);
      source = VSCH_Get_TM_Wafer_Source(tm, arm);
      if (number <= 0) {
        VPrint_Red(routine, "no wafer on arm %c", arm_letter);
        return SYS_ERROR;
      }
      put_wafer(place, number, source);
      VSCH_Set_TM_Wafer_Number(tm, arm, 0);
      VSCH_Set_TM_Wafer_Source(tm, arm, -1);
      VSCH_Set_TM_Last_Place_Module_Type(tm, place.type);
      VSCH_Set_TM_Last_Place_Module_Side(tm, place.index);
    }
    VSCH_Set_TM_Last_Module_Type(tm, place.type);
    VSCH_Set_TM_Last_Module_Side(tm, place.index);
    // The host follows the substrate: out of its carrier, into and out of a module, home again.
    const WAFER_MODULE at{place.type, place.index, place.slot};
    if (place.type == 0) {
      if (pick) VFA_Report_Event_SUBST_FROM_FOUP_AT_WORK(source, number - 1, tm, arm);
      else VFA_Report_Event_SUBST_AT_DESTINATION(source, number - 1, tm, arm, at);
    } else if (pick) {
      VFA_Report_Event_SUBST_FROM_WORK(source, number - 1, tm, arm, at);
    } else {
      VFA_Report_Event_SUBST_AT_WORK(source, number - 1, tm, arm, at);
    }
    VFunction_Upload_MessageF("%s wafer %d (CM%d) %s %s slot %d", routine, number, source + 1,
                              pick ? "picked from" : "placed into", where, slot);
    return SYS_SUCCESS;
  };
  return vexlor::routine::serve(routine, handlers);
}
