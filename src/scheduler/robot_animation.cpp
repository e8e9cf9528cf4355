// Robot animation positions that live in the robots' analog points when the equipment has them
// and in the fallback fields of the robot animation block when it does not, and the scheduler's
// message line.
#include <vexlor/string_points.h>

#include "named/named_access.h"
#include "scheduler/block_access.h"

namespace vexlor::detail::sch {
namespace {

namespace n = named;

// The robot's point (-1 or unresolved when the equipment has none).
template <typename Cache>
int32_t robot_point(Cache& cache, const char* format, int i) {
  return named_point<NameRule::PLUS1>(cache, Vexlor::IO_A, format, i, 0);
}

int32_t extension_point(int i, int j) {
  return named_point<NameRule::SUFFIX>(n::CTC_Rbx_Extension_grid, Vexlor::IO_A,
                                       n::CTC_Rbx_Extension_format, i, j);
}

double point_or_field(int32_t point, const Field& fallback, std::initializer_list<int> index) {
  return point >= 0 ? named_read<AnalogKind>(point) : get<DOUBLE>(fallback, index);
}

bool point_or_field(int32_t point, const Field& fallback, std::initializer_list<int> index,
                    double value) {
  return point >= 0 ? named_write<AnalogKind>(point, value) : set<DOUBLE>(fallback, index, value);
}

PointSlot scheduler_message;

}  // namespace
}  // namespace vexlor::detail::sch

namespace Vexlor {

namespace s = vexlor::detail::sch;
namespace n = vexlor::detail::named;

double VSCH_Get_RbtAni_MoveX(int i) {
  return s::point_or_field(s::robot_point(n::CTC_Rbx_Movement_row, n::CTC_Rbx_Movement_format, i),
                           s::field::RbtAni_MoveX, {i});
}
double VSCH_Get_RbtAni_MoveY(int i) {
  return s::point_or_field(s::robot_point(n::CTC_Rbx_UpDown_row, n::CTC_Rbx_UpDown_format, i),
                           s::field::RbtAni_MoveY, {i});
}
double VSCH_Get_RbtAni_Rotate(int i) {
  return s::point_or_field(s::robot_point(n::CTC_Rbx_Rotation_row, n::CTC_Rbx_Rotation_format, i),
                           s::field::RbtAni_Rotate, {i});
}
double VSCH_Get_RbtAni_Extend(int i, int j) {
  return s::point_or_field(s::extension_point(i, j), s::field::RbtAni_Extend, {i, j});
}

bool VSCH_Set_RbtAni_MoveX(int i, double value) {
  return s::point_or_field(s::robot_point(n::CTC_Rbx_Movement_row, n::CTC_Rbx_Movement_format, i),
                           s::field::RbtAni_MoveX, {i}, value);
}
bool VSCH_Set_RbtAni_MoveY(int i, double value) {
  return s::point_or_field(s::robot_point(n::CTC_Rbx_UpDown_row, n::CTC_Rbx_UpDown_format, i),
                           s::field::RbtAni_MoveY, {i}, value);
}
bool VSCH_Set_RbtAni_Rotate(int i, double value) {
  return s::point_or_field(s::robot_point(n::CTC_Rbx_Rotation_row, n::CTC_Rbx_Rotation_format, i),
                           s::field::RbtAni_Rotate, {i}, value);
}
bool VSCH_Set_RbtAni_Extend(int i, int j, double value) {
  return s::point_or_field(s::extension_point(i, j), s::field::RbtAni_Extend, {i, j}, value);
}

bool VSCH_Set_MessageF(const char* format, ...) {
  VEXLOR_FORMAT_ARGS(text, vexlor::detail::kStringSize, format);
  const int32_t point = s::scheduler_message.get(IO_S, "CTC.SCHEDULER_MESSAGE");
  if (point < 0) return false;
  VString_Write_Message(point, text);
  return true;
}

}  // namespace Vexlor
