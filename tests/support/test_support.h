// Helpers shared by the tests: scratch folders, whole-file reads and writes, running peers, and paths in
// the platform's form (a Windows path on both builds: Z:\... for a Linux path on the host and under Wine).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sfxtest {

using Bytes = std::vector<uint8_t>;

// A fresh folder below the system's temporary folder, removed with everything in it at destruction.
class TempDir {
public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir &) = delete;
  TempDir &operator=(const TempDir &) = delete;
  // Native path (Linux path on the host, Windows path under Wine), without a trailing separator.
  const std::string &path() const { return path_; }
  std::string file(const std::string &name) const;

private:
  std::string path_;
};

Bytes ReadFile(const std::string &path);
void WriteFile(const std::string &path, const Bytes &data);
void WriteFile(const std::string &path, const std::string &text);
bool FileExists(const std::string &path);

// Runs a shell command (host build only); returns its exit status, -1 when it could not run.
int Run(const std::string &command);
// True when a command of that name is on PATH (host build only).
bool HaveTool(const std::string &name);

// The platform-form path of a native path: on the host "/tmp/x" becomes "Z:\tmp\x", under Wine the
// native path already is one.
std::wstring PlatformPath(const std::string &nativePath);
std::wstring Widen(const std::string &utf8);
std::string Narrow(const std::wstring &wide);

// Folder of the shared real-world archives, or empty when it is absent.
std::string FixturesDir();
std::string SourceDir();
std::string BinaryDir();

} // namespace sfxtest
