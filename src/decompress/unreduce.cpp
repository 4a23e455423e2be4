// Unreduce (methods 2 to 5, compression factors 1 to 4). Two stages over the legacy bit input:
//  - the first stage predicts each byte from the one before it: 256 follower sets (read for byte value
//    255 first, 0 last; a count of 6 bits, then that many bytes of 8 bits) give, after a 0 bit, an index
//    of FOLLOWER_INDEX_BITS[count] bits into the set of the previous byte; after a 1 bit, or when that
//    set is empty, 8 plain bits follow;
//  - the second stage turns those bytes into output: 144 (0x90) escapes a match; 144 0 stands for the
//    byte 144 itself; otherwise the byte after 144 holds the length in its low bits (mask by factor:
//    127, 63, 31, 15; a length equal to the mask adds the next byte) and the high part of the distance,
//    whose low 8 bits follow in the next byte. A match copies length + 3 bytes from distance 1 to 4096.
//
// Window: the first LEGACY_WINDOW_SIZE bytes of the work buffer, a ring cleared at the start (so a
// distance reaching before the first byte copies zeros), flushed to the sink whenever it is full and
// once at the end. The follower sets lie right behind it.
//
// Bounds: an index is at most 6 bits, so it never leaves the set's 64 slots; a slot at or beyond the
// set's count holds 0, so such an index (never used by valid data) yields the byte 0. Every window
// access is taken modulo the ring. A match is copied in full even past the uncompressed size; the loop
// ends at its next test, or when the input runs dry.
#include "decompress/legacy.h"

static const BYTE REDUCE_LENGTH_MASK[5] = {0, 127, 63, 31, 15};
static const BYTE REDUCE_DISTANCE_SHIFT[5] = {0, 7, 6, 5, 4};
static const BYTE REDUCE_DISTANCE_HIGH_MASK[5] = {0, 1, 3, 7, 15};

// Bits of a follower index for a set of s followers: those needed to write s - 1, at least 1; 8 for
// an empty set (whose index is never read). Counts are 6 bits, so 64 entries cover them all.
static const BYTE FOLLOWER_INDEX_BITS[64] = {
    8, 1, 1, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 4, 4, 4, 4, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5,
    5, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6,
};

void LoadFollowerSets(FollowerSet *sets) {
  for (int value = 255; value >= 0; value--) {
    FollowerSet *set = &sets[value];
    set->count = (BYTE)ReadBits(6);
    // Slots the set leaves undefined hold 0: an index that reaches them yields the byte 0.
    memset(set->followers, 0, sizeof(set->followers));
    for (int i = 0; i < set->count; i++)
      set->followers[i] = (BYTE)ReadBits(8);
  }
}

LONG Unreduce(DWORD uncompressedSize, DWORD compressedSize, int factor, BYTE *workBuffer) {
  (void)compressedSize;
  if (factor < 1 || factor > 4)
    return 0;
  BYTE *window = workBuffer;
  FollowerSet *sets = (FollowerSet *)(workBuffer + LEGACY_WINDOW_SIZE);
  memset(window, 0, LEGACY_WINDOW_SIZE);
  ResetBitInput();
  LoadFollowerSets(sets);

  long long remaining = uncompressedSize;
  int state = 0;
  BYTE previous = 0;
  BYTE matchByte = 0;
  DWORD length = 0;
  DWORD out = 0;
  while (!g_inputExhausted && remaining > 0) {
    const FollowerSet *set = &sets[previous];
    BYTE y;
    if (set->count == 0 || ReadBits(1) == 1)
      y = (BYTE)ReadBits(8);
    else
      y = set->followers[ReadBits(FOLLOWER_INDEX_BITS[set->count])];

    DWORD copyCount = 0;
    DWORD source = 0;
    int literal = -1;
    switch (state) {
    case 0:
      if (y == 144)
        state = 1;
      else
        literal = y;
      break;
    case 1:
      if (y == 0) {
        literal = 144;
        state = 0;
      } else {
        matchByte = y;
        length = y & REDUCE_LENGTH_MASK[factor];
        state = length == REDUCE_LENGTH_MASK[factor] ? 2 : 3;
      }
      break;
    case 2:
      length += y;
      state = 3;
      break;
    default: {
      DWORD high = (DWORD)(matchByte >> REDUCE_DISTANCE_SHIFT[factor]) & REDUCE_DISTANCE_HIGH_MASK[factor];
      DWORD distance = high * 256 + y + 1;
      source = (out - distance) & (LEGACY_WINDOW_SIZE - 1);
      copyCount = length + 3;
      state = 0;
      break;
    }
    }
    previous = y;

    if (literal >= 0) {
      remaining--;
      window[out++] = (BYTE)literal;
      if (out == LEGACY_WINDOW_SIZE) {
        WriteOutput(window, LEGACY_WINDOW_SIZE);
        out = 0;
      }
    }
    remaining -= copyCount;
    out = CopyWindowMatch(window, out, source, copyCount);
  }
  return WriteOutput(window, out);
}
