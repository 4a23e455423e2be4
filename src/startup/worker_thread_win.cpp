// The driver's part that needs the window manager: the progress dialog, the worker thread and the main
// thread's message loop, which runs until the dialog is gone.
#include "startup/startup.h"

#include "extract/extract.h"
#include "extract/worker.h"

DWORD RunWorkerBehindProgress(WCHAR *archivePath, DWORD centralDirOffset) {
  DWORD workerExitCode = 0xFFFFFFFF;
  CreateProgressDialog(centralDirOffset);
  if (g_progressWindow == NULL) {
    // Without the dialog nothing would ever post the quit message that ends the loop below.
    g_cancelState = CANCEL_ERROR;
    return workerExitCode;
  }
  HANDLE worker = CreateThread(NULL, 0, ExtractionWorker, archivePath, 0, NULL);
  if (worker == NULL) {
    g_cancelState = CANCEL_ERROR;
    DestroyWindow(g_progressWindow);
    return workerExitCode;
  }
  MSG message;
  while (GetMessageA(&message, NULL, 0, 0)) {
    if (!IsDialogMessageA(g_progressWindow, &message)) {
      TranslateMessage(&message);
      DispatchMessageA(&message);
    }
  }
  WaitForSingleObject(worker, INFINITE);
  GetExitCodeThread(worker, &workerExitCode);
  CloseHandle(worker);
  return workerExitCode;
}
