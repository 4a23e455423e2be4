// The mapped archive window: opening the mapping of the archive file, moving the view over it, handing
// out bytes at the cursor, and closing it. Inflate is the only reader; the worker opens the window for
// each Deflate or Deflate64 entry, seeks it to the entry's data and closes it afterwards.
#include "archive/window.h"

#include "extract/extract.h"
#include "resources/resource_ids.h"
#include "startup/startup.h"

DWORD g_windowSize;
DWORD g_allocationGranularity;
HANDLE g_windowMapping;
BYTE *g_windowView;
DWORD g_windowFileSize;
DWORD g_windowCursor;
DWORD g_windowViewOffset;
LONG g_windowPastEnd;
DWORD g_windowViewLimit;
const BYTE g_windowFallbackByte = 0;

static const WCHAR WINDOW_CAPTION[] = L"VAZ-IDA";

static void ShowMappingError(const WCHAR *text) {
  MessageBoxW(g_progressWindow, text, WINDOW_CAPTION, MB_ICONERROR);
  g_cancelState = -1;
}

// Maps the view that holds file offset p: it starts at p rounded down to the granularity and reaches
// g_windowSize bytes or the end of the file. A cursor at the very end of a file whose size is a multiple
// of the granularity gets the last granule as its view rather than an empty one.
static int RemapArchiveWindow(DWORD p) {
  if (g_windowView) {
    UnmapViewOfFile(g_windowView);
    g_windowView = 0;
  }
  g_windowViewLimit = 0;
  DWORD r = p % g_allocationGranularity;
  DWORD start = p - r;
  if (start >= g_windowFileSize && start >= g_allocationGranularity) {
    start -= g_allocationGranularity;
    r += g_allocationGranularity;
  }
  DWORD length = g_windowFileSize - start;
  if (length > g_windowSize) {
    length = g_windowSize;
  }
  g_windowView = (BYTE *)MapViewOfFile(g_windowMapping, FILE_MAP_READ, 0, start, length);
  if (!g_windowView) {
    ShowMappingError(L"MapViewOfFile() Error!");
    return 0;
  }
  g_windowViewLimit = length;
  g_windowViewOffset = r;
  g_windowCursor = p;
  return 1;
}

void CloseArchiveWindow(void) {
  if (g_windowView) {
    UnmapViewOfFile(g_windowView);
  }
  if (g_windowMapping) {
    CloseHandle(g_windowMapping);
  }
  g_windowPastEnd = 0;
  g_windowView = 0;
  g_windowMapping = 0;
  g_windowFileSize = 0;
  g_windowCursor = 0;
  g_windowViewOffset = 0;
  g_windowViewLimit = 0;
}

int OpenArchiveWindow(const WCHAR *path) {
  CloseArchiveWindow();
  if (!g_allocationGranularity) {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    g_allocationGranularity = info.dwAllocationGranularity;
  }
  g_windowSize = ARCHIVE_WINDOW_GRANULES * g_allocationGranularity;

  HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, 0, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, 0);
  if (file == INVALID_HANDLE_VALUE) {
    WCHAR text[128];
    LoadStringW(g_instance, IDS_CANNOT_OPEN_ARCHIVE, text, 128);
    MessageBoxW(0, text, WINDOW_CAPTION, MB_ICONERROR);
    g_cancelState = -1;
    return 0;
  }
  g_windowFileSize = GetFileSize(file, 0);
  g_windowMapping = CreateFileMappingW(file, 0, PAGE_READONLY, 0, g_windowFileSize, 0);
  CloseHandle(file);
  if (!g_windowMapping) {
    ShowMappingError(L"CreateFileMapping() Error!");
    CloseArchiveWindow();
    return 0;
  }
  DWORD length = g_windowFileSize > g_windowSize ? g_windowSize : g_windowFileSize;
  g_windowView = (BYTE *)MapViewOfFile(g_windowMapping, FILE_MAP_READ, 0, 0, length);
  if (!g_windowView) {
    ShowMappingError(L"MapViewOfFile() Error!");
    CloseArchiveWindow();
    return 0;
  }
  g_windowViewLimit = length;
  return 1;
}

int SeekArchiveWindow(DWORD offset) {
  if (offset > g_windowFileSize || !g_windowView) {
    return 0;
  }
  if (g_windowFileSize <= g_windowSize) {
    g_windowCursor = offset;
    g_windowViewOffset = offset;
    return 1;
  }
  // An offset before the view's start wraps to a huge place and falls through to the remap.
  DWORD place = g_windowViewOffset - g_windowCursor + offset;
  if (place <= g_windowViewLimit) {
    g_windowViewOffset = place;
    g_windowCursor = offset;
    return 1;
  }
  return RemapArchiveWindow(offset);
}

BYTE *ReadArchiveWindowSlow(DWORD count, DWORD *place) {
  if (g_windowCursor >= g_windowFileSize) {
    g_windowPastEnd = 1;
    if (place) {
      *place = 0;
    }
    return (BYTE *)&g_windowFallbackByte;
  }
  if (!g_windowView) {
    return 0;
  }
  DWORD rest = g_windowFileSize - g_windowCursor;
  if (count > rest) {
    count = rest;
  }
  if (g_windowViewOffset + count > g_windowViewLimit) {
    if (!RemapArchiveWindow(g_windowCursor)) {
      return 0;
    }
    // A request longer than a view can hold gets what the view holds.
    if (g_windowViewOffset + count > g_windowViewLimit) {
      count = g_windowViewLimit - g_windowViewOffset;
      if (place) {
        *place = count;
      }
    }
  }
  BYTE *bytes = g_windowView + g_windowViewOffset;
  g_windowViewOffset += count;
  g_windowCursor += count;
  return bytes;
}
