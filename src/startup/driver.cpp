// The extraction driver: the main flow from the archive path to the process result. It opens the archive
// (the one named on the command line, or the program's own file with its settings block), finds the end
// record, asks the stored question, has the archive checked, settles the destination, creates it, runs the
// worker behind the progress dialog, and then runs the setup command or opens the folder.
#include "startup/startup.h"

#include "archive/reader.h"
#include "extract/extract.h"
#include "extract/questions.h"
#include "resources/resource_ids.h"

enum {
  BASE_NAME_CHARS = 256,
  MESSAGE_CHARS = 1024,
};

static void ShowStringMessage(UINT id, UINT style) {
  WCHAR text[128];
  LoadStringW(g_instance, id, text, 128);
  MessageBoxW(NULL, text, L"VAZ-IDA", style);
}

// Joins a folder and a rest into the destination; 0 when the result does not fit.
static int JoinDestination(WCHAR *destination, const WCHAR *folder, const WCHAR *rest) {
  if (lstrlenW(folder) + lstrlenW(rest) > MAX_PATH - 1) return 0;
  WCHAR joined[MAX_PATH];
  lstrcpyW(joined, folder);
  lstrcatW(joined, rest);
  lstrcpyW(destination, joined);
  return 1;
}

int ResolveDestination(WCHAR *destination, const WCHAR *archiveFolder) {
  SlashesToBackslashes(destination);
  StripTrailingBackslash(destination);
  int accepted = 1;
  if (destination[0] == 0) {
    lstrcpyW(destination, archiveFolder);
  } else if (wcschr(destination, L'\\') == NULL && destination[lstrlenW(destination) - 1] != L':') {
    // A plain name is a folder inside the archive's folder.
    accepted = JoinDestination(destination, archiveFolder, destination);
  } else if (destination[0] == L'\\' && destination[1] != L'\\') {
    // A leading backslash means the archive's folder, not the root of the drive.
    accepted = JoinDestination(destination, archiveFolder, destination + 1);
  } else if (destination[0] == L'.' && destination[1] == L'\\') {
    accepted = JoinDestination(destination, archiveFolder, destination + 2);
  } else if (destination[0] == L'.' && destination[1] == L'.' && destination[2] == L'\\') {
    int climbs = 0;
    WCHAR *rest = destination;
    for (WCHAR *up = wcsstr(rest, L"..\\"); up != NULL; up = wcsstr(rest, L"..\\")) {
      ++climbs;
      rest = up + 2;
    }
    WCHAR base[MAX_PATH];
    lstrcpyW(base, archiveFolder);
    StripTrailingBackslash(base);
    for (int i = 0; i < climbs && accepted; ++i) {
      WCHAR *cut = wcsrchr(base, L'\\');
      if (cut == NULL) {
        accepted = 0;
      } else {
        *cut = 0;
      }
    }
    if (accepted) {
      WCHAR kept[MAX_PATH];
      lstrcpyW(kept, rest);
      accepted = JoinDestination(destination, base, kept);
    }
  }
  if (accepted && wcspbrk(destination, L";*?\"<>|") != NULL) accepted = 0;
  if (!accepted) lstrcpyW(destination, archiveFolder);
  return accepted;
}

int RunExtraction(WCHAR *archivePath) {
  int result = 1;
  DWORD workerExitCode = 0xFFFFFFFF;
  int temporaryDestination = 0;
  g_archiveFile = NULL;
  g_cancelState = 0;
  g_newerOnly = 0;

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

  DWORD centralDirOffset = LocateCentralDirectory();
  if (centralDirOffset == 0) {
    ShowStringMessage(IDS_UNSUPPORTED_FORMAT, MB_ICONERROR);
    fclose(g_archiveFile);
    g_archiveFile = NULL;
    return 0;
  }

  if (g_questionText[0] != 0 &&
      MessageBoxW(NULL, g_questionText, g_questionCaption, MB_ICONQUESTION | MB_YESNO) != IDYES) {
    return 0;
  }

  if (g_expectedArchiveCrc != 0 && !CheckArchiveCrc(NULL, g_instance, g_expectedArchiveCrc) &&
      g_setupCommand[0] != 0) {
    return 0;
  }

  // The archive's folder keeps the whole path's folder (not only 127 characters), so that archives in
  // deep folders still resolve their destinations.
  WCHAR archiveFolder[MAX_PATH];
  WCHAR archiveName[MAX_PATH];
  WCHAR archiveBaseName[BASE_NAME_CHARS];
  SplitPath(archivePath, archiveFolder, archiveName);
  if (archiveFolder[0] == 0) {
    // A bare name (sfx.exe /h a.zip, or a path written with slashes) would leave no folder at all: the
    // destination would be empty and could never be created. The full path names the folder it lies in.
    WCHAR fullPath[MAX_PATH];
    DWORD length = GetFullPathNameW(archivePath, MAX_PATH, fullPath, NULL);
    if (length > 0 && length < MAX_PATH) SplitPath(fullPath, archiveFolder, archiveName);
  }
  if (g_destination[0] == 0) lstrcpyW(g_destination, archiveFolder);
  WCHAR *dot = wcsrchr(archiveName, L'.');
  if (dot != NULL) *dot = 0;
  lstrcpynW(archiveBaseName, archiveName, BASE_NAME_CHARS);
  TrimTrailingSpaces(archiveBaseName);

  // Destination passes. A pass that gets back the very text the previous pass rejected cannot go anywhere
  // (without the dialog, or when the dialog is confirmed unchanged): the run stops instead of trying again
  // for ever.
  WCHAR rejected[MAX_PATH];
  rejected[0] = 0;
  int haveRejected = 0;
  for (;;) {
    if (!g_skipDestinationDialog && RunDestinationDialog(archiveBaseName) != 1) return 0;
    WCHAR tried[MAX_PATH];
    lstrcpyW(tried, g_destination);
    if (ResolveDestination(g_destination, archiveFolder)) break;
    if (haveRejected && lstrcmpW(tried, rejected) == 0) {
      ShowStringMessage(IDS_INVALID_PATH, MB_ICONERROR);
      return 0;
    }
    lstrcpyW(rejected, tried);
    haveRejected = 1;
  }
  TrimTrailingSpaces(g_destination);
  AppendBackslash(g_destination);

  if (GetFileAttributesW(g_destination) == INVALID_FILE_ATTRIBUTES) {
    int create = 1;
    if (!g_overwriteWithoutAsking) {
      WCHAR format[128], text[MESSAGE_CHARS];
      LoadStringW(g_instance, IDS_CREATE_FOLDER_QUESTION, format, 128);
      wsprintfW(text, format, g_destination);
      create = MessageBoxW(NULL, text, L"VAZ-IDA", MB_ICONQUESTION | MB_OKCANCEL) == IDOK;
    }
    if (!create) goto cleanup;
    if (!CreateFolderTree(g_destination)) {
      ShowStringMessage(IDS_FOLDER_FORBIDDEN, MB_ICONERROR);
      goto cleanup;
    }
  }

  workerExitCode = RunWorkerBehindProgress(archivePath, centralDirOffset);
  if (g_cancelState != 0) {
    result = 0;
  } else if (g_setupCommand[0] != 0) {
    RunSetupCommand(g_setupCommand, g_destination, g_deleteAfterSetup);
    DeleteExtractedFiles(temporaryDestination);
  } else if (g_openFolderAfter && workerExitCode == 0) {
    MessageBeep(MB_ICONASTERISK);
    ShellExecuteW(NULL, L"open", L"explorer", g_destination, NULL, SW_SHOWDEFAULT);
  }

cleanup:
  if (g_archiveFile != NULL) fclose(g_archiveFile);
  g_archiveFile = NULL;
  if (g_extractedFiles != NULL) StringListClear();
  return result;
}
