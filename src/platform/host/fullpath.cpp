// GetFullPathNameW of the Linux platform layer, following the platform's rules: the path is made
// absolute (a relative path against the current folder Z:\<cwd>, a rooted one on drive Z:), either
// slash separates, separators run together, "." and ".." are evaluated without climbing above the root,
// a component followed by a separator loses one trailing dot, the last component loses its trailing
// dots and blanks, and a last component naming a DOS device (CON, NUL, COM1, LPT1, ...) makes the
// whole result \\.\<device>. \\?\ paths are returned as they are.
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/host/win32_api.h"

namespace {

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

bool IsLetter(wchar_t c) { return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z'); }

wchar_t Upper(wchar_t c) { return (c >= L'a' && c <= L'z') ? (wchar_t)(c - 32) : c; }

std::wstring CurrentFolder() {
  std::vector<char> buffer(4096);
  if (!getcwd(buffer.data(), buffer.size()))
    return L"Z:\\";
  int n = MultiByteToWideChar(CP_UTF8, 0, buffer.data(), -1, nullptr, 0);
  std::wstring wide(n > 0 ? n : 1, L'\0');
  if (n > 0)
    MultiByteToWideChar(CP_UTF8, 0, buffer.data(), -1, wide.data(), n);
  wide.resize(wcslen(wide.c_str()));
  std::wstring result = L"Z:";
  for (wchar_t c : wide)
    result += c == L'/' ? L'\\' : c;
  if (result.back() != L'\\')
    result += L'\\';
  return result;
}

// The device a last component names, or empty: the part before the first dot or colon, without
// trailing blanks, compared without case.
std::wstring DeviceName(const std::wstring &component) {
  size_t end = component.find_first_of(L".:");
  std::wstring base = component.substr(0, end);
  while (!base.empty() && base.back() == L' ')
    base.pop_back();
  std::wstring upper;
  for (wchar_t c : base)
    upper += Upper(c);
  if (upper == L"CON" || upper == L"PRN" || upper == L"AUX" || upper == L"NUL")
    return base;
  if (upper.size() == 4 && (upper.compare(0, 3, L"COM") == 0 || upper.compare(0, 3, L"LPT") == 0) &&
      upper[3] >= L'1' && upper[3] <= L'9')
    return base;
  return std::wstring();
}

// Evaluates the components of rest under root (which ends with a separator unless it is a bare
// network root).
std::wstring Collapse(const std::wstring &root, const std::wstring &rest) {
  std::vector<std::wstring> parts;
  size_t i = 0, n = rest.size();
  bool endsWithSeparator = n > 0 && IsSeparator(rest[n - 1]);
  while (i < n) {
    size_t j = i;
    while (j < n && !IsSeparator(rest[j]))
      j++;
    std::wstring part = rest.substr(i, j - i);
    bool last = j >= n;
    i = j;
    while (i < n && IsSeparator(rest[i]))
      i++;
    if (part.empty())
      continue;
    if (part == L".")
      continue;
    if (part == L"..") {
      if (!parts.empty())
        parts.pop_back();
      continue;
    }
    if (last && !endsWithSeparator) {
      while (!part.empty() && (part.back() == L'.' || part.back() == L' '))
        part.pop_back();
      if (part.empty())
        continue;
    } else if (part.back() == L'.' && part.find_first_not_of(L'.') != std::wstring::npos) {
      part.pop_back();
    }
    parts.push_back(part);
  }
  std::wstring result = root;
  for (size_t k = 0; k < parts.size(); k++) {
    if (!result.empty() && result.back() != L'\\')
      result += L'\\';
    result += parts[k];
  }
  if (endsWithSeparator && !parts.empty())
    result += L'\\';
  return result;
}

std::wstring FullPath(const std::wstring &path) {
  if (path.size() >= 4 && path[0] == L'\\' && path[1] == L'\\' && path[2] == L'?' && path[3] == L'\\')
    return path;
  if (path.size() >= 4 && IsSeparator(path[0]) && IsSeparator(path[1]) &&
      (path[2] == L'.' || path[2] == L'?') && IsSeparator(path[3]))
    return Collapse(L"\\\\.\\", path.substr(4));
  if (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1])) {
    // \\server\share: the share is the root and ".." does not climb above it.
    size_t i = 2;
    std::wstring root = L"\\\\";
    for (int level = 0; level < 2; level++) {
      while (i < path.size() && IsSeparator(path[i]))
        i++;
      size_t j = i;
      while (j < path.size() && !IsSeparator(path[j]))
        j++;
      if (level == 1 && j > i)
        root += L'\\';
      root += path.substr(i, j - i);
      i = j;
    }
    return Collapse(root, i < path.size() ? path.substr(i) : std::wstring());
  }

  std::wstring absolute;
  if (path.size() >= 2 && IsLetter(path[0]) && path[1] == L':') {
    if (path.size() >= 3 && IsSeparator(path[2])) {
      absolute = path;
    } else {
      // Drive-relative: against the current folder on drive Z:, the root on any other drive.
      absolute =
          (Upper(path[0]) == L'Z' ? CurrentFolder() : std::wstring(1, path[0]) + L":\\") + path.substr(2);
    }
  } else if (!path.empty() && IsSeparator(path[0])) {
    absolute = CurrentFolder().substr(0, 2) + path;
  } else {
    absolute = CurrentFolder() + path;
  }

  size_t lastStart = absolute.size();
  while (lastStart > 0 && !IsSeparator(absolute[lastStart - 1]) && absolute[lastStart - 1] != L':')
    lastStart--;
  std::wstring device = DeviceName(absolute.substr(lastStart));
  if (!device.empty())
    return L"\\\\.\\" + device;

  std::wstring root = absolute.substr(0, 2) + L"\\";
  return Collapse(root, absolute.substr(3));
}

} // namespace

DWORD GetFullPathNameW(LPCWSTR name, DWORD size, LPWSTR buffer, LPWSTR *filePart) {
  if (!name || !name[0]) {
    SetLastError(ERROR_INVALID_NAME);
    return 0;
  }
  std::wstring full = FullPath(name);
  if (full.size() + 1 > size)
    return (DWORD)full.size() + 1;
  for (size_t i = 0; i < full.size(); i++)
    buffer[i] = full[i];
  buffer[full.size()] = 0;
  if (filePart) {
    size_t last = full.rfind(L'\\');
    *filePart = (last == std::wstring::npos || last + 1 == full.size()) ? nullptr : buffer + last + 1;
  }
  return (DWORD)full.size();
}
