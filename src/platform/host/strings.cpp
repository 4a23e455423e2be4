// Linux platform layer: the lstr* family, wsprintfW/A and the runtime's wide-string extras. Behaviour
// follows the platform: lstrcpynW counts the terminator, wsprintf writes at most 1024 units.
#include <ctype.h>
#include <stdarg.h>
#include <wctype.h>

#include <string>

#include "platform/host/win32_api.h"

int lstrlenW(LPCWSTR text) { return text ? (int)wcslen(text) : 0; }
int lstrlenA(LPCSTR text) { return text ? (int)strlen(text) : 0; }

LPWSTR lstrcpyW(LPWSTR dest, LPCWSTR source) { return wcscpy(dest, source); }

LPWSTR lstrcpynW(LPWSTR dest, LPCWSTR source, int count) {
  if (count <= 0) return dest;
  int i = 0;
  for (; i < count - 1 && source[i]; ++i) dest[i] = source[i];
  dest[i] = 0;
  return dest;
}

LPWSTR lstrcatW(LPWSTR dest, LPCWSTR source) { return wcscat(dest, source); }
LPSTR lstrcpyA(LPSTR dest, LPCSTR source) { return strcpy(dest, source); }

int lstrcmpW(LPCWSTR a, LPCWSTR b) {
  int r = wcscmp(a, b);
  return r < 0 ? -1 : r > 0 ? 1 : 0;
}

int _wcsicmp(const wchar_t *a, const wchar_t *b) {
  for (;; ++a, ++b) {
    wint_t x = towlower((wint_t)*a), y = towlower((wint_t)*b);
    if (x != y) return x < y ? -1 : 1;
    if (x == 0) return 0;
  }
}

int lstrcmpiW(LPCWSTR a, LPCWSTR b) { return _wcsicmp(a, b); }

int lstrcmpiA(LPCSTR a, LPCSTR b) {
  for (;; ++a, ++b) {
    int x = tolower((unsigned char)*a), y = tolower((unsigned char)*b);
    if (x != y) return x < y ? -1 : 1;
    if (x == 0) return 0;
  }
}

wchar_t *_wcsdup(const wchar_t *text) {
  size_t n = wcslen(text) + 1;
  wchar_t *copy = (wchar_t *)malloc(n * sizeof(wchar_t));
  if (copy) memcpy(copy, text, n * sizeof(wchar_t));
  return copy;
}

char *_ultoa(unsigned long value, char *buffer, int radix) {
  char digits[40];
  int n = 0;
  do {
    unsigned long d = value % (unsigned long)radix;
    digits[n++] = (char)(d < 10 ? '0' + d : 'a' + d - 10);
    value /= (unsigned long)radix;
  } while (value);
  for (int i = 0; i < n; ++i) buffer[i] = digits[n - 1 - i];
  buffer[n] = 0;
  return buffer;
}

namespace {

const size_t WSPRINTF_LIMIT = 1024;

// One formatter for both widths: Char is the output unit, `wide` says what %s means.
template <typename Char>
int Format(Char *out, const Char *format, va_list args, bool wide) {
  std::basic_string<Char> result;
  auto putText = [&](const std::basic_string<Char> &text, int width, bool left) {
    std::basic_string<Char> pad(text.size() < (size_t)width ? (size_t)width - text.size() : 0, (Char)' ');
    result += left ? text + pad : pad + text;
  };
  for (const Char *p = format; *p; ++p) {
    if (*p != '%') {
      result += *p;
      continue;
    }
    ++p;
    if (*p == '%') {
      result += (Char)'%';
      continue;
    }
    bool left = false, zero = false;
    for (; *p == '-' || *p == '0' || *p == '#'; ++p) {
      if (*p == '-') left = true;
      if (*p == '0') zero = true;
    }
    int width = 0;
    for (; *p >= '0' && *p <= '9'; ++p) width = width * 10 + (*p - '0');
    int precision = -1;
    if (*p == '.') {
      precision = 0;
      for (++p; *p >= '0' && *p <= '9'; ++p) precision = precision * 10 + (*p - '0');
    }
    bool isLong = false;
    while (*p == 'l' || *p == 'h' || *p == 'w') {
      if (*p == 'l' || *p == 'w') isLong = true;
      ++p;
    }
    Char conversion = *p;
    if (conversion == 0) break;
    std::basic_string<Char> text;
    switch (conversion) {
    case 's':
    case 'S': {
      bool argWide = (conversion == 's') == wide;
      if (isLong) argWide = true;
      if (argWide) {
        const wchar_t *s = va_arg(args, const wchar_t *);
        if (!s) s = L"(null)";
        for (; *s && (precision < 0 || (int)text.size() < precision); ++s) text += (Char)*s;
      } else {
        const char *s = va_arg(args, const char *);
        if (!s) s = "(null)";
        for (; *s && (precision < 0 || (int)text.size() < precision); ++s) text += (Char)(unsigned char)*s;
      }
      putText(text, width, left);
      break;
    }
    case 'c':
    case 'C':
      text += (Char)va_arg(args, int);
      putText(text, width, left);
      break;
    case 'd':
    case 'i':
    case 'u':
    case 'x':
    case 'X': {
      // On the platform int and long are both 32 bits.
      unsigned long long magnitude;
      bool negative = false;
      if (conversion == 'd' || conversion == 'i') {
        long long v = isLong ? (int32_t)va_arg(args, long) : va_arg(args, int);
        negative = v < 0;
        magnitude = negative ? (unsigned long long)(-v) : (unsigned long long)v;
      } else {
        magnitude = isLong ? (uint32_t)va_arg(args, unsigned long) : va_arg(args, unsigned int);
      }
      unsigned base = (conversion == 'x' || conversion == 'X') ? 16 : 10;
      const char *digits = conversion == 'X' ? "0123456789ABCDEF" : "0123456789abcdef";
      std::basic_string<Char> number;
      do {
        number.insert(number.begin(), (Char)digits[magnitude % base]);
        magnitude /= base;
      } while (magnitude);
      while (precision > 0 && (int)number.size() < precision) number.insert(number.begin(), (Char)'0');
      if (zero && !left) {
        while ((int)number.size() + (negative ? 1 : 0) < width) number.insert(number.begin(), (Char)'0');
      }
      if (negative) number.insert(number.begin(), (Char)'-');
      putText(number, width, left);
      break;
    }
    default:
      // An unknown conversion is copied as it stands.
      result += conversion;
      break;
    }
  }
  if (result.size() > WSPRINTF_LIMIT - 1) result.resize(WSPRINTF_LIMIT - 1);
  std::copy(result.begin(), result.end(), out);
  out[result.size()] = 0;
  return (int)result.size();
}

} // namespace

int wsprintfW(LPWSTR out, LPCWSTR format, ...) {
  va_list args;
  va_start(args, format);
  int n = Format<wchar_t>(out, format, args, true);
  va_end(args);
  return n;
}

int wsprintfA(LPSTR out, LPCSTR format, ...) {
  va_list args;
  va_start(args, format);
  int n = Format<char>(out, format, args, false);
  va_end(args);
  return n;
}
