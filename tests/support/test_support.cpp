#include "test_support.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>

#ifdef _WIN32
#include <windows.h>
#endif

namespace fs = std::filesystem;

namespace sfxtest {

#ifdef _WIN32
// Under Wine the build's paths are Linux paths; the Windows side sees them below drive Z:.
static std::string Native(const char *linuxPath) {
  std::string p = std::string("Z:") + linuxPath;
  for (auto &c : p)
    if (c == '/') c = '\\';
  return p;
}
#else
static std::string Native(const char *linuxPath) { return linuxPath; }
#endif

std::string SourceDir() { return Native(SFX_SOURCE_DIR); }
std::string BinaryDir() { return Native(SFX_BINARY_DIR); }
std::string FixturesDir() {
  std::string dir = Native(SFX_FIXTURES_DIR);
  std::error_code ec;
  return fs::is_directory(fs::path(dir) / "legacy", ec) ? dir : std::string();
}

TempDir::TempDir() {
  static std::mt19937_64 rng{std::random_device{}()};
  fs::path base = fs::temp_directory_path();
  for (;;) {
    fs::path p = base / ("sfxtest-" + std::to_string(rng() % 1000000000ULL));
    std::error_code ec;
    if (fs::create_directory(p, ec)) {
      path_ = p.string();
      return;
    }
  }
}

TempDir::~TempDir() {
  std::error_code ec;
  // Read-only files must be writable before they can go on Windows.
  for (auto it = fs::recursive_directory_iterator(path_, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec))
    fs::permissions(it->path(), fs::perms::owner_write, fs::perm_options::add, ec);
  fs::remove_all(path_, ec);
}

std::string TempDir::file(const std::string &name) const { return (fs::path(path_) / name).string(); }

Bytes ReadFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string &path, const Bytes &data) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) throw std::runtime_error("cannot write " + path);
  out.write(reinterpret_cast<const char *>(data.data()), static_cast<std::streamsize>(data.size()));
}

void WriteFile(const std::string &path, const std::string &text) { WriteFile(path, Bytes(text.begin(), text.end())); }

bool FileExists(const std::string &path) {
  std::error_code ec;
  return fs::exists(path, ec);
}

int Run(const std::string &command) {
#ifdef _WIN32
  (void)command;
  return -1;
#else
  int status = std::system(command.c_str());
  if (status == -1) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
}

bool HaveTool(const std::string &name) {
#ifdef _WIN32
  (void)name;
  return false;
#else
  return Run("command -v " + name + " >/dev/null 2>&1") == 0;
#endif
}

std::wstring Widen(const std::string &utf8) {
  std::wstring out;
  for (size_t i = 0; i < utf8.size();) {
    unsigned char c = static_cast<unsigned char>(utf8[i]);
    uint32_t cp;
    int n;
    if (c < 0x80) { cp = c; n = 1; }
    else if ((c >> 5) == 6) { cp = c & 0x1F; n = 2; }
    else if ((c >> 4) == 14) { cp = c & 0x0F; n = 3; }
    else { cp = c & 0x07; n = 4; }
    for (int k = 1; k < n && i + k < utf8.size(); ++k) cp = (cp << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
    i += n;
    if (sizeof(wchar_t) == 2 && cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<wchar_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<wchar_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<wchar_t>(cp));
    }
  }
  return out;
}

std::string Narrow(const std::wstring &wide) {
  std::string out;
  for (size_t i = 0; i < wide.size(); ++i) {
    uint32_t cp = static_cast<uint32_t>(wide[i]);
    if (sizeof(wchar_t) == 2 && cp >= 0xD800 && cp < 0xDC00 && i + 1 < wide.size()) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (static_cast<uint32_t>(wide[++i]) - 0xDC00);
    }
    if (cp < 0x80) out.push_back(static_cast<char>(cp));
    else if (cp < 0x800) { out.push_back(static_cast<char>(0xC0 | (cp >> 6))); out.push_back(static_cast<char>(0x80 | (cp & 0x3F))); }
    else if (cp < 0x10000) { out.push_back(static_cast<char>(0xE0 | (cp >> 12))); out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F))); out.push_back(static_cast<char>(0x80 | (cp & 0x3F))); }
    else { out.push_back(static_cast<char>(0xF0 | (cp >> 18))); out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F))); out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F))); out.push_back(static_cast<char>(0x80 | (cp & 0x3F))); }
  }
  return out;
}

std::wstring PlatformPath(const std::string &nativePath) {
#ifdef _WIN32
  return Widen(nativePath);
#else
  std::string p = nativePath;
  if (!p.empty() && p[0] == '/') p = "Z:" + p;
  for (auto &c : p)
    if (c == '/') c = '\\';
  return Widen(p);
#endif
}

} // namespace sfxtest
