// Inflate's symbol loop: literals, lengths and distances of one block decoded with its lookup tables,
// and the copy of matches inside the 64 KiB window, which is flushed through the output sink each time
// it fills. This is where the time of an extraction goes: the bit buffer, the window position and the
// window live in locals, the window's byte input is inlined, and matches are copied in blocks wherever
// source and destination allow it.
#include "decompress/inflate.h"

#include "extract/extract.h"

// Copies a match chunk that neither wraps the window nor overlaps its source from behind. A source ahead
// of the destination (Deflate64 reaching more than 32768 bytes back) may still overlap it: memmove gives
// the result of the byte-by-byte forward copy there, where memcpy would not.
static INFLATE_INLINE void CopyForward(BYTE *out, const BYTE *in, DWORD n) {
  if (n >= 16) {
    memmove(out, in, n);
    return;
  }
  while (n--) {
    *out++ = *in++;
  }
}

// Copies a chunk whose source lies behind its destination and overlaps it: the bytes written repeat
// the last `distance` bytes. Blocks of eight are safe when the distance is at least eight.
static INFLATE_INLINE void CopyPattern(BYTE *out, const BYTE *in, DWORD n, DWORD distance) {
  if (distance >= 8) {
    while (n >= 8) {
      memcpy(out, in, 8);
      out += 8;
      in += 8;
      n -= 8;
    }
  }
  while (n--) {
    *out++ = *in++;
  }
}

// Copies a match that wraps the window or reaches its end, in chunks that do neither, flushing the full
// window on the way. Returns 0 when the sink failed.
#if defined(__GNUC__)
__attribute__((noinline))
#endif
static int CopyMatchAcrossTheEnd(BYTE *window, DWORD *position, DWORD from, DWORD length) {
  DWORD pos = *position;
  do {
    DWORD chunk = INFLATE_WINDOW_SIZE - (from > pos ? from : pos);
    if (chunk > length) {
      chunk = length;
    }
    if (from >= pos || pos - from >= chunk) {
      CopyForward(window + pos, window + from, chunk);
    } else {
      CopyPattern(window + pos, window + from, chunk, pos - from);
    }
    pos += chunk;
    from += chunk;
    length -= chunk;
    if (pos == INFLATE_WINDOW_SIZE) {
      if (WriteOutput(window, INFLATE_WINDOW_SIZE) == -1) {
        return 0;
      }
      pos = 0;
      g_inflateWindowFilled = 1;
    }
    from &= INFLATE_WINDOW_SIZE - 1;
  } while (length);
  *position = pos;
  return 1;
}

#define NEED(n)                                                                                           \
  do {                                                                                                    \
    if (!NeedBits((n), &b, &k)) {                                                                         \
      return InflateInputResult();                                                                        \
    }                                                                                                     \
  } while (0)

int InflateCodes(const CodeEntry *tl, const CodeEntry *td, DWORD bl, DWORD bd) {
  BitWord b = g_inflateBitBuffer;
  DWORD k = g_inflateBitCount;
  DWORD pos = g_windowPos;
  BYTE *const window = g_inflateWindow;
  const DWORD ml = BIT_MASK[bl];
  const DWORD md = BIT_MASK[bd];
  const int spare = g_lengthBase == LENGTH_BASE;

  for (;;) {
    if (g_cancelState) {
      return INFLATE_STOPPED;
    }
    // Topped up here for a whole literal or most of a match, so that the checks below rarely refill.
    if (k <= BIT_WORD_BITS / 2 && !FillBits(&b, &k)) {
      return InflateInputResult();
    }
    const CodeEntry *t = tl + (b & ml);
    DWORD op = t->op;
    DumpBits(t->bits, &b, &k);
    if (INFLATE_UNLIKELY(op > OP_LITERAL)) {
      // A longer code continues in a sub-table.
      do {
        if (op > OP_LAST_LINK) {
          return INFLATE_BAD_DATA;
        }
        op -= OP_LINK;
        NEED(op);
        t = t->next + (b & BIT_MASK[op]);
        op = t->op;
        DumpBits(t->bits, &b, &k);
      } while (op > OP_LITERAL);
    }
    if (op == OP_LITERAL) {
      window[pos++] = (BYTE)t->value;
      if (INFLATE_UNLIKELY(pos == INFLATE_WINDOW_SIZE)) {
        if (WriteOutput(window, INFLATE_WINDOW_SIZE) == -1) {
          return INFLATE_STOPPED;
        }
        pos = 0;
        g_inflateWindowFilled = 1;
      }
      continue;
    }
    if (INFLATE_UNLIKELY(op == OP_END_OF_BLOCK)) {
      g_inflateBitBuffer = b;
      g_inflateBitCount = k;
      g_windowPos = pos;
      return INFLATE_OK;
    }

    // A match: the length's extra bits, then the distance code and its extra bits.
    NEED(op);
    DWORD length = t->value + (b & BIT_MASK[op]);
    DumpBits(op, &b, &k);
    if (INFLATE_UNLIKELY(!td)) {
      return INFLATE_BAD_DATA;
    }
    NEED(bd);
    t = td + (b & md);
    for (;;) {
      op = t->op;
      DumpBits(t->bits, &b, &k);
      if (op < OP_END_OF_BLOCK) {
        break;
      }
      if (op <= OP_LINK || op > OP_LAST_LINK) {
        return INFLATE_BAD_DATA;
      }
      op -= OP_LINK;
      NEED(op);
      t = t->next + (b & BIT_MASK[op]);
    }
    NEED(op);
    DWORD distance = t->value + (b & BIT_MASK[op]);
    DumpBits(op, &b, &k);
    // Nothing of an earlier entry or of the window's uninitialised memory may reach the output.
    if (INFLATE_UNLIKELY(distance > pos) && !g_inflateWindowFilled) {
      return INFLATE_BAD_DATA;
    }

    DWORD from = (pos - distance) & (INFLATE_WINDOW_SIZE - 1);
    if (INFLATE_UNLIKELY(pos + length >= INFLATE_WINDOW_SIZE || from + length > INFLATE_WINDOW_SIZE)) {
      if (!CopyMatchAcrossTheEnd(window, &pos, from, length)) {
        return INFLATE_STOPPED;
      }
    } else if (spare && pos + length + 16 <= INFLATE_WINDOW_SIZE && from + length + 16 <= INFLATE_WINDOW_SIZE) {
      // Deflate reaches at most 32768 bytes back, so the up to fifteen bytes written behind the match are
      // never read before the output overwrites them: copy in blocks of sixteen or eight.
      BYTE *out = window + pos;
      const BYTE *in = window + from;
      BYTE *end = out + length;
      if (distance >= 16) {
        do {
          memcpy(out, in, 16);
          out += 16;
          in += 16;
        } while (out < end);
      } else if (distance >= 8) {
        do {
          memcpy(out, in, 8);
          out += 8;
          in += 8;
        } while (out < end);
      } else if (distance == 1) {
        memset(out, *in, length);
      } else {
        do {
          *out++ = *in++;
        } while (out < end);
      }
      pos += length;
    } else {
      if (from >= pos || pos - from >= length) {
        CopyForward(window + pos, window + from, length);
      } else {
        CopyPattern(window + pos, window + from, length, pos - from);
      }
      pos += length;
    }
  }
}
