// HMAC with SHA-1 (RFC 2104, block size 64, digest size 20), the key given in any number of pieces
// before the data.
#pragma once

#include "crypto/sha1.h"

const DWORD HMAC_SHA1_BLOCK_SIZE = 64;
const DWORD HMAC_SHA1_SIZE = 20;
// Key length value once data input has begun.
const DWORD HMAC_DATA_PHASE = 0xFFFFFFFF;

struct HmacSha1Context {
  BYTE keyBlock[HMAC_SHA1_BLOCK_SIZE]; // the key, zero-padded; then the key XOR the inner pad
  Sha1Context hash;
  DWORD keyLength; // key bytes so far, or HMAC_DATA_PHASE
};

void HmacSha1Reset(HmacSha1Context *context);
// 0, or -1 (nothing changed) once data input has begun.
int HmacSha1AddKey(const BYTE *key, DWORD length, HmacSha1Context *context);
void HmacSha1AddData(const BYTE *data, DWORD length, HmacSha1Context *context);
// Writes the first macLength (at most 20) bytes of the HMAC value.
void HmacSha1Finish(BYTE *mac, DWORD macLength, HmacSha1Context *context);
