// winauto_selftest: a small Windows program whose windows winauto's own tests answer. It performs its
// arguments as a sequence of actions, so one program covers every case of the rig:
//   print TEXT                  writes TEXT and a newline to stdout
//   cmdline                     writes its raw command line (GetCommandLineW) to stdout, UTF-8
//   box CAPTION TEXT STYLE      MessageBoxW without owner (\n in TEXT is a line break); prints
//                               "answer N" with the button pressed, which becomes the exit code
//   errortext CODE              writes the system's text for an error code (FormatMessageW) to stdout,
//                               as a quoted string with \r and \n escaped
//   form                        a window "winauto form" with an edit (101), a check box (102), a
//                               progress bar (103, range 0..50 at 17), a disabled button (104) and OK (1);
//                               OK prints the edit's text and the box's state; the close command prints
//                               "closed"; either ends the form
//   count N                     a window "winauto count" whose progress bar (103, range 0..N) and
//                               static text (105, "step K") advance by one every 30 ms; it stays
//                               300 ms at N and then closes itself, as a progress dialog does
//   spawn ARGS...               starts another copy of itself with the rest of the arguments and waits
//                               for it (its windows belong to a descendant process)
//   start ARGS...               the same without waiting: the copy outlives this process
//   exit CODE                   ends at once with CODE (decimal or 0x hexadecimal, full 32 bits)
// Without exit, the process ends with the last box's result (0 when there was none).
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

void Print(const std::wstring &text) {
  std::wstring line = text + L"\n";
  int n = WideCharToMultiByte(CP_UTF8, 0, line.data(), (int)line.size(), nullptr, 0, nullptr, nullptr);
  std::string bytes(n, '\0');
  WideCharToMultiByte(CP_UTF8, 0, line.data(), (int)line.size(), bytes.data(), n, nullptr, nullptr);
  DWORD written;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), bytes.data(), (DWORD)bytes.size(), &written, nullptr);
}

HWND g_edit, g_check;

LRESULT CALLBACK FormProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
  case WM_COMMAND:
    if (LOWORD(wParam) == IDOK) {
      wchar_t text[256] = {};
      GetWindowTextW(g_edit, text, 256);
      LRESULT checked = SendMessageW(g_check, BM_GETCHECK, 0, 0);
      Print(std::wstring(L"edit=") + text + L" check=" + std::to_wstring((long)checked));
      DestroyWindow(hwnd);
    } else if (LOWORD(wParam) == 104) {
      Print(L"disabled button pressed");
    }
    return 0;
  case WM_CLOSE:
    Print(L"closed");
    DestroyWindow(hwnd);
    return 0;
  case WM_DESTROY: PostQuitMessage(0); return 0;
  }
  return DefWindowProcW(hwnd, message, wParam, lParam);
}

void Form() {
  INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&icc);
  HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSW wc = {};
  wc.lpfnWndProc = FormProc;
  wc.hInstance = instance;
  wc.hbrBackground = (HBRUSH)(COLOR_3DFACE + 1);
  wc.lpszClassName = L"WinautoForm";
  wc.hCursor = LoadCursorW(nullptr, (LPCWSTR)IDC_ARROW);
  RegisterClassW(&wc);
  HWND form = CreateWindowExW(0, L"WinautoForm", L"winauto form", WS_OVERLAPPEDWINDOW, 50, 50, 320, 220,
                              nullptr, nullptr, instance, nullptr);
  g_edit = CreateWindowExW(0, L"Edit", L"start", WS_CHILD | WS_VISIBLE | WS_BORDER | ES_AUTOHSCROLL, 10, 10,
                           200, 24, form, (HMENU)101, instance, nullptr);
  g_check = CreateWindowExW(0, L"Button", L"&Keep", WS_CHILD | WS_VISIBLE | BS_AUTOCHECKBOX, 10, 40, 200, 24,
                            form, (HMENU)102, instance, nullptr);
  HWND progress = CreateWindowExW(0, PROGRESS_CLASSW, L"", WS_CHILD | WS_VISIBLE, 10, 70, 200, 20, form,
                                  (HMENU)103, instance, nullptr);
  SendMessageW(progress, PBM_SETRANGE32, 0, 50);
  SendMessageW(progress, PBM_SETPOS, 17, 0);
  HWND disabled = CreateWindowExW(0, L"Button", L"Never", WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, 10, 100, 90,
                                  26, form, (HMENU)104, instance, nullptr);
  EnableWindow(disabled, FALSE);
  CreateWindowExW(0, L"Button", L"OK", WS_CHILD | WS_VISIBLE | BS_DEFPUSHBUTTON, 110, 100, 90, 26, form,
                  (HMENU)IDOK, instance, nullptr);
  ShowWindow(form, SW_SHOW);
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

DWORD Number(const wchar_t *text) {
  return (DWORD)wcstoul(text, nullptr, 0);
}

int g_countTo, g_count;
HWND g_countBar, g_countText;

LRESULT CALLBACK CountProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
  case WM_TIMER:
    if (g_count < g_countTo) {
      g_count++;
      SendMessageW(g_countBar, PBM_SETPOS, g_count, 0);
      SetWindowTextW(g_countText, (L"step " + std::to_wstring(g_count)).c_str());
      if (g_count == g_countTo) SetTimer(hwnd, 1, 300, nullptr);
    } else {
      KillTimer(hwnd, 1);
      DestroyWindow(hwnd);
    }
    return 0;
  case WM_DESTROY: PostQuitMessage(0); return 0;
  }
  return DefWindowProcW(hwnd, message, wParam, lParam);
}

void Count(int to) {
  INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&icc);
  HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSW wc = {};
  wc.lpfnWndProc = CountProc;
  wc.hInstance = instance;
  wc.hbrBackground = (HBRUSH)(COLOR_3DFACE + 1);
  wc.lpszClassName = L"WinautoCount";
  RegisterClassW(&wc);
  HWND window = CreateWindowExW(0, L"WinautoCount", L"winauto count", WS_OVERLAPPEDWINDOW, 60, 60, 300, 120,
                                nullptr, nullptr, instance, nullptr);
  g_countBar = CreateWindowExW(0, PROGRESS_CLASSW, L"", WS_CHILD | WS_VISIBLE, 10, 10, 200, 20, window,
                               (HMENU)103, instance, nullptr);
  g_countText = CreateWindowExW(0, L"Static", L"step 0", WS_CHILD | WS_VISIBLE, 10, 40, 200, 20, window,
                                (HMENU)105, instance, nullptr);
  g_countTo = to;
  SendMessageW(g_countBar, PBM_SETRANGE32, 0, to);
  ShowWindow(window, SW_SHOW);
  SetTimer(window, 1, 30, nullptr);
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
}

}  // namespace

int main() {
  int argc = 0;
  LPWSTR *argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  DWORD result = 0;
  for (int i = 1; i < argc; i++) {
    std::wstring a = argv[i];
    if (a == L"print" && i + 1 < argc) {
      Print(argv[++i]);
    } else if (a == L"cmdline") {
      Print(GetCommandLineW());
    } else if (a == L"box" && i + 3 < argc) {
      const wchar_t *caption = argv[i + 1];
      std::wstring text = argv[i + 2];
      for (size_t at; (at = text.find(L"\\n")) != std::wstring::npos;) text.replace(at, 2, L"\n");
      UINT style = (UINT)Number(argv[i + 3]);
      i += 3;
      result = (DWORD)MessageBoxW(nullptr, text.c_str(), caption, style);
      Print(L"answer " + std::to_wstring(result));
    } else if (a == L"errortext" && i + 1 < argc) {
      wchar_t *system = nullptr;
      FormatMessageW(
          FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER,
          nullptr, Number(argv[++i]), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), (LPWSTR)&system, 0, nullptr);
      std::wstring text = L"\"";
      for (const wchar_t *c = system ? system : L""; *c; c++) {
        if (*c == L'\r')
          text += L"\\r";
        else if (*c == L'\n')
          text += L"\\n";
        else if (*c == L'\\' || *c == L'"')
          text += std::wstring(L"\\") + *c;
        else
          text += *c;
      }
      if (system) LocalFree(system);
      Print(text + L"\"");
    } else if (a == L"form") {
      Form();
    } else if (a == L"count" && i + 1 < argc) {
      Count((int)Number(argv[++i]));
    } else if (a == L"spawn" || a == L"start") {
      wchar_t self[MAX_PATH];
      GetModuleFileNameW(nullptr, self, MAX_PATH);
      std::wstring line = L"\"" + std::wstring(self) + L"\"";
      // The raw remainder of our own command line keeps the quoting exactly.
      for (int j = i + 1; j < argc; j++) {
        std::wstring arg = argv[j];
        line += L" \"";
        for (wchar_t c : arg) line += c == L'"' ? std::wstring(L"\\\"") : std::wstring(1, c);
        line += L"\"";
      }
      STARTUPINFOW si = {};
      si.cb = sizeof si;
      PROCESS_INFORMATION pi = {};
      if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi))
        return 3;
      if (a == L"spawn") {
        WaitForSingleObject(pi.hProcess, INFINITE);
        GetExitCodeProcess(pi.hProcess, &result);
      }
      CloseHandle(pi.hThread);
      CloseHandle(pi.hProcess);
      break;
    } else if (a == L"exit" && i + 1 < argc) {
      ExitProcess(Number(argv[i + 1]));
    } else {
      Print(L"winauto_selftest: bad argument " + a);
      return 2;
    }
  }
  return (int)result;
}
