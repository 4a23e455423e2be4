// AES entry decryption: the framing of an AE-1/AE-2 entry (salt, verification value, data, code), the
// key derivation per password tried, counter-mode decryption of the data as the byte inputs read it,
// and the check of the authentication code that replaces the CRC-32 for such entries.
#include "crypto/aes_entry.h"

#include "crypto/pbkdf2.h"

BYTE g_aesStrength;
AesEntryContext g_aesContext;
BYTE g_aesSalt[16];
LONG g_aesAuthState;
BYTE g_aesStoredBytes[16];
BYTE g_aesComputedBytes[16];

// Encrypted bytes of the current entry not yet taken in: bytes the Inflate input reads beyond the data
// belong to the stored code and must stay out of both the plaintext and the code.
static DWORD g_aesRemaining;
// Set when the stored size cannot even hold salt, verification value and code: such an entry never
// authenticates.
static LONG g_aesFramingShort;

// Ciphertext bytes that came one at a time and are not yet in the code: hashing them a block at a time
// keeps the per-byte path of Inflate's bit input to a copy and an XOR.
static BYTE g_aesPending[SHA1_BLOCK_SIZE];
static DWORD g_aesPendingCount;

static DWORD SaltLength(DWORD strength) {
  return 4 * (strength % 4) + 4;
}

int AesContextInit(DWORD strength, const BYTE *password, DWORD passwordLength, const BYTE *salt,
                   BYTE *verifier, AesEntryContext *context) {
  if (passwordLength > AES_MAX_PASSWORD_LENGTH) return AES_ERR_PASSWORD_TOO_LONG;
  if (strength < 1 || strength > 3) return AES_ERR_BAD_STRENGTH;
  context->strength = strength;
  context->passwordLength = passwordLength;

  DWORD keyLength = 8 * strength + 8;
  BYTE derived[2 * 32 + AES_VERIFIER_LENGTH];
  Pbkdf2HmacSha1(password, passwordLength, salt, 4 * strength + 4, AES_KEY_ITERATIONS, derived,
                 2 * keyLength + AES_VERIFIER_LENGTH);
  context->keystreamPos = AES_BLOCK_SIZE;
  memset(context->counter, 0, sizeof context->counter);
  AesSetEncryptKey(derived, keyLength, &context->cipher);
  HmacSha1Reset(&context->mac);
  HmacSha1AddKey(derived + keyLength, keyLength, &context->mac);
  memcpy(verifier, derived + 2 * keyLength, AES_VERIFIER_LENGTH);
  // The derived keys do not outlive the context that holds them in expanded form.
  memset(derived, 0, sizeof derived);
  return 0;
}

// Counter value + 1, little-endian over bytes 0 to 7.
static void NextCounterBlock(AesEntryContext *context) {
  for (int i = 0; i < 8; i++)
    if (++context->counter[i]) break;
  AesEncryptBlock(context->counter, context->keystream, &context->cipher);
}

void AesCtrXor(BYTE *data, DWORD count, AesEntryContext *context) {
  // Finish a block that an earlier call left partly used.
  while (count && context->keystreamPos < AES_BLOCK_SIZE) {
    *data++ ^= context->keystream[context->keystreamPos++];
    count--;
  }
  // Whole blocks a word at a time.
  while (count >= AES_BLOCK_SIZE) {
    NextCounterBlock(context);
    DWORD words[4], key[4];
    memcpy(words, data, AES_BLOCK_SIZE);
    memcpy(key, context->keystream, AES_BLOCK_SIZE);
    words[0] ^= key[0];
    words[1] ^= key[1];
    words[2] ^= key[2];
    words[3] ^= key[3];
    memcpy(data, words, AES_BLOCK_SIZE);
    data += AES_BLOCK_SIZE;
    count -= AES_BLOCK_SIZE;
  }
  if (count) {
    NextCounterBlock(context);
    context->keystreamPos = 0;
    while (count--) *data++ ^= context->keystream[context->keystreamPos++];
  }
}

void AesContextDecrypt(BYTE *data, DWORD count, AesEntryContext *context) {
  // Pieces small enough to stay in the first-level cache between hashing and decrypting.
  const DWORD PIECE = 4096;
  while (count) {
    DWORD n = count < PIECE ? count : PIECE;
    HmacSha1AddData(data, n, &context->mac);
    AesCtrXor(data, n, context);
    data += n;
    count -= n;
  }
}

DWORD AesContextFinish(BYTE *code, AesEntryContext *context) {
  HmacSha1Finish(code, AES_MAC_LENGTH, &context->mac);
  return AES_MAC_LENGTH;
}

LONG AesEntryBegin(FILE *stream, const char *password, DWORD storedSize, DWORD strength) {
  g_aesStrength = (BYTE)strength;
  g_aesAuthState = AES_AUTH_PENDING;
  g_aesRemaining = 0;
  g_aesPendingCount = 0;
  g_aesFramingShort = 0;
  DWORD saltLength = SaltLength(strength);
  // A short read (the archive ends inside the framing) refuses, as a wrong password would be.
  if (fread(g_aesSalt, 1, saltLength, stream) != saltLength) return -1;
  if (AesContextInit(g_aesStrength, (const BYTE *)password, (DWORD)strlen(password), g_aesSalt,
                     g_aesComputedBytes, &g_aesContext))
    return -1;
  if (fread(g_aesStoredBytes, 1, AES_VERIFIER_LENGTH, stream) != AES_VERIFIER_LENGTH) return -1;
  if (memcmp(g_aesStoredBytes, g_aesComputedBytes, AES_VERIFIER_LENGTH)) return -1;
  DWORD framing = saltLength + AES_VERIFIER_LENGTH + AES_MAC_LENGTH;
  if (storedSize < framing) {
    // No room for the code: nothing is decrypted and the entry fails its check.
    g_aesFramingShort = 1;
    return 0;
  }
  g_aesRemaining = storedSize - framing;
  return (LONG)g_aesRemaining;
}

static void FlushPending(void) {
  if (!g_aesPendingCount) return;
  HmacSha1AddData(g_aesPending, g_aesPendingCount, &g_aesContext.mac);
  g_aesPendingCount = 0;
}

void AesEntryDecrypt(BYTE *data, DWORD count) {
  if (count > g_aesRemaining) count = g_aesRemaining;
  if (!count) return;
  g_aesRemaining -= count;
  if (count == 1) {
    g_aesPending[g_aesPendingCount++] = *data;
    if (g_aesPendingCount == SHA1_BLOCK_SIZE) FlushPending();
    if (g_aesContext.keystreamPos < AES_BLOCK_SIZE) {
      *data ^= g_aesContext.keystream[g_aesContext.keystreamPos++];
    } else {
      AesCtrXor(data, 1, &g_aesContext);
    }
    return;
  }
  FlushPending();
  AesContextDecrypt(data, count, &g_aesContext);
}

LONG AesEntryAuthenticate(FILE *stream, DWORD dataEnd) {
  if (g_aesAuthState != AES_AUTH_PENDING) return g_aesAuthState;
  FlushPending();
  AesContextFinish(g_aesComputedBytes, &g_aesContext);
  g_aesAuthState = AES_AUTH_MISMATCH;
  if (g_aesFramingShort || dataEnd < AES_MAC_LENGTH) return g_aesAuthState;
  if (fseek(stream, (long)(dataEnd - AES_MAC_LENGTH), SEEK_SET)) return g_aesAuthState;
  if (fread(g_aesStoredBytes, 1, AES_MAC_LENGTH, stream) != AES_MAC_LENGTH) return g_aesAuthState;
  if (!memcmp(g_aesStoredBytes, g_aesComputedBytes, AES_MAC_LENGTH)) g_aesAuthState = 0;
  return g_aesAuthState;
}
