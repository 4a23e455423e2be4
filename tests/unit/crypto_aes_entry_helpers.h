// Helpers shared by the AES entry tests: one entry run through begin, decrypt and authenticate, the
// derived bytes computed with PBKDF2 directly, and AES entries built from the verified primitives with a
// counter-mode loop of their own.
#pragma once

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "crypto/aes_entry.h"
#include "crypto/pbkdf2.h"
#include "test_support.h"

namespace aestest {

using sfxtest::Bytes;

inline const char *const kPassword = "SECRET";

inline DWORD SaltLength(int strength) { return 4 * strength + 4; }

// ---------------------------------------------------------------- decrypting one entry

struct Result {
  LONG begin = 0;
  long afterBegin = 0;
  Bytes plain;
  LONG auth = -1;
  long afterAuth = 0;
  Bytes code; // the computed authentication code
};

// Runs one entry through begin, decrypt (in pieces of `piece` bytes, 0 = one call) and authenticate.
inline Result DecryptEntry(const std::string &path, long dataStart, DWORD storedSize, int strength,
                    const std::string &password, size_t piece = 0) {
  Result r;
  FILE *f = fopen(path.c_str(), "rb");
  EXPECT_NE(nullptr, f);
  if (!f) return r;
  fseek(f, dataStart, SEEK_SET);
  r.begin = AesEntryBegin(f, password.c_str(), storedSize, (DWORD)strength);
  r.afterBegin = ftell(f);
  if (r.begin >= 0) {
    r.plain.resize(r.begin);
    EXPECT_EQ((size_t)r.begin, fread(r.plain.data(), 1, r.begin, f));
    if (piece == 0) {
      if (!r.plain.empty()) AesEntryDecrypt(r.plain.data(), (DWORD)r.plain.size());
    } else {
      for (size_t at = 0; at < r.plain.size(); at += piece)
        AesEntryDecrypt(r.plain.data() + at, (DWORD)std::min(piece, r.plain.size() - at));
    }
    r.auth = AesEntryAuthenticate(f, (DWORD)(dataStart + storedSize));
    r.afterAuth = ftell(f);
    r.code.assign(g_aesComputedBytes, g_aesComputedBytes + AES_MAC_LENGTH);
  }
  fclose(f);
  return r;
}

// The verification value that the password derives with this salt, computed with PBKDF2 directly.
inline Bytes DerivedBytes(const std::string &password, const Bytes &salt, int strength) {
  Bytes derived(16 * strength + 18);
  Pbkdf2HmacSha1((const BYTE *)password.data(), (DWORD)password.size(), salt.data(), (DWORD)salt.size(), 1000,
                 derived.data(), (DWORD)derived.size());
  return derived;
}

// ---------------------------------------------------------------- entries built here

// Salt, verification value, ciphertext and code of an AES entry, with a counter-mode loop of its own.
inline Bytes BuildEntryData(const std::string &password, int strength, const Bytes &plain, BYTE saltSeed = 0x51) {
  const DWORD keyLength = 8 * strength + 8;
  Bytes salt(SaltLength(strength));
  for (size_t i = 0; i < salt.size(); i++) salt[i] = (BYTE)(saltSeed + 13 * i);
  const Bytes derived = DerivedBytes(password, salt, strength);
  AesKeySchedule schedule;
  EXPECT_EQ(1, AesSetEncryptKey(derived.data(), keyLength, &schedule));
  Bytes cipher = plain;
  for (uint64_t block = 0; 16 * block < cipher.size(); block++) {
    BYTE counter[16] = {}, stream[16];
    for (int i = 0; i < 8; i++) counter[i] = (BYTE)((block + 1) >> (8 * i));
    AesEncryptBlock(counter, stream, &schedule);
    for (size_t i = 0; i < 16 && 16 * block + i < cipher.size(); i++) cipher[16 * block + i] ^= stream[i];
  }
  HmacSha1Context mac;
  HmacSha1Reset(&mac);
  HmacSha1AddKey(derived.data() + keyLength, keyLength, &mac);
  HmacSha1AddData(cipher.data(), (DWORD)cipher.size(), &mac);
  BYTE code[20];
  HmacSha1Finish(code, AES_MAC_LENGTH, &mac);
  Bytes out = salt;
  out.insert(out.end(), derived.begin() + 2 * keyLength, derived.end());
  out.insert(out.end(), cipher.begin(), cipher.end());
  out.insert(out.end(), code, code + AES_MAC_LENGTH);
  return out;
}

inline Bytes Random(size_t n, uint32_t seed) {
  Bytes out(n);
  for (auto &b : out) {
    seed = seed * 1103515245u + 12345u;
    b = (BYTE)(seed >> 16);
  }
  return out;
}

} // namespace aestest
