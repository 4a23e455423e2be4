// Decompression: the byte and bit inputs, the output sink with its CRC-32, the stored copy, and the
// decoder of every method. Builds without any window code: the sink's only contact with the progress
// dialog is one SendMessageA.
#pragma once

#include "platform/platform.h"

enum {
  WORK_BUFFER_SIZE = 131072,
  STORED_CHUNK_SIZE = 65536,
  // Ring window of Unreduce and Explode, at the start of the work buffer.
  LEGACY_WINDOW_SIZE = 16384,
};

extern FILE *g_outputFile;
extern DWORD g_outputCrc;
// Set by WriteOutput when fwrite wrote less than a whole block (the CRC already took the block in, so
// only this flag tells the worker that the file is short). Never cleared here: the worker clears it
// with g_outputCrc before each entry and fails an entry that set it.
extern LONG g_outputFailed;
extern DWORD g_crcTable[256];
extern DWORD g_bitBuffer;
extern LONG g_bitCount;
extern LONG g_inputExhausted;

// Fills g_crcTable (the worker does it once, before the first entry).
void BuildCrcTable(void);
DWORD UpdateCrc32(DWORD crc, const BYTE *data, DWORD length);

LONG ReadEntryBytes(BYTE *buffer, DWORD count);
LONG WriteOutput(const BYTE *data, DWORD length);
void CopyStored(DWORD uncompressedSize, DWORD compressedSize, BYTE *workBuffer);
void ResetBitInput(void);
DWORD ReadBits(int n);

// The decoders (methods 1, 2 to 5, 6, 8 and 9).
void Unshrink(DWORD uncompressedSize, DWORD compressedSize, BYTE *workBuffer);
LONG Unreduce(DWORD uncompressedSize, DWORD compressedSize, int factor, BYTE *workBuffer);
LONG Explode(DWORD uncompressedSize, DWORD compressedSize, int dictionaryFlag, int treesFlag,
             BYTE *workBuffer);
void InflateEntry(int deflate64);
