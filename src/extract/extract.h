// Extraction worker: shared state between the worker, the progress dialog and the driver, output
// files and error reporting, and the entry points of the worker's questions.
#pragma once

#include "platform/platform.h"

// Messages to the progress dialog.
enum {
  PROGRESS_MESSAGE = 1004,
  RESUME_ANIMATION_MESSAGE = 1025,
  PAUSE_ANIMATION_MESSAGE = 1026,
};

// Cancel state: 0 while extraction runs; 100 user's cancel, 1 folder cannot be created, -1 other stops.
extern volatile LONG g_cancelState;
extern HWND g_progressWindow;
extern FILE *g_archiveFile;

// ---- output files and error reporting ----
FILE *OpenStream(const WCHAR *path, const WCHAR *mode);
int ShowLastError(HWND owner, UINT style);
WCHAR *ToWide(const char *bytes);
char *ToNarrow(const WCHAR *text);

// ---- the progress dialog (main thread) ----
extern HWND g_progressBar;
extern HWND g_animationWindow;
// Creates, shows and paints the progress dialog; sets g_progressWindow.
void CreateProgressDialog(DWORD centralDirOffset);
