// What a HANDLE is in the Linux platform layer: a pointer to one of these records. Shared by the layer's
// files (files.cpp, mapping.cpp, kernel.cpp); not visible to the stub's code.
#pragma once

#include <string>

#include "platform/host/win32_api.h"

enum class HostHandleKind { File, Find, Mapping, Thread, Process };

struct HostHandle {
  HostHandleKind kind;
  int fd = -1;              // File: the open descriptor; Mapping: a descriptor of its own (dup of the file's)
  DWORD access = 0;         // File: GENERIC_READ / GENERIC_WRITE
  unsigned long long size = 0; // Mapping: the size mapped
  void *extra = nullptr;    // kind-specific state (find search, thread)
};

// Makes a handle record of a kind; CloseHandle frees it.
HostHandle *HostNewHandle(HostHandleKind kind);
// The record behind a handle, or null when the handle is not one of ours of that kind.
HostHandle *HostHandleOf(HANDLE handle, HostHandleKind kind);
// Sets the last error from errno (the platform's code for the reason).
void HostSetLastErrorFromErrno(int error, const std::string &linuxPath = std::string());
// Frees a thread handle's record once its thread has been joined (a running thread keeps it).
void HostReleaseThread(HostHandle *handle);
