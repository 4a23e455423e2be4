// sfx-extract: the stub's extraction engine on Linux. Finds the archive's end record, then runs the
// extraction worker on this thread with the scripted desktop answering the questions from the options,
// and prints every message box the stub would have shown.
//
//   sfx-extract ARCHIVE DEST [--password P ...] [--overwrite] [--answer-overwrite yes|no|all|newer|cancel]
//                            [--ansi-codepage 1252|932]
//
// Exit status 0 when the walk ended normally (single entries may have failed), 1 otherwise.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "archive/reader.h"
#include "extract/extract.h"
#include "extract/worker.h"
#include "platform/host/desktop.h"
#include "resources/resource_ids.h"
#include "startup/startup.h"

namespace {

int Usage() {
  fprintf(stderr,
          "usage: sfx-extract ARCHIVE DEST [--password P ...] [--overwrite]\n"
          "                   [--answer-overwrite yes|no|all|newer|cancel] [--ansi-codepage 1252|932]\n");
  return 2;
}

const char *IconName(UINT style) {
  switch (style & 0xF0) {
  case MB_ICONERROR: return "error";
  case MB_ICONQUESTION: return "question";
  case MB_ICONWARNING: return "warning";
  case MB_ICONINFORMATION: return "information";
  default: return "none";
  }
}

void PrintMessage(const std::wstring &caption, UINT style, const std::wstring &text) {
  printf("MessageBox [%s] %s: %s\n", HostNarrow(caption).c_str(), IconName(style), HostNarrow(text).c_str());
  fflush(stdout);
}

} // namespace

int main(int argc, char **argv) {
  std::vector<std::string> positional, passwords;
  bool overwrite = false;
  int overwriteAnswer = 0; // no answer: the question counts as not shown and the file is kept
  bool haveOverwriteAnswer = false;
  UINT codePage = 1252;
  for (int i = 1; i < argc; i++) {
    std::string arg = argv[i];
    if (arg == "--password" && i + 1 < argc) {
      passwords.push_back(argv[++i]);
    } else if (arg == "--overwrite") {
      overwrite = true;
    } else if (arg == "--answer-overwrite" && i + 1 < argc) {
      std::string a = argv[++i];
      haveOverwriteAnswer = true;
      if (a == "yes")
        overwriteAnswer = IDYES;
      else if (a == "no")
        overwriteAnswer = IDNO;
      else if (a == "all")
        overwriteAnswer = 100;
      else if (a == "newer")
        overwriteAnswer = 1004;
      else if (a == "cancel")
        overwriteAnswer = -1;
      else
        return Usage();
    } else if (arg == "--ansi-codepage" && i + 1 < argc) {
      codePage = (UINT)atoi(argv[++i]);
      if (codePage != 1252 && codePage != 932)
        return Usage();
    } else if (arg.size() > 2 && arg.compare(0, 2, "--") == 0) {
      return Usage();
    } else {
      positional.push_back(arg);
    }
  }
  if (positional.size() != 2)
    return Usage();

  HostSetAnsiCodePage(codePage);
  DesktopReset();
  for (const std::string &p : passwords)
    DesktopQueueDialogAnswer(L"AskPassword", DesktopAnswer{1, p});
  DesktopSetHook([&](const DesktopCall &call, LRESULT *result) {
    if (call.kind == DesktopKind::MessageBox) {
      PrintMessage(call.caption, call.style, call.text);
      return false;
    }
    if (call.kind == DesktopKind::Dialog && call.caption == L"AskOverwrite" && haveOverwriteAnswer) {
      *result = overwriteAnswer;
      return true;
    }
    return false;
  });
  g_overwriteWithoutAsking = overwrite ? 1 : 0;

  std::error_code error;
  std::filesystem::path destination = std::filesystem::absolute(positional[1], error);
  std::filesystem::create_directories(destination, error);
  std::wstring destinationPath = HostFromLinuxPath(destination.lexically_normal().string());
  if (destinationPath.empty() || destinationPath.back() != L'\\')
    destinationPath += L'\\';
  if (destinationPath.size() >= MAX_PATH) {
    fprintf(stderr, "sfx-extract: destination path too long\n");
    return 1;
  }
  wcscpy(g_destination, destinationPath.c_str());

  std::filesystem::path archive = std::filesystem::absolute(positional[0], error);
  g_archiveFile = fopen(archive.string().c_str(), "rb");
  if (!g_archiveFile) {
    WCHAR text[128];
    LoadStringW(g_instance, IDS_CANNOT_OPEN_ARCHIVE, text, 128);
    PrintMessage(L"VAZ-IDA", MB_ICONERROR, text);
    return 1;
  }

  if (!LocateCentralDirectory()) {
    WCHAR text[128];
    LoadStringW(g_instance, IDS_UNSUPPORTED_FORMAT, text, 128);
    MessageBoxW(NULL, text, L"VAZ-IDA", MB_ICONERROR);
    fclose(g_archiveFile);
    return 1;
  }
  std::wstring archivePath = HostFromLinuxPath(archive.lexically_normal().string());
  g_cancelState = 0;
  DWORD result = ExtractionWorker((LPVOID)archivePath.c_str());
  fclose(g_archiveFile);
  g_archiveFile = nullptr;
  return result == 0 && g_cancelState == 0 ? 0 : 1;
}
