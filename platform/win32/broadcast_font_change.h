// The entry function of the thread that tells every top-level window the font table changed.
#pragma once

#include "platform/win32/windows_api.h"

namespace kesmar {

// Sends WM_FONTCHANGE, both parameters 0, to HWND_BROADCAST and returns 1.
// The parameter is ignored.
unsigned __stdcall BroadcastFontChange(void* ignored);

}  // namespace kesmar
