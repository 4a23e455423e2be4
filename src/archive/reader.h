// Archive directory reader: finds the end-of-central-directory record and delivers the archive's entries
// one at a time, driven by the local headers and paired in order with the central directory headers.
#pragma once

#include "platform/platform.h"

enum {
  ENTRY_NAME_UNITS = 520,
  SCAN_WINDOW_SIZE = 1024,
  END_RECORD_WINDOW_SIZE = 256,
  HEADER_BUFFER_SIZE = 2048,
  MAX_ENTRY_NAME_BYTES = 260,
};

// One entry as the worker sees it. Zeroed before each local header is read.
struct EntryHeader {
  WORD versionNeeded;
  WORD flags;
  WORD method; // the actual method, also for AES entries
  WORD dosTime;
  WORD dosDate;
  DWORD crc32;            // from the central header when the local one holds 0
  DWORD compressedSize;   // idem; includes any encryption header
  DWORD uncompressedSize; // idem
  WORD nameLength;
  WORD extraLength;
  DWORD attributes;  // low byte of the external attributes without bit 3; 0 without a central header
  DWORD aesStrength; // 0, or 1 to 3 from the AES extra field
  WCHAR name[ENTRY_NAME_UNITS];
  FILETIME modified; // UTC
};

// The fixed part of the central directory header paired with the current entry.
struct CentralHeader {
  BYTE versionMadeBy;
  BYTE hostSystem; // 3 = Unix
  BYTE versionNeeded[2];
  WORD flags;
  WORD method;
  DWORD dosTimeDate; // time in the low half, date in the high half
  DWORD crc32;
  DWORD compressedSize;
  DWORD uncompressedSize;
  DWORD nameLength;
  DWORD extraLength;
  DWORD commentLength;
  DWORD diskNumberStart;
  DWORD internalAttributes;
  DWORD externalAttributes;
  DWORD localHeaderOffset;
};

extern CentralHeader g_centralHeader;
extern DWORD g_centralDirOffset;

// Finds the end record; returns the central directory offset stored in it (also kept in
// g_centralDirOffset) and leaves g_archiveFile at offset 0, or returns 0 when there is none.
DWORD LocateCentralDirectory(void);
// Scans forward from the stream's position for the next entry; 1 with the stream at the entry's data,
// 0 when the stream holds no further entry. scanWindow must hold SCAN_WINDOW_SIZE bytes.
int ReadNextEntry(EntryHeader *entry, BYTE *scanWindow);

// Steps of the walk, visible for tests.
int ReadLocalHeader(EntryHeader *entry, BYTE *headerBuffer);
DWORD ReadCentralHeader(EntryHeader *entry, BYTE *headerBuffer);
int IsLikelyUtf8(const BYTE *name);
int CountLeadingOnes(BYTE value);
void ReplaceReservedChars(WCHAR *name);
