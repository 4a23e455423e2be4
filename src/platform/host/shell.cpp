// Linux platform layer: the shell's special folders, mapped to the user's folders on Linux: the XDG
// desktop and documents folders (or ~/Desktop and ~/Documents), /opt for the program files.
#include <string>

#include "platform/host/desktop.h"

struct _ITEMIDLIST {
  std::wstring path;
};

static std::string XdgFolder(const char *variable, const char *fallback) {
  const char *value = getenv(variable);
  if (value && *value) return value;
  const char *home = getenv("HOME");
  return std::string(home && *home ? home : "/root") + "/" + fallback;
}

HRESULT SHGetSpecialFolderLocation(HWND, int csidl, LPITEMIDLIST *list) {
  std::string folder;
  switch (csidl) {
  case CSIDL_DESKTOPDIRECTORY: folder = XdgFolder("XDG_DESKTOP_DIR", "Desktop"); break;
  case CSIDL_PERSONAL: folder = XdgFolder("XDG_DOCUMENTS_DIR", "Documents"); break;
  case CSIDL_PROGRAM_FILES: folder = "/opt"; break;
  default: *list = nullptr; return (HRESULT)0x80004005; // E_FAIL
  }
  *list = new _ITEMIDLIST{HostFromLinuxPath(folder)};
  return 0;
}

BOOL SHGetPathFromIDListW(LPCITEMIDLIST list, LPWSTR path) {
  if (!list || list->path.size() >= MAX_PATH) return FALSE;
  wcscpy(path, list->path.c_str());
  return TRUE;
}

void IMalloc::Free(void *block) { delete static_cast<_ITEMIDLIST *>(block); }
ULONG IMalloc::Release() { return 1; }

static IMalloc g_shellAllocator;

HRESULT SHGetMalloc(IMalloc **allocator) {
  *allocator = &g_shellAllocator;
  return 0;
}
