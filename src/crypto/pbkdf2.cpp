// PBKDF2-HMAC-SHA1 over prepared contexts: the password is keyed once, the salt hashed once, and the
// inner and outer pad blocks compressed once, so that each further iteration costs exactly two SHA-1
// compressions (inner and outer hash of a 20-byte message, each one padded block).
#include "crypto/pbkdf2.h"

#include "crypto/hmac_sha1.h"

// One padded block holding a 20-byte message that follows an already hashed 64-byte pad block.
static void HashPaddedDigest(const DWORD *startState, const BYTE *message, BYTE *digest) {
  BYTE block[SHA1_BLOCK_SIZE];
  DWORD state[5];
  memcpy(block, message, HMAC_SHA1_SIZE);
  block[HMAC_SHA1_SIZE] = 0x80;
  memset(block + HMAC_SHA1_SIZE + 1, 0, SHA1_BLOCK_SIZE - HMAC_SHA1_SIZE - 1);
  // Message length (64 + 20) × 8 = 672 bits, big-endian in the last 8 bytes.
  block[62] = 0x02;
  block[63] = 0xA0;
  memcpy(state, startState, sizeof state);
  Sha1Compress(state, block);
  for (int i = 0; i < 5; i++) {
    digest[4 * i] = (BYTE)(state[i] >> 24);
    digest[4 * i + 1] = (BYTE)(state[i] >> 16);
    digest[4 * i + 2] = (BYTE)(state[i] >> 8);
    digest[4 * i + 3] = (BYTE)state[i];
  }
}

void Pbkdf2HmacSha1(const BYTE *password, DWORD passwordLength, const BYTE *salt, DWORD saltLength,
                    DWORD iterations, BYTE *output, DWORD outputLength) {
  // P: the password as key, its inner pad already hashed.
  HmacSha1Context keyed;
  HmacSha1Reset(&keyed);
  HmacSha1AddKey(password, passwordLength, &keyed);
  HmacSha1AddData(password, 0, &keyed);
  // The outer pad, hashed once.
  Sha1Context outer;
  BYTE outerPad[HMAC_SHA1_BLOCK_SIZE];
  for (DWORD i = 0; i < HMAC_SHA1_BLOCK_SIZE; i++) outerPad[i] = (BYTE)(keyed.keyBlock[i] ^ 0x6A);
  Sha1Init(&outer);
  Sha1Update(outerPad, HMAC_SHA1_BLOCK_SIZE, &outer);
  // S: P with the salt.
  HmacSha1Context salted = keyed;
  HmacSha1AddData(salt, saltLength, &salted);

  DWORD blocks = 1 + (outputLength - 1) / HMAC_SHA1_SIZE;
  for (DWORD index = 1; index <= blocks && outputLength; index++) {
    BYTE u[HMAC_SHA1_SIZE];
    BYTE inner[HMAC_SHA1_SIZE];
    BYTE t[HMAC_SHA1_SIZE];
    BYTE counter[4] = {(BYTE)(index >> 24), (BYTE)(index >> 16), (BYTE)(index >> 8), (BYTE)index};
    HmacSha1Context first = salted;
    HmacSha1AddData(counter, 4, &first);
    HmacSha1Finish(u, HMAC_SHA1_SIZE, &first);
    memcpy(t, u, HMAC_SHA1_SIZE);
    for (DWORD n = 1; n < iterations; n++) {
      HashPaddedDigest(keyed.hash.state, u, inner);
      HashPaddedDigest(outer.state, inner, u);
      for (DWORD i = 0; i < HMAC_SHA1_SIZE; i++) t[i] ^= u[i];
    }
    DWORD offset = HMAC_SHA1_SIZE * (index - 1);
    DWORD take = outputLength - offset < HMAC_SHA1_SIZE ? outputLength - offset : HMAC_SHA1_SIZE;
    memcpy(output + offset, t, take);
  }
}
