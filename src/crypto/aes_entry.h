// AES-encrypted archive entries (WinZip's AE-1 and AE-2 layout): salt and password verification value
// in front of the data, AES in counter mode over the data, and a 10-byte HMAC-SHA1 code behind it.
// One entry is in progress at a time, on the extraction worker thread.
#pragma once

#include "crypto/aes.h"
#include "crypto/decryption.h"
#include "crypto/hmac_sha1.h"

const DWORD AES_KEY_ITERATIONS = 1000;
const DWORD AES_MAX_PASSWORD_LENGTH = 128;
const DWORD AES_VERIFIER_LENGTH = 2;
const DWORD AES_MAC_LENGTH = 10;
const LONG AES_AUTH_PENDING = 0x8000;
const LONG AES_AUTH_MISMATCH = 7;
const int AES_ERR_PASSWORD_TOO_LONG = -100;
const int AES_ERR_BAD_STRENGTH = -101;

struct AesEntryContext {
  BYTE counter[16];   // bytes 0 to 7: little-endian block counter; 8 to 15 stay zero
  BYTE keystream[16]; // the encrypted counter block
  AesKeySchedule cipher;
  HmacSha1Context mac; // over the ciphertext
  DWORD keystreamPos;  // bytes of keystream used; 16 when used up
  DWORD passwordLength;
  DWORD strength; // 1, 2 or 3
};

extern BYTE g_aesStrength;
extern AesEntryContext g_aesContext;
extern BYTE g_aesSalt[16];
// AES_AUTH_PENDING from AesEntryBegin until the code is checked, then 0 or AES_AUTH_MISMATCH.
extern LONG g_aesAuthState;
extern BYTE g_aesStoredBytes[16];
extern BYTE g_aesComputedBytes[16];

// Reads salt and verification value at the stream's position and derives the keys. Returns the length
// of the encrypted data, or -1 when the password is refused (the caller restores the stream).
LONG AesEntryBegin(FILE *stream, const char *password, DWORD storedSize, DWORD strength);
// Compares the code stored just before dataEnd (the absolute offset past the entry's stored data) with
// the one computed over the ciphertext: 0 when equal, else AES_AUTH_MISMATCH. Checks only once per entry.
LONG AesEntryAuthenticate(FILE *stream, DWORD dataEnd);

// 0, AES_ERR_PASSWORD_TOO_LONG or AES_ERR_BAD_STRENGTH; writes the 2 derived verification bytes.
int AesContextInit(DWORD strength, const BYTE *password, DWORD passwordLength, const BYTE *salt,
                   BYTE *verifier, AesEntryContext *context);
void AesCtrXor(BYTE *data, DWORD count, AesEntryContext *context);
// Authenticates the bytes as they are (ciphertext), then decrypts them in place.
void AesContextDecrypt(BYTE *data, DWORD count, AesEntryContext *context);
// Writes the 10-byte authentication code and returns its length.
DWORD AesContextFinish(BYTE *code, AesEntryContext *context);
