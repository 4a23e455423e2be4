// AES encryption (FIPS-197) over constant tables computed once from the field arithmetic of GF(2^8):
// key expansion for Nk = 4, 6, 8 and the block encryption with its rounds unrolled. The tables are
// the only state; schedules belong to the caller.
#include "crypto/aes.h"

DWORD g_aesRoundTables[4][256];
DWORD g_aesSboxTables[4][256];
static LONG g_aesTablesBuilt;

static DWORD RotateRight(DWORD value, int bits) {
  return (value >> bits) | (value << (32 - bits));
}

static DWORD LoadBigEndian(const BYTE *p) {
  return ((DWORD)p[0] << 24) | ((DWORD)p[1] << 16) | ((DWORD)p[2] << 8) | (DWORD)p[3];
}

static void StoreBigEndian(BYTE *p, DWORD value) {
  p[0] = (BYTE)(value >> 24);
  p[1] = (BYTE)(value >> 16);
  p[2] = (BYTE)(value >> 8);
  p[3] = (BYTE)value;
}

void AesBuildTables(void) {
  // Powers and logarithms of the generator 3 give the multiplicative inverse without searching.
  BYTE power[256];
  BYTE logarithm[256];
  BYTE x = 1;
  for (int i = 0; i < 255; i++) {
    power[i] = x;
    logarithm[x] = (BYTE)i;
    x = (BYTE)(x ^ (x << 1) ^ ((x & 0x80) ? 0x1B : 0));
  }
  power[255] = power[0];
  logarithm[0] = 0;
  for (int i = 0; i < 256; i++) {
    BYTE inverse = i == 0 ? 0 : power[255 - logarithm[i]];
    // Affine transformation: b ^ rotl(b,1) ^ rotl(b,2) ^ rotl(b,3) ^ rotl(b,4) ^ 0x63.
    DWORD b = inverse;
    DWORD s = b ^ (b << 1) ^ (b << 2) ^ (b << 3) ^ (b << 4);
    s = (s ^ (s >> 8) ^ 0x63) & 0xFF;
    DWORD twice = ((s << 1) ^ ((s & 0x80) ? 0x1B : 0)) & 0xFF;
    DWORD thrice = twice ^ s;
    DWORD word = (twice << 24) | (s << 16) | (s << 8) | thrice;
    for (int t = 0; t < 4; t++) {
      g_aesRoundTables[t][i] = t ? RotateRight(word, 8 * t) : word;
      g_aesSboxTables[t][i] = s << (24 - 8 * t);
    }
  }
  g_aesTablesBuilt = 1;
}

// SubWord over the four bytes of w, each left in its byte position.
static DWORD SubWord(DWORD w) {
  return g_aesSboxTables[0][w >> 24] ^ g_aesSboxTables[1][(w >> 16) & 0xFF] ^
         g_aesSboxTables[2][(w >> 8) & 0xFF] ^ g_aesSboxTables[3][w & 0xFF];
}

int AesSetEncryptKey(const BYTE *key, DWORD keyLength, AesKeySchedule *schedule) {
  schedule->blockState = AES_BLOCK_SIZE;
  DWORD keyWords;
  switch (keyLength) {
  case 16: case 128: keyWords = 4; break;
  case 24: case 192: keyWords = 6; break;
  case 32: case 256: keyWords = 8; break;
  default:
    schedule->roundCount = 0;
    return 0;
  }
  if (!g_aesTablesBuilt) AesBuildTables();
  schedule->roundCount = keyWords + 6;
  schedule->blockState = AES_BLOCK_SIZE | AES_KEY_SET;

  DWORD *w = schedule->roundKeys;
  for (DWORD i = 0; i < keyWords; i++) w[i] = LoadBigEndian(key + 4 * i);
  DWORD total = 4 * (schedule->roundCount + 1);
  DWORD roundConstant = 0x01;
  for (DWORD i = keyWords; i < total; i++) {
    DWORD temp = w[i - 1];
    if (i % keyWords == 0) {
      temp = SubWord((temp << 8) | (temp >> 24)) ^ (roundConstant << 24);
      roundConstant = (roundConstant << 1) ^ ((roundConstant & 0x80) ? 0x1B : 0);
    } else if (keyWords == 8 && i % keyWords == 4) {
      temp = SubWord(temp);
    }
    w[i] = w[i - keyWords] ^ temp;
  }
  return 1;
}

// One full round from state a into state b with the round key k.
#define AES_ROUND(b0, b1, b2, b3, a0, a1, a2, a3, k)                                                   \
  do {                                                                                                 \
    b0 = T0[a0 >> 24] ^ T1[(a1 >> 16) & 0xFF] ^ T2[(a2 >> 8) & 0xFF] ^ T3[a3 & 0xFF] ^ (k)[0];          \
    b1 = T0[a1 >> 24] ^ T1[(a2 >> 16) & 0xFF] ^ T2[(a3 >> 8) & 0xFF] ^ T3[a0 & 0xFF] ^ (k)[1];          \
    b2 = T0[a2 >> 24] ^ T1[(a3 >> 16) & 0xFF] ^ T2[(a0 >> 8) & 0xFF] ^ T3[a1 & 0xFF] ^ (k)[2];          \
    b3 = T0[a3 >> 24] ^ T1[(a0 >> 16) & 0xFF] ^ T2[(a1 >> 8) & 0xFF] ^ T3[a2 & 0xFF] ^ (k)[3];          \
  } while (0)

#define AES_LAST(a0, a1, a2, a3, k)                                                                    \
  (S0[a0 >> 24] ^ S1[(a1 >> 16) & 0xFF] ^ S2[(a2 >> 8) & 0xFF] ^ S3[a3 & 0xFF] ^ (k))

int AesEncryptBlock(const BYTE *input, BYTE *output, const AesKeySchedule *schedule) {
  if (!(schedule->blockState & AES_KEY_SET)) return 0;
  const DWORD *T0 = g_aesRoundTables[0], *T1 = g_aesRoundTables[1];
  const DWORD *T2 = g_aesRoundTables[2], *T3 = g_aesRoundTables[3];
  const DWORD *S0 = g_aesSboxTables[0], *S1 = g_aesSboxTables[1];
  const DWORD *S2 = g_aesSboxTables[2], *S3 = g_aesSboxTables[3];
  const DWORD *k = schedule->roundKeys;
  DWORD s0 = LoadBigEndian(input) ^ k[0];
  DWORD s1 = LoadBigEndian(input + 4) ^ k[1];
  DWORD s2 = LoadBigEndian(input + 8) ^ k[2];
  DWORD s3 = LoadBigEndian(input + 12) ^ k[3];
  DWORD t0, t1, t2, t3;
  // The longer keys run their extra rounds first; from there on every key size shares the same ten
  // unrolled rounds, counted from k.
  if (schedule->roundCount >= 12) {
    if (schedule->roundCount == 14) {
      AES_ROUND(t0, t1, t2, t3, s0, s1, s2, s3, k + 4);
      AES_ROUND(s0, s1, s2, s3, t0, t1, t2, t3, k + 8);
      k += 8;
    }
    AES_ROUND(t0, t1, t2, t3, s0, s1, s2, s3, k + 4);
    AES_ROUND(s0, s1, s2, s3, t0, t1, t2, t3, k + 8);
    k += 8;
  }
  AES_ROUND(t0, t1, t2, t3, s0, s1, s2, s3, k + 4);
  AES_ROUND(s0, s1, s2, s3, t0, t1, t2, t3, k + 8);
  AES_ROUND(t0, t1, t2, t3, s0, s1, s2, s3, k + 12);
  AES_ROUND(s0, s1, s2, s3, t0, t1, t2, t3, k + 16);
  AES_ROUND(t0, t1, t2, t3, s0, s1, s2, s3, k + 20);
  AES_ROUND(s0, s1, s2, s3, t0, t1, t2, t3, k + 24);
  AES_ROUND(t0, t1, t2, t3, s0, s1, s2, s3, k + 28);
  AES_ROUND(s0, s1, s2, s3, t0, t1, t2, t3, k + 32);
  AES_ROUND(t0, t1, t2, t3, s0, s1, s2, s3, k + 36);
  StoreBigEndian(output, AES_LAST(t0, t1, t2, t3, k[40]));
  StoreBigEndian(output + 4, AES_LAST(t1, t2, t3, t0, k[41]));
  StoreBigEndian(output + 8, AES_LAST(t2, t3, t0, t1, k[42]));
  StoreBigEndian(output + 12, AES_LAST(t3, t0, t1, t2, k[43]));
  return 1;
}
