// Linux platform layer: the scripted desktop. Window-manager calls made by code below the window manager
// are recorded in order and answered from per-kind queues of scripted answers or by a test's hook.
#include "platform/host/desktop.h"

#include <map>
#include <mutex>
#include <sstream>

namespace {

const UINT PROGRESS = 1004; // the progress dialog's progress message

std::recursive_mutex g_mutex;
std::vector<DesktopCall> g_calls;
std::deque<int> g_messageBoxAnswers;
std::map<std::wstring, std::deque<DesktopAnswer>> g_dialogAnswers;
DesktopHook g_hook;
int g_progressCount;
LPARAM g_lastProgress;

int CautiousButton(UINT style) {
  switch (style & 0xF) {
  case MB_OK: return IDOK;
  case MB_YESNO: return IDNO;
  case MB_ABORTRETRYIGNORE: return IDABORT;
  default: return IDCANCEL; // OKCANCEL, YESNOCANCEL, RETRYCANCEL
  }
}

std::wstring FromAnsi(LPCSTR text) {
  if (!text) return std::wstring();
  int n = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
  if (n <= 0) return HostWiden(text);
  std::wstring w((size_t)n, L'\0');
  MultiByteToWideChar(CP_ACP, 0, text, -1, w.data(), n);
  w.resize((size_t)n - 1);
  return w;
}

int AnswerMessageBox(const DesktopCall &call) {
  LRESULT result = 0;
  if (DesktopRecord(call, &result)) return (int)result;
  std::lock_guard<std::recursive_mutex> lock(g_mutex);
  if (g_messageBoxAnswers.empty()) return CautiousButton(call.style);
  int answer = g_messageBoxAnswers.front();
  g_messageBoxAnswers.pop_front();
  return answer;
}

LRESULT AnswerMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  DesktopCall call;
  call.kind = DesktopKind::SendMessage;
  call.window = window;
  call.message = message;
  call.wParam = wParam;
  call.lParam = lParam;
  LRESULT result = 0;
  DesktopRecord(call, &result);
  return result;
}

} // namespace

void DesktopReset() {
  std::lock_guard<std::recursive_mutex> lock(g_mutex);
  g_calls.clear();
  g_messageBoxAnswers.clear();
  g_dialogAnswers.clear();
  g_hook = nullptr;
  g_progressCount = 0;
  g_lastProgress = 0;
}

void DesktopQueueMessageBoxAnswer(int result) {
  std::lock_guard<std::recursive_mutex> lock(g_mutex);
  g_messageBoxAnswers.push_back(result);
}

void DesktopQueueDialogAnswer(const std::wstring &dialog, DesktopAnswer answer) {
  std::lock_guard<std::recursive_mutex> lock(g_mutex);
  g_dialogAnswers[dialog].push_back(std::move(answer));
}

bool DesktopTakeDialogAnswer(const std::wstring &dialog, DesktopAnswer *answer) {
  std::lock_guard<std::recursive_mutex> lock(g_mutex);
  auto it = g_dialogAnswers.find(dialog);
  if (it == g_dialogAnswers.end() || it->second.empty()) return false;
  *answer = it->second.front();
  it->second.pop_front();
  return true;
}

void DesktopSetHook(DesktopHook hook) {
  std::lock_guard<std::recursive_mutex> lock(g_mutex);
  g_hook = std::move(hook);
}

bool DesktopRecord(const DesktopCall &call, LRESULT *result) {
  DesktopHook hook;
  {
    std::lock_guard<std::recursive_mutex> lock(g_mutex);
    if (call.kind == DesktopKind::SendMessage && call.message == PROGRESS) {
      ++g_progressCount;
      g_lastProgress = call.lParam;
    } else {
      g_calls.push_back(call);
    }
    hook = g_hook;
  }
  // The hook runs unlocked: it may set the cancel state or queue answers.
  return hook && hook(call, result);
}

const std::vector<DesktopCall> &DesktopCalls() { return g_calls; }
int DesktopProgressCount() { return g_progressCount; }
LPARAM DesktopLastProgress() { return g_lastProgress; }

std::string DesktopTranscript() {
  std::lock_guard<std::recursive_mutex> lock(g_mutex);
  std::ostringstream out;
  for (const DesktopCall &call : g_calls) {
    switch (call.kind) {
    case DesktopKind::MessageBox: {
      const char *icon = "";
      switch (call.style & 0xF0) {
      case MB_ICONERROR: icon = " error"; break;
      case MB_ICONQUESTION: icon = " question"; break;
      case MB_ICONWARNING: icon = " warning"; break;
      case MB_ICONINFORMATION: icon = " information"; break;
      }
      out << "MessageBox [" << HostNarrow(call.caption) << "]" << icon << ": " << HostNarrow(call.text) << "\n";
      break;
    }
    case DesktopKind::SendMessage:
      out << "SendMessage " << call.message << " " << call.wParam << " " << call.lParam << "\n";
      break;
    case DesktopKind::SetDlgItemText:
      out << "SetDlgItemText " << call.wParam << ": " << HostNarrow(call.text) << "\n";
      break;
    case DesktopKind::Dialog:
      out << "Dialog " << HostNarrow(call.caption) << ": " << HostNarrow(call.text) << "\n";
      break;
    }
  }
  return out.str();
}

int MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT style) {
  DesktopCall call;
  call.kind = DesktopKind::MessageBox;
  call.window = owner;
  call.text = text ? text : L"";
  call.caption = caption ? caption : L"Error";
  call.style = style;
  return AnswerMessageBox(call);
}

int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT style) {
  DesktopCall call;
  call.kind = DesktopKind::MessageBox;
  call.window = owner;
  call.text = FromAnsi(text);
  call.caption = caption ? FromAnsi(caption) : L"Error";
  call.style = style;
  return AnswerMessageBox(call);
}

LRESULT SendMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return AnswerMessage(window, message, wParam, lParam);
}

LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return AnswerMessage(window, message, wParam, lParam);
}

BOOL SetDlgItemTextW(HWND dialog, int id, LPCWSTR text) {
  DesktopCall call;
  call.kind = DesktopKind::SetDlgItemText;
  call.window = dialog;
  call.wParam = (WPARAM)id;
  call.text = text ? text : L"";
  LRESULT result = 0;
  DesktopRecord(call, &result);
  return TRUE;
}

BOOL MessageBeep(UINT type) {
  DesktopCall call;
  call.kind = DesktopKind::SendMessage;
  call.message = 0;
  call.wParam = type;
  LRESULT result = 0;
  DesktopRecord(call, &result);
  return TRUE;
}

HINSTANCE ShellExecuteW(HWND owner, LPCWSTR verb, LPCWSTR file, LPCWSTR parameters, LPCWSTR, INT show) {
  DesktopCall call;
  call.kind = DesktopKind::Dialog;
  call.window = owner;
  call.caption = L"ShellExecuteW";
  call.text = std::wstring(verb ? verb : L"") + L" " + (file ? file : L"") + L" " + (parameters ? parameters : L"");
  call.wParam = (WPARAM)show;
  LRESULT result = 0;
  DesktopRecord(call, &result);
  // The platform reports success with a value above 32.
  return reinterpret_cast<HINSTANCE>((intptr_t)42);
}
