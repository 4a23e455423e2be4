// AES entries as a peer writes them: 7zz's AES-128/192/256 entries (stored and deflated) decrypted and
// authenticated through the entry-level routines: right and wrong passwords, tampered codes and data,
// bytes read beyond the data, an entry without encrypted data. The framing corners on entries built
// here run on both platforms (tests/unit/crypto_aes_framing_test.cpp).
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "../unit/crypto_aes_entry_helpers.h"

namespace {

using namespace aestest;

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
  const std::string path = dir_->file("long.zip");
  ASSERT_EQ(0, sfxtest::Run("cd '" + dir_->path() + "' && 7zz a -tzip -mem=AES128 -p" + password +
                            " -mm=Copy '" + path + "' odd.bin > /dev/null"));
  const auto entries = ParseLocalEntries(sfxtest::ReadFile(path));
  const LocalEntry &e = entries.at("odd.bin");
  const Result r = DecryptEntry(path, e.dataStart, e.storedSize, e.strength, password);
  EXPECT_EQ(0, r.auth);
  EXPECT_TRUE(r.plain == originals_->at("odd.bin"));
}

} // namespace
