// Linux platform layer: files by Windows path (open, size, times, attributes, folders, search, delete)
// and the runtime's bridge from a native handle to a stdio stream. Attributes: a folder is
// FILE_ATTRIBUTE_DIRECTORY, a file without the owner's write permission FILE_ATTRIBUTE_READONLY, any other
// file FILE_ATTRIBUTE_ARCHIVE; hidden and system bits are accepted and not kept. Sharing modes cannot be
// enforced on Linux and are ignored.
#include <dirent.h>
#include <wctype.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <mutex>
#include <string>

#include "platform/host/desktop.h"
#include "platform/host/handles.h"

namespace {

const long long FILETIME_UNIX_EPOCH = 116444736000000000LL; // 1970-01-01 in 100 ns units since 1601

FILETIME ToFileTime(const struct timespec &ts) {
  long long t = FILETIME_UNIX_EPOCH + (long long)ts.tv_sec * 10000000LL + ts.tv_nsec / 100;
  FILETIME ft;
  ft.dwLowDateTime = (DWORD)t;
  ft.dwHighDateTime = (DWORD)((unsigned long long)t >> 32);
  return ft;
}

struct timespec ToTimespec(const FILETIME &ft) {
  long long t = (long long)(((unsigned long long)ft.dwHighDateTime << 32) | ft.dwLowDateTime) - FILETIME_UNIX_EPOCH;
  struct timespec ts;
  ts.tv_sec = (time_t)(t / 10000000LL);
  ts.tv_nsec = (long)((t % 10000000LL) * 100);
  if (ts.tv_nsec < 0) {
    ts.tv_nsec += 1000000000L;
    ts.tv_sec -= 1;
  }
  return ts;
}

DWORD AttributesOf(const struct stat &st) {
  if (S_ISDIR(st.st_mode)) return FILE_ATTRIBUTE_DIRECTORY;
  return (st.st_mode & S_IWUSR) ? FILE_ATTRIBUTE_ARCHIVE : (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE);
}

// The Linux path of a Windows path, or an empty text (with the last error set) when it names no place
// on Linux: another drive, a network path.
std::string Resolve(LPCWSTR name) {
  std::string path = HostToLinuxPath(name);
  if (path.empty()) SetLastError(name && name[0] ? ERROR_PATH_NOT_FOUND : ERROR_INVALID_NAME);
  return path;
}

// Wildcard match of the platform's search patterns: * and ?, with "*.*" matching every name.
bool Matches(const wchar_t *pattern, const wchar_t *name) {
  if (wcscmp(pattern, L"*.*") == 0 || wcscmp(pattern, L"*") == 0) return true;
  if (*pattern == 0) return *name == 0;
  if (*pattern == L'*') {
    for (const wchar_t *n = name;; ++n) {
      if (Matches(pattern + 1, n)) return true;
      if (*n == 0) return false;
    }
  }
  if (*name == 0) return false;
  if (*pattern == L'?' || towlower((wint_t)*pattern) == towlower((wint_t)*name)) return Matches(pattern + 1, name + 1);
  return false;
}

struct FindState {
  DIR *dir = nullptr;
  std::string folder;
  std::wstring pattern;
};

bool NextMatch(FindState *state, LPWIN32_FIND_DATAW data) {
  while (struct dirent *entry = readdir(state->dir)) {
    std::wstring name = HostWiden(entry->d_name);
    if (!Matches(state->pattern.c_str(), name.c_str()) || name.size() >= MAX_PATH) continue;
    struct stat st;
    std::string full = state->folder + "/" + entry->d_name;
    if (stat(full.c_str(), &st) != 0) continue;
    memset(data, 0, sizeof *data);
    data->dwFileAttributes = AttributesOf(st);
    data->ftCreationTime = ToFileTime(st.st_ctim);
    data->ftLastAccessTime = ToFileTime(st.st_atim);
    data->ftLastWriteTime = ToFileTime(st.st_mtim);
    if (!S_ISDIR(st.st_mode)) {
      data->nFileSizeHigh = (DWORD)((unsigned long long)st.st_size >> 32);
      data->nFileSizeLow = (DWORD)st.st_size;
    }
    wcscpy(data->cFileName, name.c_str());
    return true;
  }
  return false;
}

// Handles turned into runtime descriptors, until a stream takes the descriptor over.
std::mutex g_osfMutex;
std::map<int, HostHandle *> g_osfHandles;

} // namespace

HANDLE CreateFileW(LPCWSTR name, DWORD access, DWORD, LPSECURITY_ATTRIBUTES, DWORD disposition, DWORD flagsAndAttributes,
                   HANDLE) {
  std::string path = Resolve(name);
  if (path.empty()) return INVALID_HANDLE_VALUE;
  int flags = (access & GENERIC_WRITE) ? ((access & GENERIC_READ) ? O_RDWR : O_WRONLY) : O_RDONLY;
  switch (disposition) {
  case CREATE_NEW: flags |= O_CREAT | O_EXCL; break;
  case CREATE_ALWAYS: flags |= O_CREAT | O_TRUNC; break;
  case OPEN_ALWAYS: flags |= O_CREAT; break;
  case TRUNCATE_EXISTING: flags |= O_TRUNC; break;
  default: break;
  }
  struct stat st;
  if (stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
    // A folder opens only with backup semantics, and then only to read or set its times.
    if (!(flagsAndAttributes & FILE_FLAG_BACKUP_SEMANTICS) || disposition != OPEN_EXISTING) {
      SetLastError(ERROR_ACCESS_DENIED);
      return INVALID_HANDLE_VALUE;
    }
    int folder = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0) {
      HostSetLastErrorFromErrno(errno, path);
      return INVALID_HANDLE_VALUE;
    }
    HostHandle *h = HostNewHandle(HostHandleKind::File);
    h->fd = folder;
    h->access = access;
    SetLastError(ERROR_SUCCESS);
    return h;
  }
  int fd = open(path.c_str(), flags | O_CLOEXEC, 0666);
  if (fd < 0) {
    HostSetLastErrorFromErrno(errno == EEXIST ? EEXIST : errno, path);
    if (errno == EEXIST) SetLastError(ERROR_FILE_EXISTS);
    return INVALID_HANDLE_VALUE;
  }
  HostHandle *h = HostNewHandle(HostHandleKind::File);
  h->fd = fd;
  h->access = access;
  SetLastError(ERROR_SUCCESS);
  return h;
}

BOOL CloseHandle(HANDLE handle) {
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  HostHandle *h = static_cast<HostHandle *>(handle);
  switch (h->kind) {
  case HostHandleKind::File: {
    std::lock_guard<std::mutex> lock(g_osfMutex);
    g_osfHandles.erase(h->fd);
    if (h->fd >= 0) close(h->fd);
    break;
  }
  case HostHandleKind::Mapping:
    if (h->fd >= 0) close(h->fd);
    break;
  case HostHandleKind::Thread:
    // The thread record stays while its thread may still run.
    HostReleaseThread(h);
    break;
  default:
    break;
  }
  delete h;
  return TRUE;
}

DWORD GetFileSize(HANDLE file, LPDWORD high) {
  HostHandle *h = HostHandleOf(file, HostHandleKind::File);
  struct stat st;
  if (!h || fstat(h->fd, &st) != 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return INVALID_FILE_SIZE;
  }
  if (high) *high = (DWORD)((unsigned long long)st.st_size >> 32);
  return (DWORD)st.st_size;
}

BOOL GetFileTime(HANDLE file, LPFILETIME creation, LPFILETIME access, LPFILETIME write) {
  HostHandle *h = HostHandleOf(file, HostHandleKind::File);
  struct stat st;
  if (!h || fstat(h->fd, &st) != 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (creation) *creation = ToFileTime(st.st_ctim);
  if (access) *access = ToFileTime(st.st_atim);
  if (write) *write = ToFileTime(st.st_mtim);
  return TRUE;
}

BOOL SetFileTime(HANDLE file, const FILETIME *, const FILETIME *access, const FILETIME *write) {
  HostHandle *h = HostHandleOf(file, HostHandleKind::File);
  if (!h) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  struct timespec times[2];
  times[0].tv_nsec = UTIME_OMIT;
  times[1].tv_nsec = UTIME_OMIT;
  if (access) times[0] = ToTimespec(*access);
  if (write) times[1] = ToTimespec(*write);
  if (futimens(h->fd, times) != 0) {
    HostSetLastErrorFromErrno(errno);
    return FALSE;
  }
  return TRUE;
}

DWORD GetFileAttributesW(LPCWSTR name) {
  std::string path = Resolve(name);
  if (path.empty()) return INVALID_FILE_ATTRIBUTES;
  struct stat st;
  if (stat(path.c_str(), &st) != 0) {
    HostSetLastErrorFromErrno(errno, path);
    return INVALID_FILE_ATTRIBUTES;
  }
  return AttributesOf(st);
}

BOOL SetFileAttributesW(LPCWSTR name, DWORD attributes) {
  std::string path = Resolve(name);
  if (path.empty()) return FALSE;
  struct stat st;
  if (stat(path.c_str(), &st) != 0) {
    HostSetLastErrorFromErrno(errno, path);
    return FALSE;
  }
  if (S_ISDIR(st.st_mode)) return TRUE;
  mode_t mode = st.st_mode & 07777;
  mode = (attributes & FILE_ATTRIBUTE_READONLY) ? (mode & ~(mode_t)(S_IWUSR | S_IWGRP | S_IWOTH)) : (mode | S_IWUSR);
  if (chmod(path.c_str(), mode) != 0) {
    HostSetLastErrorFromErrno(errno, path);
    return FALSE;
  }
  return TRUE;
}

BOOL CreateDirectoryW(LPCWSTR name, LPSECURITY_ATTRIBUTES) {
  std::string path = Resolve(name);
  if (path.empty()) return FALSE;
  if (mkdir(path.c_str(), 0777) != 0) {
    HostSetLastErrorFromErrno(errno, path);
    return FALSE;
  }
  return TRUE;
}

BOOL RemoveDirectoryW(LPCWSTR name) {
  std::string path = Resolve(name);
  if (path.empty()) return FALSE;
  if (rmdir(path.c_str()) != 0) {
    HostSetLastErrorFromErrno(errno == ENOTDIR ? ERROR_DIRECTORY : errno, path);
    if (errno == ENOTDIR) SetLastError(ERROR_DIRECTORY);
    return FALSE;
  }
  return TRUE;
}

BOOL DeleteFileW(LPCWSTR name) {
  std::string path = Resolve(name);
  if (path.empty()) return FALSE;
  struct stat st;
  if (stat(path.c_str(), &st) == 0 && (S_ISDIR(st.st_mode) || !(st.st_mode & S_IWUSR))) {
    // The platform refuses to delete folders and read-only files.
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  if (unlink(path.c_str()) != 0) {
    HostSetLastErrorFromErrno(errno, path);
    return FALSE;
  }
  return TRUE;
}

HANDLE FindFirstFileW(LPCWSTR pattern, LPWIN32_FIND_DATAW data) {
  std::wstring p = pattern ? pattern : L"";
  size_t cut = p.find_last_of(L"\\/");
  std::wstring folder = cut == std::wstring::npos ? L"." : p.substr(0, cut + 1);
  std::wstring namePattern = cut == std::wstring::npos ? p : p.substr(cut + 1);
  std::string linuxFolder = Resolve(folder.c_str());
  if (linuxFolder.empty()) return INVALID_HANDLE_VALUE;
  if (namePattern.empty()) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  FindState *state = new FindState;
  state->dir = opendir(linuxFolder.c_str());
  if (!state->dir) {
    HostSetLastErrorFromErrno(errno, linuxFolder);
    if (GetLastError() == ERROR_FILE_NOT_FOUND) SetLastError(ERROR_PATH_NOT_FOUND);
    delete state;
    return INVALID_HANDLE_VALUE;
  }
  state->folder = linuxFolder;
  state->pattern = namePattern;
  if (!NextMatch(state, data)) {
    closedir(state->dir);
    delete state;
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  HostHandle *h = HostNewHandle(HostHandleKind::Find);
  h->extra = state;
  return h;
}

BOOL FindNextFileW(HANDLE find, LPWIN32_FIND_DATAW data) {
  HostHandle *h = HostHandleOf(find, HostHandleKind::Find);
  if (!h) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (!NextMatch(static_cast<FindState *>(h->extra), data)) {
    SetLastError(ERROR_NO_MORE_FILES);
    return FALSE;
  }
  return TRUE;
}

BOOL FindClose(HANDLE find) {
  HostHandle *h = HostHandleOf(find, HostHandleKind::Find);
  if (!h) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  FindState *state = static_cast<FindState *>(h->extra);
  closedir(state->dir);
  delete state;
  delete h;
  return TRUE;
}

DWORD GetShortPathNameW(LPCWSTR longPath, LPWSTR shortPath, DWORD size) {
  // Linux has no short names: the short form of an existing path is the path itself.
  if (GetFileAttributesW(longPath) == INVALID_FILE_ATTRIBUTES) return 0;
  DWORD n = (DWORD)wcslen(longPath);
  if (n + 1 > size) return n + 1;
  wcscpy(shortPath, longPath);
  return n;
}

int _open_osfhandle(intptr_t handle, int) {
  HostHandle *h = HostHandleOf(reinterpret_cast<HANDLE>(handle), HostHandleKind::File);
  if (!h) return -1;
  std::lock_guard<std::mutex> lock(g_osfMutex);
  g_osfHandles[h->fd] = h;
  return h->fd;
}

FILE *_fdopen(int fd, const char *mode) {
  FILE *stream = fdopen(fd, mode);
  if (stream) {
    // Closing the stream closes the file now; the handle record is no longer needed.
    std::lock_guard<std::mutex> lock(g_osfMutex);
    auto it = g_osfHandles.find(fd);
    if (it != g_osfHandles.end()) {
      delete it->second;
      g_osfHandles.erase(it);
    }
  }
  return stream;
}

int _close(int fd) {
  {
    std::lock_guard<std::mutex> lock(g_osfMutex);
    auto it = g_osfHandles.find(fd);
    if (it != g_osfHandles.end()) {
      delete it->second;
      g_osfHandles.erase(it);
    }
  }
  return close(fd);
}
