// Stored entries (method 0): the compressed data is the file, copied in blocks of STORED_CHUNK_SIZE
// through the byte input (which decrypts) to the sink. The copy ends at the compressed size or at the
// end of the archive stream, whichever comes first; the CRC comparison judges a cut-off entry.
#include "decompress/decompress.h"

void CopyStored(DWORD uncompressedSize, DWORD compressedSize, BYTE *workBuffer) {
  (void)uncompressedSize;
  DWORD remaining = compressedSize;
  while (remaining != 0) {
    DWORD chunk = remaining < STORED_CHUNK_SIZE ? remaining : (DWORD)STORED_CHUNK_SIZE;
    LONG n = ReadEntryBytes(workBuffer, chunk);
    if (n <= 0)
      break;
    // After a cancel the sink writes nothing; the rest of the data is still read (and decrypted).
    WriteOutput(workBuffer, (DWORD)n);
    remaining -= (DWORD)n;
  }
}
