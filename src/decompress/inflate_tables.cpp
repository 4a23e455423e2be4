// Inflate's decoding tables: the constant tables of both variants, the construction of the multi-level
// lookup tables from code lengths (BuildCodeTable), their release, and the fixed-code tables that each
// variant builds once and keeps for the run.
#include "decompress/inflate.h"

const BYTE CODE_LENGTH_ORDER[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

const WORD LENGTH_BASE[31] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27, 31,
                              35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258, 0,  0};
// Deflate64: symbol 285 is base 3 with 16 extra bits.
const WORD LENGTH_BASE64[31] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19, 23, 27, 31,
                                35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 3,  0,  0};
// Symbols 286 and 287 have codes in the fixed code but no meaning: 99 makes them invalid.
const BYTE LENGTH_EXTRA[31] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,  2,
                               3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0, 99, 99};
const BYTE LENGTH_EXTRA64[31] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2,  2,  2,
                                 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 16, 99, 99};
const WORD DISTANCE_BASE[32] = {1,    2,    3,    4,    5,    7,     9,     13,    17,    25,   33,
                                49,   65,   97,   129,  193,  257,   385,   513,   769,   1025, 1537,
                                2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577, 32769, 49153};
const BYTE DISTANCE_EXTRA[32] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,  6,
                                 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13, 99, 99};
const BYTE DISTANCE_EXTRA64[32] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,  6,
                                   7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13, 14, 14};
const DWORD BIT_MASK[17] = {0x0000, 0x0001, 0x0003, 0x0007, 0x000F, 0x001F, 0x003F, 0x007F, 0x00FF,
                            0x01FF, 0x03FF, 0x07FF, 0x0FFF, 0x1FFF, 0x3FFF, 0x7FFF, 0xFFFF};

FixedTables g_fixedTables;
FixedTables g_fixedTablesDeflate;
FixedTables g_fixedTablesDeflate64;

void FreeCodeTables(CodeEntry *table) {
  if (!table) {
    return;
  }
  // Every table has one entry in front of it that links to the table allocated after it.
  CodeEntry *front = table - 1;
  while (front) {
    CodeEntry *next = front->next;
    free(front);
    front = next;
  }
}

// Builds the lookup tables of a canonical prefix code. Codes are read least significant bit first, so
// every code is handled bit-reversed: a first-level table of width m is indexed by the next m bits,
// longer codes continue in sub-tables linked from it. A table never reaches past the end of the
// end-of-block code, so decoding the last code of a stream asks for no bits behind it.
// Returns 0, 1 (incomplete code, tables built; missing codes decode as invalid), 2 (over-subscribed)
// or 3 (out of memory).
int BuildCodeTable(const BYTE *lengths, DWORD n, DWORD s, const WORD *bases, const BYTE *extras,
                   CodeEntry **table, DWORD *width) {
  DWORD count[MAX_CODE_BITS + 1];
  for (DWORD k = 0; k <= MAX_CODE_BITS; k++) {
    count[k] = 0;
  }
  for (DWORD i = 0; i < n; i++) {
    count[lengths[i]]++;
  }
  if (count[0] == n) {
    *table = 0;
    *width = 0;
    return 0;
  }
  DWORD eob = n > 256 ? lengths[256] : 16;

  DWORD minLen = 1;
  while (!count[minLen]) {
    minLen++;
  }
  DWORD maxLen = MAX_CODE_BITS;
  while (!count[maxLen]) {
    maxLen--;
  }
  DWORD m = *width;
  if (m < minLen) {
    m = minLen;
  }
  if (m > maxLen) {
    m = maxLen;
  }

  // Codes left unused at each length; those at the longest length become codes without a symbol.
  LONG left = 1L << minLen;
  for (DWORD k = minLen; k < maxLen; k++) {
    left -= (LONG)count[k];
    if (left < 0) {
      return 2;
    }
    left *= 2;
  }
  left -= (LONG)count[maxLen];
  if (left < 0) {
    return 2;
  }
  count[maxLen] += (DWORD)left;

  // Symbols in code order: by length, then by symbol.
  WORD order[MAX_CODE_COUNT];
  DWORD start[MAX_CODE_BITS + 2];
  start[1] = 0;
  for (DWORD k = 1; k <= MAX_CODE_BITS; k++) {
    start[k + 1] = start[k] + (k == maxLen ? count[k] - (DWORD)left : count[k]);
  }
  DWORD symbols = start[MAX_CODE_BITS + 1];
  for (DWORD v = 0; v < n; v++) {
    if (lengths[v]) {
      order[start[lengths[v]]++] = (WORD)v;
    }
  }

  CodeEntry *levelTable[MAX_CODE_BITS + 1];
  DWORD levelBase[MAX_CODE_BITS + 1];  // bits of the code taken by the levels above
  DWORD levelWidth[MAX_CODE_BITS + 1]; // index bits of the table
  DWORD levelPrefix[MAX_CODE_BITS + 1];
  int h = -1;
  DWORD covered = 0; // bits of the code covered by the open levels
  CodeEntry *firstFront = 0;
  CodeEntry *lastFront = 0;
  DWORD code = 0; // bit-reversed
  DWORD p = 0;

  for (DWORD k = minLen; k <= maxLen; k++) {
    for (DWORD a = count[k]; a > 0; a--) {
      while (k > covered) {
        DWORD w = covered;
        DWORD j = k - w;
        DWORD z = maxLen - w < m ? maxLen - w : m;
        if ((1UL << j) > a) {
          // Too few codes of this length for a j-bit table: widen it while the longer codes fill it.
          DWORD room = (1UL << j) - a;
          for (DWORD len = k + 1;; len++) {
            j++;
            if (j >= z) {
              break;
            }
            room *= 2;
            if (room <= count[len]) {
              break;
            }
            room -= count[len];
          }
        }
        if (w + j > eob && w < eob) {
          j = eob - w;
        }
        DWORD size = 1UL << j;
        CodeEntry *front = (CodeEntry *)malloc((size + 1) * sizeof(CodeEntry));
        if (!front) {
          FreeCodeTables(firstFront ? firstFront + 1 : 0);
          *table = 0;
          return 3;
        }
        front->op = 0;
        front->bits = 0;
        front->next = 0;
        if (lastFront) {
          lastFront->next = front;
        } else {
          firstFront = front;
        }
        lastFront = front;
        CodeEntry *entries = front + 1;
        for (DWORD i = 0; i < size; i++) {
          entries[i].op = OP_INVALID;
          entries[i].bits = (BYTE)j;
          entries[i].next = 0;
        }
        h++;
        levelTable[h] = entries;
        levelBase[h] = w;
        levelWidth[h] = j;
        if (h > 0) {
          levelPrefix[h] = code & BIT_MASK[w];
          CodeEntry *link = levelTable[h - 1] + ((code & BIT_MASK[w]) >> levelBase[h - 1]);
          link->op = (BYTE)(OP_LINK + j);
          link->bits = (BYTE)levelWidth[h - 1];
          link->next = entries;
        }
        covered = w + j;
      }

      CodeEntry entry;
      entry.bits = (BYTE)(k - levelBase[h]);
      entry.next = 0;
      if (p >= symbols) {
        entry.op = OP_INVALID;
        entry.value = 0;
      } else {
        DWORD v = order[p];
        if (v < s) {
          entry.op = v < 256 ? OP_LITERAL : OP_END_OF_BLOCK;
          entry.value = (WORD)v;
        } else {
          entry.op = extras[v - s];
          entry.value = bases[v - s];
        }
      }
      p++;
      DWORD step = 1UL << (k - levelBase[h]);
      DWORD size = 1UL << levelWidth[h];
      for (DWORD i = code >> levelBase[h]; i < size; i += step) {
        levelTable[h][i] = entry;
      }

      // Next code of this length, counting in bit-reversed order.
      DWORD bit = 1UL << (k - 1);
      while (code & bit) {
        code ^= bit;
        bit >>= 1;
      }
      code ^= bit;
      while (h > 0 && (code & BIT_MASK[levelBase[h]]) != levelPrefix[h]) {
        covered = levelBase[h];
        h--;
      }
    }
  }

  *table = firstFront + 1;
  *width = levelWidth[0];
  return left > 0 && maxLen != 1 ? 1 : 0;
}

void ReleaseFixedTables(void) {
  FixedTables *caches[2] = {&g_fixedTablesDeflate, &g_fixedTablesDeflate64};
  for (int i = 0; i < 2; i++) {
    FreeCodeTables(caches[i]->literalTable);
    FreeCodeTables(caches[i]->distanceTable);
    caches[i]->literalTable = 0;
    caches[i]->distanceTable = 0;
    caches[i]->literalBits = 0;
    caches[i]->distanceBits = 0;
  }
  g_fixedTables = g_fixedTablesDeflate;
}
