// Entry points of the worker's two questions: whether to replace an existing file, and the password of
// an encrypted entry. Both run on the worker thread, owned by the progress dialog.
#pragma once

#include "platform/platform.h"

// Set by the replace question's Newer button; from then on an existing file is replaced only when it is
// older than the archived one. Never cleared during a run.
extern DWORD g_newerOnly;

struct OverwriteRequest {
  const WCHAR *path;
  const FILETIME *existingTime; // UTC
  const FILETIME *archivedTime; // UTC
  DWORD existingSize;
  DWORD archivedSize;
};

enum {
  PASSWORD_BYTES = 128,
  // Results of AskOverwrite besides IDYES (6) and IDNO (7).
  OVERWRITE_YES_TO_ALL = 100,
  OVERWRITE_CANCEL = -1,
  // Results of AskPassword.
  PASSWORD_SKIP = 0,
  PASSWORD_OK = 1,
  PASSWORD_CANCEL = 2,
};

struct PasswordRequest {
  const WCHAR *entryName;
  char password[PASSWORD_BYTES]; // ANSI code page, NUL-terminated; emptied on Cancel and Skip
};

// 6 Yes (also Newer, which sets g_newerOnly first), 7 No, 100 Yes to All, -1 Cancel (the progress dialog
// is closed first), 0 when the question could not be shown.
int AskOverwrite(OverwriteRequest *request);
// 1 OK (the password is in the request), 2 Cancel, 0 Skip or when the question could not be shown.
int AskPassword(PasswordRequest *request);
