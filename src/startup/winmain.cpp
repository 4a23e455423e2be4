// The process entry of sfx.exe: the runtime's start-up calls WinMain, which hands over to ProgramEntry.
#include "startup/startup.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  ProgramEntry();
  return 0;
}
