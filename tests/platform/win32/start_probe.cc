// A program that starts as the tool does and then ends the way the given
// mode says: how it ends shows what the start-up did.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <stdexcept>
#include <string>

#include "platform/win32/startup.h"

int wmain(int argc, wchar_t** argv) {
  mirrorpdf::harden_start();
  const std::wstring mode = argc > 1 ? argv[1] : L"";
  if (mode == L"error-mode") std::printf("%x", static_cast<unsigned>(GetErrorMode()));
  if (mode == L"terminate") std::terminate();
  if (mode == L"abort") std::abort();
  if (mode == L"throw") throw std::runtime_error("escaped");
  return mode == L"error-mode" ? 0 : 7;
}
