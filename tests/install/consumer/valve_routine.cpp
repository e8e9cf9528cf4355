// A routine as small as they come: attaches as INSTALL_CHECK, opens PM1.Valve by its
// enumeration text and prints what the point now holds.
#include <vexlor/vexlor.h>

#include <cstdio>

int main() {
  using namespace Vexlor;
  if (!VHub_Initial("INSTALL_CHECK")) return 2;
  int valve = -1;
  const bool written =
      VIO_Find_Point(&valve, IO_D, "PM1.Valve") && VDigital_Write_Mem_Str(valve, "Open");
  char text[64] = "";
  const int value = VDigital_Read_Mem_Str(valve, text);
  std::printf("%s = %s (%d)\n", VDigital_Get_Name(valve), text, value);
  VHub_Release();
  return written ? 0 : 1;
}
