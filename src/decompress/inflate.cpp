// Inflate's stream and block level: the entry point the worker calls, the block headers, stored blocks,
// fixed and dynamic code blocks, and the ends of the input (decryption of a byte, the end of the file,
// a window that cannot supply a byte). The symbol loop is in inflate_codes.cpp, the tables in
// inflate_tables.cpp.
#include "decompress/inflate.h"

#include "extract/extract.h"

BYTE *g_inflateWindow;
DWORD g_windowPos;
BitWord g_inflateBitBuffer;
DWORD g_inflateBitCount;
DWORD g_inflatePadBytes;
DWORD g_inflateWindowFilled;
const WORD *g_lengthBase = LENGTH_BASE;
const BYTE *g_lengthExtra = LENGTH_EXTRA;
const BYTE *g_distanceExtra = DISTANCE_EXTRA;

BYTE DecryptInputByte(BYTE byte) {
  if (g_aesActive) {
    AesEntryDecrypt(&byte, 1);
  } else {
    byte ^= DecryptByte();
    UpdateKeys(byte);
  }
  return byte;
}

// Past the end of the file the window hands out zero bytes. They are harmless while they only fill the
// look-ahead of a code near the end of the stream; once the stream consumed one of them as data it was
// cut off, and decoding ends instead of running on through zero bits.
int InflateInputEnd(const BYTE *supplied, DWORD count) {
  if (!supplied) {
    return 0;
  }
  g_inputExhausted = 1;
  if (count < 8 * g_inflatePadBytes) {
    return 0;
  }
  g_inflatePadBytes++;
  return 1;
}

int InflateInputResult(void) {
  return g_cancelState ? INFLATE_STOPPED : INFLATE_BAD_DATA;
}

void InflateEntry(int deflate64) {
  g_inflateWindow = (BYTE *)malloc(INFLATE_WINDOW_SIZE);
  if (!g_inflateWindow) {
    // Nothing can be decoded: the entry fails like one whose output could not be written (this also
    // holds for AES entries, whose check does not look at the output), and the walk goes on.
    g_outputFailed = 1;
    return;
  }
  InflateStream(deflate64);
  free(g_inflateWindow);
  g_inflateWindow = 0;
}

int InflateStream(int deflate64) {
  g_windowPos = 0;
  g_inflateBitBuffer = 0;
  g_inflateBitCount = 0;
  g_inflatePadBytes = 0;
  g_inflateWindowFilled = 0;
  FixedTables *cache = deflate64 ? &g_fixedTablesDeflate64 : &g_fixedTablesDeflate;
  g_fixedTables = *cache;
  g_lengthBase = deflate64 ? LENGTH_BASE64 : LENGTH_BASE;
  g_lengthExtra = deflate64 ? LENGTH_EXTRA64 : LENGTH_EXTRA;
  g_distanceExtra = deflate64 ? DISTANCE_EXTRA64 : DISTANCE_EXTRA;

  int final = 0;
  int r;
  do {
    r = InflateBlock(&final);
    if (r == INFLATE_OK && g_cancelState) {
      r = INFLATE_STOPPED;
    }
  } while (r == INFLATE_OK && !final);
  // Kept whatever the outcome: tables built by a stream that failed later are as good as any.
  *cache = g_fixedTables;
  if (r != INFLATE_OK) {
    return r;
  }
  if (g_inflateBitCount < 8 * g_inflatePadBytes) {
    return INFLATE_BAD_DATA;
  }
  if (WriteOutput(g_inflateWindow, g_windowPos) == -1) {
    return INFLATE_STOPPED;
  }
  return INFLATE_OK;
}

int InflateBlock(int *final) {
  BitWord b = g_inflateBitBuffer;
  DWORD k = g_inflateBitCount;
  if (!NeedBits(3, &b, &k)) {
    return InflateInputResult();
  }
  *final = (int)(b & 1);
  DWORD type = (b >> 1) & 3;
  DumpBits(3, &b, &k);
  g_inflateBitBuffer = b;
  g_inflateBitCount = k;
  switch (type) {
  case 0:
    return InflateStored();
  case 1:
    return InflateFixed();
  case 2:
    return InflateDynamic();
  default:
    return INFLATE_BAD_CODES;
  }
}

int InflateStored(void) {
  BitWord b = g_inflateBitBuffer;
  DWORD k = g_inflateBitCount;
  DumpBits(k & 7, &b, &k);
  if (!NeedBits(16, &b, &k)) {
    return InflateInputResult();
  }
  DWORD n = b & 0xFFFF;
  DumpBits(16, &b, &k);
  if (!NeedBits(16, &b, &k)) {
    return InflateInputResult();
  }
  if (n != (~b & 0xFFFF)) {
    return INFLATE_BAD_DATA;
  }
  DumpBits(16, &b, &k);

  BYTE *window = g_inflateWindow;
  DWORD pos = g_windowPos;
  // First the whole bytes still in the bit buffer, then straight from the window, one byte per call.
  for (; n; n--) {
    if (g_cancelState) {
      return INFLATE_STOPPED;
    }
    BYTE byte;
    if (k) {
      if (INFLATE_UNLIKELY(k <= 8 * g_inflatePadBytes)) {
        return INFLATE_BAD_DATA; // a zero byte from past the end of the file
      }
      byte = (BYTE)b;
      DumpBits(8, &b, &k);
    } else if (g_windowViewOffset < g_windowViewLimit && !g_decrypting) {
      byte = *ReadArchiveWindow(1, 0);
    } else {
      const BYTE *p = ReadArchiveWindow(1, 0);
      if (!p) {
        return INFLATE_STOPPED;
      }
      if (p == &g_windowFallbackByte) {
        // The block's data is cut off by the end of the file.
        g_inputExhausted = 1;
        return INFLATE_BAD_DATA;
      }
      byte = *p;
      if (g_decrypting) {
        byte = DecryptInputByte(byte);
      }
    }
    window[pos++] = byte;
    if (pos == INFLATE_WINDOW_SIZE) {
      if (WriteOutput(window, INFLATE_WINDOW_SIZE) == -1) {
        return INFLATE_STOPPED;
      }
      pos = 0;
      g_inflateWindowFilled = 1;
    }
  }
  g_windowPos = pos;
  g_inflateBitBuffer = b;
  g_inflateBitCount = k;
  return INFLATE_OK;
}

int InflateFixed(void) {
  if (!g_fixedTables.literalTable) {
    BYTE lengths[MAX_CODE_COUNT];
    DWORD i = 0;
    for (; i < 144; i++) {
      lengths[i] = 8;
    }
    for (; i < 256; i++) {
      lengths[i] = 9;
    }
    for (; i < 280; i++) {
      lengths[i] = 7;
    }
    for (; i < 288; i++) {
      lengths[i] = 8;
    }
    g_fixedTables.literalBits = FIXED_LITERAL_LOOKUP_BITS;
    int r = BuildCodeTable(lengths, 288, 257, g_lengthBase, g_lengthExtra, &g_fixedTables.literalTable,
                           &g_fixedTables.literalBits);
    if (r != 0) {
      if (r == 1) {
        FreeCodeTables(g_fixedTables.literalTable);
      }
      g_fixedTables.literalTable = 0;
      return r;
    }
    for (i = 0; i < 32; i++) {
      lengths[i] = 5;
    }
    g_fixedTables.distanceBits = FIXED_DISTANCE_LOOKUP_BITS;
    r = BuildCodeTable(lengths, 32, 0, DISTANCE_BASE, g_distanceExtra, &g_fixedTables.distanceTable,
                       &g_fixedTables.distanceBits);
    if (r > 1) {
      FreeCodeTables(g_fixedTables.literalTable);
      g_fixedTables.literalTable = 0;
      g_fixedTables.distanceTable = 0;
      return r;
    }
  }
  return InflateCodes(g_fixedTables.literalTable, g_fixedTables.distanceTable, g_fixedTables.literalBits,
                      g_fixedTables.distanceBits);
}

// Reads the code lengths of a dynamic block and decodes the block with the codes they describe.
int InflateDynamic(void) {
  BitWord b = g_inflateBitBuffer;
  DWORD k = g_inflateBitCount;
  BYTE lengths[320];

  if (!NeedBits(14, &b, &k)) {
    return InflateInputResult();
  }
  DWORD nl = 257 + (b & 0x1F);
  DWORD nd = 1 + ((b >> 5) & 0x1F);
  DWORD nb = 4 + ((b >> 10) & 0xF);
  DumpBits(14, &b, &k);

  DWORD j;
  for (j = 0; j < nb; j++) {
    if (g_cancelState) {
      return INFLATE_STOPPED;
    }
    if (!NeedBits(3, &b, &k)) {
      return InflateInputResult();
    }
    lengths[CODE_LENGTH_ORDER[j]] = (BYTE)(b & 7);
    DumpBits(3, &b, &k);
  }
  for (; j < 19; j++) {
    lengths[CODE_LENGTH_ORDER[j]] = 0;
  }

  CodeEntry *table;
  DWORD width = CODE_LENGTH_LOOKUP_BITS;
  int r = BuildCodeTable(lengths, 19, 19, 0, 0, &table, &width);
  if (width == 0) {
    r = INFLATE_BAD_DATA;
  }
  if (r != 0) {
    if (r == 1) {
      FreeCodeTables(table);
    }
    return r;
  }

  DWORD total = nl + nd;
  DWORD mask = BIT_MASK[width];
  DWORD previous = 0;
  DWORD i = 0;
  while (i < total) {
    if (g_cancelState) {
      r = INFLATE_STOPPED;
      break;
    }
    if (!NeedBits(width, &b, &k)) {
      r = InflateInputResult();
      break;
    }
    const CodeEntry *t = table + (b & mask);
    DumpBits(t->bits, &b, &k);
    if (t->op != OP_LITERAL) {
      r = INFLATE_BAD_DATA;
      break;
    }
    DWORD symbol = t->value;
    if (symbol < 16) {
      lengths[i++] = (BYTE)symbol;
      previous = symbol;
      continue;
    }
    DWORD extraBits = symbol == 16 ? 2 : symbol == 17 ? 3 : 7;
    if (!NeedBits(extraBits, &b, &k)) {
      r = InflateInputResult();
      break;
    }
    DWORD repeat = (symbol == 18 ? 11 : 3) + (b & BIT_MASK[extraBits]);
    DumpBits(extraBits, &b, &k);
    if (i + repeat > total) {
      r = INFLATE_BAD_DATA;
      break;
    }
    if (symbol != 16) {
      previous = 0;
    }
    while (repeat--) {
      lengths[i++] = (BYTE)previous;
    }
  }
  FreeCodeTables(table);
  if (r != 0) {
    return r;
  }

  CodeEntry *tl;
  width = LITERAL_LOOKUP_BITS;
  r = BuildCodeTable(lengths, nl, 257, g_lengthBase, g_lengthExtra, &tl, &width);
  if (width == 0) {
    r = INFLATE_BAD_DATA;
  }
  if (r != 0) {
    if (r == 1) {
      FreeCodeTables(tl);
    }
    return r;
  }
  CodeEntry *td;
  DWORD dwidth = DISTANCE_LOOKUP_BITS;
  r = BuildCodeTable(lengths + nl, nd, 0, DISTANCE_BASE, g_distanceExtra, &td, &dwidth);
  if (r == 1) {
    r = 0; // an incomplete distance code is accepted; only its missing codes are errors
  }
  if (dwidth == 0 && nl > 257) {
    r = INFLATE_BAD_DATA;
  }
  if (r != 0) {
    if (r == 1) {
      FreeCodeTables(td);
    }
    FreeCodeTables(tl);
    return r;
  }

  g_inflateBitBuffer = b;
  g_inflateBitCount = k;
  r = InflateCodes(tl, td, width, dwidth);
  FreeCodeTables(tl);
  FreeCodeTables(td);
  return r;
}
