// What the Windows program does before anything else, so that an unattended
// run never stops at a dialog and never loads a DLL planted beside it.
#pragma once

namespace mirrorpdf {

// No error box of the system's (a crash, a drive without media, a file that
// cannot be opened), for the tool and every converter it starts, which
// inherit the mode; DLLs searched for in System32 only; and an escaped
// exception or a call to abort ends the process quietly with status 0
// instead of the C runtime's message. Call it first, before any file is
// touched.
void harden_start();

}  // namespace mirrorpdf
