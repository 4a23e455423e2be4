// Explode (method 6): the sliding dictionary of implode with Shannon-Fano coded lengths and distances
// and, when bit 2 of the entry's flags is set, Shannon-Fano coded literals (minimum match 3; otherwise
// literals are 8 plain bits and the minimum match is 2). Bit 1 selects the 8 KiB dictionary (7 low
// distance bits read plainly, the rest from the distance tree) or the 4 KiB one (6 low bits).
//
// Stream: [literal tree of 256] length tree of 64, distance tree of 64, each a compressed bit-length
// list (a byte: number of list bytes - 1; each list byte: code length - 1 in the low nibble, repeat - 1
// in the high nibble); then per item a flag bit: 1 = literal, 0 = match: low distance bits, distance
// symbol, length symbol, and 8 more length bits when that symbol is 63.
//
// Trees: ShannonFanoTree, 256 entries of which the length and distance trees use 64, sorted by code
// length then by symbol; the longest codes get the numerically smallest codes; codes are stored
// bit-reversed so that bits read least significant first compare directly.
//
// Window: the first LEGACY_WINDOW_SIZE bytes of the work buffer, a ring cleared at the start (a distance
// reaching before the first byte copies zeros), flushed to the sink whenever it is full and once at the
// end. Distances are at most 8192, so the ring always still holds the source.
//
// Bounds: a bit-length list describing more entries than its tree holds ends the entry before any
// output; entries a list leaves out get length 0 and never match; a code that matches no entry ends
// the entry (the window is flushed). A match is copied in full even past the uncompressed size; the
// loop ends at its next test, or when the input runs dry. Each such end fails the entry's CRC check.
#include "decompress/legacy.h"

int ReadBitLengths(ShannonFanoTree *tree) {
  for (LONG i = 0; i < tree->count; i++) {
    tree->entries[i].code = 0;
    tree->entries[i].value = (BYTE)i;
    tree->entries[i].bitLength = 0;
  }
  int listBytes = (int)ReadBits(8) + 1;
  LONG k = 0;
  for (int b = 0; b < listBytes; b++) {
    int length = (int)ReadBits(4) + 1;
    int repeat = (int)ReadBits(4) + 1;
    if (repeat > tree->count - k)
      return 0;
    while (repeat-- > 0) {
      tree->entries[k].bitLength = (BYTE)length;
      tree->entries[k].value = (BYTE)k;
      k++;
    }
  }
  return 1;
}

static int EntryAfter(const ShannonFanoEntry *a, const ShannonFanoEntry *b) {
  return a->bitLength > b->bitLength || (a->bitLength == b->bitLength && a->value > b->value);
}

void SortTreeEntries(ShannonFanoTree *tree) {
  for (LONG gap = tree->count / 2; gap > 0; gap /= 2) {
    int swapped;
    do {
      swapped = 0;
      for (LONG i = 0; i < tree->count - gap; i++) {
        if (EntryAfter(&tree->entries[i], &tree->entries[i + gap])) {
          ShannonFanoEntry held = tree->entries[i];
          tree->entries[i] = tree->entries[i + gap];
          tree->entries[i + gap] = held;
          swapped = 1;
        }
      }
    } while (swapped);
  }
}

void AssignCodes(ShannonFanoTree *tree) {
  DWORD code = 0;
  DWORD increment = 0;
  int lastLength = 0;
  for (LONG i = tree->count - 1; i >= 0; i--) {
    code = (code + increment) & 0xFFFF;
    if (tree->entries[i].bitLength != lastLength) {
      lastLength = tree->entries[i].bitLength;
      increment = 1u << (16 - lastLength);
    }
    tree->entries[i].code = (WORD)code;
  }
}

void ReverseCodes(ShannonFanoTree *tree) {
  for (LONG i = 0; i < tree->count; i++) {
    DWORD code = tree->entries[i].code;
    DWORD reversed = 0;
    for (int bit = 0; bit < 16; bit++) {
      reversed = (reversed << 1) | (code & 1);
      code >>= 1;
    }
    tree->entries[i].code = (WORD)reversed;
  }
}

int LoadShannonFanoTree(ShannonFanoTree *tree, LONG count) {
  tree->count = count;
  if (!ReadBitLengths(tree))
    return 0;
  SortTreeEntries(tree);
  AssignCodes(tree);
  ReverseCodes(tree);
  return 1;
}

// Entries are sorted by length, so the search only moves forward; entries of length 0 are passed over
// before the first comparison and never match.
LONG DecodeShannonFano(const ShannonFanoTree *tree) {
  DWORD code = 0;
  int n = 0;
  LONG i = 0;
  for (;;) {
    code |= ReadBits(1) << n;
    n++;
    while (i < tree->count && tree->entries[i].bitLength < n)
      i++;
    if (i >= tree->count)
      return -1;
    while (tree->entries[i].bitLength == n) {
      if (tree->entries[i].code == (WORD)code)
        return tree->entries[i].value;
      if (++i >= tree->count)
        return -1;
    }
  }
}

LONG Explode(DWORD uncompressedSize, DWORD compressedSize, int dictionaryFlag, int treesFlag,
             BYTE *workBuffer) {
  (void)compressedSize;
  ShannonFanoTree literalTree, lengthTree, distanceTree;
  BYTE *window = workBuffer;
  memset(window, 0, LEGACY_WINDOW_SIZE);
  ResetBitInput();
  int lowBits = dictionaryFlag ? 7 : 6;
  DWORD minimum = treesFlag ? 3 : 2;
  if (treesFlag && !LoadShannonFanoTree(&literalTree, 256))
    return 0;
  if (!LoadShannonFanoTree(&lengthTree, 64) || !LoadShannonFanoTree(&distanceTree, 64))
    return 0;

  long long remaining = uncompressedSize;
  DWORD out = 0;
  while (!g_inputExhausted && remaining > 0) {
    if (ReadBits(1) == 1) {
      LONG literal = treesFlag ? DecodeShannonFano(&literalTree) : (LONG)ReadBits(8);
      if (literal < 0)
        break;
      window[out++] = (BYTE)literal;
      remaining--;
      if (out == LEGACY_WINDOW_SIZE) {
        WriteOutput(window, LEGACY_WINDOW_SIZE);
        out = 0;
      }
      continue;
    }
    DWORD distance = ReadBits(lowBits);
    LONG high = DecodeShannonFano(&distanceTree);
    if (high < 0)
      break;
    distance |= (DWORD)high << lowBits;
    LONG symbol = DecodeShannonFano(&lengthTree);
    if (symbol < 0)
      break;
    DWORD length = (DWORD)symbol;
    if (length == 63)
      length += ReadBits(8);
    length += minimum;
    DWORD source = (out - distance - 1) & (LEGACY_WINDOW_SIZE - 1);
    remaining -= length;
    out = CopyWindowMatch(window, out, source, length);
  }
  return WriteOutput(window, out);
}
