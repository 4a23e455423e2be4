// The scripted desktop: how code that would talk to the window manager runs on Linux. Every message
// box, window message and dialog request is recorded in order and answered from a script that a test,
// a tool or a fuzzer sets. Not part of the stub; modern C++ is fine here.
#pragma once

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "platform/host/win32_api.h"

enum class DesktopKind {
  MessageBox,     // MessageBoxW or MessageBoxA: caption, text, style, owner
  SendMessage,    // SendMessageW or SendMessageA: window, message, wParam, lParam
  SetDlgItemText, // SetDlgItemTextW: window, id (in wParam), text
  Dialog,         // a dialog's entry point (the overwrite or password question): name, text
};

struct DesktopCall {
  DesktopKind kind = DesktopKind::MessageBox;
  std::wstring caption; // message box caption; dialog name for Dialog calls
  std::wstring text;    // message box text; the item text; the dialog's subject
  UINT style = 0;       // message box style
  HWND window = nullptr;
  UINT message = 0;
  WPARAM wParam = 0;
  LPARAM lParam = 0;
};

// One scripted answer: the result a call returns, and for dialogs that take text (a password) the text.
struct DesktopAnswer {
  int result = 0;
  std::string text;
};

// A hook sees every call before the script does; returning true means it answered (result in *result).
using DesktopHook = std::function<bool(const DesktopCall &call, LRESULT *result)>;

// Clears the record, the answer queues and the hook.
void DesktopReset();
// Queues the answer for the next message box (IDYES, IDOK, ...). Without a queued answer a message box
// returns the cautious button: IDOK for MB_OK, IDCANCEL where there is one, IDNO for MB_YESNO.
void DesktopQueueMessageBoxAnswer(int result);
// Queues the answer for the next call of the named dialog entry point ("AskOverwrite", "AskPassword").
void DesktopQueueDialogAnswer(const std::wstring &dialog, DesktopAnswer answer);
// Takes the next queued answer of a dialog; false when none is queued.
bool DesktopTakeDialogAnswer(const std::wstring &dialog, DesktopAnswer *answer);
void DesktopSetHook(DesktopHook hook);
// Records a call and returns the hook's result if the hook answered it (for dialog entry points).
bool DesktopRecord(const DesktopCall &call, LRESULT *result);
// Every call recorded since the last reset, except progress messages (counted below).
const std::vector<DesktopCall> &DesktopCalls();
// Messages with the number PROGRESS_MESSAGE are frequent: only their count and last lParam are kept.
int DesktopProgressCount();
LPARAM DesktopLastProgress();
// Prints the record as the stub's messages would read: "MessageBox [caption] icon: text".
std::string DesktopTranscript();

// The host's user-interface language for LoadStringW (1033 English, 1041 Japanese).
void HostSetUiLanguage(int language);
int HostUiLanguage();
// The ANSI code page (1252 or 932) behind CP_ACP.
void HostSetAnsiCodePage(UINT codePage);
// The path GetModuleFileNameW reports (a Windows path; default: the running program as Z:\...).
void HostSetModulePath(const std::wstring &path);
// The raw command line GetCommandLineW reports.
void HostSetCommandLine(const std::wstring &commandLine);
// The platform id GetVersionExA reports (default VER_PLATFORM_WIN32_NT).
void HostSetPlatformId(DWORD id);
// Whether the WOW64 functions exist and what IsWow64Process answers.
void HostSetWow64(bool functionsExist, bool isWow64);
// Windows path <-> Linux path under the layer's rules (Z: is the root).
std::string HostToLinuxPath(const wchar_t *windowsPath);
std::wstring HostFromLinuxPath(const std::string &linuxPath);
// UTF-8 <-> wide, for tools and tests.
std::wstring HostWiden(const std::string &utf8);
std::string HostNarrow(const std::wstring &wide);
