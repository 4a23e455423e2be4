// HMAC-SHA1: key input in pieces (a key longer than the block is hashed on the fly), the inner hash
// over the data, and the outer hash at the finish. Contexts belong to the caller and may be copied
// to reuse a prepared key.
#include "crypto/hmac_sha1.h"

void HmacSha1Reset(HmacSha1Context *context) {
  memset(context, 0, sizeof *context);
}

int HmacSha1AddKey(const BYTE *key, DWORD length, HmacSha1Context *context) {
  DWORD sofar = context->keyLength;
  if (sofar == HMAC_DATA_PHASE) return -1;
  if (sofar <= HMAC_SHA1_BLOCK_SIZE && length <= HMAC_SHA1_BLOCK_SIZE - sofar) {
    if (length) memcpy(context->keyBlock + sofar, key, length);
  } else {
    // The key outgrows the block: from now on it is hashed, starting with what the block holds.
    if (sofar <= HMAC_SHA1_BLOCK_SIZE) {
      Sha1Init(&context->hash);
      Sha1Update(context->keyBlock, sofar, &context->hash);
    }
    Sha1Update(key, length, &context->hash);
  }
  context->keyLength = sofar + length;
  return 0;
}

// Ends key input: the key (hashed when longer than a block) becomes the inner pad block, and the
// inner hash starts over it.
static void StartData(HmacSha1Context *context) {
  DWORD length = context->keyLength;
  if (length > HMAC_SHA1_BLOCK_SIZE) {
    Sha1Final(context->keyBlock, &context->hash);
    length = HMAC_SHA1_SIZE;
  }
  memset(context->keyBlock + length, 0, HMAC_SHA1_BLOCK_SIZE - length);
  for (DWORD i = 0; i < HMAC_SHA1_BLOCK_SIZE; i++) context->keyBlock[i] ^= 0x36;
  Sha1Init(&context->hash);
  Sha1Update(context->keyBlock, HMAC_SHA1_BLOCK_SIZE, &context->hash);
  context->keyLength = HMAC_DATA_PHASE;
}

void HmacSha1AddData(const BYTE *data, DWORD length, HmacSha1Context *context) {
  if (context->keyLength != HMAC_DATA_PHASE) StartData(context);
  if (length) Sha1Update(data, length, &context->hash);
}

void HmacSha1Finish(BYTE *mac, DWORD macLength, HmacSha1Context *context) {
  if (context->keyLength != HMAC_DATA_PHASE) StartData(context);
  BYTE inner[HMAC_SHA1_SIZE];
  BYTE value[HMAC_SHA1_SIZE];
  Sha1Final(inner, &context->hash);
  // 0x36 ^ 0x6A = 0x5C: the inner pad becomes the outer pad in one pass.
  for (DWORD i = 0; i < HMAC_SHA1_BLOCK_SIZE; i++) context->keyBlock[i] ^= 0x6A;
  Sha1Init(&context->hash);
  Sha1Update(context->keyBlock, HMAC_SHA1_BLOCK_SIZE, &context->hash);
  Sha1Update(inner, HMAC_SHA1_SIZE, &context->hash);
  Sha1Final(value, &context->hash);
  if (macLength > HMAC_SHA1_SIZE) macLength = HMAC_SHA1_SIZE;
  memcpy(mac, value, macLength);
}
