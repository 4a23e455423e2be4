// Process start-up: the platform check, the starting state of the effective settings, the command line
// (options, archive name, destination) and the hand-over to the driver; and the WOW64 query and switch.
// Texts from the command line are cut to their buffers, never written past them.
#include "startup/startup.h"

#include "resources/resource_ids.h"

HINSTANCE g_instance;

enum {
  ARGUMENT_BUFFER_CHARS = 512,
  SETUP_COMMAND_CHARS = 128,
};

static int g_platformId;

const WCHAR *SkipProgramName(const WCHAR *text) {
  if (*text == L'"') {
    ++text;
    while (*text && *text != L'"') ++text;
    if (*text == L'"') ++text;
  } else {
    while (*text > L' ') ++text;
  }
  while (*text >= 1 && *text <= L' ') ++text;
  return text;
}

void ResetEffectiveSettings(void) {
  g_destination[0] = 0;
  g_setupCommand[0] = 0;
  g_overwriteWithoutAsking = 0;
  g_openFolderAfter = 1;
  g_deleteAfterSetup = 0;
  g_skipDestinationDialog = 0;
  g_expectedArchiveCrc = 0;
  g_questionCaption[0] = 0;
  g_questionText[0] = 0;
  g_requires64Bit = 0;
}

// Copies count characters of source into a buffer of size characters, cut to fit with its terminator.
static void CopyCut(WCHAR *dest, int size, const WCHAR *source, int count) {
  if (count > size - 1) count = size - 1;
  for (int i = 0; i < count; ++i) dest[i] = source[i];
  dest[count] = 0;
}

void ParseCommandLine(const WCHAR *arguments, WCHAR *archivePath) {
  static WCHAR copy[ARGUMENT_BUFFER_CHARS];
  lstrcpynW(copy, arguments, ARGUMENT_BUFFER_CHARS);
  int length = lstrlenW(copy);
  int lastOptionEnd = -1;

  int i = 0;
  while (i < length) {
    if (copy[i] != L'/') {
      ++i;
      continue;
    }
    WCHAR letter = copy[i + 1];
    if (letter == 0) break;
    switch (letter) {
    case L'd':
    case L'D':
      g_deleteAfterSetup = 1;
      lastOptionEnd = i = i + 2;
      continue;
    case L'h':
    case L'H':
      g_skipDestinationDialog = 1;
      lastOptionEnd = i = i + 2;
      continue;
    case L'n':
    case L'N':
      g_openFolderAfter = 0;
      lastOptionEnd = i = i + 2;
      continue;
    case L'o':
    case L'O':
      g_overwriteWithoutAsking = 1;
      lastOptionEnd = i = i + 2;
      continue;
    case L'e':
    case L'E':
      break;
    default:
      // Any other letter leaves no trace; the scan goes on behind it.
      i += 2;
      continue;
    }
    if (copy[i + 2] != L':') {
      i += 3;
      continue;
    }
    int start = i + 3;
    int quoted = 0;
    if (copy[start] == L'"') {
      copy[start] = L' ';
      ++start;
      quoted = 1;
    }
    int end = start;
    while (copy[end] && copy[end] != (quoted ? L'"' : L' ')) ++end;
    CopyCut(g_setupCommand, SETUP_COMMAND_CHARS, copy + start, end - start);
    if (quoted && copy[end] == L'"') copy[end] = L' ';
    lastOptionEnd = copy[end] ? end + 1 : end;
    if (end == start && copy[start] == 0) break;
    i = start + 1;
  }

  if (g_setupCommand[0] == 0) g_deleteAfterSetup = 0;

  WCHAR *quote = wcschr(copy, L'"');
  if (quote != NULL) {
    // Tokens separated by runs of double quotes: the archive name, the text between, the destination.
    const WCHAR *tokens[3] = {NULL, NULL, NULL};
    int tokenLengths[3] = {0, 0, 0};
    int count = 0;
    const WCHAR *p = quote;
    while (count < 3) {
      while (*p == L'"') ++p;
      if (*p == 0) break;
      tokens[count] = p;
      while (*p && *p != L'"') ++p;
      tokenLengths[count] = (int)(p - tokens[count]);
      ++count;
    }
    if (count >= 1) CopyCut(archivePath, MAX_PATH, tokens[0], tokenLengths[0]);
    if (count >= 3 && tokens[1][0] == L' ') {
      WCHAR candidate[MAX_PATH];
      CopyCut(candidate, MAX_PATH, tokens[2], tokenLengths[2]);
      // A missing path reads as INVALID_FILE_ATTRIBUTES, whose bits include the folder bit: it is taken.
      if (GetFileAttributesW(candidate) & FILE_ATTRIBUTE_DIRECTORY) lstrcpyW(g_destination, candidate);
    }
  } else if (lastOptionEnd < 0) {
    CopyCut(archivePath, MAX_PATH, copy, length);
  } else if (lastOptionEnd >= length) {
    WCHAR *slash = wcschr(copy, L'/');
    CopyCut(archivePath, MAX_PATH, copy, slash ? (int)(slash - copy) : length);
  } else {
    const WCHAR *name = copy + lastOptionEnd;
    while (*name == L' ') ++name;
    CopyCut(archivePath, MAX_PATH, name, lstrlenW(name));
  }
  TrimTrailingSpaces(archivePath);
}

// Function addresses from GetProcAddress pass through the generic function type on their way.
typedef void (*AnyFunction)(void);
typedef BOOL(WINAPI *EnableRedirectionFunction)(BYTE enable);
typedef BOOL(WINAPI *IsWow64ProcessFunction)(HANDLE process, BOOL *result);

int Wow64Request(int request) {
  static int looked;
  static HMODULE kernel;
  static FARPROC enableRedirection;
  if (!looked) {
    looked = 1;
    kernel = GetModuleHandleW(L"kernel32");
    if (kernel != NULL) enableRedirection = GetProcAddress(kernel, "Wow64EnableWow64FsRedirection");
  }
  if (kernel == NULL) return 0;
  if (request == 0 || request == 1) {
    if (enableRedirection == NULL) return 0;
    return ((EnableRedirectionFunction)(AnyFunction)enableRedirection)((BYTE)request);
  }
  if (enableRedirection == NULL) return 0;
  FARPROC isWow64 = GetProcAddress(kernel, "IsWow64Process");
  if (isWow64 == NULL) return 0;
  BOOL result = FALSE;
  if (!((IsWow64ProcessFunction)(AnyFunction)isWow64)(GetCurrentProcess(), &result)) return 0;
  return result;
}

// Start-up without the process end: returns the exit code ProgramEntry ends the process with.
UINT RunProgram(void) {
  OSVERSIONINFOA version;
  memset(&version, 0, sizeof version);
  version.dwOSVersionInfoSize = sizeof version;
  GetVersionExA(&version);
  g_platformId = (int)version.dwPlatformId;
  g_instance = GetModuleHandleA(NULL);
  InitCommonControls();
  const WCHAR *arguments = SkipProgramName(GetCommandLineW());

  if (g_platformId != VER_PLATFORM_WIN32_NT) {
    char text[128];
    LoadStringA(g_instance, IDS_NOT_ON_WIN9X, text, 128);
    MessageBoxA(NULL, text, "VAZ-IDA [Unicode version]", MB_ICONERROR);
    return 0xFFFFFFFEu;
  }

  static WCHAR archivePath[MAX_PATH];
  archivePath[0] = 0;
  ResetEffectiveSettings();
  if (arguments[0] != 0) ParseCommandLine(arguments, archivePath);
  return RunExtraction(archivePath) ? 0 : 0xFFFFFFFFu;
}

void ProgramEntry(void) { ExitProcess(RunProgram()); }
