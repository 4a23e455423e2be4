// AES entry framing on entries built from the verified primitives (with a counter-mode loop of the
// test's own): the three strengths, counter carries and partial blocks, the password length limit, bad
// strengths, stored sizes too small for the framing, archives ending inside it. Runs on Linux and under
// Wine (the archive stream is the platform's own C runtime stream there).
#include <gtest/gtest.h>

#include <string>

#include "crypto_aes_entry_helpers.h"

namespace {

using namespace aestest;


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

TEST(AesEntryBuilt, SingleBytesAndPiecesMixedGiveTheSameResult) {
  // Inflate's bit input gives one byte per call, the byte input whole buffers; an entry read both ways
  // in turn (and across block and keystream boundaries) must decrypt and authenticate alike.
  const Bytes plain = Random(5000, 8);
  BuiltEntry b;
  Build(b, kPassword, 3, plain);
  const Result whole = DecryptEntry(b.path, b.dataStart, b.storedSize, 3, kPassword);
  ASSERT_EQ(0, whole.auth);
  ASSERT_TRUE(whole.plain == plain);
  for (uint32_t seed : {1u, 2u, 3u}) {
    FILE *f = fopen(b.path.c_str(), "rb");
    ASSERT_NE(nullptr, f);
    fseek(f, b.dataStart, SEEK_SET);
    ASSERT_EQ(5000, AesEntryBegin(f, kPassword, b.storedSize, 3));
    Bytes data(5000);
    ASSERT_EQ(5000u, fread(data.data(), 1, 5000, f));
    size_t at = 0;
    while (at < data.size()) {
      seed = seed * 1103515245u + 12345u;
      // Mostly runs of single bytes, now and then a piece of up to 200 bytes.
      const size_t n = (seed >> 16) % 4 ? 1 : std::min<size_t>((seed >> 8) % 200 + 2, data.size() - at);
      AesEntryDecrypt(data.data() + at, (DWORD)n);
      at += n;
    }
    EXPECT_TRUE(data == plain) << seed;
    EXPECT_EQ(0, AesEntryAuthenticate(f, (DWORD)(b.dataStart + b.storedSize))) << seed;
    EXPECT_TRUE(Bytes(g_aesComputedBytes, g_aesComputedBytes + AES_MAC_LENGTH) == whole.code);
    fclose(f);
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
  for (DWORD storedSize : {(DWORD)0, (DWORD)18, b.storedSize - 1}) {
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

