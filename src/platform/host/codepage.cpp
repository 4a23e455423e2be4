// Code pages of the Linux platform layer: the ANSI code page behind CP_ACP (1252 or 932, chosen by
// HostSetAnsiCodePage or SFX_HOST_CODEPAGE), UTF-8, and the lead-byte tests. Wide text here is one
// wchar_t per character (32-bit), so counts are in characters. Code page 932 goes through glibc's iconv
// one character at a time; 1252 is a table, with the five undefined bytes passed through as the
// platform does.
#include <errno.h>
#include <iconv.h>
#include <mutex>
#include <string>

#include "platform/host/desktop.h"
#include "platform/host/win32_api.h"

namespace {

UINT g_ansiCodePage = 0;

UINT AnsiCodePage() {
  if (!g_ansiCodePage) {
    const char *env = getenv("SFX_HOST_CODEPAGE");
    g_ansiCodePage = (env && atoi(env) == 932) ? 932 : 1252;
  }
  return g_ansiCodePage;
}

UINT Resolve(UINT codePage) {
  if (codePage == CP_ACP || codePage == CP_OEMCP)
    return AnsiCodePage();
  return codePage;
}

// 0x80 to 0x9F of code page 1252; bytes the code page leaves undefined map to the same code point.
const wchar_t k1252High[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                               0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                               0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                               0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

bool Is932Lead(BYTE c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }

std::mutex g_iconvLock;

// One character through iconv; false when the converter does not know it.
bool IconvOne(const char *from, const char *to, const char *in, size_t inLength, char *out,
              size_t *outLength) {
  std::lock_guard<std::mutex> hold(g_iconvLock);
  static iconv_t toWide = (iconv_t)-1, fromWide = (iconv_t)-1;
  bool decoding = std::string(to) == "WCHAR_T";
  iconv_t &cd = decoding ? toWide : fromWide;
  if (cd == (iconv_t)-1)
    cd = iconv_open(to, from);
  if (cd == (iconv_t)-1)
    return false;
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  char *src = const_cast<char *>(in);
  size_t left = inLength, room = *outLength;
  char *dst = out;
  if (iconv(cd, &src, &left, &dst, &room) == (size_t)-1 || left != 0)
    return false;
  *outLength = *outLength - room;
  return true;
}

void Decode932(const BYTE *s, size_t n, std::wstring &out) {
  for (size_t i = 0; i < n;) {
    BYTE c = s[i];
    if (c < 0x80) {
      out += (wchar_t)c;
      i++;
    } else if (Is932Lead(c)) {
      if (i + 1 >= n) { // a lead byte without its trail byte
        out += (wchar_t)0x30FB;
        i++;
        continue;
      }
      wchar_t w = 0;
      size_t room = sizeof w;
      if (IconvOne("CP932", "WCHAR_T", (const char *)s + i, 2, (char *)&w, &room) && room == sizeof w)
        out += w;
      else
        out += (wchar_t)0x30FB;
      i += 2;
    } else if (c >= 0xA1 && c <= 0xDF) {
      out += (wchar_t)(0xFF61 + (c - 0xA1));
      i++;
    } else if (c == 0x80) {
      out += (wchar_t)0x80;
      i++;
    } else if (c == 0xA0) {
      out += (wchar_t)0xF8F0;
      i++;
    } else { // 0xFD to 0xFF
      out += (wchar_t)(0xF8F1 + (c - 0xFD));
      i++;
    }
  }
}

bool Encode932(wchar_t w, std::string &out) {
  if (w < 0x80) {
    out += (char)w;
    return true;
  }
  if (w >= 0xFF61 && w <= 0xFF9F) {
    out += (char)(0xA1 + (w - 0xFF61));
    return true;
  }
  char buffer[4];
  size_t room = sizeof buffer;
  if (!IconvOne("WCHAR_T", "CP932", (const char *)&w, sizeof w, buffer, &room))
    return false;
  out.append(buffer, sizeof buffer - room);
  return true;
}

void DecodeUtf8(const BYTE *s, size_t n, std::wstring &out, bool *invalid) {
  for (size_t i = 0; i < n;) {
    BYTE c = s[i];
    int extra;
    unsigned value;
    if (c < 0x80) {
      out += (wchar_t)c;
      i++;
      continue;
    } else if (c >= 0xC2 && c <= 0xDF) {
      extra = 1;
      value = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
      extra = 2;
      value = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      extra = 3;
      value = c & 0x07;
    } else {
      out += (wchar_t)0xFFFD;
      *invalid = true;
      i++;
      continue;
    }
    size_t j = i + 1;
    int k = 0;
    for (; k < extra && j < n && (s[j] & 0xC0) == 0x80; k++, j++)
      value = (value << 6) | (s[j] & 0x3F);
    bool overlong = (extra == 2 && value < 0x800) || (extra == 3 && value < 0x10000);
    if (k < extra || overlong || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
      out += (wchar_t)0xFFFD;
      *invalid = true;
      i = (k < extra) ? j : i + 1 + extra;
      continue;
    }
    out += (wchar_t)value;
    i = j;
  }
}

void EncodeUtf8(wchar_t w, std::string &out) {
  unsigned v = (unsigned)w;
  if (v >= 0xD800 && v <= 0xDFFF)
    v = 0xFFFD;
  if (v < 0x80) {
    out += (char)v;
  } else if (v < 0x800) {
    out += (char)(0xC0 | (v >> 6));
    out += (char)(0x80 | (v & 0x3F));
  } else if (v < 0x10000) {
    out += (char)(0xE0 | (v >> 12));
    out += (char)(0x80 | ((v >> 6) & 0x3F));
    out += (char)(0x80 | (v & 0x3F));
  } else {
    out += (char)(0xF0 | (v >> 18));
    out += (char)(0x80 | ((v >> 12) & 0x3F));
    out += (char)(0x80 | ((v >> 6) & 0x3F));
    out += (char)(0x80 | (v & 0x3F));
  }
}

} // namespace

void HostSetAnsiCodePage(UINT codePage) { g_ansiCodePage = codePage == 932 ? 932 : 1252; }

UINT GetACP(void) { return AnsiCodePage(); }

BOOL IsDBCSLeadByteEx(UINT codePage, BYTE c) { return Resolve(codePage) == 932 && Is932Lead(c); }

BOOL IsDBCSLeadByte(BYTE c) { return IsDBCSLeadByteEx(CP_ACP, c); }

int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR source, int sourceLength, LPWSTR dest,
                        int destLength) {
  UINT cp = Resolve(codePage);
  if (!source || destLength < 0 || (cp != 1252 && cp != 932 && cp != CP_UTF8)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  size_t n = sourceLength < 0 ? strlen(source) + 1 : (size_t)sourceLength;
  const BYTE *s = (const BYTE *)source;
  std::wstring out;
  bool invalid = false;
  if (cp == CP_UTF8) {
    DecodeUtf8(s, n, out, &invalid);
  } else if (cp == 932) {
    Decode932(s, n, out);
  } else {
    for (size_t i = 0; i < n; i++)
      out += s[i] >= 0x80 && s[i] < 0xA0 ? k1252High[s[i] - 0x80] : (wchar_t)s[i];
  }
  if (invalid && (flags & MB_ERR_INVALID_CHARS)) {
    SetLastError(ERROR_NO_UNICODE_TRANSLATION);
    return 0;
  }
  if (destLength == 0)
    return (int)out.size();
  if (out.size() > (size_t)destLength) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  for (size_t i = 0; i < out.size(); i++)
    dest[i] = out[i];
  return (int)out.size();
}

int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR source, int sourceLength, LPSTR dest,
                        int destLength, LPCSTR defaultChar, LPBOOL usedDefault) {
  (void)flags;
  UINT cp = Resolve(codePage);
  if (!source || destLength < 0 || (cp != 1252 && cp != 932 && cp != CP_UTF8)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  size_t n = sourceLength < 0 ? wcslen(source) + 1 : (size_t)sourceLength;
  std::string out;
  bool defaulted = false;
  char fallback = defaultChar && cp != CP_UTF8 ? defaultChar[0] : '?';
  for (size_t i = 0; i < n; i++) {
    wchar_t w = source[i];
    if (cp == CP_UTF8) {
      EncodeUtf8(w, out);
    } else if (cp == 932) {
      if (!Encode932(w, out)) {
        out += fallback;
        defaulted = true;
      }
    } else {
      int byte = -1;
      if (w < 0x80 || (w >= 0xA0 && w <= 0xFF))
        byte = (int)w;
      for (int k = 0; byte < 0 && k < 32; k++)
        if (k1252High[k] == w)
          byte = 0x80 + k;
      if (byte < 0) {
        out += fallback;
        defaulted = true;
      } else {
        out += (char)byte;
      }
    }
  }
  if (usedDefault)
    *usedDefault = defaulted;
  if (destLength == 0)
    return (int)out.size();
  if (out.size() > (size_t)destLength) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  memcpy(dest, out.data(), out.size());
  return (int)out.size();
}
