// SHA-1 (FIPS 180) over a caller-owned context: messages of any length given in pieces of any size.
#pragma once

#include "platform/platform.h"

const DWORD SHA1_BLOCK_SIZE = 64;
const DWORD SHA1_DIGEST_SIZE = 20;

struct Sha1Context {
  DWORD byteCount[2]; // message bytes so far, 64-bit, low word first
  DWORD state[5];     // H0 to H4
  BYTE block[SHA1_BLOCK_SIZE];
};

void Sha1Init(Sha1Context *context);
void Sha1Update(const BYTE *data, DWORD length, Sha1Context *context);
void Sha1Final(BYTE *digest, Sha1Context *context);
// Compresses the context's block buffer into its hash state.
void Sha1Transform(Sha1Context *context);
// Compresses one 64-byte block into a hash state; the building block of the above, also used where a
// caller lays out its own final block.
void Sha1Compress(DWORD *state, const BYTE *block);
