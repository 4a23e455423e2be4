// The platform API as the stub's code sees it. On Windows these are the toolchain's own Win32 headers;
// on Linux they are the project's declarations of exactly the subset that code below the window
// manager calls (src/platform/host), so that the same sources build and run in both worlds.
#pragma once

#ifdef _WIN32
#include <windows.h>
#include <commctrl.h>
#include <fcntl.h>
#include <io.h>
#include <shellapi.h>
#include <shlobj.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>
#else
#include "platform/host/win32_api.h"
#endif
