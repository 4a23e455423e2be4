// The worker's questions on Windows until their dialogs exist: an existing file is kept (No) and an
// encrypted entry whose kept password does not fit is skipped. The animation is paused around the
// replace question as the dialog will do.
#include "extract/questions.h"

#include "extract/extract.h"

int AskOverwrite(OverwriteRequest *request) {
  (void)request;
  SendMessageW(g_progressWindow, PAUSE_ANIMATION_MESSAGE, 0, 0);
  SendMessageW(g_progressWindow, RESUME_ANIMATION_MESSAGE, 0, 0);
  return IDNO;
}

int AskPassword(PasswordRequest *request) {
  request->password[0] = 0;
  return PASSWORD_SKIP;
}
