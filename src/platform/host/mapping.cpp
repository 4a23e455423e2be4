// Linux platform layer: read-only file mappings and their views (mmap), under the platform's rules:
// the allocation granularity is 65536 bytes and a view must start at a multiple of it, a mapping
// cannot be made of an empty file, a view cannot reach past the mapping, and the mapping keeps the file
// open after the file's handle is closed (it holds a descriptor of its own).
#include <errno.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <mutex>

#include "platform/host/handles.h"

namespace {

const DWORD HOST_ALLOCATION_GRANULARITY = 65536;
const DWORD HOST_PAGE_SIZE = 4096;
const DWORD HOST_ERROR_FILE_INVALID = 1006;
const DWORD HOST_ERROR_MAPPED_ALIGNMENT = 1132;

std::mutex g_viewMutex;
std::map<const void *, size_t> g_viewLengths; // every live view and its length, for UnmapViewOfFile

} // namespace

void GetSystemInfo(LPSYSTEM_INFO info) {
  memset(info, 0, sizeof *info);
  long cpus = sysconf(_SC_NPROCESSORS_ONLN);
  info->wProcessorArchitecture = 0;
  info->dwPageSize = HOST_PAGE_SIZE;
  info->lpMinimumApplicationAddress = (LPVOID)(uintptr_t)0x10000;
  info->lpMaximumApplicationAddress = (LPVOID)(uintptr_t)0x7FFEFFFF;
  info->dwActiveProcessorMask = 1;
  info->dwNumberOfProcessors = cpus > 0 ? (DWORD)cpus : 1;
  info->dwProcessorType = 586;
  info->dwAllocationGranularity = HOST_ALLOCATION_GRANULARITY;
  info->wProcessorLevel = 6;
}

HANDLE CreateFileMappingW(HANDLE file, LPSECURITY_ATTRIBUTES, DWORD protect, DWORD sizeHigh, DWORD sizeLow,
                          LPCWSTR name) {
  HostHandle *f = HostHandleOf(file, HostHandleKind::File);
  if (!f || protect != PAGE_READONLY || name) {
    SetLastError(f ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
    return nullptr;
  }
  struct stat st;
  if (fstat(f->fd, &st) != 0) {
    HostSetLastErrorFromErrno(errno);
    return nullptr;
  }
  unsigned long long fileSize = (unsigned long long)st.st_size;
  unsigned long long size = ((unsigned long long)sizeHigh << 32) | sizeLow;
  if (size == 0) {
    size = fileSize;
  }
  if (size == 0) {
    SetLastError(HOST_ERROR_FILE_INVALID);
    return nullptr;
  }
  if (size > fileSize) {
    // A read-only mapping cannot grow the file.
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  int fd = dup(f->fd);
  if (fd < 0) {
    HostSetLastErrorFromErrno(errno);
    return nullptr;
  }
  HostHandle *m = HostNewHandle(HostHandleKind::Mapping);
  m->fd = fd;
  m->access = GENERIC_READ;
  m->size = size;
  return m;
}

LPVOID MapViewOfFile(HANDLE mapping, DWORD access, DWORD offsetHigh, DWORD offsetLow, SIZE_T bytes) {
  HostHandle *m = HostHandleOf(mapping, HostHandleKind::Mapping);
  if (!m) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  if (access != FILE_MAP_READ) {
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  unsigned long long offset = ((unsigned long long)offsetHigh << 32) | offsetLow;
  if (offset % HOST_ALLOCATION_GRANULARITY) {
    SetLastError(HOST_ERROR_MAPPED_ALIGNMENT);
    return nullptr;
  }
  if (offset >= m->size) {
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  unsigned long long length = bytes ? (unsigned long long)bytes : m->size - offset;
  if (length > m->size - offset) {
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  void *view = mmap(nullptr, (size_t)length, PROT_READ, MAP_PRIVATE, m->fd, (off_t)offset);
  if (view == MAP_FAILED) {
    HostSetLastErrorFromErrno(errno);
    return nullptr;
  }
  std::lock_guard<std::mutex> lock(g_viewMutex);
  g_viewLengths[view] = (size_t)length;
  return view;
}

BOOL UnmapViewOfFile(LPCVOID base) {
  size_t length;
  {
    std::lock_guard<std::mutex> lock(g_viewMutex);
    auto it = g_viewLengths.find(base);
    if (it == g_viewLengths.end()) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return FALSE;
    }
    length = it->second;
    g_viewLengths.erase(it);
  }
  munmap(const_cast<void *>(base), length);
  return TRUE;
}
