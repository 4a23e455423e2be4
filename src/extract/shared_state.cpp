// State that the driver, the worker, the progress dialog and the decoders share across threads: the
// archive stream, the progress dialog's window and the cancel state.
#include "extract/extract.h"

FILE *g_archiveFile;
HWND g_progressWindow;
volatile LONG g_cancelState;
