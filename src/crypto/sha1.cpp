// SHA-1 (FIPS 180): the compression function with its 16-word message schedule kept in locals and the
// eighty steps unrolled, and the byte-count bookkeeping and padding around it.
#include "crypto/sha1.h"

static DWORD RotateLeft(DWORD value, int bits) {
  return (value << bits) | (value >> (32 - bits));
}

void Sha1Init(Sha1Context *context) {
  context->byteCount[0] = 0;
  context->byteCount[1] = 0;
  context->state[0] = 0x67452301;
  context->state[1] = 0xEFCDAB89;
  context->state[2] = 0x98BADCFE;
  context->state[3] = 0x10325476;
  context->state[4] = 0xC3D2E1F0;
}

// Word i of the schedule: the block's words for steps 0 to 15, then the rolling expansion, which
// overwrites the word it replaces in the 16-word window.
#define SHA1_LOAD(i)                                                                                   \
  (w##i = ((DWORD)block[4 * i] << 24) | ((DWORD)block[4 * i + 1] << 16) |                             \
          ((DWORD)block[4 * i + 2] << 8) | (DWORD)block[4 * i + 3])
#define SHA1_EXPAND(i, m3, m8, m14) (w##i = RotateLeft(w##m3 ^ w##m8 ^ w##m14 ^ w##i, 1))

#define SHA1_F1(b, c, d) (d ^ (b & (c ^ d)))
#define SHA1_F2(b, c, d) (b ^ c ^ d)
#define SHA1_F3(b, c, d) ((b & c) | (d & (b | c)))

#define SHA1_STEP(f, k, a, b, c, d, e, x)                                                              \
  do {                                                                                                 \
    e += RotateLeft(a, 5) + f(b, c, d) + (k) + (x);                                                    \
    b = RotateLeft(b, 30);                                                                             \
  } while (0)

// Five steps rotate the roles of a..e back to where they started.
#define SHA1_FIVE(f, k, x0, x1, x2, x3, x4)                                                            \
  SHA1_STEP(f, k, a, b, c, d, e, x0);                                                                  \
  SHA1_STEP(f, k, e, a, b, c, d, x1);                                                                  \
  SHA1_STEP(f, k, d, e, a, b, c, x2);                                                                  \
  SHA1_STEP(f, k, c, d, e, a, b, x3);                                                                  \
  SHA1_STEP(f, k, b, c, d, e, a, x4)

#define X(i, m3, m8, m14) SHA1_EXPAND(i, m3, m8, m14)

void Sha1Compress(DWORD *state, const BYTE *block) {
  DWORD w0, w1, w2, w3, w4, w5, w6, w7, w8, w9, w10, w11, w12, w13, w14, w15;
  DWORD a = state[0], b = state[1], c = state[2], d = state[3], e = state[4];
  const DWORD K1 = 0x5A827999, K2 = 0x6ED9EBA1, K3 = 0x8F1BBCDC, K4 = 0xCA62C1D6;

  SHA1_FIVE(SHA1_F1, K1, SHA1_LOAD(0), SHA1_LOAD(1), SHA1_LOAD(2), SHA1_LOAD(3), SHA1_LOAD(4));
  SHA1_FIVE(SHA1_F1, K1, SHA1_LOAD(5), SHA1_LOAD(6), SHA1_LOAD(7), SHA1_LOAD(8), SHA1_LOAD(9));
  SHA1_FIVE(SHA1_F1, K1, SHA1_LOAD(10), SHA1_LOAD(11), SHA1_LOAD(12), SHA1_LOAD(13), SHA1_LOAD(14));
  // Step t (t >= 16) uses W[t] = rotl1(W[t-3] ^ W[t-8] ^ W[t-14] ^ W[t-16]), held in w[t mod 16].
  SHA1_FIVE(SHA1_F1, K1, SHA1_LOAD(15), X(0, 13, 8, 2), X(1, 14, 9, 3), X(2, 15, 10, 4), X(3, 0, 11, 5));

  SHA1_FIVE(SHA1_F2, K2, X(4, 1, 12, 6), X(5, 2, 13, 7), X(6, 3, 14, 8), X(7, 4, 15, 9), X(8, 5, 0, 10));
  SHA1_FIVE(SHA1_F2, K2, X(9, 6, 1, 11), X(10, 7, 2, 12), X(11, 8, 3, 13), X(12, 9, 4, 14),
            X(13, 10, 5, 15));
  SHA1_FIVE(SHA1_F2, K2, X(14, 11, 6, 0), X(15, 12, 7, 1), X(0, 13, 8, 2), X(1, 14, 9, 3),
            X(2, 15, 10, 4));
  SHA1_FIVE(SHA1_F2, K2, X(3, 0, 11, 5), X(4, 1, 12, 6), X(5, 2, 13, 7), X(6, 3, 14, 8), X(7, 4, 15, 9));

  SHA1_FIVE(SHA1_F3, K3, X(8, 5, 0, 10), X(9, 6, 1, 11), X(10, 7, 2, 12), X(11, 8, 3, 13),
            X(12, 9, 4, 14));
  SHA1_FIVE(SHA1_F3, K3, X(13, 10, 5, 15), X(14, 11, 6, 0), X(15, 12, 7, 1), X(0, 13, 8, 2),
            X(1, 14, 9, 3));
  SHA1_FIVE(SHA1_F3, K3, X(2, 15, 10, 4), X(3, 0, 11, 5), X(4, 1, 12, 6), X(5, 2, 13, 7), X(6, 3, 14, 8));
  SHA1_FIVE(SHA1_F3, K3, X(7, 4, 15, 9), X(8, 5, 0, 10), X(9, 6, 1, 11), X(10, 7, 2, 12),
            X(11, 8, 3, 13));

  SHA1_FIVE(SHA1_F2, K4, X(12, 9, 4, 14), X(13, 10, 5, 15), X(14, 11, 6, 0), X(15, 12, 7, 1),
            X(0, 13, 8, 2));
  SHA1_FIVE(SHA1_F2, K4, X(1, 14, 9, 3), X(2, 15, 10, 4), X(3, 0, 11, 5), X(4, 1, 12, 6), X(5, 2, 13, 7));
  SHA1_FIVE(SHA1_F2, K4, X(6, 3, 14, 8), X(7, 4, 15, 9), X(8, 5, 0, 10), X(9, 6, 1, 11),
            X(10, 7, 2, 12));
  SHA1_FIVE(SHA1_F2, K4, X(11, 8, 3, 13), X(12, 9, 4, 14), X(13, 10, 5, 15), X(14, 11, 6, 0),
            X(15, 12, 7, 1));

  state[0] += a;
  state[1] += b;
  state[2] += c;
  state[3] += d;
  state[4] += e;
}

void Sha1Transform(Sha1Context *context) {
  Sha1Compress(context->state, context->block);
}

void Sha1Update(const BYTE *data, DWORD length, Sha1Context *context) {
  DWORD used = context->byteCount[0] & (SHA1_BLOCK_SIZE - 1);
  DWORD low = context->byteCount[0] + length;
  if (low < context->byteCount[0]) context->byteCount[1]++;
  context->byteCount[0] = low;

  if (used) {
    DWORD room = SHA1_BLOCK_SIZE - used;
    if (length < room) {
      memcpy(context->block + used, data, length);
      return;
    }
    memcpy(context->block + used, data, room);
    Sha1Transform(context);
    data += room;
    length -= room;
  }
  // Whole blocks are compressed where they lie, without a copy into the block buffer.
  while (length >= SHA1_BLOCK_SIZE) {
    Sha1Compress(context->state, data);
    data += SHA1_BLOCK_SIZE;
    length -= SHA1_BLOCK_SIZE;
  }
  if (length) memcpy(context->block, data, length);
}

void Sha1Final(BYTE *digest, Sha1Context *context) {
  DWORD used = context->byteCount[0] & (SHA1_BLOCK_SIZE - 1);
  DWORD bitsHigh = (context->byteCount[1] << 3) | (context->byteCount[0] >> 29);
  DWORD bitsLow = context->byteCount[0] << 3;
  context->block[used++] = 0x80;
  if (used > SHA1_BLOCK_SIZE - 8) {
    memset(context->block + used, 0, SHA1_BLOCK_SIZE - used);
    Sha1Transform(context);
    used = 0;
  }
  memset(context->block + used, 0, SHA1_BLOCK_SIZE - 8 - used);
  for (int i = 0; i < 4; i++) {
    context->block[56 + i] = (BYTE)(bitsHigh >> (24 - 8 * i));
    context->block[60 + i] = (BYTE)(bitsLow >> (24 - 8 * i));
  }
  Sha1Transform(context);
  for (int i = 0; i < 5; i++) {
    digest[4 * i] = (BYTE)(context->state[i] >> 24);
    digest[4 * i + 1] = (BYTE)(context->state[i] >> 16);
    digest[4 * i + 2] = (BYTE)(context->state[i] >> 8);
    digest[4 * i + 3] = (BYTE)context->state[i];
  }
}

#undef X
