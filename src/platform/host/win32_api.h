// The Linux platform layer: declarations of the subset of the Win32 API and of its C runtime that the
// stub's code below the window manager calls. Written from what that code uses; the names, values and
// behaviours are the platform's, the implementations are ours (files by path, mapping, code pages,
// times, global memory, strings, the last error) or a scripted desktop (message boxes, window
// messages, the dialogs' entry points; see desktop.h).
//
// Paths are Windows paths: drive Z: is the Linux root ("Z:\tmp\a" is /tmp/a), other drives and
// network paths do not exist, and a path without a drive is relative to the current folder.
// wchar_t is 32 bits here and 16 on Windows: the code never relies on its width.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

// ---- basic types ----
typedef int BOOL;
typedef unsigned char BYTE;
typedef unsigned short WORD;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef uint32_t ULONG;
typedef int INT;
typedef unsigned int UINT;
typedef char CHAR;
typedef wchar_t WCHAR;
typedef CHAR *LPSTR;
typedef const CHAR *LPCSTR;
typedef WCHAR *LPWSTR;
typedef const WCHAR *LPCWSTR;
typedef void *LPVOID;
typedef const void *LPCVOID;
typedef BYTE *LPBYTE;
typedef DWORD *LPDWORD;
typedef BOOL *LPBOOL;
typedef uintptr_t UINT_PTR;
typedef intptr_t INT_PTR;
typedef uintptr_t ULONG_PTR;
typedef intptr_t LONG_PTR;
typedef uintptr_t DWORD_PTR;
typedef size_t SIZE_T;
typedef UINT_PTR WPARAM;
typedef LONG_PTR LPARAM;
typedef LONG_PTR LRESULT;
typedef void *HANDLE;
typedef HANDLE HGLOBAL;
typedef HANDLE HLOCAL;
typedef struct HostWindow *HWND;
typedef struct HostModule *HINSTANCE;
typedef HINSTANCE HMODULE;
typedef struct HostIcon *HICON;
typedef INT_PTR (*FARPROC)(void);

#define WINAPI
#define CALLBACK
#define TRUE 1
#define FALSE 0
#define MAX_PATH 260
#define INFINITE 0xFFFFFFFFu

#define INVALID_HANDLE_VALUE ((HANDLE)(LONG_PTR)-1)
#define INVALID_FILE_ATTRIBUTES ((DWORD)-1)
#define INVALID_FILE_SIZE ((DWORD)0xFFFFFFFF)

typedef struct _FILETIME {
  DWORD dwLowDateTime;
  DWORD dwHighDateTime;
} FILETIME, *LPFILETIME;
typedef const FILETIME *LPCFILETIME;

typedef struct _SYSTEMTIME {
  WORD wYear;
  WORD wMonth;
  WORD wDayOfWeek;
  WORD wDay;
  WORD wHour;
  WORD wMinute;
  WORD wSecond;
  WORD wMilliseconds;
} SYSTEMTIME, *LPSYSTEMTIME;

typedef struct _WIN32_FIND_DATAW {
  DWORD dwFileAttributes;
  FILETIME ftCreationTime;
  FILETIME ftLastAccessTime;
  FILETIME ftLastWriteTime;
  DWORD nFileSizeHigh;
  DWORD nFileSizeLow;
  DWORD dwReserved0;
  DWORD dwReserved1;
  WCHAR cFileName[MAX_PATH];
  WCHAR cAlternateFileName[14];
} WIN32_FIND_DATAW, *LPWIN32_FIND_DATAW;

typedef struct _OSVERSIONINFOA {
  DWORD dwOSVersionInfoSize;
  DWORD dwMajorVersion;
  DWORD dwMinorVersion;
  DWORD dwBuildNumber;
  DWORD dwPlatformId;
  CHAR szCSDVersion[128];
} OSVERSIONINFOA, *LPOSVERSIONINFOA;
#define VER_PLATFORM_WIN32s 0
#define VER_PLATFORM_WIN32_WINDOWS 1
#define VER_PLATFORM_WIN32_NT 2

typedef struct _SYSTEM_INFO {
  WORD wProcessorArchitecture;
  WORD wReserved;
  DWORD dwPageSize;
  LPVOID lpMinimumApplicationAddress;
  LPVOID lpMaximumApplicationAddress;
  DWORD_PTR dwActiveProcessorMask;
  DWORD dwNumberOfProcessors;
  DWORD dwProcessorType;
  DWORD dwAllocationGranularity;
  WORD wProcessorLevel;
  WORD wProcessorRevision;
} SYSTEM_INFO, *LPSYSTEM_INFO;

typedef struct _SECURITY_ATTRIBUTES *LPSECURITY_ATTRIBUTES;

// ---- error codes (the platform's numbers) ----
#define ERROR_SUCCESS 0
#define ERROR_INVALID_FUNCTION 1
#define ERROR_FILE_NOT_FOUND 2
#define ERROR_PATH_NOT_FOUND 3
#define ERROR_TOO_MANY_OPEN_FILES 4
#define ERROR_ACCESS_DENIED 5
#define ERROR_INVALID_HANDLE 6
#define ERROR_NOT_ENOUGH_MEMORY 8
#define ERROR_NO_MORE_FILES 18
#define ERROR_WRITE_PROTECT 19
#define ERROR_SHARING_VIOLATION 32
#define ERROR_HANDLE_EOF 38
#define ERROR_NOT_SUPPORTED 50
#define ERROR_FILE_EXISTS 80
#define ERROR_INVALID_PARAMETER 87
#define ERROR_DISK_FULL 112
#define ERROR_INSUFFICIENT_BUFFER 122
#define ERROR_INVALID_NAME 123
#define ERROR_DIR_NOT_EMPTY 145
#define ERROR_ALREADY_EXISTS 183
#define ERROR_FILENAME_EXCED_RANGE 206
#define ERROR_DIRECTORY 267
#define ERROR_NO_UNICODE_TRANSLATION 1113

// ---- files ----
#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define FILE_SHARE_READ 0x1
#define FILE_SHARE_WRITE 0x2
#define FILE_SHARE_DELETE 0x4
#define CREATE_NEW 1
#define CREATE_ALWAYS 2
#define OPEN_EXISTING 3
#define OPEN_ALWAYS 4
#define TRUNCATE_EXISTING 5
#define FILE_ATTRIBUTE_READONLY 0x1
#define FILE_ATTRIBUTE_HIDDEN 0x2
#define FILE_ATTRIBUTE_SYSTEM 0x4
#define FILE_ATTRIBUTE_DIRECTORY 0x10
#define FILE_ATTRIBUTE_ARCHIVE 0x20
#define FILE_ATTRIBUTE_NORMAL 0x80
#define FILE_FLAG_BACKUP_SEMANTICS 0x02000000
#define FILE_BEGIN 0
#define FILE_CURRENT 1
#define FILE_END 2

HANDLE CreateFileW(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                   DWORD disposition, DWORD flags, HANDLE templateFile);
BOOL CloseHandle(HANDLE handle);
DWORD GetFileSize(HANDLE file, LPDWORD high);
BOOL GetFileTime(HANDLE file, LPFILETIME creation, LPFILETIME access, LPFILETIME write);
BOOL SetFileTime(HANDLE file, const FILETIME *creation, const FILETIME *access, const FILETIME *write);
DWORD GetFileAttributesW(LPCWSTR name);
BOOL SetFileAttributesW(LPCWSTR name, DWORD attributes);
BOOL CreateDirectoryW(LPCWSTR name, LPSECURITY_ATTRIBUTES security);
BOOL RemoveDirectoryW(LPCWSTR name);
BOOL DeleteFileW(LPCWSTR name);
HANDLE FindFirstFileW(LPCWSTR pattern, LPWIN32_FIND_DATAW data);
BOOL FindNextFileW(HANDLE find, LPWIN32_FIND_DATAW data);
BOOL FindClose(HANDLE find);
DWORD GetFullPathNameW(LPCWSTR name, DWORD size, LPWSTR buffer, LPWSTR *filePart);
DWORD GetShortPathNameW(LPCWSTR longPath, LPWSTR shortPath, DWORD size);
DWORD GetTempPathW(DWORD size, LPWSTR buffer);
UINT GetSystemDirectoryW(LPWSTR buffer, UINT size);
UINT GetWindowsDirectoryW(LPWSTR buffer, UINT size);
DWORD GetCurrentDirectoryW(DWORD size, LPWSTR buffer);

// The C runtime's bridge from a native handle to a stdio stream.
#define _O_RDONLY 0x0000
#define _O_WRONLY 0x0001
#define _O_RDWR 0x0002
#define _O_BINARY 0x8000
int _open_osfhandle(intptr_t handle, int flags);
FILE *_fdopen(int fd, const char *mode);
int _close(int fd);
wchar_t *_wcsdup(const wchar_t *text);
int _wcsicmp(const wchar_t *a, const wchar_t *b);
char *_ultoa(unsigned long value, char *buffer, int radix);

// ---- file mapping ----
#define PAGE_READONLY 0x02
#define FILE_MAP_READ 0x0004
HANDLE CreateFileMappingW(HANDLE file, LPSECURITY_ATTRIBUTES security, DWORD protect, DWORD sizeHigh,
                          DWORD sizeLow, LPCWSTR name);
LPVOID MapViewOfFile(HANDLE mapping, DWORD access, DWORD offsetHigh, DWORD offsetLow, SIZE_T bytes);
BOOL UnmapViewOfFile(LPCVOID base);
void GetSystemInfo(LPSYSTEM_INFO info);

// ---- errors ----
DWORD GetLastError(void);
void SetLastError(DWORD code);
#define FORMAT_MESSAGE_ALLOCATE_BUFFER 0x00000100
#define FORMAT_MESSAGE_IGNORE_INSERTS 0x00000200
#define FORMAT_MESSAGE_FROM_SYSTEM 0x00001000
#define LANG_NEUTRAL 0x00
#define SUBLANG_DEFAULT 0x01
#define MAKELANGID(p, s) ((((WORD)(s)) << 10) | (WORD)(p))
DWORD FormatMessageW(DWORD flags, LPCVOID source, DWORD messageId, DWORD languageId, LPWSTR buffer,
                     DWORD size, void *arguments);
HLOCAL LocalFree(HLOCAL memory);

// ---- global memory blocks ----
#define GMEM_FIXED 0x0000
#define GMEM_MOVEABLE 0x0002
#define GMEM_ZEROINIT 0x0040
#define GHND (GMEM_MOVEABLE | GMEM_ZEROINIT)
HGLOBAL GlobalAlloc(UINT flags, SIZE_T bytes);
HGLOBAL GlobalReAlloc(HGLOBAL memory, SIZE_T bytes, UINT flags);
LPVOID GlobalLock(HGLOBAL memory);
BOOL GlobalUnlock(HGLOBAL memory);
HGLOBAL GlobalHandle(LPCVOID pointer);
HGLOBAL GlobalFree(HGLOBAL memory);

// ---- module, version, process ----
HMODULE GetModuleHandleA(LPCSTR name);
HMODULE GetModuleHandleW(LPCWSTR name);
FARPROC GetProcAddress(HMODULE module, LPCSTR name);
DWORD GetModuleFileNameW(HMODULE module, LPWSTR buffer, DWORD size);
BOOL GetVersionExA(LPOSVERSIONINFOA info);
HANDLE GetCurrentProcess(void);
void Sleep(DWORD milliseconds);
void ExitProcess(UINT code);
LPWSTR GetCommandLineW(void);
void InitCommonControls(void);

// ---- strings (the lstr* family and wsprintf) ----
int lstrlenW(LPCWSTR text);
int lstrlenA(LPCSTR text);
LPWSTR lstrcpyW(LPWSTR dest, LPCWSTR source);
LPWSTR lstrcpynW(LPWSTR dest, LPCWSTR source, int count);
LPWSTR lstrcatW(LPWSTR dest, LPCWSTR source);
int lstrcmpW(LPCWSTR a, LPCWSTR b);
int lstrcmpiW(LPCWSTR a, LPCWSTR b);
LPSTR lstrcpyA(LPSTR dest, LPCSTR source);
int lstrcmpiA(LPCSTR a, LPCSTR b);
// %s is a wide text in wsprintfW and a narrow one in wsprintfA; %S the other width. Supported:
// flags - and 0, a width, the l and h size prefixes, conversions s S c d i u x X and %%. Output stops at
// 1024 units with the terminator, as on the platform.
int wsprintfW(LPWSTR out, LPCWSTR format, ...);
int wsprintfA(LPSTR out, LPCSTR format, ...);

// ---- resources ----
// The string table is the one the .rc files compile (src/resources/strings_*.h). The language picked is
// the host's user-interface language: 1033 unless HostSetUiLanguage or SFX_HOST_LANGUAGE says 1041.
int LoadStringW(HINSTANCE instance, UINT id, LPWSTR buffer, int size);
int LoadStringA(HINSTANCE instance, UINT id, LPSTR buffer, int size);

// ---- code pages ----
#define CP_ACP 0
#define CP_OEMCP 1
#define CP_UTF8 65001
#define MB_PRECOMPOSED 0x1
#define MB_ERR_INVALID_CHARS 0x8
UINT GetACP(void);
int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR source, int sourceLength, LPWSTR dest,
                        int destLength);
int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR source, int sourceLength, LPSTR dest,
                        int destLength, LPCSTR defaultChar, LPBOOL usedDefault);
BOOL IsDBCSLeadByte(BYTE c);
BOOL IsDBCSLeadByteEx(UINT codePage, BYTE c);

// ---- times ----
BOOL DosDateTimeToFileTime(WORD date, WORD time, LPFILETIME fileTime);
BOOL FileTimeToDosDateTime(const FILETIME *fileTime, WORD *date, WORD *time);
BOOL LocalFileTimeToFileTime(const FILETIME *local, LPFILETIME utc);
BOOL FileTimeToLocalFileTime(const FILETIME *utc, LPFILETIME local);
BOOL FileTimeToSystemTime(const FILETIME *fileTime, LPSYSTEMTIME systemTime);
BOOL SystemTimeToFileTime(const SYSTEMTIME *systemTime, LPFILETIME fileTime);
LONG CompareFileTime(const FILETIME *a, const FILETIME *b);

// ---- threads and waits ----
typedef DWORD (*LPTHREAD_START_ROUTINE)(LPVOID parameter);
#define WAIT_OBJECT_0 0
#define WAIT_TIMEOUT 258
#define WAIT_FAILED 0xFFFFFFFFu
#define STILL_ACTIVE 259
HANDLE CreateThread(LPSECURITY_ATTRIBUTES security, SIZE_T stackSize, LPTHREAD_START_ROUTINE start,
                    LPVOID parameter, DWORD flags, LPDWORD threadId);
DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds);
BOOL GetExitCodeThread(HANDLE thread, LPDWORD exitCode);

// ---- window manager: answered by the scripted desktop (desktop.h) ----
#define MB_OK 0x0
#define MB_OKCANCEL 0x1
#define MB_ABORTRETRYIGNORE 0x2
#define MB_YESNOCANCEL 0x3
#define MB_YESNO 0x4
#define MB_RETRYCANCEL 0x5
#define MB_ICONHAND 0x10
#define MB_ICONERROR 0x10
#define MB_ICONSTOP 0x10
#define MB_ICONQUESTION 0x20
#define MB_ICONEXCLAMATION 0x30
#define MB_ICONWARNING 0x30
#define MB_ICONASTERISK 0x40
#define MB_ICONINFORMATION 0x40
#define MB_SETFOREGROUND 0x10000
#define MB_TOPMOST 0x40000
#define IDOK 1
#define IDCANCEL 2
#define IDABORT 3
#define IDRETRY 4
#define IDIGNORE 5
#define IDYES 6
#define IDNO 7
#define WM_CLOSE 0x0010
#define WM_USER 0x0400
#define WM_SETTEXT 0x000C
#define WM_GETTEXT 0x000D

int MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT style);
int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT style);
LRESULT SendMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
BOOL SetDlgItemTextW(HWND dialog, int id, LPCWSTR text);
BOOL MessageBeep(UINT type);

// ---- shell: special folders (the keyword expansion) ----
#define CSIDL_PERSONAL 5
#define CSIDL_DESKTOPDIRECTORY 16
#define CSIDL_PROGRAM_FILES 38
typedef struct _ITEMIDLIST ITEMIDLIST, *LPITEMIDLIST;
typedef const ITEMIDLIST *LPCITEMIDLIST;
typedef LONG HRESULT;
// The shell's allocator: Free releases an item identifier list, Release drops the allocator.
struct IMalloc {
  void Free(void *block);
  ULONG Release();
};
HRESULT SHGetSpecialFolderLocation(HWND owner, int csidl, LPITEMIDLIST *list);
BOOL SHGetPathFromIDListW(LPCITEMIDLIST list, LPWSTR path);
HRESULT SHGetMalloc(IMalloc **allocator);

// ---- shell: opening a folder (recorded by the scripted desktop as a Dialog call "ShellExecuteW") ----
#define SW_HIDE 0
#define SW_SHOWNORMAL 1
#define SW_SHOW 5
#define SW_SHOWDEFAULT 10
HINSTANCE ShellExecuteW(HWND owner, LPCWSTR verb, LPCWSTR file, LPCWSTR parameters, LPCWSTR directory, INT show);
