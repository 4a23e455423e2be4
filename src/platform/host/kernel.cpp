// Linux platform layer: the last error and its text, global memory blocks, the module (its path, its
// image headers, its string table), the version and WOW64 answers, threads and waits, special folders,
// and the mapping between Windows paths and Linux paths.
#include <errno.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/host/desktop.h"
#include "platform/host/handles.h"

// ---------------------------------------------------------------- handles

HostHandle *HostNewHandle(HostHandleKind kind) {
  HostHandle *h = new HostHandle;
  h->kind = kind;
  return h;
}

HostHandle *HostHandleOf(HANDLE handle, HostHandleKind kind) {
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return nullptr;
  HostHandle *h = static_cast<HostHandle *>(handle);
  return h->kind == kind ? h : nullptr;
}

// ---------------------------------------------------------------- last error

static thread_local DWORD t_lastError;

DWORD GetLastError(void) { return t_lastError; }
void SetLastError(DWORD code) { t_lastError = code; }

void HostSetLastErrorFromErrno(int error, const std::string &linuxPath) {
  DWORD code;
  switch (error) {
  case 0: code = ERROR_SUCCESS; break;
  case ENOENT: {
    // The platform tells a missing file from a missing folder on its way.
    code = ERROR_FILE_NOT_FOUND;
    if (!linuxPath.empty()) {
      std::string parent = linuxPath.substr(0, linuxPath.find_last_of('/') == std::string::npos
                                                   ? 0
                                                   : linuxPath.find_last_of('/'));
      struct stat st;
      if (!parent.empty() && (stat(parent.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))) code = ERROR_PATH_NOT_FOUND;
    }
    break;
  }
  case ENOTDIR: code = ERROR_PATH_NOT_FOUND; break;
  case EACCES:
  case EPERM:
  case EISDIR: code = ERROR_ACCESS_DENIED; break;
  case EEXIST: code = ERROR_ALREADY_EXISTS; break;
  case ENAMETOOLONG: code = ERROR_FILENAME_EXCED_RANGE; break;
  case ENOSPC: code = ERROR_DISK_FULL; break;
  case ENOTEMPTY: code = ERROR_DIR_NOT_EMPTY; break;
  case EMFILE:
  case ENFILE: code = ERROR_TOO_MANY_OPEN_FILES; break;
  case EROFS: code = ERROR_WRITE_PROTECT; break;
  case EINVAL: code = ERROR_INVALID_NAME; break;
  case ENOMEM: code = ERROR_NOT_ENOUGH_MEMORY; break;
  case EBADF: code = ERROR_INVALID_HANDLE; break;
  default: code = ERROR_INVALID_FUNCTION; break;
  }
  SetLastError(code);
}

// The system's texts, in the platform's words, for the codes the layer produces.
static const wchar_t *SystemText(DWORD code) {
  switch (code) {
  case ERROR_INVALID_FUNCTION: return L"Incorrect function.\r\n";
  case ERROR_FILE_NOT_FOUND: return L"The system cannot find the file specified.\r\n";
  case ERROR_PATH_NOT_FOUND: return L"The system cannot find the path specified.\r\n";
  case ERROR_TOO_MANY_OPEN_FILES: return L"The system cannot open the file.\r\n";
  case ERROR_ACCESS_DENIED: return L"Access is denied.\r\n";
  case ERROR_INVALID_HANDLE: return L"The handle is invalid.\r\n";
  case ERROR_NOT_ENOUGH_MEMORY: return L"Not enough memory resources are available to process this command.\r\n";
  case ERROR_WRITE_PROTECT: return L"The media is write protected.\r\n";
  case ERROR_SHARING_VIOLATION:
    return L"The process cannot access the file because it is being used by another process.\r\n";
  case ERROR_FILE_EXISTS: return L"The file exists.\r\n";
  case ERROR_INVALID_PARAMETER: return L"The parameter is incorrect.\r\n";
  case ERROR_DISK_FULL: return L"There is not enough space on the disk.\r\n";
  case ERROR_INVALID_NAME: return L"The filename, directory name, or volume label syntax is incorrect.\r\n";
  case ERROR_DIR_NOT_EMPTY: return L"The directory is not empty.\r\n";
  case ERROR_ALREADY_EXISTS: return L"Cannot create a file when that file already exists.\r\n";
  case ERROR_FILENAME_EXCED_RANGE: return L"The filename or extension is too long.\r\n";
  case ERROR_DIRECTORY: return L"The directory name is invalid.\r\n";
  default: return nullptr;
  }
}

DWORD FormatMessageW(DWORD flags, LPCVOID, DWORD messageId, DWORD, LPWSTR buffer, DWORD size, void *) {
  const wchar_t *text = (flags & FORMAT_MESSAGE_FROM_SYSTEM) ? SystemText(messageId) : nullptr;
  if (!text) {
    SetLastError(317); // ERROR_MR_MID_NOT_FOUND
    return 0;
  }
  size_t n = wcslen(text);
  if (flags & FORMAT_MESSAGE_ALLOCATE_BUFFER) {
    wchar_t *copy = (wchar_t *)malloc((n + 1) * sizeof(wchar_t));
    wcscpy(copy, text);
    *(wchar_t **)buffer = copy;
  } else {
    if (size <= n) {
      SetLastError(ERROR_INSUFFICIENT_BUFFER);
      return 0;
    }
    wcscpy(buffer, text);
  }
  return (DWORD)n;
}

HLOCAL LocalFree(HLOCAL memory) {
  free(memory);
  return nullptr;
}

// ---------------------------------------------------------------- global memory

namespace {
struct GlobalBlock {
  void *data;
  size_t size;
};
std::mutex g_globalMutex;
std::map<void *, GlobalBlock *> g_globalByData;
} // namespace

HGLOBAL GlobalAlloc(UINT flags, SIZE_T bytes) {
  GlobalBlock *block = new GlobalBlock;
  block->data = (flags & GMEM_ZEROINIT) ? calloc(bytes ? bytes : 1, 1) : malloc(bytes ? bytes : 1);
  block->size = bytes;
  if (!block->data) {
    delete block;
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  std::lock_guard<std::mutex> lock(g_globalMutex);
  g_globalByData[block->data] = block;
  return block;
}

HGLOBAL GlobalReAlloc(HGLOBAL memory, SIZE_T bytes, UINT flags) {
  GlobalBlock *block = static_cast<GlobalBlock *>(memory);
  std::lock_guard<std::mutex> lock(g_globalMutex);
  void *data = realloc(block->data, bytes ? bytes : 1);
  if (!data) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  if ((flags & GMEM_ZEROINIT) && bytes > block->size) memset((char *)data + block->size, 0, bytes - block->size);
  g_globalByData.erase(block->data);
  block->data = data;
  block->size = bytes;
  g_globalByData[data] = block;
  return block;
}

LPVOID GlobalLock(HGLOBAL memory) { return memory ? static_cast<GlobalBlock *>(memory)->data : nullptr; }
BOOL GlobalUnlock(HGLOBAL) { return FALSE; }

HGLOBAL GlobalHandle(LPCVOID pointer) {
  std::lock_guard<std::mutex> lock(g_globalMutex);
  auto it = g_globalByData.find(const_cast<void *>(pointer));
  return it == g_globalByData.end() ? nullptr : it->second;
}

HGLOBAL GlobalFree(HGLOBAL memory) {
  if (!memory) return nullptr;
  GlobalBlock *block = static_cast<GlobalBlock *>(memory);
  std::lock_guard<std::mutex> lock(g_globalMutex);
  g_globalByData.erase(block->data);
  free(block->data);
  delete block;
  return nullptr;
}

// ---------------------------------------------------------------- paths

std::wstring HostWiden(const std::string &utf8) {
  std::wstring out;
  for (size_t i = 0; i < utf8.size();) {
    unsigned char c = (unsigned char)utf8[i];
    uint32_t cp;
    int n;
    if (c < 0x80) { cp = c; n = 1; }
    else if ((c >> 5) == 6) { cp = c & 0x1F; n = 2; }
    else if ((c >> 4) == 14) { cp = c & 0x0F; n = 3; }
    else if ((c >> 3) == 30) { cp = c & 0x07; n = 4; }
    else { cp = 0xFFFD; n = 1; }
    for (int k = 1; k < n; ++k) {
      if (i + k >= utf8.size() || ((unsigned char)utf8[i + k] >> 6) != 2) { cp = 0xFFFD; n = k; break; }
      cp = (cp << 6) | ((unsigned char)utf8[i + k] & 0x3F);
    }
    i += n;
    out.push_back((wchar_t)cp);
  }
  return out;
}

std::string HostNarrow(const std::wstring &wide) {
  std::string out;
  for (wchar_t w : wide) {
    uint32_t cp = (uint32_t)w;
    if (cp < 0x80) out.push_back((char)cp);
    else if (cp < 0x800) { out.push_back((char)(0xC0 | (cp >> 6))); out.push_back((char)(0x80 | (cp & 0x3F))); }
    else if (cp < 0x10000) {
      out.push_back((char)(0xE0 | (cp >> 12)));
      out.push_back((char)(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back((char)(0x80 | (cp & 0x3F)));
    } else {
      out.push_back((char)(0xF0 | (cp >> 18)));
      out.push_back((char)(0x80 | ((cp >> 12) & 0x3F)));
      out.push_back((char)(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back((char)(0x80 | (cp & 0x3F)));
    }
  }
  return out;
}

std::string HostToLinuxPath(const wchar_t *windowsPath) {
  std::wstring p = windowsPath ? windowsPath : L"";
  if (p.size() >= 2 && p[0] == L'\\' && p[1] == L'\\') return std::string(); // network paths do not exist
  if (p.size() >= 2 && p[1] == L':') {
    if (p[0] != L'Z' && p[0] != L'z') return std::string(); // only drive Z: exists
    p = p.substr(2);
    if (p.empty() || (p[0] != L'\\' && p[0] != L'/')) {
      // Drive-relative: relative to the current folder, which lies on Z:.
    }
  }
  std::string out = HostNarrow(p);
  for (char &c : out)
    if (c == '\\') c = '/';
  return out;
}

std::wstring HostFromLinuxPath(const std::string &linuxPath) {
  std::wstring w = HostWiden(linuxPath);
  for (wchar_t &c : w)
    if (c == L'/') c = L'\\';
  if (!linuxPath.empty() && linuxPath[0] == '/') w = L"Z:" + w;
  return w;
}

// ---------------------------------------------------------------- module, version, process

namespace {
std::wstring g_modulePath;
std::vector<BYTE> g_moduleImage;
DWORD g_platformId = VER_PLATFORM_WIN32_NT;
bool g_wow64Exists = true;
bool g_isWow64 = true;
int g_uiLanguage = 0;
std::wstring g_commandLine;

// Large enough for every header FindOverlayOffset can reach (0xFFFF + 248 + 40 * 0xFFFF).
const size_t MODULE_IMAGE_BYTES = 0x10000 + 248 + 40 * 0x10000;

void LoadModuleImage() {
  g_moduleImage.assign(MODULE_IMAGE_BYTES, 0);
  FILE *f = fopen(HostToLinuxPath(g_modulePath.c_str()).c_str(), "rb");
  if (f) {
    size_t got = fread(g_moduleImage.data(), 1, g_moduleImage.size(), f);
    (void)got;
    fclose(f);
  }
}

std::wstring DefaultModulePath() {
  char buffer[4096];
  ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0) return L"Z:\\sfx.exe";
  buffer[n] = 0;
  return HostFromLinuxPath(buffer);
}
} // namespace

void HostSetModulePath(const std::wstring &path) {
  g_modulePath = path;
  LoadModuleImage();
}

void HostSetPlatformId(DWORD id) { g_platformId = id; }
void HostSetWow64(bool functionsExist, bool isWow64) {
  g_wow64Exists = functionsExist;
  g_isWow64 = isWow64;
}

static HMODULE OwnModule() {
  if (g_modulePath.empty()) HostSetModulePath(DefaultModulePath());
  return reinterpret_cast<HMODULE>(g_moduleImage.data());
}

static BYTE g_kernel32Marker;

HMODULE GetModuleHandleA(LPCSTR name) {
  if (name == nullptr) return OwnModule();
  if (lstrcmpiA(name, "kernel32") == 0 || lstrcmpiA(name, "kernel32.dll") == 0)
    return reinterpret_cast<HMODULE>(&g_kernel32Marker);
  return nullptr;
}

HMODULE GetModuleHandleW(LPCWSTR name) {
  if (name == nullptr) return OwnModule();
  if (_wcsicmp(name, L"kernel32") == 0 || _wcsicmp(name, L"kernel32.dll") == 0)
    return reinterpret_cast<HMODULE>(&g_kernel32Marker);
  return nullptr;
}

static BOOL HostWow64EnableWow64FsRedirection(BYTE) { return TRUE; }
static BOOL HostIsWow64Process(HANDLE, BOOL *result) {
  *result = g_isWow64 ? TRUE : FALSE;
  return TRUE;
}

FARPROC GetProcAddress(HMODULE module, LPCSTR name) {
  if (module != reinterpret_cast<HMODULE>(&g_kernel32Marker) || !g_wow64Exists) return nullptr;
  if (strcmp(name, "Wow64EnableWow64FsRedirection") == 0)
    return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)(void)>(&HostWow64EnableWow64FsRedirection));
  if (strcmp(name, "IsWow64Process") == 0)
    return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)(void)>(&HostIsWow64Process));
  return nullptr;
}

DWORD GetModuleFileNameW(HMODULE, LPWSTR buffer, DWORD size) {
  if (g_modulePath.empty()) HostSetModulePath(DefaultModulePath());
  if (size == 0) return 0;
  DWORD n = (DWORD)g_modulePath.size();
  if (n >= size) {
    // The platform cuts the path and says so.
    wmemcpy(buffer, g_modulePath.c_str(), size - 1);
    buffer[size - 1] = 0;
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return size;
  }
  wcscpy(buffer, g_modulePath.c_str());
  return n;
}

BOOL GetVersionExA(LPOSVERSIONINFOA info) {
  if (info->dwOSVersionInfoSize < sizeof(OSVERSIONINFOA)) return FALSE;
  info->dwMajorVersion = g_platformId == VER_PLATFORM_WIN32_NT ? 6 : 4;
  info->dwMinorVersion = g_platformId == VER_PLATFORM_WIN32_NT ? 1 : 10;
  info->dwBuildNumber = 7601;
  info->dwPlatformId = g_platformId;
  info->szCSDVersion[0] = 0;
  return TRUE;
}

HANDLE GetCurrentProcess(void) { return (HANDLE)(LONG_PTR)-1; }
void Sleep(DWORD milliseconds) { usleep((useconds_t)milliseconds * 1000); }
void ExitProcess(UINT code) {
  fflush(nullptr);
  _exit((int)code);
}
void InitCommonControls(void) {}

void HostSetCommandLine(const std::wstring &commandLine) { g_commandLine = commandLine; }
LPWSTR GetCommandLineW(void) { return g_commandLine.data(); }

// ---------------------------------------------------------------- string table

namespace {
struct StringEntry {
  UINT id;
  const wchar_t *text;
};
#define SFX_STRING(id, text) {id, text},
const StringEntry g_englishStrings[] = {
#include "resources/strings_en.h"
};
const StringEntry g_japaneseStrings[] = {
#include "resources/strings_ja.h"
};
#undef SFX_STRING

const wchar_t *FindString(UINT id) {
  bool japanese = HostUiLanguage() == 1041;
  const StringEntry *table = japanese ? g_japaneseStrings : g_englishStrings;
  size_t count = japanese ? sizeof g_japaneseStrings / sizeof *g_japaneseStrings
                          : sizeof g_englishStrings / sizeof *g_englishStrings;
  for (size_t i = 0; i < count; ++i)
    if (table[i].id == id) return table[i].text;
  return nullptr;
}
} // namespace

void HostSetUiLanguage(int language) { g_uiLanguage = language; }

int HostUiLanguage() {
  if (g_uiLanguage == 0) {
    const char *env = getenv("SFX_HOST_LANGUAGE");
    g_uiLanguage = (env && atoi(env) == 1041) ? 1041 : 1033;
  }
  return g_uiLanguage;
}

int LoadStringW(HINSTANCE, UINT id, LPWSTR buffer, int size) {
  const wchar_t *text = FindString(id);
  if (size <= 0) return 0;
  if (!text) {
    buffer[0] = 0;
    SetLastError(1814); // ERROR_RESOURCE_NAME_NOT_FOUND
    return 0;
  }
  int n = (int)wcslen(text);
  if (n > size - 1) n = size - 1;
  wmemcpy(buffer, text, (size_t)n);
  buffer[n] = 0;
  return n;
}

int LoadStringA(HINSTANCE instance, UINT id, LPSTR buffer, int size) {
  wchar_t wide[1024];
  if (LoadStringW(instance, id, wide, 1024) == 0 || size <= 0) {
    if (size > 0) buffer[0] = 0;
    return 0;
  }
  int n = WideCharToMultiByte(CP_ACP, 0, wide, -1, buffer, size, nullptr, nullptr);
  if (n <= 0) {
    // Too long for the buffer: the platform cuts it.
    std::string narrow = HostNarrow(wide);
    n = (int)std::min(narrow.size(), (size_t)size - 1);
    memcpy(buffer, narrow.data(), (size_t)n);
    buffer[n] = 0;
    return n;
  }
  return n - 1;
}

// ---------------------------------------------------------------- special folders

static UINT CopyFolder(const std::string &linuxPath, LPWSTR buffer, UINT size, bool trailingSeparator) {
  std::wstring w = HostFromLinuxPath(linuxPath);
  while (w.size() > 3 && w.back() == L'\\') w.pop_back();
  if (trailingSeparator && (w.empty() || w.back() != L'\\')) w += L'\\';
  if (w.size() + 1 > size) return (UINT)w.size() + 1;
  wcscpy(buffer, w.c_str());
  return (UINT)w.size();
}

DWORD GetTempPathW(DWORD size, LPWSTR buffer) {
  const char *tmp = getenv("TMPDIR");
  return CopyFolder(tmp && *tmp ? tmp : "/tmp", buffer, size, true);
}

UINT GetSystemDirectoryW(LPWSTR buffer, UINT size) { return CopyFolder("/usr/lib", buffer, size, false); }
UINT GetWindowsDirectoryW(LPWSTR buffer, UINT size) { return CopyFolder("/usr", buffer, size, false); }

DWORD GetCurrentDirectoryW(DWORD size, LPWSTR buffer) {
  char cwd[4096];
  if (!getcwd(cwd, sizeof cwd)) return 0;
  return CopyFolder(cwd, buffer, size, false);
}

// ---------------------------------------------------------------- threads and waits

namespace {
struct HostThread {
  pthread_t thread;
  LPTHREAD_START_ROUTINE start;
  LPVOID parameter;
  DWORD exitCode = STILL_ACTIVE;
  bool done = false;
  bool joined = false;
  std::mutex mutex;
};

void *ThreadMain(void *argument) {
  HostThread *t = static_cast<HostThread *>(argument);
  DWORD code = t->start(t->parameter);
  std::lock_guard<std::mutex> lock(t->mutex);
  t->exitCode = code;
  t->done = true;
  return nullptr;
}
} // namespace

HANDLE CreateThread(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE start, LPVOID parameter, DWORD,
                    LPDWORD threadId) {
  HostThread *t = new HostThread;
  t->start = start;
  t->parameter = parameter;
  if (pthread_create(&t->thread, nullptr, ThreadMain, t) != 0) {
    delete t;
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  HostHandle *h = HostNewHandle(HostHandleKind::Thread);
  h->extra = t;
  if (threadId) *threadId = (DWORD)(uintptr_t)h;
  return h;
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
  HostHandle *h = HostHandleOf(handle, HostHandleKind::Thread);
  if (!h) return WAIT_FAILED;
  HostThread *t = static_cast<HostThread *>(h->extra);
  for (DWORD waited = 0;; waited += 10) {
    {
      std::lock_guard<std::mutex> lock(t->mutex);
      if (t->done || t->joined) break;
    }
    if (milliseconds != INFINITE && waited >= milliseconds) return WAIT_TIMEOUT;
    usleep(10000);
  }
  if (!t->joined) {
    pthread_join(t->thread, nullptr);
    t->joined = true;
  }
  return WAIT_OBJECT_0;
}

BOOL GetExitCodeThread(HANDLE thread, LPDWORD exitCode) {
  HostHandle *h = HostHandleOf(thread, HostHandleKind::Thread);
  if (!h) return FALSE;
  HostThread *t = static_cast<HostThread *>(h->extra);
  std::lock_guard<std::mutex> lock(t->mutex);
  *exitCode = t->exitCode;
  return TRUE;
}

void HostReleaseThread(HostHandle *handle) {
  HostThread *t = static_cast<HostThread *>(handle->extra);
  bool joined;
  {
    std::lock_guard<std::mutex> lock(t->mutex);
    joined = t->joined;
  }
  if (joined) {
    delete t;
  } else {
    pthread_detach(t->thread);
  }
}
