// Records and steps of the legacy decoders (Unreduce, Explode) that their tests reach directly.
#pragma once

#include "decompress/decompress.h"

// One follower set of Unreduce: the bytes most likely to follow one byte value.
struct FollowerSet {
  BYTE count;         // 0 to 63
  BYTE followers[64]; // slots from count on are 0
};

// Reads the 256 sets, for byte value 255 first and 0 last.
void LoadFollowerSets(FollowerSet *sets);

// One code of a Shannon-Fano tree of Explode.
struct ShannonFanoEntry {
  WORD code;      // left-aligned in 16 bits, then bit-reversed to match bits read least significant first
  BYTE value;     // the symbol: the entry's index before sorting
  BYTE bitLength; // 1 to 16; 0 for an entry the stored list did not describe (it never matches)
};

struct ShannonFanoTree {
  ShannonFanoEntry entries[256];
  LONG count; // 256 for the literal tree, 64 for the length and distance trees
};

// Each returns 0 when the stored bit-length list describes more entries than the tree holds.
int LoadShannonFanoTree(ShannonFanoTree *tree, LONG count);
int ReadBitLengths(ShannonFanoTree *tree);
void SortTreeEntries(ShannonFanoTree *tree);
void AssignCodes(ShannonFanoTree *tree);
void ReverseCodes(ShannonFanoTree *tree);
// The decoded value (0 to 255), or -1 when no entry matches.
LONG DecodeShannonFano(const ShannonFanoTree *tree);

// Copies a match of length bytes from source within the ring window of LEGACY_WINDOW_SIZE bytes that
// Unreduce and Explode write through, handing every full window to the sink; returns the new write position.
DWORD CopyWindowMatch(BYTE *window, DWORD out, DWORD source, DWORD length);
