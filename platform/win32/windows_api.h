// The one header that includes <windows.h>, with the settings every win32 source shares.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0601  // Windows 7; Vista-only paths look functions up at run time
#endif

#include <windows.h>

#include <objbase.h>   // CoTaskMemFree
#include <shellapi.h>  // ShellExecuteExA
