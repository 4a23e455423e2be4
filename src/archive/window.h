// The mapped archive window: a read-only mapping of the archive file seen through one view of at most
// ten allocation granules that moves forward as Inflate consumes bytes. Inflate reads one byte per call,
// so the common case of ReadArchiveWindow (the byte is inside the current view) is inline here: a bounds
// test and an increment. Everything else (remaps, the end of the file, a missing view) is out of line.
// Used on the worker thread only.
#pragma once

#include "platform/platform.h"

enum {
  ARCHIVE_WINDOW_GRANULES = 10,
};

extern DWORD g_windowSize;
extern DWORD g_allocationGranularity;
extern HANDLE g_windowMapping;
extern BYTE *g_windowView;
extern DWORD g_windowFileSize;
extern DWORD g_windowCursor;
extern DWORD g_windowViewOffset;
extern LONG g_windowPastEnd;
// View offset up to which bytes are handed out without further tests: the length of the current view
// (0 when there is none). In a view of the whole file the view offset always equals the cursor.
extern DWORD g_windowViewLimit;
// Handed out instead of file data past the end of the file; always 0.
extern const BYTE g_windowFallbackByte;

int OpenArchiveWindow(const WCHAR *path);
int SeekArchiveWindow(DWORD offset);
void CloseArchiveWindow(void);
BYTE *ReadArchiveWindowSlow(DWORD count, DWORD *place);

// A pointer to count bytes at the cursor, the cursor advanced by count; the fallback byte past the end
// of the file (g_windowPastEnd set, 0 stored in *place when given); none when no view can supply them.
inline BYTE *ReadArchiveWindow(DWORD count, DWORD *place) {
  DWORD offset = g_windowViewOffset;
  if (count == 1 && offset < g_windowViewLimit) {
    g_windowViewOffset = offset + 1;
    g_windowCursor++;
    return g_windowView + offset;
  }
  return ReadArchiveWindowSlow(count, place);
}
