// CRC-32 of ZIP archives (IEEE 802.3, reflected polynomial 0xEDB88320): the table, built once per run by
// the worker and shared with the traditional cipher, and the running update that the output sink and the
// archive check feed block by block.
#include "decompress/decompress.h"

DWORD g_crcTable[256];

void BuildCrcTable(void) {
  for (DWORD i = 0; i < 256; i++) {
    DWORD value = i;
    for (int bit = 0; bit < 8; bit++) {
      if (value & 1)
        value = (value >> 1) ^ 0xEDB88320u;
      else
        value >>= 1;
    }
    g_crcTable[i] = value;
  }
}

// Takes and returns the finished CRC (inverted register), so that calls chain from 0 block by block.
DWORD UpdateCrc32(DWORD crc, const BYTE *data, DWORD length) {
  DWORD r = ~crc;
  for (DWORD i = 0; i < length; i++)
    r = (r >> 8) ^ g_crcTable[(r ^ data[i]) & 0xFF];
  return ~r;
}
