// Unshrink (method 1): dynamic LZW with code widths from 9 up to 13 bits. Code 256 is a control code:
// followed by 1 it widens the codes by one bit, followed by 2 it frees every code of 257 and up that is
// no other code's parent (a partial clear); other sub-codes are skipped. New codes take the lowest free
// number; once 8191 is taken the table stays as it is.
//
// Tables in the work buffer: the decode stack (bytes 0 to 8191, a string is built backwards so that it
// ends at 8191), the suffix bytes (8193 + code, codes 0 to 8191) and the parents (signed 32-bit at
// 65544 + 4 * code, codes 0 to 8192; -1 marks a free code, bit 15 marks a code during a partial clear).
// Every decoded string is written at once, one sink call per code.
//
// Bounds: a corrupt stream ends the entry (its CRC check then fails) when it raises the width beyond 13,
// when a parent chain reaches a free code or runs longer than the stack, or when the input runs dry.
// An entry of size 0 reads and writes nothing.
#include "decompress/decompress.h"

enum {
  UNSHRINK_STACK_SIZE = 8192,
  UNSHRINK_SUFFIX_OFFSET = 8193,
  UNSHRINK_PARENT_OFFSET = 65544,
  UNSHRINK_CODES = 8192,
  UNSHRINK_CONTROL = 256,
  UNSHRINK_FIRST_FREE = 257,
  UNSHRINK_MAX_WIDTH = 13,
  UNSHRINK_MARK = 0x8000,
};

static LONG LowestFreeCode(const LONG *parent, LONG from) {
  for (LONG code = from; code < UNSHRINK_CODES; code++)
    if (parent[code] == -1)
      return code;
  return UNSHRINK_CODES;
}

// Frees the codes of 257 to free - 1 that are no parent of a code in that range.
static void PartialClear(LONG *parent, LONG free) {
  for (LONG code = UNSHRINK_FIRST_FREE; code < free; code++)
    if (parent[code] != -1)
      parent[code] |= UNSHRINK_MARK;
  for (LONG code = UNSHRINK_FIRST_FREE; code < free; code++) {
    if (parent[code] == -1)
      continue;
    LONG p = parent[code] & 0x7FFF;
    // Only codes of the range carry a mark; a free code named as parent by corrupt data stays free.
    if (p >= UNSHRINK_FIRST_FREE && p < free && parent[p] != -1)
      parent[p] &= 0x7FFF;
  }
  for (LONG code = UNSHRINK_FIRST_FREE; code < free; code++)
    if (parent[code] != -1 && (parent[code] & UNSHRINK_MARK))
      parent[code] = -1;
}

void Unshrink(DWORD uncompressedSize, DWORD compressedSize, BYTE *workBuffer) {
  (void)compressedSize;
  BYTE *stack = workBuffer;
  BYTE *suffix = workBuffer + UNSHRINK_SUFFIX_OFFSET;
  LONG *parent = (LONG *)(workBuffer + UNSHRINK_PARENT_OFFSET);

  if (uncompressedSize == 0)
    return;
  // 64-bit so that an entry above 2 GiB still counts down correctly.
  long long remaining = (long long)uncompressedSize - 1;
  ResetBitInput();
  int width = 9;
  LONG free = UNSHRINK_FIRST_FREE;
  for (LONG code = 0; code < 256; code++) {
    parent[code] = 0;
    suffix[code] = (BYTE)code;
  }
  for (LONG code = 256; code <= UNSHRINK_CODES; code++)
    parent[code] = -1;
  memset(suffix + 256, 0, UNSHRINK_CODES - 256);

  LONG previous = (LONG)ReadBits(9);
  if (g_inputExhausted)
    return;
  BYTE firstByte = (BYTE)previous;
  WriteOutput(&firstByte, 1);

  while (remaining > 0 && !g_inputExhausted) {
    LONG code = (LONG)ReadBits(width);
    if (g_inputExhausted)
      return;
    if (code == UNSHRINK_CONTROL) {
      DWORD sub = ReadBits(width);
      if (sub == 1) {
        if (width == UNSHRINK_MAX_WIDTH)
          return;
        width++;
      } else if (sub == 2) {
        PartialClear(parent, free);
        free = LowestFreeCode(parent, UNSHRINK_FIRST_FREE);
      }
      continue;
    }

    LONG incoming = code;
    LONG top = UNSHRINK_STACK_SIZE;
    if (parent[code] == -1) {
      // The code being defined by this very step: the previous string and its own first byte.
      stack[--top] = firstByte;
      code = previous;
    }
    while (code >= UNSHRINK_FIRST_FREE) {
      if (code >= UNSHRINK_CODES || parent[code] < 0 || top <= 1)
        return;
      stack[--top] = suffix[code];
      code = parent[code];
    }
    firstByte = suffix[code];
    stack[--top] = firstByte;
    remaining -= UNSHRINK_STACK_SIZE - top;
    WriteOutput(stack + top, (DWORD)(UNSHRINK_STACK_SIZE - top));

    if (free < UNSHRINK_CODES) {
      parent[free] = previous;
      suffix[free] = firstByte;
      free = LowestFreeCode(parent, free + 1);
    }
    previous = incoming;
  }
}
