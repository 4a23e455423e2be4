// Streams opened by UTF-16 path through the native file API (so that names outside the ANSI code page
// work), the system's error text in a Retry/Cancel box when an open fails, and the conversions between
// UTF-16 and the ANSI code page into shared static buffers (one thread at a time uses them).
#include "extract/extract.h"

enum {
  ERROR_TEXT_CHARS = 512,
  WIDE_BUFFER_CHARS = 1040,
  NARROW_BUFFER_BYTES = 2080,
};

static WCHAR g_wideBuffer[WIDE_BUFFER_CHARS];
static char g_narrowBuffer[NARROW_BUFFER_BYTES];

WCHAR *ToWide(const char *bytes) {
  memset(g_wideBuffer, 0, sizeof g_wideBuffer);
  MultiByteToWideChar(CP_ACP, 0, bytes, -1, g_wideBuffer, WIDE_BUFFER_CHARS - 1);
  return g_wideBuffer;
}

char *ToNarrow(const WCHAR *text) {
  memset(g_narrowBuffer, 0, sizeof g_narrowBuffer);
  WideCharToMultiByte(CP_ACP, 0, text, -1, g_narrowBuffer, 2049, NULL, NULL);
  return g_narrowBuffer;
}

int ShowLastError(HWND owner, UINT style) {
  DWORD code = GetLastError();
  if (code == 0) return 0;
  WCHAR text[ERROR_TEXT_CHARS];
  WCHAR *system = NULL;
  if (FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER,
                     NULL, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), (LPWSTR)&system, 0, NULL) &&
      system != NULL) {
    lstrcpynW(text, system, ERROR_TEXT_CHARS);
  } else {
    wsprintfW(text, L"Unknown error %ld", (long)code);
  }
  if (system != NULL) LocalFree(system);
  return MessageBoxW(owner, text, L"VAZ-IDA", style | MB_ICONERROR);
}

FILE *OpenStream(const WCHAR *path, const WCHAR *mode) {
  DWORD access = GENERIC_READ, disposition = OPEN_EXISTING;
  if (mode[0] == L'w') {
    access = GENERIC_READ | GENERIC_WRITE;
    disposition = CREATE_ALWAYS;
  }
  HANDLE handle;
  for (;;) {
    handle = CreateFileW(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, disposition, FILE_ATTRIBUTE_NORMAL,
                         NULL);
    if (handle != INVALID_HANDLE_VALUE) break;
    if (ShowLastError(g_progressWindow, MB_RETRYCANCEL) != IDRETRY) return NULL;
  }
  FILE *stream = NULL;
  int descriptor = _open_osfhandle((intptr_t)handle, _O_RDWR);
  if (descriptor != -1) stream = _fdopen(descriptor, ToNarrow(mode));
  if (stream == NULL) {
    ShowLastError(g_progressWindow, MB_OKCANCEL);
    // A descriptor that was made owns the handle now: closing it closes both.
    if (descriptor != -1) {
      _close(descriptor);
    } else {
      CloseHandle(handle);
    }
    return NULL;
  }
  return stream;
}
