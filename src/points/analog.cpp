// Analog points: raw access, access by name, and the texts of values in the point's decimal
// places. The fields and the value slot are expanded in point_fields.cpp.
#include "vexlor/analog.h"

#include <cstdio>
#include <cstdlib>

#include "points/typed_point.h"

namespace vexlor::detail {
namespace {

using Analog = AnalogKind;

// Width of a caller's text buffer for the text of a value.
constexpr std::size_t kTextSize = kNameSize;

// "%.0f" to "%.8f" by the decimal places, "%.2f" for any other number of places.
void write_number(char* text, double value, int decimal) {
  if (text == nullptr) return;
  const int places = decimal >= 0 && decimal <= 8 ? decimal : 2;
  std::snprintf(text, kTextSize, "%.*f", places, value);
}

}  // namespace
}  // namespace vexlor::detail

namespace Vexlor {

namespace d = vexlor::detail;
using d::Analog;

bool VAnalog_Read_Str(int index, char* text) {
  const d::PointRef<Analog> p = d::checked_point<Analog>(index, VEXLOR_SITE);
  double value = VEXLOR_ANALOG_FAILURE;
  if (!p || !VAnalog_Read(index, &value)) {
    d::write_number(text, VEXLOR_ANALOG_FAILURE, 2);
    return false;
  }
  d::write_number(text, value, p.record().decimal);
  return true;
}

double VAnalog_Read_Mem_Str(int index, char* text) {
  if (const d::PointRef<Analog> p = d::checked_point<Analog>(index, VEXLOR_SITE)) {
    d::write_number(text, d::shown_value(p), p.record().decimal);
  } else {
    d::write_number(text, VEXLOR_ANALOG_FAILURE, 2);
  }
  return 1.0;
}

bool VAnalog_Write_Str(int index, const char* text) {
  if (d::database_layer() == nullptr) return false;
  if (!d::checked_point<Analog>(index, VEXLOR_SITE)) return false;
  double value = 0.0;
  return VStr_To_Double(text, &value) && VAnalog_Write(index, value);
}

bool VAnalog_Write_Mem_Str(int index, const char* text) {
  const d::PointRef<Analog> p = d::checked_point<Analog>(index, VEXLOR_SITE);
  if (!p) return false;
  d::store_value(p.slot().write_value, text != nullptr ? std::strtod(text, nullptr) : 0.0);
  return true;
}

}  // namespace Vexlor
