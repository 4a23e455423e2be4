// winauto: the end-to-end rig's hands and eyes. Starts one Windows program with an exact command line,
// watches the top-level windows of that process and of every process it starts, records each window in
// a transcript, answers the windows from a small script, and ends with the program's full 32-bit exit
// code. Every wait has a time limit: a window that no step answers in time fails the run, the program
// (and what it started) is ended with TerminateProcess, and the transcript so far is kept. No run hangs.
//
// Usage:  winauto.exe [--out FILE] [--timeout SECONDS] [--total SECONDS] [SCRIPT] [-e STEP]...
//   SCRIPT      a UTF-8 script file, one step per line; -e adds one step (after the file's steps).
//   --out FILE  also write the transcript to FILE (UTF-8); it is written line by line, so a killed
//               run leaves what it had.  The transcript always goes to stdout as well.
//   --timeout   the time limit of each waiting step (default 10 s); --total caps the whole run (120 s).
// winauto's own exit status: 0 the script ran to its end, 1 the run failed (a time limit, a missing
// control, the program ended while a window was awaited), 2 a bad script or command line.
//
// Script language. Blank lines and lines starting with # are ignored. A value is a bare word without
// blanks or a "quoted string" with the escapes \" \\ \n \r \t \xNN (the transcript's own quoting).
//   timeout SECONDS          time limit of the following waiting steps (fractions allowed)
//   cwd DIR                  working folder of the program (before run)
//   run COMMAND LINE         starts the program; the rest of the line is passed verbatim to
//                            CreateProcessW as its command line, so quoting is the script's own.
//                            The program's stdout and stderr are captured into the transcript.
//   wait [MATCH]...          waits for a visible top-level window that no earlier wait has taken and
//                            that matches all of: class=V  caption=V  caption~=V (contains)
//                            text=V (the message box text, or any child's text, equals)
//                            text~=V (contains); without MATCH any new window. It becomes the
//                            current window that the following steps act on.
//   click ID                 a button press as the dialog sees it: posts WM_COMMAND (ID, BN_CLICKED)
//                            to the control's parent. Fails when the control is missing or disabled.
//   press ID                 posts BM_CLICK to the control (the button's own click handling).
//   type ID TEXT             WM_SETTEXT on the control (an edit control sends EN_CHANGE itself).
//   check ID / uncheck ID    sets the box's check state and notifies the dialog (BN_CLICKED).
//   focus ID                 brings the window to the front and puts the keyboard focus on the control.
//   key CHORD...             keys posted to the window's focused control (WM_KEYDOWN/UP, WM_SYSKEYDOWN/UP
//                            with ALT), in order with the clicks that follow; the dialog's own loop
//                            takes them as keys: Enter, Escape, Tab, arrows, Back, ALT mnemonics.
//                            A chord is keys joined by +, each a letter or digit, RETURN, ESCAPE, TAB,
//                            SPACE, BACK, DELETE, UP, DOWN, LEFT, RIGHT, HOME, END, PRIOR, NEXT, F1..F12,
//                            SHIFT, CTRL, ALT or 0xNN (a virtual-key code); e.g. key ALT+N. Modifiers do
//                            not show in GetKeyState and keyboard hooks do not see posted keys.
//   keys TEXT                posts TEXT as characters (WM_CHAR) to the focused control; Wine makes no
//                            characters of posted keys, so type with keys ("\b" is a backspace).
//   hwkey CHORD... / hwkeys TEXT   the same as real keystrokes (SendInput) to the window brought to the
//                            front: keyboard hooks and GetKeyState see them. They depend on the window
//                            staying in front, and a window takes posted messages (click) before them:
//                            make sure of their effect with wait-text or wait-gone before clicking.
//   close                    posts WM_SYSCOMMAND SC_CLOSE to the current window (the close button).
//   wmclose                  posts WM_CLOSE to the current window.
//   read [ID]                records a control's state now (text, enabled, check state, progress bar
//                            position and range, animation playing or stopped); without ID records the
//                            whole current window again.
//   watch ID                 records the control's state now and again at every poll where it changed
//                            (a progress bar's position, an entry name), until its window goes.
//   on [MATCH]... => STEP    a rule: every later window that matches and that no wait has taken is
//                            answered with STEP (click, press, type, check, uncheck, close, wmclose,
//                            read, watch, key, keys) as soon as it is seen. Rules are tried in order.
//   wait-text ID TEXT        waits until the control's text is TEXT (the effect of keys, or a dialog's
//                            own progress, such as the name of the entry being extracted).
//   wait-gone                waits until the current window is destroyed or hidden.
//   touch PATH               creates (or truncates) a file: a signal to a helper process.
//   wait-file PATH           waits until a file exists.
//   wait-nofile PATH         waits until a file does not exist.
//   sleep MILLISECONDS       pauses (still recording windows that come and go).
//   wait-exit | exitcode     waits for the program to end and records its exit code. A script without
//                            it ends with one. Processes the program started and left running are then
//                            ended (recorded as "left").
//
// Windows are polled every 20 ms: a window shown for less than that may pass unseen, and a window that
// is hidden and shown again counts as a new one. Message box icons are told from the screen.
//
// Transcript (UTF-8, one record a line, strings quoted as above):
//   run "COMMAND LINE"
//   process N name="x.exe"                 a process the program started (the program itself is 0)
//   window #N class="C" caption="T" [process=N] [owner=#M]
//     child id=I class="C" text="T" [disabled] [hidden] [checked] [pos=P range=L..H] [icon]
//           [playing|stopped]
//     msgbox icon=error|warning|question|information|none|present buttons=1,2 text="T"
//   gone #N
//   wait ... -> #N   click I   type I "T"   check I   close #N   read id=I ...   touch "P" ...
//   watch #N id=I ...                      a watched control's state (first and on every change)
//   on ... => STEP   then   on #N          a rule, and the window it answered (the step's record follows)
//   left process=N                         a started process still running at the end, ended
//   refocused N                            keys had to bring their window to the front N times again
//   output "LINE"                          a line the program wrote to stdout or stderr
//   ended process=N exit 0xXXXXXXXX        a started process ended
//   fail "REASON"
//   exit 0xXXXXXXXX | exit killed          the program's exit code, or that winauto ended it
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

namespace {

// ---- text ----

std::string Utf8(const std::wstring &text) {
  if (text.empty()) return std::string();
  int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), (int)text.size(), nullptr, 0, nullptr, nullptr);
  std::string out(n, '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), (int)text.size(), out.data(), n, nullptr, nullptr);
  return out;
}

std::wstring Wide(const std::string &text) {
  if (text.empty()) return std::wstring();
  int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), (int)text.size(), nullptr, 0);
  std::wstring out(n, L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), (int)text.size(), out.data(), n);
  return out;
}

std::string Quote(const std::wstring &text) {
  std::string in = Utf8(text), out = "\"";
  for (unsigned char c : in) {
    switch (c) {
    case '"': out += "\\\""; break;
    case '\\': out += "\\\\"; break;
    case '\n': out += "\\n"; break;
    case '\r': out += "\\r"; break;
    case '\t': out += "\\t"; break;
    default:
      if (c < 0x20 || c == 0x7F) {
        char buf[8];
        snprintf(buf, sizeof buf, "\\x%02X", c);
        out += buf;
      } else {
        out += (char)c;
      }
    }
  }
  return out + "\"";
}

std::string Hex32(DWORD value) {
  char buf[16];
  snprintf(buf, sizeof buf, "0x%08lX", (unsigned long)value);
  return buf;
}

// ---- transcript ----

HANDLE g_stdout = INVALID_HANDLE_VALUE;
HANDLE g_outFile = INVALID_HANDLE_VALUE;

void Emit(const std::string &line) {
  std::string l = line + "\n";
  DWORD written;
  if (g_stdout != INVALID_HANDLE_VALUE && g_stdout != nullptr)
    WriteFile(g_stdout, l.data(), (DWORD)l.size(), &written, nullptr);
  if (g_outFile != INVALID_HANDLE_VALUE) WriteFile(g_outFile, l.data(), (DWORD)l.size(), &written, nullptr);
}

// ---- script ----

struct Step {
  int line = 0;
  std::string verb;
  std::vector<std::wstring> args;  // tokens; for run and cwd the raw rest of the line is args[0]
};

// Splits one token off `s` at `pos`: a bare word or a quoted string. Returns false on a bad quote.
bool NextToken(const std::string &s, size_t &pos, std::string &token, bool &more) {
  while (pos < s.size() && (s[pos] == ' ' || s[pos] == '\t')) pos++;
  token.clear();
  more = pos < s.size();
  if (!more) return true;
  // key="value" and "value" both keep the key and lose the quotes
  while (pos < s.size() && s[pos] != ' ' && s[pos] != '\t') {
    char c = s[pos];
    if (c != '"') {
      token += c;
      pos++;
      continue;
    }
    pos++;
    for (;;) {
      if (pos >= s.size()) return false;
      c = s[pos++];
      if (c == '"') break;
      if (c != '\\') {
        token += c;
        continue;
      }
      if (pos >= s.size()) return false;
      c = s[pos++];
      switch (c) {
      case 'n': token += '\n'; break;
      case 'r': token += '\r'; break;
      case 't': token += '\t'; break;
      case 'x': {
        if (pos + 2 > s.size()) return false;
        token += (char)strtol(s.substr(pos, 2).c_str(), nullptr, 16);
        pos += 2;
        break;
      }
      default: token += c;
      }
    }
  }
  return true;
}

bool ParseStep(const std::string &rawLine, int lineNo, std::vector<Step> &steps, std::string &error) {
  std::string line = rawLine;
  while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
  size_t start = line.find_first_not_of(" \t");
  if (start == std::string::npos || line[start] == '#') return true;
  size_t end = line.find_first_of(" \t", start);
  Step step;
  step.line = lineNo;
  step.verb = line.substr(start, end == std::string::npos ? std::string::npos : end - start);
  if (step.verb == "run") {
    std::string rest = end == std::string::npos ? std::string() : line.substr(end + 1);
    step.args.push_back(Wide(rest));
    steps.push_back(step);
    return true;
  }
  size_t pos = end == std::string::npos ? line.size() : end;
  for (;;) {
    std::string token;
    bool more;
    if (!NextToken(line, pos, token, more)) {
      error = "line " + std::to_string(lineNo) + ": unterminated quoted value";
      return false;
    }
    if (!more) break;
    step.args.push_back(Wide(token));
  }
  steps.push_back(step);
  return true;
}

// ---- the watched processes and windows ----

struct Process {
  DWORD pid;
  HANDLE handle;
  std::wstring name;
  bool ended;
  bool announced;  // its "process" record is written once its name is known (or it has ended)
};

struct Window {
  HWND hwnd;
  int number;
  size_t process;
  bool gone;
  bool taken;
};

using Match = std::vector<std::pair<std::wstring, std::wstring>>;

// An `on` rule: answers every window that matches, whenever it comes, unless a wait took it first.
struct Rule {
  Match match;
  Step action;
};

// A `watch`: a control whose state is recorded whenever it changes.
struct Watch {
  int window;
  int id;
  std::string last;
};

std::vector<Process> g_processes;  // [0] is the program itself
std::vector<Rule> g_rules;
std::vector<Watch> g_watches;
std::vector<Window> g_windows;
int g_current = -1;  // index into g_windows of the current window
double g_timeout = 10.0;
DWORD g_runStart = 0;
double g_totalLimit = 120.0;

// captured stdout/stderr
HANDLE g_outputRead = nullptr;
CRITICAL_SECTION g_outputLock;
std::string g_outputPending;
HANDLE g_outputThread = nullptr;

DWORD WINAPI OutputReader(LPVOID) {
  char buf[4096];
  DWORD got;
  while (ReadFile(g_outputRead, buf, sizeof buf, &got, nullptr) && got > 0) {
    EnterCriticalSection(&g_outputLock);
    g_outputPending.append(buf, got);
    LeaveCriticalSection(&g_outputLock);
  }
  return 0;
}

// Emits the complete lines captured so far (all of it, with the last partial line, when `all`).
void FlushOutput(bool all) {
  if (!g_outputThread) return;
  EnterCriticalSection(&g_outputLock);
  std::string pending;
  pending.swap(g_outputPending);
  LeaveCriticalSection(&g_outputLock);
  size_t from = 0;
  for (;;) {
    size_t nl = pending.find('\n', from);
    if (nl == std::string::npos) break;
    std::string line = pending.substr(from, nl - from);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    Emit("output " + Quote(Wide(line)));
    from = nl + 1;
  }
  std::string rest = pending.substr(from);
  if (all && !rest.empty()) {
    Emit("output " + Quote(Wide(rest)));
    rest.clear();
  }
  if (!rest.empty()) {
    EnterCriticalSection(&g_outputLock);
    g_outputPending.insert(0, rest);
    LeaveCriticalSection(&g_outputLock);
  }
}

std::wstring ClassOf(HWND hwnd) {
  wchar_t buf[256] = {};
  GetClassNameW(hwnd, buf, 256);
  return buf;
}

// The text of a window of another process, through a message with a time limit so that a busy or hung
// program cannot stall the rig.
std::wstring TextOf(HWND hwnd) {
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutW(hwnd, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 2000, &length)) return L"";
  std::vector<wchar_t> buf(length + 2, L'\0');
  DWORD_PTR copied = 0;
  if (!SendMessageTimeoutW(hwnd, WM_GETTEXT, (WPARAM)buf.size(), (LPARAM)buf.data(), SMTO_ABORTIFHUNG, 2000,
                           &copied))
    return L"";
  return std::wstring(buf.data());
}

LRESULT SendQuick(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  DWORD_PTR result = 0;
  if (!SendMessageTimeoutW(hwnd, message, wParam, lParam, SMTO_ABORTIFHUNG, 2000, &result)) return 0;
  return (LRESULT)result;
}

bool IsCheckable(LONG style) {
  switch (style & BS_TYPEMASK) {
  case BS_CHECKBOX:
  case BS_AUTOCHECKBOX:
  case BS_RADIOBUTTON:
  case BS_3STATE:
  case BS_AUTO3STATE:
  case BS_AUTORADIOBUTTON: return true;
  default: return false;
  }
}

// ---- icons of message boxes ----

// Which standard icon a message box shows can only be seen: its icon handle belongs to the other
// process. The icon control's pixels on the screen are compared with each standard icon drawn here on
// the dialog's face colour; the nearest wins when it is clearly nearer than the others. "blank" when
// the control shows nothing yet.
std::string CaptureIcon(HWND iconControl) {
  RECT rect;
  if (!GetWindowRect(iconControl, &rect)) return "present";
  int w = rect.right - rect.left, h = rect.bottom - rect.top;
  if (w <= 0 || h <= 0 || w > 256 || h > 256) return "present";
  HDC screen = GetDC(nullptr);
  HDC shot = CreateCompatibleDC(screen), draw = CreateCompatibleDC(screen);
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = w;
  info.bmiHeader.biHeight = -h;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void *shotBits = nullptr, *drawBits = nullptr;
  HBITMAP shotBitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &shotBits, nullptr, 0);
  HBITMAP drawBitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &drawBits, nullptr, 0);
  std::string result = "present";
  if (shotBitmap && drawBitmap) {
    HGDIOBJ oldShot = SelectObject(shot, shotBitmap), oldDraw = SelectObject(draw, drawBitmap);
    BitBlt(shot, 0, 0, w, h, screen, rect.left, rect.top, SRCCOPY);
    const DWORD *s = (const DWORD *)shotBits;
    // A blank capture (window not drawn yet or not on the screen) tells nothing.
    bool uniform = true;
    for (int i = 1; i < w * h && uniform; i++) uniform = (s[i] & 0xFFFFFF) == (s[0] & 0xFFFFFF);
    if (uniform) result = "blank";
    if (!uniform) {
      struct {
        WORD id;
        const char *name;
      } candidates[] = {{32513, "error"}, {32515, "warning"}, {32514, "question"}, {32516, "information"}};
      double best = 1e18, second = 1e18;
      const char *bestName = nullptr;
      HBRUSH face = GetSysColorBrush(COLOR_3DFACE);
      RECT all = {0, 0, w, h};
      for (auto &c : candidates) {
        HICON icon = LoadIconW(nullptr, MAKEINTRESOURCEW(c.id));
        if (!icon) continue;
        FillRect(draw, &all, face);
        DrawIconEx(draw, 0, 0, icon, w < 32 ? w : 32, h < 32 ? h : 32, 0, nullptr, DI_NORMAL);
        GdiFlush();
        const DWORD *d = (const DWORD *)drawBits;
        double sum = 0;
        for (int i = 0; i < w * h; i++) {
          for (int shift = 0; shift < 24; shift += 8) {
            int a = (int)((s[i] >> shift) & 0xFF), b = (int)((d[i] >> shift) & 0xFF);
            sum += (double)(a - b) * (a - b);
          }
        }
        if (sum < best) {
          second = best;
          best = sum;
          bestName = c.name;
        } else if (sum < second) {
          second = sum;
        }
      }
      if (bestName && best < second * 0.5) result = bestName;
    }
    SelectObject(shot, oldShot);
    SelectObject(draw, oldDraw);
  }
  if (shotBitmap) DeleteObject(shotBitmap);
  if (drawBitmap) DeleteObject(drawBitmap);
  DeleteDC(shot);
  DeleteDC(draw);
  ReleaseDC(nullptr, screen);
  return result;
}

// The screen shows what is on top, and only once it is painted: a window of another program (another
// test on the same display) or the last box at the same place can be there instead. The box is raised
// above all others and repainted, and the capture counts once two in a row agree.
std::string IdentifyIcon(HWND iconControl) {
  HWND top = GetAncestor(iconControl, GA_ROOT);
  bool wasTopmost = (GetWindowLongW(top, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
  const UINT keep = SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE | SWP_NOOWNERZORDER;
  std::string previous, result = "present";
  for (int attempt = 0; attempt < 12; attempt++) {
    if (!wasTopmost) SetWindowPos(top, HWND_TOPMOST, 0, 0, 0, 0, keep);
    RedrawWindow(top, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_FRAME);
    SendQuick(top, WM_NULL, 0, 0);
    Sleep(40);
    std::string name = CaptureIcon(iconControl);
    if (name == previous && name != "blank") {
      result = name;
      break;
    }
    previous = name;
  }
  if (!wasTopmost) SetWindowPos(top, HWND_NOTOPMOST, 0, 0, 0, 0, keep);
  return result;
}

// ---- recording ----

BOOL CALLBACK CollectWindow(HWND hwnd, LPARAM list) {
  ((std::vector<HWND> *)list)->push_back(hwnd);
  return TRUE;
}

std::vector<HWND> ChildrenOf(HWND hwnd) {
  std::vector<HWND> children;
  EnumChildWindows(hwnd, CollectWindow, (LPARAM)&children);
  return children;
}

HWND FindControl(HWND window, int id) {
  for (HWND child : ChildrenOf(window))
    if (GetDlgCtrlID(child) == id) return child;
  return nullptr;
}

std::string ControlState(HWND child, bool withText) {
  std::wstring cls = ClassOf(child);
  LONG style = GetWindowLongW(child, GWL_STYLE);
  std::string line = "id=" + std::to_string(GetDlgCtrlID(child)) + " class=" + Quote(cls);
  bool icon = _wcsicmp(cls.c_str(), L"Static") == 0 && (style & SS_TYPEMASK) == SS_ICON;
  if (withText && !icon) line += " text=" + Quote(TextOf(child));
  if (!IsWindowEnabled(child)) line += " disabled";
  if (!IsWindowVisible(child)) line += " hidden";
  if (icon) line += " icon";
  if (_wcsicmp(cls.c_str(), L"Button") == 0 && IsCheckable(style)) {
    LRESULT check = SendQuick(child, BM_GETCHECK, 0, 0);
    if (check == BST_CHECKED) line += " checked";
    if (check == BST_INDETERMINATE) line += " indeterminate";
  }
  if (_wcsicmp(cls.c_str(), ANIMATE_CLASSW) == 0)
    line += SendQuick(child, ACM_ISPLAYING, 0, 0) ? " playing" : " stopped";
  if (_wcsicmp(cls.c_str(), PROGRESS_CLASSW) == 0) {
    LRESULT pos = SendQuick(child, PBM_GETPOS, 0, 0);
    LRESULT low = SendQuick(child, PBM_GETRANGE, TRUE, 0), high = SendQuick(child, PBM_GETRANGE, FALSE, 0);
    line += " pos=" + std::to_string((long)pos) + " range=" + std::to_string((long)low) + ".." +
            std::to_string((long)high);
  }
  return line;
}

int WindowNumber(HWND hwnd) {
  for (auto &w : g_windows)
    if (w.hwnd == hwnd && !w.gone) return w.number;
  return 0;
}

// A message box is a dialog of class #32770 whose visible controls are statics and buttons only.
bool MessageBoxSummary(HWND hwnd, std::string &summary, std::wstring *textOut) {
  if (ClassOf(hwnd) != L"#32770") return false;
  std::wstring text;
  bool haveText = false;
  std::string buttons, icon = "none";
  for (HWND child : ChildrenOf(hwnd)) {
    if (GetParent(child) != hwnd || !IsWindowVisible(child)) continue;
    std::wstring cls = ClassOf(child);
    LONG style = GetWindowLongW(child, GWL_STYLE);
    int id = GetDlgCtrlID(child);
    if (_wcsicmp(cls.c_str(), L"Button") == 0) {
      if (!buttons.empty()) buttons += ",";
      buttons += std::to_string(id);
    } else if (_wcsicmp(cls.c_str(), L"Static") == 0) {
      if ((style & SS_TYPEMASK) == SS_ICON) {
        icon = SendQuick(child, STM_GETICON, 0, 0) ? IdentifyIcon(child) : "none";
      } else {
        std::wstring t = TextOf(child);
        // The message text control: 0xFFFF in the system's template; otherwise the first static with text.
        if (id == 0xFFFF || (!haveText && !t.empty())) {
          if (id == 0xFFFF || !haveText) text = t;
          haveText = true;
        }
      }
    } else {
      return false;
    }
  }
  if (buttons.empty()) return false;
  summary = "  msgbox icon=" + icon + " buttons=" + buttons + " text=" + Quote(text);
  if (textOut) *textOut = text;
  return true;
}

void RecordWindow(const Window &w, const char *verb) {
  std::string line = std::string(verb) + " #" + std::to_string(w.number) +
                     " class=" + Quote(ClassOf(w.hwnd)) + " caption=" + Quote(TextOf(w.hwnd));
  if (w.process != 0) line += " process=" + std::to_string(w.process);
  HWND owner = GetWindow(w.hwnd, GW_OWNER);
  if (owner) {
    int n = WindowNumber(owner);
    line += n ? " owner=#" + std::to_string(n) : std::string(" owner=other");
  }
  Emit(line);
  for (HWND child : ChildrenOf(w.hwnd)) Emit("  child " + ControlState(child, true));
  std::string summary;
  if (MessageBoxSummary(w.hwnd, summary, nullptr)) Emit(summary);
}

// ---- polling ----

void Fail(const std::string &reason);
bool ActOn(const Step &step, int index);
bool Matches(const Window &w, const Match &match);

// The file name of a process: from the process list, else from the process itself. A process caught
// while it starts may have neither yet; it is asked again at the next poll.
std::wstring ProcessName(const PROCESSENTRY32W *entry, HANDLE process) {
  std::wstring name = entry ? entry->szExeFile : L"";
  if (name.empty()) {
    wchar_t path[MAX_PATH] = {};
    DWORD size = MAX_PATH;
    if (QueryFullProcessImageNameW(process, 0, path, &size)) name = path;
  }
  size_t slash = name.find_last_of(L"\\/");
  if (slash != std::wstring::npos) name.erase(0, slash + 1);
  return name;
}

void Announce(size_t index) {
  Process &p = g_processes[index];
  if (p.announced) return;
  p.announced = true;
  Emit("process " + std::to_string(index) + " name=" + Quote(p.name));
}

void TrackProcesses() {
  HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snap == INVALID_HANDLE_VALUE) return;
  PROCESSENTRY32W entry = {};
  entry.dwSize = sizeof entry;
  // Several passes so that a grandchild seen before its parent in the list is still taken.
  for (int pass = 0; pass < 3; pass++) {
    bool added = false;
    for (BOOL ok = Process32FirstW(snap, &entry); ok; ok = Process32NextW(snap, &entry)) {
      bool parentKnown = false;
      size_t known = 0;
      for (size_t i = 0; i < g_processes.size(); i++) {
        Process &p = g_processes[i];
        if (p.pid == entry.th32ProcessID && !p.ended) known = i + 1;
        if (p.pid == entry.th32ParentProcessID && !p.ended) parentKnown = true;
      }
      if (known) {
        Process &p = g_processes[known - 1];
        if (known > 1 && !p.announced) {
          p.name = ProcessName(&entry, p.handle);
          if (!p.name.empty()) Announce(known - 1);
        }
        continue;
      }
      if (!parentKnown) continue;
      HANDLE h = OpenProcess(PROCESS_QUERY_INFORMATION | SYNCHRONIZE | PROCESS_TERMINATE, FALSE,
                             entry.th32ProcessID);
      if (!h) continue;
      g_processes.push_back({entry.th32ProcessID, h, ProcessName(&entry, h), false, false});
      if (!g_processes.back().name.empty()) Announce(g_processes.size() - 1);
      added = true;
    }
    if (!added) break;
  }
  CloseHandle(snap);
}

void Poll() {
  FlushOutput(false);
  TrackProcesses();
  // windows that went away
  for (auto &w : g_windows) {
    if (w.gone) continue;
    if (!IsWindow(w.hwnd) || !IsWindowVisible(w.hwnd)) {
      w.gone = true;
      Emit("gone #" + std::to_string(w.number));
    }
  }
  // new windows, in the system's z order
  std::vector<HWND> all;
  EnumWindows(CollectWindow, (LPARAM)&all);
  for (auto it = all.rbegin(); it != all.rend(); ++it) {
    HWND hwnd = *it;
    if (!IsWindowVisible(hwnd)) continue;
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    size_t index = g_processes.size();
    for (size_t i = 0; i < g_processes.size(); i++)
      if (g_processes[i].pid == pid && !g_processes[i].ended) index = i;
    if (index == g_processes.size() || WindowNumber(hwnd)) continue;
    Window w = {hwnd, (int)g_windows.size() + 1, index, false, false};
    g_windows.push_back(w);
    RecordWindow(w, "window");
  }
  // windows that a rule answers
  for (size_t i = 0; i < g_windows.size(); i++) {
    if (g_windows[i].gone || g_windows[i].taken) continue;
    for (auto &rule : g_rules) {
      if (!Matches(g_windows[i], rule.match)) continue;
      g_windows[i].taken = true;
      Emit("on #" + std::to_string(g_windows[i].number));
      ActOn(rule.action, (int)i);
      break;
    }
  }
  // watched controls that changed
  for (auto &watch : g_watches) {
    Window &w = g_windows[watch.window];
    if (w.gone || !IsWindow(w.hwnd)) continue;
    HWND control = FindControl(w.hwnd, watch.id);
    if (!control) continue;
    std::string state = ControlState(control, true);
    // A window being destroyed is hidden first: what its controls show after that is not theirs.
    if (!IsWindowVisible(w.hwnd)) continue;
    if (state == watch.last) continue;
    watch.last = state;
    Emit("watch #" + std::to_string(w.number) + " " + state);
  }
  // processes that ended (the program itself is reported by wait-exit)
  for (size_t i = 1; i < g_processes.size(); i++) {
    Process &p = g_processes[i];
    if (p.ended || WaitForSingleObject(p.handle, 0) != WAIT_OBJECT_0) continue;
    DWORD code = 0;
    GetExitCodeProcess(p.handle, &code);
    p.ended = true;
    Announce(i);
    Emit("ended process=" + std::to_string(i) + " exit " + Hex32(code));
  }
  if (g_totalLimit > 0 && (GetTickCount() - g_runStart) / 1000.0 > g_totalLimit)
    Fail("the whole run took longer than its limit");
}

bool MainEnded() {
  return g_processes.empty() || WaitForSingleObject(g_processes[0].handle, 0) == WAIT_OBJECT_0;
}

// True when the program and everything it started have ended: nothing is left that could show a window.
bool AllEnded() {
  for (auto &p : g_processes)
    if (WaitForSingleObject(p.handle, 0) != WAIT_OBJECT_0) return false;
  return true;
}

void EndEverything() {
  for (size_t i = g_processes.size(); i-- > 0;) {
    if (WaitForSingleObject(g_processes[i].handle, 0) != WAIT_OBJECT_0) {
      TerminateProcess(g_processes[i].handle, 1);
      WaitForSingleObject(g_processes[i].handle, 5000);
    }
  }
}

[[noreturn]] void Finish(int status) {
  if (g_outFile != INVALID_HANDLE_VALUE) CloseHandle(g_outFile);
  ExitProcess(status);
}

void Fail(const std::string &reason) {
  Emit("fail " + Quote(Wide(reason)));
  for (auto &w : g_windows)
    if (!w.gone && IsWindow(w.hwnd)) RecordWindow(w, "open");
  bool ended = MainEnded();
  EndEverything();
  FlushOutput(true);
  if (ended && !g_processes.empty()) {
    DWORD code = 0;
    GetExitCodeProcess(g_processes[0].handle, &code);
    Emit("exit " + Hex32(code));
  } else {
    Emit("exit killed");
  }
  Finish(1);
}

// Waits, polling the windows, until `done` holds or the step's time limit passes.
template <typename Done>
void WaitUntil(Done done, const std::string &what, bool failIfAllEnded) {
  DWORD start = GetTickCount();
  for (;;) {
    Poll();
    if (done()) return;
    if (failIfAllEnded && AllEnded()) {
      Poll();
      if (done()) return;
      Fail("the program ended while waiting for " + what);
    }
    if ((GetTickCount() - start) / 1000.0 > g_timeout)
      Fail("no " + what + " within " + std::to_string((int)(g_timeout * 1000)) + " ms");
    Sleep(20);
  }
}

bool Matches(const Window &w, const Match &match) {
  std::wstring caption = TextOf(w.hwnd), cls = ClassOf(w.hwnd);
  std::vector<std::wstring> texts;
  std::string summary;
  std::wstring boxText;
  if (MessageBoxSummary(w.hwnd, summary, &boxText)) {
    texts.push_back(boxText);
  } else {
    for (HWND child : ChildrenOf(w.hwnd)) texts.push_back(TextOf(child));
  }
  for (auto &[key, value] : match) {
    bool ok = false;
    if (key == L"class")
      ok = cls == value;
    else if (key == L"caption")
      ok = caption == value;
    else if (key == L"caption~")
      ok = caption.find(value) != std::wstring::npos;
    else if (key == L"text" || key == L"text~") {
      for (auto &t : texts)
        if (key == L"text" ? t == value : t.find(value) != std::wstring::npos) ok = true;
    }
    if (!ok) return false;
  }
  return true;
}

HWND WindowAt(const Step &step, int index) {
  if (index < 0) Fail("line " + std::to_string(step.line) + ": " + step.verb + " without a waited window");
  Window &w = g_windows[index];
  if (w.gone || !IsWindow(w.hwnd)) Fail("line " + std::to_string(step.line) + ": the window is gone");
  return w.hwnd;
}

HWND Control(const Step &step, int index, size_t arg) {
  HWND window = WindowAt(step, index);
  if (step.args.size() <= arg)
    Fail("line " + std::to_string(step.line) + ": " + step.verb + " needs a control id");
  int id = (int)wcstol(step.args[arg].c_str(), nullptr, 0);
  HWND control = FindControl(window, id);
  if (!control) Fail("line " + std::to_string(step.line) + ": no control " + std::to_string(id));
  return control;
}

void RunProgram(const Step &step, const std::wstring &cwd) {
  if (!g_processes.empty()) Fail("line " + std::to_string(step.line) + ": only one run per script");
  std::wstring commandLine = step.args[0];
  Emit("run " + Quote(commandLine));
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  HANDLE writeEnd = nullptr;
  STARTUPINFOW si = {};
  si.cb = sizeof si;
  if (CreatePipe(&g_outputRead, &writeEnd, &inherit, 0)) {
    SetHandleInformation(g_outputRead, HANDLE_FLAG_INHERIT, 0);
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = nullptr;
    si.hStdOutput = writeEnd;
    si.hStdError = writeEnd;
  }
  PROCESS_INFORMATION pi = {};
  std::vector<wchar_t> buffer(commandLine.begin(), commandLine.end());
  buffer.push_back(L'\0');
  BOOL ok = CreateProcessW(nullptr, buffer.data(), nullptr, nullptr, writeEnd != nullptr, 0, nullptr,
                           cwd.empty() ? nullptr : cwd.c_str(), &si, &pi);
  DWORD error = GetLastError();
  if (writeEnd) CloseHandle(writeEnd);
  if (!ok) {
    Emit("fail " + Quote(L"CreateProcessW failed with error " + std::to_wstring(error)));
    Emit("exit none");
    Finish(1);
  }
  CloseHandle(pi.hThread);
  g_processes.push_back({pi.dwProcessId, pi.hProcess, L"", false, true});
  if (g_outputRead) g_outputThread = CreateThread(nullptr, 0, OutputReader, nullptr, 0, nullptr);
}

void WaitExit() {
  if (g_processes.empty()) Fail("wait-exit before run");
  WaitUntil([] { return MainEnded(); }, "end of the program", false);
  Poll();
  // the rest of what it wrote
  if (g_outputThread) WaitForSingleObject(g_outputThread, 500);
  FlushOutput(true);
  DWORD code = 0;
  GetExitCodeProcess(g_processes[0].handle, &code);
  g_processes[0].ended = true;
  Emit("exit " + Hex32(code));
}

// ---- keyboard ----

// The real keyboard (SendInput) reaches the foreground window's focused control, as a person's keys do:
// dialog navigation, default buttons, accelerators and keyboard hooks all see it.
bool BringToFront(HWND window) {
  for (int attempt = 0; attempt < 50; attempt++) {
    if (GetForegroundWindow() == window) return true;
    SetForegroundWindow(window);
    Sleep(20);
  }
  return GetForegroundWindow() == window;
}

void AddKey(std::vector<INPUT> &inputs, WORD vk, WORD unit, bool up) {
  INPUT input = {};
  input.type = INPUT_KEYBOARD;
  input.ki.wVk = vk;
  input.ki.wScan = unit;
  input.ki.dwFlags = (unit ? KEYEVENTF_UNICODE : 0) | (up ? KEYEVENTF_KEYUP : 0);
  inputs.push_back(input);
}

// A key name: a letter or digit, a name such as RETURN, or 0xNN; 0 when unknown.
WORD VirtualKey(const std::wstring &name) {
  static const struct {
    const wchar_t *name;
    WORD vk;
  } names[] = {{L"RETURN", VK_RETURN}, {L"ENTER", VK_RETURN}, {L"ESCAPE", VK_ESCAPE}, {L"ESC", VK_ESCAPE},
               {L"TAB", VK_TAB},       {L"SPACE", VK_SPACE},  {L"BACK", VK_BACK},     {L"DELETE", VK_DELETE},
               {L"UP", VK_UP},         {L"DOWN", VK_DOWN},    {L"LEFT", VK_LEFT},     {L"RIGHT", VK_RIGHT},
               {L"HOME", VK_HOME},     {L"END", VK_END},      {L"PRIOR", VK_PRIOR},   {L"NEXT", VK_NEXT},
               {L"SHIFT", VK_SHIFT},   {L"CTRL", VK_CONTROL}, {L"ALT", VK_MENU}};
  for (auto &n : names)
    if (_wcsicmp(n.name, name.c_str()) == 0) return n.vk;
  if (name.size() == 1 && iswalnum(name[0])) return (WORD)towupper(name[0]);
  if (name.size() >= 2 && (name[0] == L'F' || name[0] == L'f') && iswdigit(name[1])) {
    int n = _wtoi(name.c_str() + 1);
    if (n >= 1 && n <= 12) return (WORD)(VK_F1 + n - 1);
  }
  if (name.size() > 2 && name[0] == L'0' && (name[1] == L'x' || name[1] == L'X'))
    return (WORD)wcstoul(name.c_str(), nullptr, 16);
  return 0;
}

// Parses key=value window matches (or "any"); fails the run on an unknown key.
Match ParseMatch(const Step &step, size_t from, size_t to) {
  Match match;
  for (size_t i = from; i < to; i++) {
    const std::wstring &arg = step.args[i];
    if (arg == L"any") continue;
    size_t eq = arg.find(L'=');
    std::string where = "line " + std::to_string(step.line) + ": ";
    if (eq == std::wstring::npos) Fail(where + step.verb + " takes key=value matches");
    std::wstring key = arg.substr(0, eq);
    if (key != L"class" && key != L"caption" && key != L"caption~" && key != L"text" && key != L"text~")
      Fail(where + "unknown match " + Utf8(key));
    match.push_back({key, arg.substr(eq + 1)});
  }
  return match;
}

std::string Describe(const Match &match) {
  std::string what;
  for (auto &[k, v] : match) what += " " + Utf8(k) + "=" + Quote(v);
  return what;
}

// The steps that act on one window (the current one, or the one an `on` rule took). Returns false for
// any other step.
bool ActOn(const Step &step, int index) {
  const std::string where = "line " + std::to_string(step.line) + ": ";
  if (step.verb == "click" || step.verb == "press") {
    HWND control = Control(step, index, 0);
    int id = GetDlgCtrlID(control);
    if (!IsWindowEnabled(control)) Fail(where + "control " + std::to_string(id) + " is disabled");
    Emit(step.verb + " " + std::to_string(id));
    if (step.verb == "click")
      PostMessageW(GetParent(control), WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)control);
    else
      PostMessageW(control, BM_CLICK, 0, 0);
  } else if (step.verb == "type") {
    HWND control = Control(step, index, 0);
    std::wstring text = step.args.size() > 1 ? step.args[1] : L"";
    Emit("type " + std::to_string(GetDlgCtrlID(control)) + " " + Quote(text));
    DWORD_PTR result;
    if (!SendMessageTimeoutW(control, WM_SETTEXT, 0, (LPARAM)text.c_str(), SMTO_ABORTIFHUNG,
                             (UINT)(g_timeout * 1000), &result))
      Fail(where + "the control did not take the text");
  } else if (step.verb == "check" || step.verb == "uncheck") {
    HWND control = Control(step, index, 0);
    int id = GetDlgCtrlID(control);
    if (!IsWindowEnabled(control)) Fail(where + "control " + std::to_string(id) + " is disabled");
    Emit(step.verb + " " + std::to_string(id));
    SendQuick(control, BM_SETCHECK, step.verb == "check" ? BST_CHECKED : BST_UNCHECKED, 0);
    PostMessageW(GetParent(control), WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)control);
  } else if (step.verb == "close") {
    HWND window = WindowAt(step, index);
    Emit("close #" + std::to_string(g_windows[index].number));
    PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0);
  } else if (step.verb == "wmclose") {
    HWND window = WindowAt(step, index);
    Emit("wmclose #" + std::to_string(g_windows[index].number));
    PostMessageW(window, WM_CLOSE, 0, 0);
  } else if (step.verb == "read") {
    if (step.args.empty()) {
      WindowAt(step, index);
      RecordWindow(g_windows[index], "read");
    } else {
      Emit("read " + ControlState(Control(step, index, 0), true));
    }
  } else if (step.verb == "key" || step.verb == "keys" || step.verb == "hwkey" || step.verb == "hwkeys") {
    HWND window = WindowAt(step, index);
    bool hardware = step.verb[0] == 'h';
    bool text = step.verb.back() == 's';
    std::string record = step.verb;
    // chords: each a list of virtual keys, modifiers first
    std::vector<std::vector<WORD>> chords;
    std::wstring typed = text && !step.args.empty() ? step.args[0] : L"";
    if (text) {
      record += " " + Quote(typed);
    } else {
      for (auto &chord : step.args) {
        std::vector<WORD> keys;
        size_t from = 0;
        for (;;) {
          size_t plus = chord.find(L'+', from);
          size_t length = plus == std::wstring::npos ? std::wstring::npos : plus - from;
          std::wstring name = chord.substr(from, length);
          WORD vk = VirtualKey(name);
          if (!vk) Fail(where + "unknown key " + Utf8(name));
          keys.push_back(vk);
          if (plus == std::wstring::npos) break;
          from = plus + 1;
        }
        chords.push_back(keys);
        record += " " + Utf8(chord);
      }
    }
    Emit(record);
    if (!hardware) {
      // Posted to the focused control, in order with the clicks that follow: the dialog's own message
      // loop takes them as keys (IsDialogMessage, TranslateMessage), so Enter, Escape, Tab and ALT
      // mnemonics work; a modifier does not show in GetKeyState, and no keyboard hook sees them.
      GUITHREADINFO info = {};
      info.cbSize = sizeof info;
      GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info);
      HWND focus = info.hwndFocus ? info.hwndFocus : window;
      for (wchar_t unit : typed) PostMessageW(focus, WM_CHAR, unit, 1);
      for (auto &keys : chords) {
        bool alt = false;
        for (WORD vk : keys) alt = alt || vk == VK_MENU;
        WORD vk = keys.back();
        LPARAM lParam = 1 | ((LPARAM)MapVirtualKeyW(vk, MAPVK_VK_TO_VSC) << 16) | (alt ? (LPARAM)1 << 29 : 0);
        PostMessageW(focus, alt ? WM_SYSKEYDOWN : WM_KEYDOWN, vk, lParam);
        PostMessageW(focus, alt ? WM_SYSKEYUP : WM_KEYUP, vk, lParam | (LPARAM)3 << 30);
      }
      return true;
    }
    // Real keystrokes through the system's input queue, one at a time as a typist strikes them. They go
    // to whatever is in front, so the window is brought back if anything took its place meanwhile.
    std::vector<INPUT> inputs;
    for (wchar_t unit : typed) {
      AddKey(inputs, 0, unit, false);
      AddKey(inputs, 0, unit, true);
    }
    for (auto &keys : chords) {
      for (WORD vk : keys) AddKey(inputs, vk, 0, false);
      for (size_t k = keys.size(); k-- > 0;) AddKey(inputs, keys[k], 0, true);
    }
    if (!BringToFront(window)) Fail(where + "the window does not come to the front");
    int regained = 0;
    for (auto &input : inputs) {
      if (GetForegroundWindow() != window) {
        if (!BringToFront(window)) Fail(where + "the window does not come to the front");
        regained++;
      }
      if (SendInput(1, &input, sizeof(INPUT)) != 1) Fail(where + "SendInput failed");
      Sleep(5);
    }
    if (regained) Emit("refocused " + std::to_string(regained));
    // A window takes posted messages before keystrokes, and Wine takes some 15 ms for each: a pause
    // gives the keys their time, and a wait-text or wait-gone step makes sure of their effect.
    DWORD pause = 50 + 20 * (DWORD)inputs.size(), start = GetTickCount();
    while (GetTickCount() - start < (pause < 3000 ? pause : 3000)) {
      Poll();
      Sleep(20);
    }
  } else if (step.verb == "focus") {
    HWND control = Control(step, index, 0);
    HWND window = WindowAt(step, index);
    if (!BringToFront(window)) Fail(where + "the window does not come to the front");
    DWORD thread = GetWindowThreadProcessId(window, nullptr);
    AttachThreadInput(GetCurrentThreadId(), thread, TRUE);
    SetFocus(control);
    AttachThreadInput(GetCurrentThreadId(), thread, FALSE);
    Emit("focus " + std::to_string(GetDlgCtrlID(control)));
  } else if (step.verb == "watch") {
    HWND control = Control(step, index, 0);
    Watch watch = {index, GetDlgCtrlID(control), ControlState(control, true)};
    g_watches.push_back(watch);
    Emit("watch #" + std::to_string(g_windows[index].number) + " " + watch.last);
  } else {
    return false;
  }
  return true;
}

void Execute(const Step &step, std::wstring &cwd, bool &exited) {
  const std::string where = "line " + std::to_string(step.line) + ": ";
  auto needRun = [&] {
    if (g_processes.empty()) Fail(where + step.verb + " before run");
  };
  if (step.verb == "timeout") {
    if (step.args.empty()) Fail(where + "timeout needs seconds");
    g_timeout = _wtof(step.args[0].c_str());
  } else if (step.verb == "cwd") {
    cwd = step.args.empty() ? L"" : step.args[0];
  } else if (step.verb == "run") {
    RunProgram(step, cwd);
  } else if (step.verb == "wait") {
    needRun();
    Match match = ParseMatch(step, 0, step.args.size());
    std::string what = "window" + Describe(match);
    int found = -1;
    WaitUntil(
        [&] {
          for (size_t i = 0; i < g_windows.size(); i++) {
            Window &w = g_windows[i];
            if (w.gone || w.taken || !IsWindow(w.hwnd)) continue;
            if (Matches(w, match)) {
              found = (int)i;
              return true;
            }
          }
          return false;
        },
        what, true);
    g_windows[found].taken = true;
    g_current = found;
    Emit("wait" + what.substr(6) + " -> #" + std::to_string(g_windows[found].number));
  } else if (ActOn(step, g_current)) {
  } else if (step.verb == "on") {
    size_t arrow = 0;
    while (arrow < step.args.size() && step.args[arrow] != L"=>") arrow++;
    if (arrow + 1 >= step.args.size()) Fail(where + "on needs MATCH... => STEP");
    Rule rule;
    rule.match = ParseMatch(step, 0, arrow);
    rule.action.line = step.line;
    rule.action.verb = Utf8(step.args[arrow + 1]);
    rule.action.args.assign(step.args.begin() + arrow + 2, step.args.end());
    const char *allowed[] = {"click", "press", "type", "check", "uncheck", "close",
                             "wmclose", "read", "watch", "key", "keys"};
    bool ok = false;
    for (const char *verb : allowed) ok = ok || rule.action.verb == verb;
    if (!ok) Fail(where + "on cannot " + rule.action.verb);
    g_rules.push_back(rule);
    Emit("on" + Describe(rule.match) + " => " + rule.action.verb);
  } else if (step.verb == "wait-text") {
    WindowAt(step, g_current);
    int index = g_current;
    std::wstring expected = step.args.size() > 1 ? step.args[1] : L"";
    HWND control = Control(step, index, 0);
    WaitUntil([&] { return g_windows[index].gone || TextOf(control) == expected; },
              "text " + Quote(expected) + " in control " + Utf8(step.args[0]), true);
    if (g_windows[index].gone) Fail(where + "the window went while waiting for a text");
    Emit("wait-text " + ControlState(control, true));
  } else if (step.verb == "wait-gone") {
    WindowAt(step, g_current);
    int index = g_current;
    WaitUntil([index] { return g_windows[index].gone; },
              "end of window #" + std::to_string(g_windows[index].number), false);
    Emit("wait-gone #" + std::to_string(g_windows[index].number));
  } else if (step.verb == "touch") {
    if (step.args.empty()) Fail(where + "touch needs a path");
    HANDLE h = CreateFileW(step.args[0].c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) Fail(where + "cannot create " + Utf8(step.args[0]));
    CloseHandle(h);
    Emit("touch " + Quote(step.args[0]));
  } else if (step.verb == "wait-file" || step.verb == "wait-nofile") {
    if (step.args.empty()) Fail(where + step.verb + " needs a path");
    std::wstring path = step.args[0];
    bool present = step.verb == "wait-file";
    WaitUntil([&] { return (GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) == present; },
              (present ? "file " : "removal of file ") + Utf8(path), false);
    Emit(step.verb + " " + Quote(path));
  } else if (step.verb == "sleep") {
    DWORD ms = step.args.empty() ? 0 : (DWORD)wcstoul(step.args[0].c_str(), nullptr, 10);
    DWORD start = GetTickCount();
    while (GetTickCount() - start < ms) {
      Poll();
      Sleep(20);
    }
  } else if (step.verb == "wait-exit" || step.verb == "exitcode") {
    needRun();
    WaitExit();
    exited = true;
  } else {
    Fail(where + "unknown step " + step.verb);
  }
}

void Usage(const char *message) {
  Emit(std::string("winauto: ") + message);
  Emit("usage: winauto.exe [--out FILE] [--timeout SECONDS] [--total SECONDS] [SCRIPT] [-e STEP]...");
  Finish(2);
}

}  // namespace

int main() {
  g_stdout = GetStdHandle(STD_OUTPUT_HANDLE);
  InitializeCriticalSection(&g_outputLock);
  int argc = 0;
  LPWSTR *argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  std::vector<Step> steps;
  std::vector<std::string> inlineSteps;
  std::wstring scriptPath, outPath;
  for (int i = 1; i < argc; i++) {
    std::wstring a = argv[i];
    auto value = [&]() -> std::wstring {
      if (i + 1 >= argc) Usage("an option lacks its value");
      return argv[++i];
    };
    if (a == L"--out")
      outPath = value();
    else if (a == L"--timeout")
      g_timeout = _wtof(value().c_str());
    else if (a == L"--total")
      g_totalLimit = _wtof(value().c_str());
    else if (a == L"-e")
      inlineSteps.push_back(Utf8(value()));
    else if (a.size() > 1 && a[0] == L'-')
      Usage("unknown option");
    else if (scriptPath.empty())
      scriptPath = a;
    else
      Usage("more than one script");
  }
  if (!outPath.empty()) {
    g_outFile = CreateFileW(outPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
    if (g_outFile == INVALID_HANDLE_VALUE) Usage("cannot create the transcript file");
  }
  std::string error;
  if (!scriptPath.empty()) {
    HANDLE h = CreateFileW(scriptPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) Usage("cannot open the script");
    std::string text;
    char buf[4096];
    DWORD got;
    while (ReadFile(h, buf, sizeof buf, &got, nullptr) && got > 0) text.append(buf, got);
    CloseHandle(h);
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);
    size_t from = 0;
    int lineNo = 0;
    while (from <= text.size()) {
      size_t nl = text.find('\n', from);
      std::string line = text.substr(from, nl == std::string::npos ? std::string::npos : nl - from);
      if (!ParseStep(line, ++lineNo, steps, error)) Usage(error.c_str());
      if (nl == std::string::npos) break;
      from = nl + 1;
    }
  }
  int inlineNo = 0;
  for (auto &s : inlineSteps)
    if (!ParseStep(s, 10000 + ++inlineNo, steps, error)) Usage(error.c_str());
  if (steps.empty()) Usage("no steps");
  g_runStart = GetTickCount();
  std::wstring cwd;
  bool exited = false;
  for (auto &step : steps) {
    if (exited && step.verb != "timeout")
      Fail("line " + std::to_string(step.line) + ": a step after wait-exit");
    Execute(step, cwd, exited);
  }
  if (g_processes.empty()) Usage("the script runs no program");
  if (!exited) WaitExit();
  // What the program started and left running is ended, so that no window outlives the run.
  for (size_t i = 1; i < g_processes.size(); i++) {
    Process &p = g_processes[i];
    if (p.ended || WaitForSingleObject(p.handle, 0) == WAIT_OBJECT_0) continue;
    Announce(i);
    Emit("left process=" + std::to_string(i));
    TerminateProcess(p.handle, 1);
    WaitForSingleObject(p.handle, 5000);
  }
  for (auto &p : g_processes) CloseHandle(p.handle);
  Finish(0);
}
