// The byte input and the legacy bit input. Entry data is read from the archive stream at its current
// position (the worker seeks there) and decrypted in place by the cipher the decryption set-up chose.
// The bit input hands out bits least significant first, up to 16 per call, for shrink, reduce and
// implode. It is not bounded by the entry's compressed size: a corrupt entry may read on into the next
// headers, and only the end of the stream sets g_inputExhausted, after which every bit reads as 0.
#include "crypto/decryption.h"
#include "decompress/decompress.h"
#include "extract/extract.h"

DWORD g_bitBuffer;
LONG g_bitCount;
LONG g_inputExhausted;

LONG ReadEntryBytes(BYTE *buffer, DWORD count) {
  LONG n = (LONG)fread(buffer, 1, count, g_archiveFile);
  if (!g_decrypting)
    return n;
  if (g_aesActive) {
    AesEntryDecrypt(buffer, (DWORD)n);
  } else {
    for (LONG i = 0; i < n; i++) {
      BYTE plain = (BYTE)(buffer[i] ^ DecryptByte());
      buffer[i] = plain;
      UpdateKeys(plain);
    }
  }
  return n;
}

void ResetBitInput(void) {
  g_bitBuffer = 0;
  g_bitCount = 0;
  g_inputExhausted = 0;
}

// Adds 0, 8 or 16 bits. Once the input ran dry g_bitCount may be negative; nothing more is read then
// (a byte shifted by a negative count would be meaningless), so the missing bits stay 0.
static void RefillBits(void) {
  BYTE byte;
  if (g_inputExhausted)
    return;
  if (ReadEntryBytes(&byte, 1) != 1) {
    g_inputExhausted = 1;
    return;
  }
  g_bitBuffer |= (DWORD)byte << g_bitCount;
  g_bitCount += 8;
  if (ReadEntryBytes(&byte, 1) == 1) {
    g_bitBuffer |= (DWORD)byte << g_bitCount;
    g_bitCount += 8;
  }
}

DWORD ReadBits(int n) {
  if (n > g_bitCount)
    RefillBits();
  DWORD value = g_bitBuffer & ((1u << n) - 1);
  g_bitBuffer >>= n;
  // Past the end the count keeps falling so that every later call tries again; it stops well before
  // the signed range would wrap.
  if (g_bitCount > -0x10000000)
    g_bitCount -= n;
  return value;
}
