// Shows every dialog template of sfx.exe in English and in Japanese, one after the other, for
// scripts/render-dialogs to photograph. Each language variant is picked by its own resource (not by the user
// interface language), so one run shows all ten. The progress dialog gets its animation as the stub makes
// it, stopped with the paper in mid-flight.
//
//   render_dialogs <sfx.exe> <folder>
//
// For each variant it prints "READY <name> <left> <top> <width> <height>" (the window's screen rectangle)
// and waits, with its messages running, until <folder>\<name>.done exists (at most 30 seconds).
// The platform's wide names (RT_DIALOG, ...) throughout.
#define UNICODE
#define _UNICODE
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include <cstdio>
#include <string>

#include "resources/resource_ids.h"

namespace {

HMODULE g_stub;

INT_PTR CALLBACK RenderProc(HWND dialog, UINT message, WPARAM, LPARAM lParam) {
  if (message != WM_INITDIALOG)
    return FALSE;
  if (lParam == IDD_PROGRESS) {
    // The animation control as the progress dialog creates it, but played once up to the middle of the clip
    // instead of round and round, so that the picture is taken at a known frame.
    HWND animation = CreateWindowExW(0, ANIMATE_CLASSW, nullptr, WS_CHILD | WS_VISIBLE | ACS_TRANSPARENT,
                                     0, 0, 0, 0, dialog, reinterpret_cast<HMENU>(1), g_stub, nullptr);
    if (animation) {
      SendMessageW(animation, ACM_OPENW, reinterpret_cast<WPARAM>(g_stub),
                   reinterpret_cast<LPARAM>(MAKEINTRESOURCEW(IDR_PAPER_FLIGHT)));
      SetWindowPos(animation, nullptr, 50, 0, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
      SendMessageW(animation, ACM_PLAY, 1, MAKELONG(0, 9));
    }
    HWND bar = GetDlgItem(dialog, IDC_PROGRESS_BAR);
    SendMessageW(bar, PBM_SETRANGE32, 0, 100);
    SendMessageW(bar, PBM_SETPOS, 40, 0);
  }
  if (lParam == IDD_CRC_CHECK) {
    HWND bar = GetDlgItem(dialog, IDC_CRC_PROGRESS);
    SendMessageW(bar, PBM_SETRANGE32, 0, 100);
    SendMessageW(bar, PBM_SETPOS, 60, 0);
  }
  return TRUE;
}

void Pump(DWORD milliseconds, const std::wstring &doneFile) {
  DWORD start = GetTickCount();
  while (GetTickCount() - start < milliseconds) {
    if (!doneFile.empty() && GetFileAttributesW(doneFile.c_str()) != INVALID_FILE_ATTRIBUTES)
      return;
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    Sleep(20);
  }
}

} // namespace

int main() {
  int argc = 0;
  wchar_t **argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (argc != 3) {
    fprintf(stderr, "usage: render_dialogs <sfx.exe> <folder>\n");
    return 2;
  }
  INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_PROGRESS_CLASS | ICC_ANIMATE_CLASS | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&icc);
  g_stub = LoadLibraryExW(argv[1], nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (!g_stub) {
    fprintf(stderr, "render_dialogs: cannot load the stub (%lu)\n", GetLastError());
    return 1;
  }
  const int dialogs[] = {IDD_CRC_CHECK, IDD_DESTINATION, IDD_PASSWORD, IDD_REPLACE, IDD_PROGRESS};
  const struct {
    LANGID lang;
    const char *name;
  } languages[] = {{MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), "en"},
                   {MAKELANGID(LANG_JAPANESE, SUBLANG_JAPANESE_JAPAN), "ja"}};
  int failures = 0;
  for (const auto &language : languages) {
    for (int id : dialogs) {
      char name[32];
      snprintf(name, sizeof name, "dialog%d_%s", id, language.name);
      HRSRC found = FindResourceExW(g_stub, RT_DIALOG, MAKEINTRESOURCEW(id), language.lang);
      const void *bytes = found ? LockResource(LoadResource(g_stub, found)) : nullptr;
      HWND dialog = bytes ? CreateDialogIndirectParamW(g_stub, static_cast<LPCDLGTEMPLATEW>(bytes), nullptr,
                                                       RenderProc, id)
                          : nullptr;
      if (!dialog) {
        fprintf(stderr, "render_dialogs: %s cannot be created (%lu)\n", name, GetLastError());
        failures++;
        continue;
      }
      ShowWindow(dialog, SW_SHOW);
      UpdateWindow(dialog);
      // Long enough for the clip to reach its middle frame (10 frames a second).
      Pump(id == IDD_PROGRESS ? 1500 : 400, L"");
      RECT r;
      GetWindowRect(dialog, &r);
      printf("READY %s %ld %ld %ld %ld\n", name, r.left, r.top, r.right - r.left, r.bottom - r.top);
      fflush(stdout);
      wchar_t done[MAX_PATH];
      _snwprintf(done, MAX_PATH, L"%ls\\%hs.done", argv[2], name);
      done[MAX_PATH - 1] = 0;
      Pump(30000, done);
      DestroyWindow(dialog);
    }
  }
  printf("FINISHED\n");
  fflush(stdout);
  return failures ? 1 : 0;
}
