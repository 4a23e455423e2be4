// The extraction driver: opens the archive (the one named on the command line, or the program's own
// file), applies the own file's settings block, and runs the extraction.
#include "startup/startup.h"

#include "extract/extract.h"
#include "resources/resource_ids.h"

static void ShowStringMessage(UINT id, UINT style) {
  WCHAR text[128];
  LoadStringW(g_instance, id, text, 128);
  MessageBoxW(NULL, text, L"VAZ-IDA", style);
}

int RunExtraction(WCHAR *archivePath) {
  g_archiveFile = NULL;
  int temporaryDestination = 0;
  if (archivePath[0] != 0) {
    g_archiveFile = OpenStream(archivePath, L"rb");
    if (g_archiveFile == NULL) {
      ShowStringMessage(IDS_CANNOT_OPEN_ARCHIVE, MB_ICONERROR);
      return 0;
    }
  } else {
    GetModuleFileNameW(g_instance, archivePath, MAX_PATH);
    g_archiveFile = OpenStream(archivePath, L"rb");
    if (g_archiveFile == NULL) {
      ShowStringMessage(IDS_CANNOT_OPEN_ARCHIVE, MB_ICONERROR);
      return 0;
    }
    if (!ReadSettingsBlock(archivePath, &temporaryDestination)) return 0;
  }
  (void)temporaryDestination;
  // The archive walk and the extraction are not part of the program yet.
  fclose(g_archiveFile);
  g_archiveFile = NULL;
  return 0;
}
