// The output sink: every decompressed byte of every method reaches the entry's output file through
// WriteOutput, which keeps the entry's running CRC-32 and moves the progress bar by the read position of
// the archive stream. Bounds: one block per call, no buffering of its own; a set cancel state writes
// nothing more.
#include "decompress/decompress.h"
#include "extract/extract.h"

FILE *g_outputFile;
DWORD g_outputCrc;
LONG g_outputFailed;

LONG WriteOutput(const BYTE *data, DWORD length) {
  if (g_cancelState != 0)
    return -1;
  // The CRC covers the block as the decoder produced it, before the write can fail.
  g_outputCrc = UpdateCrc32(g_outputCrc, data, length);
  if (fwrite(data, 1, length, g_outputFile) != length) {
    // The CRC already took the block in, so a comparison alone would pass a short file: the flag lets
    // the worker fail the entry.
    g_outputFailed = 1;
    return -1;
  }
  SendMessageA(g_progressWindow, PROGRESS_MESSAGE, 0, (LPARAM)(ftell(g_archiveFile) / 1024));
  return (LONG)length;
}
