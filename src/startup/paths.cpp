// Destination keywords (%ProgramFiles%, %temp%, ...) and the small path routines the driver, the worker
// and the dialogs share: splitting, separators, trailing blanks and backslashes, and folder-tree creation.
// Paths are UTF-16 with the backslash as separator and hold at most MAX_PATH - 1 characters; routines
// that could grow a path past that cut it instead of writing beyond the buffer.
#include "startup/startup.h"

enum {
  KEYWORD_BUFFER_CHARS = 256,
  SPLIT_BUFFER_CHARS = 520,
};

void SplitPath(const WCHAR *path, WCHAR *folder, WCHAR *name) {
  if (folder) folder[0] = 0;
  if (name) name[0] = 0;
  if (path == NULL || path[0] == 0) return;
  WCHAR copy[SPLIT_BUFFER_CHARS];
  lstrcpynW(copy, path, SPLIT_BUFFER_CHARS);
  WCHAR *last = wcsrchr(copy, L'\\');
  if (last == NULL) {
    if (name) lstrcpyW(name, copy);
    return;
  }
  if (name) lstrcpyW(name, last + 1);
  last[1] = 0;
  if (folder) lstrcpyW(folder, copy);
}

void SlashesToBackslashes(WCHAR *path) {
  for (; *path; ++path)
    if (*path == L'/') *path = L'\\';
}

void StripTrailingBackslash(WCHAR *path) {
  int n = lstrlenW(path);
  if (n > 0 && path[n - 1] == L'\\') path[n - 1] = 0;
}

void TrimTrailingSpaces(WCHAR *text) {
  int n = lstrlenW(text);
  while (n > 0 && text[n - 1] == L' ') text[--n] = 0;
}

void AppendBackslash(WCHAR *path) {
  int n = lstrlenW(path);
  // A path that already fills its MAX_PATH buffer has no room for the separator.
  if (n > 0 && n < MAX_PATH - 1 && path[n - 1] != L'\\') {
    path[n] = L'\\';
    path[n + 1] = 0;
  }
}

// The folder of a shell location, empty when the shell has none.
static void ShellFolder(int csidl, WCHAR *folder) {
  LPITEMIDLIST list = NULL;
  if (SHGetSpecialFolderLocation(NULL, csidl, &list) != 0 || list == NULL) return;
  WCHAR path[MAX_PATH];
  if (SHGetPathFromIDListW(list, path)) lstrcpynW(folder, path, KEYWORD_BUFFER_CHARS);
  IMalloc *allocator = NULL;
  if (SHGetMalloc(&allocator) == 0 && allocator != NULL) {
    allocator->Free(list);
    allocator->Release();
  }
}

int ExpandDestinationKeyword(WCHAR *output, const SettingsBlock *block, const WCHAR *ownPath) {
  if (block->destination[0] == 0) return 0;
  WCHAR work[KEYWORD_BUFFER_CHARS];
  lstrcpynW(work, block->destination, KEYWORD_BUFFER_CHARS);
  WCHAR *second = work[0] == L'%' ? wcschr(work + 1, L'%') : NULL;
  if (second == NULL) {
    lstrcpynW(output, work, MAX_PATH);
    return 0;
  }
  *second = 0;
  const WCHAR *keyword = work + 1;
  const WCHAR *rest = second + 1;

  WCHAR folder[KEYWORD_BUFFER_CHARS];
  folder[0] = 0;
  if (lstrcmpW(keyword, L"Desktop") == 0) {
    ShellFolder(CSIDL_DESKTOPDIRECTORY, folder);
  } else if (lstrcmpW(keyword, L"MyDocuments") == 0) {
    ShellFolder(CSIDL_PERSONAL, folder);
  } else if (lstrcmpW(keyword, L"ProgramFiles") == 0) {
    ShellFolder(CSIDL_PROGRAM_FILES, folder);
  } else if (lstrcmpW(keyword, L"SystemDir") == 0) {
    if (GetSystemDirectoryW(folder, KEYWORD_BUFFER_CHARS) >= KEYWORD_BUFFER_CHARS) folder[0] = 0;
  } else if (lstrcmpW(keyword, L"WinDir") == 0) {
    if (GetWindowsDirectoryW(folder, KEYWORD_BUFFER_CHARS) >= KEYWORD_BUFFER_CHARS) folder[0] = 0;
  } else if (lstrcmpW(keyword, L"temp") == 0) {
    if (GetTempPathW(KEYWORD_BUFFER_CHARS, folder) >= KEYWORD_BUFFER_CHARS) folder[0] = 0;
  }

  int temporary = 0;
  if (lstrcmpW(block->destination, L"%temp%") == 0 && block->deleteAfterSetup != 0) {
    // A private folder for this run, named after the program, removed again after the setup.
    WCHAR name[MAX_PATH];
    SplitPath(ownPath, NULL, name);
    int n = lstrlenW(folder);
    if (n + 1 < KEYWORD_BUFFER_CHARS) {
      folder[n] = L'~';
      folder[n + 1] = 0;
      lstrcpynW(folder + n + 1, name, KEYWORD_BUFFER_CHARS - n - 1);
    }
    temporary = 1;
  }
  if (folder[0] != 0) StripTrailingBackslash(folder);

  WCHAR joined[2 * KEYWORD_BUFFER_CHARS];
  wsprintfW(joined, L"%s%s", folder, rest);
  lstrcpynW(output, joined, MAX_PATH);
  return temporary;
}

int CreateFolderTree(const WCHAR *path) {
  int length = lstrlenW(path);
  WCHAR *text = (WCHAR *)malloc(((size_t)length + 2) * sizeof(WCHAR));
  if (text == NULL) return 0;
  lstrcpyW(text, path);

  // The separator that ends the root: D:\ or \\server\share\ .
  WCHAR *separator = NULL;
  if (length >= 3 && text[1] == L':' && text[2] == L'\\') {
    separator = text + 2;
  } else if (length >= 8 && text[0] == L'\\' && text[1] == L'\\') {
    WCHAR *serverEnd = wcschr(text + 2, L'\\');
    if (serverEnd != NULL) separator = wcschr(serverEnd + 1, L'\\');
  }
  if (separator == NULL) {
    free(text);
    return 0;
  }
  if (text[length - 1] != L'\\') {
    text[length] = L'\\';
    text[length + 1] = 0;
  }

  WCHAR level[MAX_PATH];
  level[0] = 0;
  WCHAR *rest = text;
  int result = 0;
  for (;;) {
    *separator = 0;
    int have = lstrlenW(level), add = lstrlenW(rest);
    if (have + add + 1 > MAX_PATH - 1) break;
    lstrcatW(level, rest);
    lstrcatW(level, L"\\");
    if (GetFileAttributesW(level) == INVALID_FILE_ATTRIBUTES && !CreateDirectoryW(level, NULL)) break;
    rest = separator + 1;
    separator = wcschr(rest, L'\\');
    if (separator == NULL) {
      result = 1;
      break;
    }
  }
  free(text);
  return result;
}
