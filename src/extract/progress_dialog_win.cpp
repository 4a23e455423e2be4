// The progress dialog: the modeless window that stays up while the worker extracts. It plays the clip in
// its upper part, shows the entry's name and a bar of the archive position (in 1024-byte units), and
// takes Cancel and the close box. Other threads reach it only through messages; closing it posts the quit
// message that ends the driver's message loop.
#include "extract/extract.h"

#include "extract/worker.h"
#include "startup/startup.h"

enum {
  PROGRESS_BAR_ID = 1004,
  ANIMATION_ID = 1,
  PROGRESS_TEMPLATE = 2008,
  CLIP_RESOURCE = 107,
  ANIMATION_X = 50,
};

HWND g_progressBar;
HWND g_animationWindow;

static INT_PTR CALLBACK ProgressDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
  case WM_INITDIALOG:
    g_progressBar = GetDlgItem(dialog, PROGRESS_BAR_ID);
    SendMessageW(g_progressBar, PBM_SETRANGE32, 0, (LPARAM)((LONG)lParam / 1024));
    g_animationWindow = CreateWindowExA(0, "SysAnimate32", NULL, WS_CHILD | WS_VISIBLE | ACS_TRANSPARENT | ACS_AUTOPLAY,
                                        0, 0, 0, 0, dialog, (HMENU)ANIMATION_ID, g_instance, NULL);
    if (g_animationWindow != NULL) {
      SendMessageA(g_animationWindow, ACM_OPENA, 0, (LPARAM)MAKEINTRESOURCEA(CLIP_RESOURCE));
      SetWindowPos(g_animationWindow, NULL, ANIMATION_X, 0, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    }
    return TRUE;
  case PROGRESS_MESSAGE:
    SendMessageW(g_progressBar, PBM_SETPOS, (WPARAM)lParam, 0);
    return FALSE;
  case RESUME_ANIMATION_MESSAGE:
    if (g_animationWindow != NULL) SendMessageW(g_animationWindow, ACM_PLAY, (WPARAM)-1, MAKELONG(0, 0xFFFF));
    return TRUE;
  case PAUSE_ANIMATION_MESSAGE:
    if (g_animationWindow != NULL) SendMessageW(g_animationWindow, ACM_STOP, 0, 0);
    return TRUE;
  case WM_COMMAND:
    if (wParam == IDCANCEL) {
      // The window stays until the worker has stopped and closes it.
      g_cancelState = CANCEL_USER;
      return TRUE;
    }
    return FALSE;
  case WM_SYSCOMMAND:
    if ((wParam & 0xFFF0) == SC_CLOSE) {
      g_cancelState = CANCEL_USER;
      DestroyWindow(dialog);
      g_animationWindow = NULL;
      PostQuitMessage(0);
      return TRUE;
    }
    return FALSE;
  case WM_CLOSE:
    if (g_animationWindow != NULL) DestroyWindow(g_animationWindow);
    g_animationWindow = NULL;
    DestroyWindow(dialog);
    PostQuitMessage(0);
    return TRUE;
  default:
    return FALSE;
  }
}

void CreateProgressDialog(DWORD centralDirOffset) {
  g_progressWindow = CreateDialogParamA(g_instance, MAKEINTRESOURCEA(PROGRESS_TEMPLATE), NULL, ProgressDialogProc,
                                        (LPARAM)centralDirOffset);
  ShowWindow(g_progressWindow, SW_SHOW);
  UpdateWindow(g_progressWindow);
}
