// The worker's questions on Linux: recorded by the scripted desktop and answered from its script (dialog
// names "AskOverwrite" and "AskPassword"). An overwrite answer of 1004, the Newer button's number, is
// Newer. Without an answer the replace question was not shown (0) and the password question is skipped.
#include "extract/questions.h"

#include "extract/extract.h"
#include "platform/host/desktop.h"

namespace {

const int NEWER_BUTTON = 1004;

int AskScript(const wchar_t *dialog, const WCHAR *subject, DesktopAnswer *answer) {
  DesktopCall call{};
  call.kind = DesktopKind::Dialog;
  call.caption = dialog;
  call.text = subject ? subject : L"";
  call.window = g_progressWindow;
  LRESULT hooked = 0;
  if (DesktopRecord(call, &hooked)) {
    answer->result = (int)hooked;
    answer->text.clear();
    DesktopAnswer queued;
    if (DesktopTakeDialogAnswer(dialog, &queued))
      answer->text = queued.text;
    return 1;
  }
  if (DesktopTakeDialogAnswer(dialog, answer))
    return 1;
  answer->result = 0;
  answer->text.clear();
  return 0;
}

} // namespace

int AskOverwrite(OverwriteRequest *request) {
  SendMessageW(g_progressWindow, PAUSE_ANIMATION_MESSAGE, 0, 0);
  DesktopAnswer answer;
  AskScript(L"AskOverwrite", request->path, &answer);
  int result = answer.result;
  if (result == NEWER_BUTTON) {
    g_newerOnly = 1;
    result = IDYES;
  } else if (result == OVERWRITE_CANCEL) {
    SendMessageA(g_progressWindow, WM_CLOSE, 0, 0);
  }
  SendMessageW(g_progressWindow, RESUME_ANIMATION_MESSAGE, 0, 0);
  return result;
}

int AskPassword(PasswordRequest *request) {
  DesktopAnswer answer;
  AskScript(L"AskPassword", request->entryName, &answer);
  if (answer.result == PASSWORD_OK) {
    size_t n = answer.text.size() < PASSWORD_BYTES - 1 ? answer.text.size() : PASSWORD_BYTES - 1;
    memcpy(request->password, answer.text.data(), n);
    request->password[n] = 0;
    return PASSWORD_OK;
  }
  request->password[0] = 0;
  return answer.result == PASSWORD_CANCEL ? PASSWORD_CANCEL : PASSWORD_SKIP;
}
