// The destination dialog. Not built yet: the driver's pass goes on as if the user had confirmed the
// destination as it stands (OK on the text the dialog was given).
#include "startup/startup.h"

int RunDestinationDialog(const WCHAR *archiveBaseName) {
  (void)archiveBaseName;
  return 1;
}
