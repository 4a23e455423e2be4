// The actions after extraction. Running the setup command is not built yet: nothing is started, and so
// nothing extracted is deleted either (deleting the files of a setup that never ran would lose them).
#include "startup/startup.h"

void RunSetupCommand(const WCHAR *command, const WCHAR *destination, DWORD wait) {
  (void)command;
  (void)destination;
  (void)wait;
}

void DeleteExtractedFiles(int temporaryDestination) { (void)temporaryDestination; }
