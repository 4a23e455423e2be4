// The extraction worker: walks the archive entry by entry and extracts each one under g_destination,
// asking about existing files and passwords, verifying every file and giving it the archive's time and
// attributes. Runs on its own thread; reports to the progress dialog and closes it at its end.
#pragma once

#include "platform/platform.h"

enum {
  OUTPUT_PATH_UNITS = 520,
  CANCEL_USER = 100,
  CANCEL_PATH_ERROR = 1,
  CANCEL_ERROR = -1,
};

// The thread procedure; the parameter is the archive's path (UTF-16), which the mapped window reopens.
// Returns 0 when the walk ended normally (single entries may have failed), (DWORD)-1 when it stopped on
// a folder that could not be created or on Cancel in a question.
DWORD WINAPI ExtractionWorker(LPVOID archivePath);

// Builds the output path for a prepared name (trimmed in place) and creates its folders. 1: a file
// path; 0: a folder entry (the folder path in outputPath), or a refused name (outputPath empty, string 6
// shown); -1: a folder could not be created (string 7 shown, cancel state set).
int BuildOutputPath(const WCHAR *destination, WCHAR *name, WCHAR *outputPath);
// Removes every "..\" from the name.
void StripParentRefs(WCHAR *name);
// Whether a path stays below the destination folder once the platform has normalised both; a folder
// may be the destination itself when allowSame is set.
int IsInsideDestination(const WCHAR *destination, const WCHAR *path, int allowSame);
// Whether the prepared name, every folder level along it included, stays inside the destination.
int NameStaysInside(const WCHAR *destination, const WCHAR *name);
void SetLastWriteTime(const WCHAR *path, const FILETIME *time, int folder);
