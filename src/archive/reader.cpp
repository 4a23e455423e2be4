// Archive directory reader. The walk is driven by the local headers: the stream is scanned forward for
// the next local header signature, the header is read, and it is paired with the next central directory
// header in directory order, which supplies the attributes, the host system that decides the name's
// encoding, and the CRC-32 and sizes that a data descriptor kept out of the local header. Names are
// decoded here (UTF-8 when flagged or plausible, else the ANSI code page) and reserved characters are
// replaced. Signature bytes are compared one at a time and their last two bytes come from a writable
// table, so that the image never holds a whole signature the scan could mistake for an entry.
#include "archive/reader.h"

#include "extract/extract.h"
#include "resources/resource_ids.h"
#include "startup/startup.h"

CentralHeader g_centralHeader;
DWORD g_centralDirOffset;

// Third byte of the central header, local header and end record signatures (the fourth is one more).
BYTE g_signatureKinds[3] = {1, 3, 5};

enum {
  KIND_CENTRAL = 0,
  KIND_LOCAL = 1,
  KIND_END = 2,
  LOCAL_FIXED_SIZE = 26,
  CENTRAL_FIXED_SIZE = 42,
  SCAN_OVERLAP = 20,
  UTF8_NAME_UNITS = 1024,
  EXTRA_NTFS = 0x000A,
  EXTRA_STRONG_ENCRYPTION = 0x0017,
  EXTRA_AES = 0x9901,
};

static int IsSignature(const BYTE *p, int kind) {
  return p[0] == 'P' && p[1] == 'K' && p[2] == g_signatureKinds[kind] && p[3] == g_signatureKinds[kind] + 1;
}

static WORD GetU16(const BYTE *p) { return (WORD)(p[0] | (p[1] << 8)); }

static DWORD GetU32(const BYTE *p) {
  return (DWORD)p[0] | ((DWORD)p[1] << 8) | ((DWORD)p[2] << 16) | ((DWORD)p[3] << 24);
}

// The search goes backwards from the end in windows of 256 bytes. Consecutive windows overlap by three
// bytes so that a signature across a window boundary is still seen whole, the last window reaches down to
// offset 0, and a record cut off by its window's end takes its offset field from the file: an archive whose
// comment happens to put the record there is still found.
DWORD LocateCentralDirectory(void) {
  BYTE window[END_RECORD_WINDOW_SIZE];
  fseek(g_archiveFile, 0, SEEK_END);
  long size = ftell(g_archiveFile);
  long start = size > END_RECORD_WINDOW_SIZE ? size - END_RECORD_WINDOW_SIZE : 0;
  g_centralDirOffset = 0;
  for (;;) {
    fseek(g_archiveFile, start, SEEK_SET);
    size_t count = fread(window, 1, END_RECORD_WINDOW_SIZE, g_archiveFile);
    if (count == 0)
      return 0;
    for (size_t i = 0; i + 4 <= count; i++) {
      if (!IsSignature(window + i, KIND_END))
        continue;
      BYTE offset[4] = {0, 0, 0, 0};
      if (i + 20 <= count) {
        memcpy(offset, window + i + 16, 4);
      } else {
        fseek(g_archiveFile, start + (long)i + 16, SEEK_SET);
        if (fread(offset, 1, 4, g_archiveFile) != 4)
          memset(offset, 0, sizeof offset);
      }
      fseek(g_archiveFile, 0, SEEK_SET);
      g_centralDirOffset = GetU32(offset);
      return g_centralDirOffset;
    }
    if (start == 0)
      return 0;
    start -= END_RECORD_WINDOW_SIZE - 3;
    if (start < 0)
      start = 0;
  }
}

int CountLeadingOnes(BYTE value) {
  int count = 0;
  while (count < 8 && (value & (0x80 >> count)))
    count++;
  return count;
}

int IsLikelyUtf8(const BYTE *name) {
  if (!name[0])
    return 0;
  int pending = 0, units = 1, bytes = 0, singleSequence = 0;
  for (int i = 0; name[i]; i++) {
    BYTE b = name[i];
    int ones = CountLeadingOnes(b);
    if (pending > 0) {
      if (ones != 1)
        return 0;
      if (--pending == 0)
        units++;
    } else if (ones == 0) {
      units = b == '\n' ? 1 : units + 1;
    } else if (ones == 1) {
      return 0;
    } else {
      pending = ones - 1;
      // A lone two-byte sequence after plain characters only counts when the ANSI code page could not
      // read its first byte as the start of a double-byte character.
      if (units == i + 1)
        singleSequence = !IsDBCSLeadByte(b);
    }
    bytes++;
  }
  if (pending > 0)
    return 0;
  return bytes > units || (bytes == units && singleSequence);
}

void ReplaceReservedChars(WCHAR *name) {
  for (; *name; name++) {
    WCHAR c = *name;
    if (c == ':' || c == '*' || c == '?' || c == '"' || c == '<' || c == '>' || c == '|' || c == '\n' ||
        c == '\r')
      *name = '_';
  }
}

DWORD ReadCentralHeader(EntryHeader *entry, BYTE *headerBuffer) {
  static WCHAR utf8Name[UTF8_NAME_UNITS];
  int haveCentral = 0;
  DWORD nextCentral = 0;
  if (g_centralDirOffset) {
    fseek(g_archiveFile, (long)g_centralDirOffset, SEEK_SET);
    int matched = 0;
    while (matched < 4) {
      int c = fgetc(g_archiveFile);
      if (c == EOF)
        break;
      BYTE expected = matched == 0   ? 'P'
                      : matched == 1 ? 'K'
                                     : (BYTE)(g_signatureKinds[KIND_CENTRAL] + (matched - 2));
      matched = c == expected ? matched + 1 : 0;
    }
    if (fread(headerBuffer, 1, CENTRAL_FIXED_SIZE, g_archiveFile) < CENTRAL_FIXED_SIZE) {
      g_centralDirOffset = 0;
    } else {
      const BYTE *p = headerBuffer;
      g_centralHeader.versionMadeBy = p[0];
      g_centralHeader.hostSystem = p[1];
      g_centralHeader.versionNeeded[0] = p[2];
      g_centralHeader.versionNeeded[1] = p[3];
      g_centralHeader.flags = GetU16(p + 4);
      g_centralHeader.method = GetU16(p + 6);
      g_centralHeader.dosTimeDate = GetU32(p + 8);
      g_centralHeader.crc32 = GetU32(p + 12);
      g_centralHeader.compressedSize = GetU32(p + 16);
      g_centralHeader.uncompressedSize = GetU32(p + 20);
      g_centralHeader.nameLength = GetU16(p + 24);
      g_centralHeader.extraLength = GetU16(p + 26);
      g_centralHeader.commentLength = GetU16(p + 28);
      g_centralHeader.diskNumberStart = GetU16(p + 30);
      g_centralHeader.internalAttributes = GetU16(p + 32);
      g_centralHeader.externalAttributes = GetU32(p + 34);
      g_centralHeader.localHeaderOffset = GetU32(p + 38);
      nextCentral = (DWORD)ftell(g_archiveFile) + g_centralHeader.nameLength;
      haveCentral = 1;
    }
  }

  const BYTE *raw = (const BYTE *)entry->name;
  int decoded = 0;
  if (((entry->flags & 0x800) || (haveCentral && g_centralHeader.hostSystem == 3)) && IsLikelyUtf8(raw)) {
    int n = MultiByteToWideChar(CP_UTF8, 0, (const char *)raw, -1, utf8Name, UTF8_NAME_UNITS);
    if (n > 0) {
      if (n >= 2 && (utf8Name[n - 2] == '\r' || utf8Name[n - 2] == '\n'))
        utf8Name[n - 2] = 0;
      decoded = 1;
    }
  }
  const WCHAR *wide = decoded ? utf8Name : ToWide((const char *)raw);
  lstrcpynW(entry->name, wide, ENTRY_NAME_UNITS);
  ReplaceReservedChars(entry->name);

  if (!haveCentral)
    return 0;
  // With a data descriptor the local values are placeholders: usually 0, but a zip written to a pipe
  // may leave the encryption check in the CRC-32 and the size without the encryption header there.
  int described = entry->flags & 8;
  if (described || !entry->crc32)
    entry->crc32 = g_centralHeader.crc32;
  if (described || !entry->compressedSize)
    entry->compressedSize = g_centralHeader.compressedSize;
  if (described || !entry->uncompressedSize)
    entry->uncompressedSize = g_centralHeader.uncompressedSize;
  g_centralDirOffset = nextCentral;
  return (g_centralHeader.externalAttributes & 0xFF) & 0xF7;
}

static void RefuseStrongEncryption(void) {
  WCHAR text[128];
  LoadStringW(g_instance, IDS_UNSUPPORTED_FORMAT, text, 128);
  g_cancelState = -1;
  MessageBoxW(NULL, text, L"VAZ-IDA", MB_ICONERROR);
}

// Walks the extra block; returns 0 when the entry is refused.
static int ReadExtraBlock(EntryHeader *entry, const BYTE *block, DWORD length) {
  DWORD cursor = 0;
  while (length - cursor > 4) {
    WORD id = GetU16(block + cursor);
    WORD size = GetU16(block + cursor + 2);
    if (size > length - cursor - 4)
      break;
    const BYTE *data = block + cursor + 4;
    if (id == EXTRA_NTFS) {
      // Reserved u32, then tagged attributes; tag 1 of size 24 holds the times, modification first.
      if (size >= 32 && GetU16(data + 4) == 1 && GetU16(data + 6) == 24) {
        entry->modified.dwLowDateTime = GetU32(data + 8);
        entry->modified.dwHighDateTime = GetU32(data + 12);
      }
    } else if (id == EXTRA_STRONG_ENCRYPTION) {
      // PKWARE's strong encryption cannot be decrypted here.
      if (entry->flags & 0x40) {
        RefuseStrongEncryption();
        return 0;
      }
    } else if (id == EXTRA_AES) {
      if (size >= 7) {
        entry->aesStrength = data[4];
        entry->method = GetU16(data + 5);
      }
    }
    cursor += (DWORD)size + 4;
  }
  return 1;
}

int ReadLocalHeader(EntryHeader *entry, BYTE *headerBuffer) {
  if (fread(headerBuffer, 1, LOCAL_FIXED_SIZE, g_archiveFile) < LOCAL_FIXED_SIZE)
    return 0;
  memset(entry, 0, sizeof *entry);
  const BYTE *p = headerBuffer;
  entry->versionNeeded = GetU16(p);
  entry->flags = GetU16(p + 2);
  entry->method = GetU16(p + 4);
  entry->dosTime = GetU16(p + 6);
  entry->dosDate = GetU16(p + 8);
  entry->crc32 = GetU32(p + 10);
  entry->compressedSize = GetU32(p + 14);
  entry->uncompressedSize = GetU32(p + 18);
  entry->nameLength = GetU16(p + 22);
  entry->extraLength = GetU16(p + 24);

  if (entry->nameLength > MAX_ENTRY_NAME_BYTES)
    return 0;
  if (fread(headerBuffer, 1, entry->nameLength, g_archiveFile) < entry->nameLength)
    return 0;
  // The raw bytes wait in the name field until the central header decides their encoding.
  BYTE *raw = (BYTE *)entry->name;
  DWORD keep = entry->nameLength < MAX_ENTRY_NAME_BYTES ? entry->nameLength : (DWORD)MAX_ENTRY_NAME_BYTES - 1;
  memcpy(raw, headerBuffer, keep);
  raw[keep] = 0;

  if (entry->extraLength) {
    // Only the first HEADER_BUFFER_SIZE bytes of a longer block are examined; the rest is read past.
    DWORD examined = entry->extraLength < HEADER_BUFFER_SIZE ? entry->extraLength : (DWORD)HEADER_BUFFER_SIZE;
    if (fread(headerBuffer, 1, examined, g_archiveFile) < examined)
      return 0;
    if (!ReadExtraBlock(entry, headerBuffer, examined))
      return 0;
    DWORD rest = entry->extraLength - examined;
    while (rest) {
      DWORD chunk = rest < HEADER_BUFFER_SIZE ? rest : (DWORD)HEADER_BUFFER_SIZE;
      if (fread(headerBuffer, 1, chunk, g_archiveFile) < chunk)
        return 0;
      rest -= chunk;
    }
  }

  if (!entry->modified.dwLowDateTime && !entry->modified.dwHighDateTime) {
    FILETIME local;
    if (DosDateTimeToFileTime(entry->dosDate, entry->dosTime, &local))
      LocalFileTimeToFileTime(&local, &entry->modified);
  }

  long dataStart = ftell(g_archiveFile);
  entry->attributes = ReadCentralHeader(entry, headerBuffer);
  fseek(g_archiveFile, dataStart, SEEK_SET);
  return 1;
}

int ReadNextEntry(EntryHeader *entry, BYTE *scanWindow) {
  static BYTE headerBuffer[HEADER_BUFFER_SIZE];
  for (;;) {
    long windowStart = ftell(g_archiveFile);
    size_t count = fread(scanWindow, 1, SCAN_WINDOW_SIZE, g_archiveFile);
    if (count <= SCAN_OVERLAP)
      return 0;
    for (size_t i = 0; i < count - SCAN_OVERLAP; i++) {
      if (!IsSignature(scanWindow + i, KIND_LOCAL))
        continue;
      long after = ftell(g_archiveFile);
      fseek(g_archiveFile, windowStart + (long)i + 4, SEEK_SET);
      if (ReadLocalHeader(entry, headerBuffer))
        return 1;
      fseek(g_archiveFile, after, SEEK_SET);
    }
    fseek(g_archiveFile, -SCAN_OVERLAP, SEEK_CUR);
  }
}
