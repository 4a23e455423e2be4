// AES entries as a peer writes them: 7zz's AES-128/192/256 entries (stored and deflated) decrypted and
// authenticated through the entry-level routines, right and wrong passwords, tampered codes and data,
// and the framing corners (no encrypted data, short framing, password length limit) on entries built
// here from the verified primitives with an independent counter-mode loop.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "crypto/aes_entry.h"
#include "crypto/pbkdf2.h"
#include "test_support.h"

namespace {

using sfxtest::Bytes;

const char *const kPassword = "SECRET";

// ---------------------------------------------------------------- local headers of a peer's archive

struct LocalEntry {
  std::string name;
  uint16_t flags = 0, method = 0;
  uint32_t crc32 = 0, storedSize = 0, size = 0;
  uint16_t vendorVersion = 0; // 1 = AE-1, 2 = AE-2; 0 without an AES extra field
  uint8_t strength = 0;
  uint16_t realMethod = 0;
  long dataStart = 0;
};

uint32_t Le(const Bytes &b, size_t at, int n) {
  uint32_t v = 0;
  for (int i = n - 1; i >= 0; i--) v = (v << 8) | b.at(at + i);
  return v;
}

// Walks the local headers from offset 0 (the peer writes sizes in them: no data descriptors).
std::map<std::string, LocalEntry> ParseLocalEntries(const Bytes &zip) {
  std::map<std::string, LocalEntry> out;
  size_t at = 0;
  while (at + 30 <= zip.size() && zip[at] == 'P' && zip[at + 1] == 'K' && zip[at + 2] == 3 && zip[at + 3] == 4) {
    LocalEntry e;
    e.flags = (uint16_t)Le(zip, at + 6, 2);
    e.method = (uint16_t)Le(zip, at + 8, 2);
    e.crc32 = Le(zip, at + 14, 4);
    e.storedSize = Le(zip, at + 18, 4);
    e.size = Le(zip, at + 22, 4);
    const size_t nameLength = Le(zip, at + 26, 2), extraLength = Le(zip, at + 28, 2);
    e.name.assign(zip.begin() + at + 30, zip.begin() + at + 30 + nameLength);
    for (size_t x = at + 30 + nameLength; x + 4 <= at + 30 + nameLength + extraLength;) {
      const uint32_t id = Le(zip, x, 2), length = Le(zip, x + 2, 2);
      if (id == 0x9901 && length >= 7) {
        e.vendorVersion = (uint16_t)Le(zip, x + 4, 2);
        e.strength = zip.at(x + 8);
        e.realMethod = (uint16_t)Le(zip, x + 9, 2);
      }
      x += 4 + length;
    }
    e.dataStart = (long)(at + 30 + nameLength + extraLength);
    out[e.name] = e;
    at = e.dataStart + e.storedSize;
  }
  return out;
}

DWORD SaltLength(int strength) { return 4 * strength + 4; }

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
Result DecryptEntry(const std::string &path, long dataStart, DWORD storedSize, int strength,
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
Bytes DerivedBytes(const std::string &password, const Bytes &salt, int strength) {
  Bytes derived(16 * strength + 18);
  Pbkdf2HmacSha1((const BYTE *)password.data(), (DWORD)password.size(), salt.data(), (DWORD)salt.size(), 1000,
                 derived.data(), (DWORD)derived.size());
  return derived;
}

// ---------------------------------------------------------------- entries built here

// Salt, verification value, ciphertext and code of an AES entry, with a counter-mode loop of its own.
Bytes BuildEntryData(const std::string &password, int strength, const Bytes &plain, BYTE saltSeed = 0x51) {
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

Bytes Random(size_t n, uint32_t seed) {
  Bytes out(n);
  for (auto &b : out) {
    seed = seed * 1103515245u + 12345u;
    b = (BYTE)(seed >> 16);
  }
  return out;
}

Bytes Words(size_t n) {
  static const char *const words[] = {"alpha ", "beta ", "gamma ", "delta\n", "epsilon ", "zeta ", "eta, "};
  std::string text;
  uint32_t seed = 7;
  while (text.size() < n) {
    seed = seed * 1103515245u + 12345u;
    text += words[(seed >> 16) % 7];
  }
  text.resize(n);
  return Bytes(text.begin(), text.end());
}

// ---------------------------------------------------------------- 7zz's archives, made once

struct Archive {
  int strength;
  std::string method; // "Copy" or "Deflate"
  std::string path;
  std::map<std::string, LocalEntry> entries;
};

class AesEntryTest : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    if (!sfxtest::HaveTool("7zz")) return;
    dir_ = new sfxtest::TempDir();
    originals_ = new std::map<std::string, Bytes>{
        {"odd.bin", Random(70003, 1)},  // not a multiple of 16, past 256 blocks
        {"big.bin", Random(1100000, 2)}, // past 65536 blocks: the counter carries into its third byte
        {"empty.bin", Bytes()},
        {"text.txt", Words(300000)},
    };
    for (const auto &[name, data] : *originals_) sfxtest::WriteFile(dir_->file(name), data);
    archives_ = new std::vector<Archive>;
    for (int strength = 1; strength <= 3; strength++) {
      for (const char *method : {"Copy", "Deflate"}) {
        Archive a{strength, method, dir_->file("aes" + std::to_string(strength) + method + ".zip"), {}};
        const std::string command = "cd '" + dir_->path() + "' && 7zz a -tzip -mem=AES" +
                                    std::to_string(64 + 64 * strength) + " -p" + kPassword + " -mm=" + method +
                                    " '" + a.path + "' odd.bin big.bin empty.bin text.txt > /dev/null";
        ASSERT_EQ(0, sfxtest::Run(command)) << command;
        a.entries = ParseLocalEntries(sfxtest::ReadFile(a.path));
        ASSERT_EQ(4u, a.entries.size()) << a.path;
        archives_->push_back(a);
      }
    }
  }
  static void TearDownTestSuite() {
    delete archives_;
    delete originals_;
    delete dir_;
    archives_ = nullptr;
    originals_ = nullptr;
    dir_ = nullptr;
  }
  void SetUp() override {
    if (!archives_) GTEST_SKIP() << "7zz is not installed";
  }

  static sfxtest::TempDir *dir_;
  static std::map<std::string, Bytes> *originals_;
  static std::vector<Archive> *archives_;
};

sfxtest::TempDir *AesEntryTest::dir_;
std::map<std::string, Bytes> *AesEntryTest::originals_;
std::vector<Archive> *AesEntryTest::archives_;

TEST_F(AesEntryTest, PeerEntriesCarryTheExpectedFraming) {
  for (const Archive &a : *archives_) {
    for (const auto &[name, e] : a.entries) {
      SCOPED_TRACE(a.path + " " + name);
      EXPECT_EQ(99, e.method);
      EXPECT_EQ(a.strength, e.strength);
      EXPECT_EQ(1, e.flags & 1);
      // 7zz writes AE-2 (no CRC-32, the code alone vouches for the data); AE-1 is handled alike.
      EXPECT_TRUE(e.vendorVersion == 1 || e.vendorVersion == 2);
      if (e.vendorVersion == 2) {
        EXPECT_EQ(0u, e.crc32);
      }
      EXPECT_GE(e.storedSize, SaltLength(a.strength) + 12);
    }
  }
}

TEST_F(AesEntryTest, RightPasswordDecryptsStoredEntriesByteForByte) {
  for (const Archive &a : *archives_) {
    for (const auto &[name, e] : a.entries) {
      if (e.realMethod != 0) continue;
      SCOPED_TRACE(a.path + " " + name);
      const Result r = DecryptEntry(a.path, e.dataStart, e.storedSize, a.strength, kPassword);
      // Salt of 8, 12 or 16 bytes and the 2-byte verification value have been read.
      EXPECT_EQ(e.dataStart + (long)SaltLength(a.strength) + 2, r.afterBegin);
      ASSERT_EQ((LONG)(e.storedSize - SaltLength(a.strength) - 12), r.begin);
      EXPECT_TRUE(r.plain == originals_->at(name)) << "plaintext differs";
      EXPECT_EQ(0, r.auth);
      EXPECT_EQ(0, g_aesAuthState);
      EXPECT_EQ(e.dataStart + (long)e.storedSize, r.afterAuth);
    }
  }
}

// Inflates a raw deflate stream with Python's zlib, as a black box.
Bytes InflateWithPython(const sfxtest::TempDir &dir, const Bytes &stream) {
  sfxtest::WriteFile(dir.file("stream.deflate"), stream);
  const std::string command = "python3 -c \"import sys,zlib; sys.stdout.buffer.write(zlib.decompress("
                              "open(sys.argv[1],'rb').read(), -15))\" '" +
                              dir.file("stream.deflate") + "' > '" + dir.file("stream.out") + "'";
  EXPECT_EQ(0, sfxtest::Run(command));
  return sfxtest::ReadFile(dir.file("stream.out"));
}

TEST_F(AesEntryTest, DeflatedEntriesDecryptToTheirDeflateStream) {
  if (!sfxtest::HaveTool("python3")) GTEST_SKIP() << "python3 is not installed";
  sfxtest::TempDir scratch;
  int deflated = 0;
  for (const Archive &a : *archives_) {
    if (a.method != "Deflate") continue;
    const LocalEntry &e = a.entries.at("text.txt");
    SCOPED_TRACE(a.path);
    ASSERT_EQ(8, e.realMethod);
    deflated++;
    const Result r = DecryptEntry(a.path, e.dataStart, e.storedSize, a.strength, kPassword, 1);
    EXPECT_EQ(0, r.auth);
    EXPECT_TRUE(InflateWithPython(scratch, r.plain) == originals_->at("text.txt"));
  }
  EXPECT_EQ(3, deflated);
}

TEST_F(AesEntryTest, BytesReadBeyondTheDataStayAsTheyAreAndOutOfTheCode) {
  for (const Archive &a : *archives_) {
    const LocalEntry &e = a.entries.at(a.method == "Copy" ? "odd.bin" : "text.txt");
    SCOPED_TRACE(a.path);
    const Bytes zip = sfxtest::ReadFile(a.path);
    FILE *f = fopen(a.path.c_str(), "rb");
    ASSERT_NE(nullptr, f);
    fseek(f, e.dataStart, SEEK_SET);
    const LONG length = AesEntryBegin(f, kPassword, e.storedSize, a.strength);
    ASSERT_GT(length, 0);
    // The ciphertext followed by two bytes of the stored code, as Inflate's bit input may read them,
    // fed in two calls that straddle the end of the data.
    const long at = ftell(f);
    Bytes buffer(zip.begin() + at, zip.begin() + at + length + 2);
    const Bytes tail(buffer.end() - 2, buffer.end());
    AesEntryDecrypt(buffer.data(), (DWORD)length - 5);
    AesEntryDecrypt(buffer.data() + length - 5, 7);
    AesEntryDecrypt(buffer.data() + length + 2 - 2, 2); // after the end: nothing happens
    EXPECT_TRUE(Bytes(buffer.end() - 2, buffer.end()) == tail);
    if (a.method == "Copy") {
      EXPECT_TRUE(Bytes(buffer.begin(), buffer.end() - 2) == originals_->at("odd.bin"));
    }
    EXPECT_EQ(0, AesEntryAuthenticate(f, (DWORD)(e.dataStart + e.storedSize)));
    fclose(f);
  }
}

TEST_F(AesEntryTest, OneCallAndPiecesGiveTheSamePlaintextAndCode) {
  const Archive &a = archives_->at(4); // AES-256, stored
  ASSERT_EQ(3, a.strength);
  const LocalEntry &e = a.entries.at("odd.bin");
  const Result whole = DecryptEntry(a.path, e.dataStart, e.storedSize, 3, kPassword);
  ASSERT_EQ(0, whole.auth);
  for (size_t piece : {1u, 3u, 15u, 16u, 17u, 4099u}) {
    SCOPED_TRACE(piece);
    const Result r = DecryptEntry(a.path, e.dataStart, e.storedSize, 3, kPassword, piece);
    EXPECT_TRUE(r.plain == whole.plain);
    EXPECT_TRUE(r.code == whole.code);
    EXPECT_EQ(0, r.auth);
  }
}

TEST_F(AesEntryTest, WrongPasswordIsRefusedAndTheEntryStillOpensFromItsStart) {
  for (const Archive &a : *archives_) {
    const LocalEntry &e = a.entries.at("odd.bin");
    SCOPED_TRACE(a.path);
    const Bytes zip = sfxtest::ReadFile(a.path);
    const Bytes salt(zip.begin() + e.dataStart, zip.begin() + e.dataStart + SaltLength(a.strength));
    const Bytes stored(zip.begin() + e.dataStart + SaltLength(a.strength),
                       zip.begin() + e.dataStart + SaltLength(a.strength) + 2);
    FILE *f = fopen(a.path.c_str(), "rb");
    ASSERT_NE(nullptr, f);
    for (const std::string wrong : {"secret", "SECRET ", "x"}) {
      fseek(f, e.dataStart, SEEK_SET);
      const LONG r = AesEntryBegin(f, wrong.c_str(), e.storedSize, a.strength);
      // One wrong password in 65536 passes the 2-byte check; the derivation says which.
      const Bytes derived = DerivedBytes(wrong, salt, a.strength);
      const bool collides = Bytes(derived.end() - 2, derived.end()) == stored;
      EXPECT_EQ(collides ? (LONG)(e.storedSize - SaltLength(a.strength) - 12) : -1, r) << wrong;
      EXPECT_EQ(e.dataStart + (long)SaltLength(a.strength) + 2, ftell(f));
    }
    // The caller moves back to the data start; the right password then works as on a first try.
    fseek(f, e.dataStart, SEEK_SET);
    const LONG length = AesEntryBegin(f, kPassword, e.storedSize, a.strength);
    ASSERT_EQ((LONG)(e.storedSize - SaltLength(a.strength) - 12), length);
    Bytes data(length);
    ASSERT_EQ((size_t)length, fread(data.data(), 1, length, f));
    AesEntryDecrypt(data.data(), length);
    EXPECT_TRUE(data == originals_->at("odd.bin"));
    EXPECT_EQ(0, AesEntryAuthenticate(f, (DWORD)(e.dataStart + e.storedSize)));
    fclose(f);
  }
}

TEST_F(AesEntryTest, AlteredCodeOrCiphertextIsAMismatch) {
  sfxtest::TempDir scratch;
  for (const Archive &a : *archives_) {
    if (a.method != "Copy") continue;
    const LocalEntry &e = a.entries.at("odd.bin");
    SCOPED_TRACE(a.path);
    const long dataEnd = e.dataStart + e.storedSize;
    const long firstData = e.dataStart + SaltLength(a.strength) + 2;
    struct Change {
      const char *what;
      long offset;
    };
    for (const Change &c : {Change{"first code byte", dataEnd - 10}, Change{"last code byte", dataEnd - 1},
                            Change{"first data byte", firstData}, Change{"last data byte", dataEnd - 11}}) {
      SCOPED_TRACE(c.what);
      Bytes zip = sfxtest::ReadFile(a.path);
      zip[c.offset] ^= 0x20;
      const std::string path = scratch.file("altered.zip");
      sfxtest::WriteFile(path, zip);
      const Result r = DecryptEntry(path, e.dataStart, e.storedSize, a.strength, kPassword);
      EXPECT_EQ(AES_AUTH_MISMATCH, r.auth);
      EXPECT_EQ(AES_AUTH_MISMATCH, g_aesAuthState);
      EXPECT_EQ(dataEnd, r.afterAuth);
      // Counter mode: a changed ciphertext byte changes that plaintext byte alone.
      const Bytes &original = originals_->at("odd.bin");
      size_t differing = 0;
      for (size_t i = 0; i < original.size(); i++) differing += r.plain[i] != original[i];
      EXPECT_EQ(c.offset < dataEnd - 10 ? 1u : 0u, differing);
    }
  }
}

TEST_F(AesEntryTest, SecondAuthenticationReturnsTheFirstResultWithoutReading) {
  sfxtest::TempDir scratch;
  const Archive &a = archives_->at(0);
  const LocalEntry &e = a.entries.at("odd.bin");
  Bytes altered = sfxtest::ReadFile(a.path);
  altered[e.dataStart + e.storedSize - 1] ^= 1;
  sfxtest::WriteFile(scratch.file("altered.zip"), altered);
  const DWORD dataEnd = (DWORD)(e.dataStart + e.storedSize);

  // Matching first: a later call on the altered copy still answers 0 and does not touch the stream.
  ASSERT_EQ(0, DecryptEntry(a.path, e.dataStart, e.storedSize, a.strength, kPassword).auth);
  FILE *f = fopen(scratch.file("altered.zip").c_str(), "rb");
  ASSERT_NE(nullptr, f);
  EXPECT_EQ(0, AesEntryAuthenticate(f, dataEnd));
  EXPECT_EQ(0, ftell(f));
  fclose(f);

  // Mismatch first: a later call on the intact archive still answers 7.
  ASSERT_EQ(AES_AUTH_MISMATCH,
            DecryptEntry(scratch.file("altered.zip"), e.dataStart, e.storedSize, a.strength, kPassword).auth);
  f = fopen(a.path.c_str(), "rb");
  ASSERT_NE(nullptr, f);
  EXPECT_EQ(AES_AUTH_MISMATCH, AesEntryAuthenticate(f, dataEnd));
  EXPECT_EQ(0, ftell(f));
  fclose(f);
}

TEST_F(AesEntryTest, EntryWithoutEncryptedDataAuthenticatesTheEmptyMessage) {
  for (const Archive &a : *archives_) {
    const LocalEntry &e = a.entries.at("empty.bin");
    SCOPED_TRACE(a.path);
    ASSERT_EQ(SaltLength(a.strength) + 12, e.storedSize);
    const Result r = DecryptEntry(a.path, e.dataStart, e.storedSize, a.strength, kPassword);
    EXPECT_EQ(0, r.begin);
    EXPECT_EQ(0, r.auth);
    // The code is the HMAC-SHA1 of nothing under the derived authentication key.
    const Bytes zip = sfxtest::ReadFile(a.path);
    const Bytes salt(zip.begin() + e.dataStart, zip.begin() + e.dataStart + SaltLength(a.strength));
    const Bytes derived = DerivedBytes(kPassword, salt, a.strength);
    const DWORD keyLength = 8 * a.strength + 8;
    HmacSha1Context mac;
    HmacSha1Reset(&mac);
    HmacSha1AddKey(derived.data() + keyLength, keyLength, &mac);
    BYTE code[20];
    HmacSha1Finish(code, 10, &mac);
    EXPECT_TRUE(Bytes(code, code + 10) == r.code);
  }
}

TEST_F(AesEntryTest, LongestPasswordThePeerTakes) {
  // 7zz takes at most 99 bytes; 128 are covered by entries built here.
  const std::string password(99, 'p');
  const Archive &a = archives_->at(0);
  const std::string path = dir_->file("long.zip");
  ASSERT_EQ(0, sfxtest::Run("cd '" + dir_->path() + "' && 7zz a -tzip -mem=AES128 -p" + password +
                            " -mm=Copy '" + path + "' odd.bin > /dev/null"));
  const auto entries = ParseLocalEntries(sfxtest::ReadFile(path));
  const LocalEntry &e = entries.at("odd.bin");
  const Result r = DecryptEntry(path, e.dataStart, e.storedSize, e.strength, password);
  EXPECT_EQ(0, r.auth);
  EXPECT_TRUE(r.plain == originals_->at("odd.bin"));
  (void)a;
}

// ---------------------------------------------------------------- entries built here

// An entry's stored data between 5 bytes of something else on either side.
struct BuiltEntry {
  sfxtest::TempDir dir;
  std::string path;
  long dataStart = 5;
  DWORD storedSize = 0;
};

void Build(BuiltEntry &b, const std::string &password, int strength, const Bytes &plain) {
  Bytes file(5, 0xEE);
  const Bytes data = BuildEntryData(password, strength, plain);
  file.insert(file.end(), data.begin(), data.end());
  file.insert(file.end(), 5, 0xEE);
  b.path = b.dir.file("entry.bin");
  b.storedSize = (DWORD)data.size();
  sfxtest::WriteFile(b.path, file);
}

TEST(AesEntryBuilt, StrengthsCounterCarriesAndPartialBlocks) {
  struct Case {
    int strength;
    size_t length;
  };
  // 4097 bytes: 257 blocks, the counter's first carry; 1048593: past 65536 blocks, the second carry.
  for (const Case &c : {Case{1, 1}, Case{2, 15}, Case{3, 16}, Case{1, 4097}, Case{2, 33}, Case{3, 1048593}}) {
    SCOPED_TRACE(std::to_string(c.strength) + "/" + std::to_string(c.length));
    const Bytes plain = Random(c.length, (uint32_t)c.length);
    BuiltEntry b;
    Build(b, kPassword, c.strength, plain);
    const Result r = DecryptEntry(b.path, b.dataStart, b.storedSize, c.strength, kPassword, 4099);
    EXPECT_EQ(b.dataStart + (long)SaltLength(c.strength) + 2, r.afterBegin);
    EXPECT_EQ((LONG)c.length, r.begin);
    EXPECT_TRUE(r.plain == plain);
    EXPECT_EQ(0, r.auth);
    EXPECT_EQ(c.strength, g_aesContext.strength);
  }
}

TEST(AesEntryBuilt, PasswordOf128BytesIsTakenAnd129Refused) {
  const Bytes plain = Random(100, 3);
  BuiltEntry b;
  Build(b, std::string(128, 'k'), 2, plain);
  const Result r = DecryptEntry(b.path, b.dataStart, b.storedSize, 2, std::string(128, 'k'));
  EXPECT_EQ(100, r.begin);
  EXPECT_TRUE(r.plain == plain);
  EXPECT_EQ(0, r.auth);
  EXPECT_EQ(128u, g_aesContext.passwordLength);

  // 129 bytes: refused after the salt alone, before the verification value is read.
  const Result refused = DecryptEntry(b.path, b.dataStart, b.storedSize, 2, std::string(129, 'k'));
  EXPECT_EQ(-1, refused.begin);
  EXPECT_EQ(b.dataStart + (long)SaltLength(2), refused.afterBegin);
  EXPECT_EQ(AES_AUTH_PENDING, g_aesAuthState);
}

TEST(AesEntryBuilt, ContextInitChecksLengthBeforeStrength) {
  const Bytes salt(16, 1);
  const std::string p128(128, 'a'), p129(129, 'a');
  struct Case {
    DWORD strength;
    const std::string *password;
    int result;
  };
  const Case cases[] = {
      {1, &p128, 0},
      {3, &p129, AES_ERR_PASSWORD_TOO_LONG},
      {0, &p129, AES_ERR_PASSWORD_TOO_LONG},
      {0, &p128, AES_ERR_BAD_STRENGTH},
      {4, &p128, AES_ERR_BAD_STRENGTH},
      {255, &p128, AES_ERR_BAD_STRENGTH},
  };
  for (const Case &c : cases) {
    AesEntryContext context;
    BYTE verifier[2];
    EXPECT_EQ(c.result, AesContextInit(c.strength, (const BYTE *)c.password->data(), (DWORD)c.password->size(),
                                       salt.data(), verifier, &context))
        << c.strength << "/" << c.password->size();
  }
  // The verifier output is bytes 2 × key length and the next of 34, 50 or 66 derived bytes.
  for (DWORD strength = 1; strength <= 3; strength++) {
    AesEntryContext context;
    BYTE verifier[2];
    ASSERT_EQ(0, AesContextInit(strength, (const BYTE *)"pw", 2, salt.data(), verifier, &context));
    const Bytes derived = DerivedBytes("pw", Bytes(salt.begin(), salt.begin() + SaltLength(strength)), strength);
    EXPECT_EQ(16 * strength + 18, derived.size());
    EXPECT_TRUE(Bytes(verifier, verifier + 2) == Bytes(derived.end() - 2, derived.end()));
    EXPECT_EQ(2 * strength + 8, context.cipher.roundCount);
    EXPECT_EQ(16u, context.keystreamPos);
  }
}

TEST(AesEntryBuilt, StrengthOutsideOneToThreeIsRefusedAfterItsSalt) {
  BuiltEntry b;
  Build(b, kPassword, 1, Random(40, 4));
  // Strength 4 reads 4 × (4 mod 4) + 4 = 4 salt bytes, then refuses.
  const Result r = DecryptEntry(b.path, b.dataStart, b.storedSize, 4, kPassword);
  EXPECT_EQ(-1, r.begin);
  EXPECT_EQ(b.dataStart + 4, r.afterBegin);
}

TEST(AesEntryBuilt, FramingLongerThanTheStoredSizeNeverAuthenticates) {
  // The right password, but a stored size that cannot hold salt, verification value and code (the
  // entry's directory record is damaged): nothing is decrypted and the entry fails its check.
  BuiltEntry b;
  Build(b, kPassword, 3, Bytes());
  for (DWORD storedSize : {0u, 18u, b.storedSize - 1}) {
    SCOPED_TRACE(storedSize);
    FILE *f = fopen(b.path.c_str(), "rb");
    ASSERT_NE(nullptr, f);
    fseek(f, b.dataStart, SEEK_SET);
    EXPECT_EQ(0, AesEntryBegin(f, kPassword, storedSize, 3));
    BYTE byte = 0x42;
    AesEntryDecrypt(&byte, 1);
    EXPECT_EQ(0x42, byte);
    EXPECT_EQ(AES_AUTH_MISMATCH, AesEntryAuthenticate(f, (DWORD)(b.dataStart + storedSize)));
    fclose(f);
  }
  // The full size authenticates.
  EXPECT_EQ(0, DecryptEntry(b.path, b.dataStart, b.storedSize, 3, kPassword).auth);
}

TEST(AesEntryBuilt, ArchiveEndingInsideTheFramingRefuses) {
  BuiltEntry b;
  Build(b, kPassword, 3, Random(10, 5));
  Bytes file = sfxtest::ReadFile(b.path);
  for (size_t keep : {5u + 10u, 5u + 17u}) { // inside the salt, inside the verification value
    sfxtest::WriteFile(b.path, Bytes(file.begin(), file.begin() + keep));
    FILE *f = fopen(b.path.c_str(), "rb");
    ASSERT_NE(nullptr, f);
    fseek(f, b.dataStart, SEEK_SET);
    EXPECT_EQ(-1, AesEntryBegin(f, kPassword, b.storedSize, 3)) << keep;
    fclose(f);
  }
}

TEST(AesEntryBuilt, DecryptWithoutABegunEntryChangesNothing) {
  BuiltEntry b;
  Build(b, kPassword, 1, Random(20, 6));
  ASSERT_EQ(0, DecryptEntry(b.path, b.dataStart, b.storedSize, 1, kPassword).auth);
  // The entry's data is used up: further bytes pass unchanged.
  Bytes more = Random(64, 7);
  const Bytes before = more;
  AesEntryDecrypt(more.data(), (DWORD)more.size());
  EXPECT_TRUE(more == before);
}

} // namespace
