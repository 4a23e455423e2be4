// Texts between the command line, the settings block and the terminal: UTF-8 on Linux and UTF-16 on
// Windows come in; the block holds UTF-16 units; what the builder prints is UTF-8. Also the refusals.
#include "mksfx.h"

#include <cstdio>

namespace mksfx {

void Fail(const std::string &message) { throw Failure{message, EXIT_REFUSED}; }
void UsageFail(const std::string &message) { throw Failure{message, EXIT_USAGE}; }

static void AppendUtf8(std::string &out, uint32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

// UTF-16 units (or, with 32-bit wchar_t, code points) to UTF-8; a lone surrogate shows as U+FFFD.
static std::string UnitsToUtf8(const wchar_t *text, size_t length) {
  std::string out;
  for (size_t i = 0; i < length; ++i) {
    uint32_t c = static_cast<uint32_t>(text[i]);
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < length) {
      uint32_t low = static_cast<uint32_t>(text[i + 1]);
      if (low >= 0xDC00 && low < 0xE000) {
        AppendUtf8(out, 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00));
        ++i;
        continue;
      }
    }
    if ((c >= 0xD800 && c < 0xE000) || c > 0x10FFFF) c = 0xFFFD;
    AppendUtf8(out, c);
  }
  return out;
}

std::string WideToUtf8(const wchar_t *text) {
  size_t length = 0;
  while (text[length] != 0) ++length;
  return UnitsToUtf8(text, length);
}

#ifdef _WIN32
std::string ToUtf8(const NativeString &text) { return UnitsToUtf8(text.data(), text.size()); }

FieldText ToFieldText(const NativeString &text, const std::string &) {
  // The command line already is UTF-16: take its units as they are.
  FieldText out;
  out.units.assign(text.begin(), text.end());
  out.utf16Units = text.size();
  return out;
}
#else
std::string ToUtf8(const NativeString &text) { return text; }

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
FieldText ToFieldText(const NativeString &text, const std::string &option) {
  FieldText out;
  const auto *p = reinterpret_cast<const unsigned char *>(text.data());
  size_t n = text.size();
  for (size_t i = 0; i < n;) {
    uint32_t c = p[i];
    size_t extra;
    uint32_t minimum;
    if (c < 0x80) { extra = 0; minimum = 0; }
    else if ((c & 0xE0) == 0xC0) { extra = 1; minimum = 0x80; c &= 0x1F; }
    else if ((c & 0xF0) == 0xE0) { extra = 2; minimum = 0x800; c &= 0x0F; }
    else if ((c & 0xF8) == 0xF0) { extra = 3; minimum = 0x10000; c &= 0x07; }
    else Fail("the text of " + option + " is not valid UTF-8 (byte " + std::to_string(i) + ")");
    for (size_t k = 1; k <= extra; ++k) {
      if (i + k >= n || (p[i + k] & 0xC0) != 0x80)
        Fail("the text of " + option + " is not valid UTF-8 (byte " + std::to_string(i) + ")");
      c = (c << 6) | (p[i + k] & 0x3F);
    }
    if (c < minimum || c > 0x10FFFF || (c >= 0xD800 && c < 0xE000))
      Fail("the text of " + option + " is not valid UTF-8 (byte " + std::to_string(i) + ")");
    out.units.push_back(static_cast<wchar_t>(c));
    out.utf16Units += c >= 0x10000 ? 2 : 1;
    i += extra + 1;
  }
  return out;
}
#endif

std::string Display(const std::filesystem::path &path) { return ToUtf8(path.native()); }

std::string Hex32(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(value));
  return text;
}

} // namespace mksfx
