// AES block cipher, encryption direction only (counter mode never needs the inverse cipher), for 128-,
// 192- and 256-bit keys. Table-driven: four round tables fold SubBytes, ShiftRows and MixColumns into
// one look-up per state byte, four S-box tables serve the last round and the key expansion.
#pragma once

#include "platform/platform.h"

const DWORD AES_BLOCK_SIZE = 16;
const DWORD AES_MAX_SCHEDULE_WORDS = 64;
// Block state: the block length, with bit 0 set once an encryption key is in place.
const DWORD AES_KEY_SET = 1;

struct AesKeySchedule {
  DWORD roundKeys[AES_MAX_SCHEDULE_WORDS]; // 44, 52 or 60 words used
  DWORD roundCount;                        // 10, 12 or 14; 0 after a refused key
  DWORD blockState;                        // 17 with a key set, 16 after a refused key
};

// The constant tables, filled once by AesBuildTables (AesSetEncryptKey calls it on first use).
// Words are big-endian columns: the first state byte of a column in bits 24 to 31.
extern DWORD g_aesRoundTables[4][256];
extern DWORD g_aesSboxTables[4][256];

void AesBuildTables(void);
// Key length in bytes (16, 24, 32) or in bits (128, 192, 256); anything else is refused (result 0).
int AesSetEncryptKey(const BYTE *key, DWORD keyLength, AesKeySchedule *schedule);
// Returns 1, or 0 without touching the output when the schedule holds no key.
int AesEncryptBlock(const BYTE *input, BYTE *output, const AesKeySchedule *schedule);
