// The process-wide list of text copies: candidates of the path completion while the destination dialog
// is open, then the files the worker extracted for deletion after the setup. Slots live in one movable
// global memory block that grows by 256 slots; each text is the list's own copy.
#include "startup/startup.h"

enum {
  STRING_LIST_FIRST_CAPACITY = 257,
  STRING_LIST_GROWTH = 256,
};

WCHAR **g_extractedFiles;
int g_stringListCapacity;
int g_stringListCount;
WCHAR **g_stringListCursor;

WCHAR *StringListAdd(const WCHAR *text) {
  if (g_extractedFiles == NULL) {
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, STRING_LIST_FIRST_CAPACITY * sizeof(WCHAR *));
    if (block == NULL) return NULL;
    g_extractedFiles = (WCHAR **)GlobalLock(block);
    g_stringListCapacity = STRING_LIST_FIRST_CAPACITY;
    g_stringListCount = 0;
    g_stringListCursor = NULL;
  }
  if (g_stringListCount >= g_stringListCapacity) {
    HGLOBAL handle = GlobalHandle(g_extractedFiles);
    GlobalUnlock(handle);
    int capacity = g_stringListCapacity + STRING_LIST_GROWTH;
    HGLOBAL grown = GlobalReAlloc(handle, (SIZE_T)capacity * sizeof(WCHAR *), GMEM_MOVEABLE | GMEM_ZEROINIT);
    if (grown == NULL) {
      g_extractedFiles = (WCHAR **)GlobalLock(handle);
      return NULL;
    }
    // A walk in progress keeps its position across the move.
    ptrdiff_t cursor = g_stringListCursor ? g_stringListCursor - g_extractedFiles : -1;
    g_extractedFiles = (WCHAR **)GlobalLock(grown);
    g_stringListCapacity = capacity;
    g_stringListCursor = cursor >= 0 ? g_extractedFiles + cursor : NULL;
  }
  WCHAR *copy = _wcsdup(text);
  if (copy == NULL) return NULL;
  g_extractedFiles[g_stringListCount++] = copy;
  return copy;
}

WCHAR *RememberExtractedFile(const WCHAR *path) { return StringListAdd(path); }

WCHAR *StringListFirst(void) {
  if (g_extractedFiles == NULL) return NULL;
  g_stringListCursor = g_extractedFiles;
  return *g_stringListCursor;
}

WCHAR *StringListNext(void) {
  if (g_extractedFiles == NULL || g_stringListCursor == NULL) return NULL;
  if (g_stringListCursor - g_extractedFiles >= g_stringListCount) return NULL;
  ++g_stringListCursor;
  // Slots past the count hold null; the slot at the capacity does not exist.
  if (g_stringListCursor - g_extractedFiles >= g_stringListCount) return NULL;
  return *g_stringListCursor;
}

int StringListCount(void) { return g_extractedFiles ? g_stringListCount : 0; }

void StringListClear(void) {
  if (g_extractedFiles == NULL) return;
  for (int i = 0; i < g_stringListCount; ++i) {
    free(g_extractedFiles[i]);
    g_extractedFiles[i] = NULL;
  }
  g_stringListCount = 0;
  HGLOBAL handle = GlobalHandle(g_extractedFiles);
  GlobalUnlock(handle);
  GlobalFree(handle);
  g_extractedFiles = NULL;
  g_stringListCursor = NULL;
  g_stringListCapacity = 0;
}
