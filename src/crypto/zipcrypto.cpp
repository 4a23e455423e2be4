// The traditional PKWARE cipher (three 32-bit keys advanced by every plaintext byte) and the per-entry
// choice between it and AES. The byte inputs decrypt with DecryptByte and UpdateKeys; this file only
// prepares the keys and checks the password against the 12-byte encryption header.
#include "crypto/zipcrypto.h"

#include "crypto/aes_entry.h"
#include "decompress/decompress.h"
#include "extract/extract.h"

DWORD g_keys[3];
LONG g_decrypting;
LONG g_aesActive;

void UpdateKeys(BYTE plain) {
  g_keys[0] = (g_keys[0] >> 8) ^ g_crcTable[(g_keys[0] ^ plain) & 0xFF];
  g_keys[1] = (g_keys[1] + (g_keys[0] & 0xFF)) * 134775813u + 1;
  g_keys[2] = (g_keys[2] >> 8) ^ g_crcTable[(g_keys[2] ^ (g_keys[1] >> 24)) & 0xFF];
}

BYTE DecryptByte(void) {
  DWORD t = (g_keys[2] & 0xFFFF) | 2;
  return (BYTE)(((t * (t ^ 1)) >> 8) & 0xFF);
}

void InitKeys(const char *password) {
  g_keys[0] = 0x12345678u;
  g_keys[1] = 0x23456789u;
  g_keys[2] = 0x34567890u;
  for (const BYTE *p = (const BYTE *)password; *p; p++)
    UpdateKeys(*p);
}

DWORD SetupDecryption(const char *password, EntryHeader *entry) {
  g_aesActive = 0;
  if (!password) {
    g_decrypting = 0;
    return 1;
  }
  if (!password[0])
    return 0;
  g_decrypting = 1;
  long start = ftell(g_archiveFile);

  if (entry->aesStrength) {
    if (entry->compressedSize == 0) {
      entry->aesStrength = 0;
      return 1;
    }
    LONG length = AesEntryBegin(g_archiveFile, password, entry->compressedSize, entry->aesStrength);
    if (length == -1) {
      fseek(g_archiveFile, start, SEEK_SET);
      return 0;
    }
    g_aesActive = length;
    // With no encrypted data nothing is to be decrypted: bytes read past it belong to the code.
    if (length == 0)
      g_decrypting = 0;
    entry->compressedSize = (DWORD)length;
    return 1;
  }

  InitKeys(password);
  BYTE header[ENCRYPTION_HEADER_SIZE];
  DWORD result = 0;
  if (fread(header, 1, ENCRYPTION_HEADER_SIZE, g_archiveFile) == ENCRYPTION_HEADER_SIZE) {
    for (int i = 0; i < ENCRYPTION_HEADER_SIZE; i++) {
      BYTE plain = (BYTE)(header[i] ^ DecryptByte());
      UpdateKeys(plain);
      header[i] = plain;
    }
    // With a data descriptor the CRC is not known when the header is written: the time stands in.
    BYTE check = (g_centralHeader.flags & 8) ? (BYTE)((g_centralHeader.dosTimeDate >> 8) & 0xFF)
                                             : (BYTE)((g_centralHeader.crc32 >> 24) & 0xFF);
    if (header[ENCRYPTION_HEADER_SIZE - 1] == check) {
      result = 1;
    } else if (entry->crc32 != 0 && entry->compressedSize != 0) {
      fseek(g_archiveFile, start, SEEK_SET);
      return 0;
    } else {
      result = 1;
    }
  }
  entry->compressedSize =
      entry->compressedSize > ENCRYPTION_HEADER_SIZE ? entry->compressedSize - ENCRYPTION_HEADER_SIZE : 0;
  return result;
}
