// hold_file: holds a file open without sharing, so that every other open of it fails with a sharing
// violation, until a release file appears. The end-to-end tests use it against OpenStream's Retry.
//   hold_file.exe FILE RELEASE READY [SECONDS]
// Opens (or creates) FILE with share mode 0, then creates READY; waits until RELEASE exists (at most
// SECONDS, default 60, so that a forgotten holder cannot outlive its test), closes FILE, deletes READY
// and exits 0. Exit 1 when FILE cannot be opened, 2 on bad arguments, 3 when the time ran out.
#include <windows.h>
#include <shellapi.h>

#include <cwchar>

int main() {
  int argc = 0;
  LPWSTR *argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (argc < 4) return 2;
  DWORD seconds = argc > 4 ? (DWORD)wcstoul(argv[4], nullptr, 10) : 60;
  HANDLE file = CreateFileW(argv[1], GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 1;
  HANDLE ready = CreateFileW(argv[3], GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (ready != INVALID_HANDLE_VALUE) CloseHandle(ready);
  DWORD start = GetTickCount();
  int status = 3;
  while (GetTickCount() - start < seconds * 1000) {
    if (GetFileAttributesW(argv[2]) != INVALID_FILE_ATTRIBUTES) {
      status = 0;
      break;
    }
    Sleep(20);
  }
  CloseHandle(file);
  DeleteFileW(argv[3]);
  return status;
}
