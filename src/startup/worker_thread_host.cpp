// On Linux nobody pumps window messages: the worker runs on its own thread while the caller waits, and
// everything it tells the progress dialog goes to the scripted desktop.
#include "startup/startup.h"

#include "extract/extract.h"
#include "extract/worker.h"

DWORD RunWorkerBehindProgress(WCHAR *archivePath, DWORD centralDirOffset) {
  (void)centralDirOffset;
  static int progressWindow;
  g_progressWindow = reinterpret_cast<HWND>(&progressWindow);
  DWORD workerExitCode = 0xFFFFFFFF;
  HANDLE worker = CreateThread(NULL, 0, ExtractionWorker, archivePath, 0, NULL);
  if (worker == NULL) {
    g_cancelState = CANCEL_ERROR;
  } else {
    WaitForSingleObject(worker, INFINITE);
    GetExitCodeThread(worker, &workerExitCode);
    CloseHandle(worker);
  }
  g_progressWindow = NULL;
  return workerExitCode;
}
