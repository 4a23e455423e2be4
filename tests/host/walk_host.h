// Runs the extraction worker in this process with the scripted desktop answering, for the walk's host
// tests: the archive and the destination are Linux paths; what the worker showed and asked is returned.
#pragma once

#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "archive/reader.h"
#include "decompress/decompress.h"
#include "extract/extract.h"
#include "extract/questions.h"
#include "extract/worker.h"
#include "platform/host/desktop.h"
#include "startup/startup.h"
#include "test_support.h"

namespace walktest {

// What the worker's windows stand for: any non-null handle, so that owners can be told apart.
inline HWND FakeProgressWindow() { return reinterpret_cast<HWND>(0x1006); }

struct WalkOptions {
  std::vector<DesktopAnswer> passwords; // queued for AskPassword, in order
  std::vector<int> overwriteAnswers;    // queued for AskOverwrite (1004 = Newer)
  bool overwriteWithoutAsking = false;
  UINT codePage = 1252;
  std::function<bool(const DesktopCall &, LRESULT *)> hook; // sees every call first
  bool deleteAfterSetup = false;
  bool expectEndRecord = true; // a damaged archive may have none: then nothing runs
};

struct WalkOutcome {
  DWORD result = 0;
  LONG cancelState = 0;
  std::vector<DesktopCall> calls;

  std::vector<const DesktopCall *> Boxes() const {
    std::vector<const DesktopCall *> out;
    for (const DesktopCall &c : calls)
      if (c.kind == DesktopKind::MessageBox)
        out.push_back(&c);
    return out;
  }
  // Subjects of the named question, in order.
  std::vector<std::wstring> Asked(const std::wstring &dialog) const {
    std::vector<std::wstring> out;
    for (const DesktopCall &c : calls)
      if (c.kind == DesktopKind::Dialog && c.caption == dialog)
        out.push_back(c.text);
    return out;
  }
  int Sent(UINT message) const {
    int n = 0;
    for (const DesktopCall &c : calls)
      if (c.kind == DesktopKind::SendMessage && c.message == message)
        n++;
    return n;
  }
};

inline WalkOutcome RunWalk(const std::string &archive, const std::string &destination,
                           const WalkOptions &options = WalkOptions()) {
  WalkOutcome outcome;
  HostSetAnsiCodePage(options.codePage);
  DesktopReset();
  for (const DesktopAnswer &a : options.passwords)
    DesktopQueueDialogAnswer(L"AskPassword", a);
  for (int a : options.overwriteAnswers)
    DesktopQueueDialogAnswer(L"AskOverwrite", DesktopAnswer{a, ""});
  if (options.hook)
    DesktopSetHook(options.hook);
  g_cancelState = 0;
  g_overwriteWithoutAsking = options.overwriteWithoutAsking ? 1 : 0;
  g_newerOnly = 0;
  g_deleteAfterSetup = options.deleteAfterSetup ? 1 : 0;
  wcscpy(g_setupCommand, options.deleteAfterSetup ? L"setup.exe" : L"");
  g_progressWindow = FakeProgressWindow();
  StringListClear();
  std::filesystem::create_directories(destination);
  std::wstring dest = HostFromLinuxPath(destination) + L"\\";
  wcscpy(g_destination, dest.c_str());
  g_archiveFile = fopen(archive.c_str(), "rb");
  if (!g_archiveFile) {
    ADD_FAILURE() << "cannot open " << archive;
    return outcome;
  }
  if (!LocateCentralDirectory()) {
    if (options.expectEndRecord)
      ADD_FAILURE() << "no end record in " << archive;
    fclose(g_archiveFile);
    g_archiveFile = nullptr;
    return outcome;
  }
  std::wstring archivePath = HostFromLinuxPath(archive);
  outcome.result = ExtractionWorker((LPVOID)archivePath.c_str());
  outcome.cancelState = g_cancelState;
  fclose(g_archiveFile);
  g_archiveFile = nullptr;
  outcome.calls = DesktopCalls();
  DesktopSetHook(nullptr);
  HostSetAnsiCodePage(1252);
  return outcome;
}

// Relative path -> contents ("/" for a folder) of everything below root. Needs walk_zip.h for Crc32.
inline std::map<std::string, std::string> Tree(const std::string &root) {
  std::map<std::string, std::string> out;
  std::error_code ec;
  if (!std::filesystem::exists(root, ec))
    return out;
  for (auto &e : std::filesystem::recursive_directory_iterator(root)) {
    std::string rel = std::filesystem::relative(e.path(), root).string();
    if (e.is_directory()) {
      out[rel] = "/";
    } else {
      sfxtest::Bytes b = sfxtest::ReadFile(e.path().string());
      // Large files by size and CRC-32, so that a difference reads in one line.
      out[rel] = b.size() <= 256 ? std::string(b.begin(), b.end())
                                 : std::to_string(b.size()) + " bytes, CRC-32 " + std::to_string(Crc32(b));
    }
  }
  return out;
}

} // namespace walktest
