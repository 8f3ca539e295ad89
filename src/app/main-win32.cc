#include <windows.h>

#include "driver/conversion.h"
#include "platform/win32/startup.h"

// The windowed entry, so no console is made; its arguments are not looked
// at: the tool takes none.
int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  mirrorpdf::harden_start();
  mirrorpdf::convert_all();
}
