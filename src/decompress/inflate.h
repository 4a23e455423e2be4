// Inflate (Deflate and Deflate64): the decoding tables, the state of the running stream and the bit
// input over the mapped archive window. The worker calls InflateEntry per entry and ReleaseFixedTables
// once at the end of the extraction; the rest is shared by the inflate*.cpp files.
#pragma once

#include "archive/window.h"
#include "crypto/decryption.h"
#include "decompress/decompress.h"

enum {
  INFLATE_WINDOW_SIZE = 65536,
  MAX_CODE_BITS = 16,
  MAX_CODE_COUNT = 288,
  LITERAL_LOOKUP_BITS = 9,
  DISTANCE_LOOKUP_BITS = 6,
  FIXED_LITERAL_LOOKUP_BITS = 7,
  FIXED_DISTANCE_LOOKUP_BITS = 5,
  CODE_LENGTH_LOOKUP_BITS = 7,
};

// Operations of a table entry: 0 to 16 a base with that many extra bits, then these; 33 to 48 link to a
// sub-table indexed by the next op - 32 bits.
enum {
  OP_END_OF_BLOCK = 31,
  OP_LITERAL = 32,
  OP_LINK = 32,
  OP_LAST_LINK = 48,
  OP_INVALID = 99,
};

enum {
  INFLATE_OK = 0,
  INFLATE_BAD_DATA = 1,
  INFLATE_BAD_CODES = 2,
  INFLATE_NO_MEMORY = 3,
  INFLATE_STOPPED = -1,
};

struct CodeEntry {
  BYTE op;
  BYTE bits;
  union {
    WORD value;
    CodeEntry *next;
  };
};

struct FixedTables {
  CodeEntry *literalTable;
  CodeEntry *distanceTable;
  DWORD literalBits;
  DWORD distanceBits;
};

extern const BYTE CODE_LENGTH_ORDER[19];
extern const WORD LENGTH_BASE[31];
extern const WORD LENGTH_BASE64[31];
extern const BYTE LENGTH_EXTRA[31];
extern const BYTE LENGTH_EXTRA64[31];
extern const WORD DISTANCE_BASE[32];
extern const BYTE DISTANCE_EXTRA[32];
extern const BYTE DISTANCE_EXTRA64[32];
extern const DWORD BIT_MASK[17];

// The bit buffer is as wide as a pointer: 32 bits in the stub, 64 on 64-bit hosts.
typedef ULONG_PTR BitWord;
enum {
  BIT_WORD_BITS = sizeof(BitWord) * 8,
};

extern BYTE *g_inflateWindow;
extern DWORD g_windowPos;
extern BitWord g_inflateBitBuffer;
extern DWORD g_inflateBitCount;
// Zero bytes taken from past the end of the file for the running stream, and whether the window has
// been filled once (before that, a distance may not reach behind its first byte).
extern DWORD g_inflatePadBytes;
extern DWORD g_inflateWindowFilled;
extern FixedTables g_fixedTables;
extern FixedTables g_fixedTablesDeflate;
extern FixedTables g_fixedTablesDeflate64;
extern const WORD *g_lengthBase;
extern const BYTE *g_lengthExtra;
extern const BYTE *g_distanceExtra;

int InflateStream(int deflate64);
int InflateBlock(int *final);
int InflateStored(void);
int InflateFixed(void);
int InflateDynamic(void);
int InflateCodes(const CodeEntry *tl, const CodeEntry *td, DWORD bl, DWORD bd);
int BuildCodeTable(const BYTE *lengths, DWORD n, DWORD s, const WORD *bases, const BYTE *extras,
                   CodeEntry **table, DWORD *width);
void FreeCodeTables(CodeEntry *table);
void ReleaseFixedTables(void);

// The slow side of the bit input: a byte of an encrypted entry, and the window failing to supply one.
BYTE DecryptInputByte(BYTE byte);
int InflateInputEnd(const BYTE *supplied, DWORD count);
// The result for a stream whose input ended: stopped when the window failed (the cancel state is then
// set), bad data when the stream was cut off by the end of the file.
int InflateInputResult(void);

#if defined(__GNUC__)
#define INFLATE_INLINE inline __attribute__((always_inline))
#define INFLATE_UNLIKELY(x) __builtin_expect(!!(x), 0)
#else
#define INFLATE_INLINE inline
#define INFLATE_UNLIKELY(x) (x)
#endif

// Appends half a bit buffer of input bytes (four on 64-bit hosts, two in the stub) to a buffer that holds
// at most half its width, so that one refill serves several codes; a fixed count keeps the refill free
// of a loop. The window hands the bytes out one per call. A byte read ahead of the stream's end is never
// used (nor authenticated: the AES layer passes bytes behind the encrypted data unchanged). Returns 0
// when decoding must end: the window supplied no byte, or the stream needs bits beyond the end of the
// file after the zero bytes given in their place have been consumed.
static INFLATE_INLINE int FillBits(BitWord *buffer, DWORD *count) {
  DWORD k = *count;
  BitWord b = *buffer;
  // Commonly all the bytes lie in the current view and need no decryption: then every call takes the
  // window's inline path, and the compiler folds its bounds tests into this one.
  if (g_windowViewLimit - g_windowViewOffset >= BIT_WORD_BITS / 16 && g_windowViewOffset <= g_windowViewLimit &&
      !g_decrypting) {
    for (DWORD i = 0; i < BIT_WORD_BITS / 16; i++) {
      b |= (BitWord)*ReadArchiveWindow(1, 0) << k;
      k += 8;
    }
    *buffer = b;
    *count = k;
    return 1;
  }
  for (DWORD i = 0; i < BIT_WORD_BITS / 16; i++) {
    const BYTE *p = ReadArchiveWindow(1, 0);
    BYTE byte;
    if (INFLATE_UNLIKELY(p == &g_windowFallbackByte || !p)) {
      if (!InflateInputEnd(p, k)) {
        return 0;
      }
      byte = 0;
    } else {
      byte = *p;
      if (INFLATE_UNLIKELY(g_decrypting)) {
        byte = DecryptInputByte(byte);
      }
    }
    b |= (BitWord)byte << k;
    k += 8;
  }
  *buffer = b;
  *count = k;
  return 1;
}

// Makes at least n bits (n <= 16) available.
static INFLATE_INLINE int NeedBits(DWORD n, BitWord *buffer, DWORD *count) {
  return *count >= n || FillBits(buffer, count);
}

static INFLATE_INLINE void DumpBits(DWORD n, BitWord *buffer, DWORD *count) {
  *buffer >>= n;
  *count -= n;
}
