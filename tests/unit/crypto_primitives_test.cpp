// The cryptographic primitives against the standards' own vectors: AES (FIPS-197 appendices A and C),
// SHA-1 (FIPS 180 and the padding boundaries), HMAC-SHA1 (RFC 2202, keys in pieces), PBKDF2 (RFC 6070),
// and the AES tables recomputed independently of the code that builds them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "crypto/aes.h"
#include "crypto/hmac_sha1.h"
#include "crypto/pbkdf2.h"
#include "crypto/sha1.h"

namespace {

using Bytes = std::vector<BYTE>;

Bytes Hex(const std::string &hex) {
  Bytes out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) out.push_back((BYTE)std::stoul(hex.substr(i, 2), nullptr, 16));
  return out;
}

std::string ToHex(const BYTE *data, size_t length) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (size_t i = 0; i < length; i++) {
    out += digits[data[i] >> 4];
    out += digits[data[i] & 15];
  }
  return out;
}

Bytes Text(const std::string &text) { return Bytes(text.begin(), text.end()); }

Bytes Counting(size_t length, BYTE start = 0) {
  Bytes out(length);
  for (size_t i = 0; i < length; i++) out[i] = (BYTE)(start + i);
  return out;
}

// ---------------------------------------------------------------- AES

struct AesVector {
  const char *name;
  DWORD keyBytes;
  const char *ciphertext;
};

const AesVector kAesVectors[] = {
    {"AES-128", 16, "69c4e0d86a7b0430d8cdb78070b4c55a"},
    {"AES-192", 24, "dda97ca4864cdfe06eaf70a0ec0d7191"},
    {"AES-256", 32, "8ea2b7ca516745bfeafc49904b496089"},
};

TEST(Aes, AppendixCExamplesForEveryKeySize) {
  const Bytes plain = Hex("00112233445566778899aabbccddeeff");
  for (const AesVector &v : kAesVectors) {
    SCOPED_TRACE(v.name);
    const Bytes key = Counting(v.keyBytes);
    AesKeySchedule byBytes{}, byBits{};
    ASSERT_EQ(1, AesSetEncryptKey(key.data(), v.keyBytes, &byBytes));
    ASSERT_EQ(1, AesSetEncryptKey(key.data(), v.keyBytes * 8, &byBits));
    EXPECT_EQ(v.keyBytes / 4 + 6, byBytes.roundCount);
    EXPECT_EQ(17u, byBytes.blockState);
    // Lengths in bytes and in bits set the same schedule.
    EXPECT_EQ(0, memcmp(&byBytes, &byBits, sizeof byBytes));

    BYTE out[16];
    ASSERT_EQ(1, AesEncryptBlock(plain.data(), out, &byBytes));
    EXPECT_EQ(v.ciphertext, ToHex(out, 16));
    // In place, as the counter mode does not need it but a caller may.
    BYTE inPlace[16];
    memcpy(inPlace, plain.data(), 16);
    ASSERT_EQ(1, AesEncryptBlock(inPlace, inPlace, &byBytes));
    EXPECT_EQ(v.ciphertext, ToHex(inPlace, 16));
  }
}

TEST(Aes, AppendixAKeyExpansions) {
  struct Expansion {
    const char *key;
    DWORD firstDerived, lastWord; // w[Nk], the first word past the key, and the last word
  };
  const Expansion expansions[] = {
      {"2b7e151628aed2a6abf7158809cf4f3c", 0xa0fafe17, 0xb6630ca6},
      {"8e73b0f7da0e6452c810f32b809079e562f8ead2522c6b7b", 0xfe0c91f7, 0x01002202},
      {"603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4", 0x9ba35411, 0x706c631e},
  };
  for (const Expansion &e : expansions) {
    SCOPED_TRACE(e.key);
    const Bytes key = Hex(e.key);
    AesKeySchedule schedule{};
    ASSERT_EQ(1, AesSetEncryptKey(key.data(), (DWORD)key.size(), &schedule));
    EXPECT_EQ(e.firstDerived, schedule.roundKeys[key.size() / 4]);
    EXPECT_EQ(e.lastWord, schedule.roundKeys[4 * schedule.roundCount + 3]);
  }
}

TEST(Aes, Fips197AppendixBExample) {
  const Bytes key = Hex("2b7e151628aed2a6abf7158809cf4f3c");
  const Bytes plain = Hex("3243f6a8885a308d313198a2e0370734");
  AesKeySchedule schedule{};
  ASSERT_EQ(1, AesSetEncryptKey(key.data(), 16, &schedule));
  BYTE out[16];
  ASSERT_EQ(1, AesEncryptBlock(plain.data(), out, &schedule));
  EXPECT_EQ("3925841d02dc09fbdc118597196a0b32", ToHex(out, 16));
}

TEST(Aes, RefusedKeyLengthsLeaveAScheduleThatRefusesToEncrypt) {
  const Bytes key = Counting(32);
  const Bytes plain = Counting(16);
  for (DWORD length : {0u, 20u, 8u, 15u, 17u, 64u, 127u, 129u, 255u}) {
    SCOPED_TRACE(length);
    AesKeySchedule schedule{};
    // A schedule that held a valid key must not keep encrypting with it.
    ASSERT_EQ(1, AesSetEncryptKey(key.data(), 16, &schedule));
    EXPECT_EQ(0, AesSetEncryptKey(key.data(), length, &schedule));
    EXPECT_EQ(0u, schedule.roundCount);
    EXPECT_EQ(16u, schedule.blockState);
    BYTE out[16];
    memset(out, 0xA5, sizeof out);
    EXPECT_EQ(0, AesEncryptBlock(plain.data(), out, &schedule));
    for (BYTE b : out) EXPECT_EQ(0xA5, b);
  }
}

// GF(2^8) product by shift and add, independent of the power tables the code uses.
BYTE Multiply(BYTE a, BYTE b) {
  BYTE product = 0;
  while (b) {
    if (b & 1) product ^= a;
    a = (BYTE)((a << 1) ^ ((a & 0x80) ? 0x1B : 0));
    b >>= 1;
  }
  return product;
}

TEST(Aes, TablesMatchTheFieldArithmetic) {
  AesKeySchedule schedule{};
  ASSERT_EQ(1, AesSetEncryptKey(Counting(16).data(), 16, &schedule)); // builds the tables
  for (int x = 0; x < 256; x++) {
    BYTE inverse = 0;
    for (int y = 1; y < 256 && x; y++)
      if (Multiply((BYTE)x, (BYTE)y) == 1) inverse = (BYTE)y;
    BYTE s = 0x63;
    for (int bit = 0; bit < 8; bit++) {
      int v = ((inverse >> bit) ^ (inverse >> ((bit + 4) % 8)) ^ (inverse >> ((bit + 5) % 8)) ^
               (inverse >> ((bit + 6) % 8)) ^ (inverse >> ((bit + 7) % 8))) & 1;
      s ^= (BYTE)(v << bit);
    }
    const DWORD column = ((DWORD)Multiply(s, 2) << 24) | ((DWORD)s << 16) | ((DWORD)s << 8) | Multiply(s, 3);
    for (int t = 0; t < 4; t++) {
      const DWORD rotated = t ? (column >> (8 * t)) | (column << (32 - 8 * t)) : column;
      ASSERT_EQ(rotated, g_aesRoundTables[t][x]) << "round table " << t << " entry " << x;
      ASSERT_EQ((DWORD)s << (24 - 8 * t), g_aesSboxTables[t][x]) << "S-box table " << t << " entry " << x;
    }
  }
  EXPECT_EQ(0x63000000u, g_aesSboxTables[0][0x00]);
  EXPECT_EQ(0xEDu, g_aesSboxTables[3][0x53]);
  EXPECT_EQ(0x16u, g_aesSboxTables[3][0xFF]);
}

// ---------------------------------------------------------------- SHA-1

std::string Sha1Hex(const Bytes &message) {
  Sha1Context context;
  Sha1Init(&context);
  Sha1Update(message.data(), (DWORD)message.size(), &context);
  BYTE digest[20];
  Sha1Final(digest, &context);
  return ToHex(digest, 20);
}

Bytes Pattern(size_t length) {
  Bytes out(length);
  for (size_t i = 0; i < length; i++) out[i] = (BYTE)(i * 7 + 1);
  return out;
}

TEST(Sha1, StandardMessagesAndPaddingBoundaries) {
  struct Case {
    Bytes message;
    const char *digest;
  };
  // FIPS 180's examples, then lengths around the padding boundaries (a 0x80 byte and an 8-byte length
  // must fit: 55 still fits one block, 56 to 63 need a second).
  const Case cases[] = {
      {Bytes(), "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
      {Text("abc"), "a9993e364706816aba3e25717850c26c9cd0d89d"},
      {Text("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"), "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
      {Pattern(55), "04bb34aef4880b625e6b1564a014abd25fc02bfe"},
      {Pattern(63), "ab15090e8dbe512f3733350f9623ab11f9b5165b"},
      {Pattern(64), "54305ee7e4c7bc5a96afc6d1994fc52d9bcb665f"},
      {Pattern(65), "5985422a25357371ebd2a7f6ecd7eebed43db42c"},
      {Pattern(119), "6839d6c27f22ed884ac43ae6bd3bfcee9e04b938"},
      {Pattern(120), "8c40517a14ab8b78fd4b8958f4e31254a34c3fb0"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.message.size());
    EXPECT_EQ(c.digest, Sha1Hex(c.message));
    // The same message one byte at a time.
    Sha1Context context;
    Sha1Init(&context);
    for (BYTE b : c.message) Sha1Update(&b, 1, &context);
    BYTE digest[20];
    Sha1Final(digest, &context);
    EXPECT_EQ(c.digest, ToHex(digest, 20));
  }
}

TEST(Sha1, MillionAsInPiecesOfEverySize) {
  const Bytes a(1000000, 'a');
  EXPECT_EQ("34aa973cd4c4daa4f61eeb2bdbad27316534016f", Sha1Hex(a));
  // Uneven pieces cross the block boundary at every offset.
  Sha1Context context;
  Sha1Init(&context);
  size_t offset = 0, piece = 1;
  while (offset < a.size()) {
    const size_t n = std::min(piece, a.size() - offset);
    Sha1Update(a.data() + offset, (DWORD)n, &context);
    offset += n;
    piece = piece % 131 + 1;
  }
  BYTE digest[20];
  Sha1Final(digest, &context);
  EXPECT_EQ("34aa973cd4c4daa4f61eeb2bdbad27316534016f", ToHex(digest, 20));
  EXPECT_EQ(1000000u, context.byteCount[0]);
  EXPECT_EQ(0u, context.byteCount[1]);
}

TEST(Sha1, ByteCountCarriesIntoTheHighWord) {
  Sha1Context context;
  Sha1Init(&context);
  context.byteCount[0] = 0xFFFFFFC0; // a whole number of blocks short of 4 GiB
  const Bytes block = Pattern(100);
  Sha1Update(block.data(), 100, &context);
  EXPECT_EQ(1u, context.byteCount[1]);
  EXPECT_EQ(36u, context.byteCount[0]);
}

// ---------------------------------------------------------------- HMAC-SHA1

std::string Hmac(const Bytes &key, const Bytes &data, DWORD macLength = 20) {
  HmacSha1Context context;
  HmacSha1Reset(&context);
  EXPECT_EQ(0, HmacSha1AddKey(key.data(), (DWORD)key.size(), &context));
  HmacSha1AddData(data.data(), (DWORD)data.size(), &context);
  BYTE mac[20];
  HmacSha1Finish(mac, macLength, &context);
  return ToHex(mac, macLength);
}

TEST(HmacSha1, Rfc2202) {
  struct Case {
    Bytes key;
    Bytes data;
    const char *mac;
  };
  const Case cases[] = {
      {Bytes(20, 0x0b), Text("Hi There"), "b617318655057264e28bc0b6fb378c8ef146be00"},
      {Text("Jefe"), Text("what do ya want for nothing?"), "effcdf6ae5eb2fa2d27416d5f184df9c259a7c79"},
      {Bytes(20, 0xaa), Bytes(50, 0xdd), "125d7342b9ac11cd91a39af48aa17b4f63f175d3"},
      {Counting(25, 1), Bytes(50, 0xcd), "4c9007f4026250c6bc8414f9bf50c86c2d7235da"},
      {Bytes(20, 0x0c), Text("Test With Truncation"), "4c1a03424b55e07fe7f27be1d58bb9324a9a5a04"},
      {Bytes(80, 0xaa), Text("Test Using Larger Than Block-Size Key - Hash Key First"),
       "aa4ae5e15272d00e95705637ce8a3b55ed402112"},
      {Bytes(80, 0xaa), Text("Test Using Larger Than Block-Size Key and Larger Than One Block-Size Data"),
       "e8e99d0f45237d786d6bbaa7965c7808bbff1a91"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.mac);
    EXPECT_EQ(c.mac, Hmac(c.key, c.data));
  }
  // Truncated output (RFC 2202 case 5, 96 bits): the leading bytes of the value.
  EXPECT_EQ("4c1a03424b55e07fe7f27be1", Hmac(Bytes(20, 0x0c), Text("Test With Truncation"), 12));
  EXPECT_EQ("de7c9b85b8b78aa6bc8a7a36f70a90701c9db4d9",
            Hmac(Text("key"), Text("The quick brown fox jumps over the lazy dog")));
}

// HMAC built by hand from SHA-1: H((K ^ opad) || H((K ^ ipad) || m)), K used as it is (at most 64 bytes).
std::string HandMadeHmac(const Bytes &key, const Bytes &data) {
  Bytes inner(64, 0x36), outer(64, 0x5c);
  for (size_t i = 0; i < key.size(); i++) {
    inner[i] ^= key[i];
    outer[i] ^= key[i];
  }
  Bytes innerMessage = inner;
  innerMessage.insert(innerMessage.end(), data.begin(), data.end());
  const Bytes innerDigest = Hex(Sha1Hex(innerMessage));
  Bytes outerMessage = outer;
  outerMessage.insert(outerMessage.end(), innerDigest.begin(), innerDigest.end());
  return Sha1Hex(outerMessage);
}

TEST(HmacSha1, KeyOfExactlyOneBlockIsUsedWithoutHashing) {
  const Bytes key = Counting(64, 0x40);
  const Bytes data = Text("sixty-four");
  EXPECT_EQ(HandMadeHmac(key, data), Hmac(key, data));
  // One byte more and the key is hashed first: H(K) as a 20-byte key.
  Bytes longKey = Counting(65, 0x40);
  EXPECT_EQ(HandMadeHmac(Hex(Sha1Hex(longKey)), data), Hmac(longKey, data));
}

TEST(HmacSha1, KeyInPiecesEqualsKeyInOnePiece) {
  const Bytes data = Text("Test Using Larger Than Block-Size Key - Hash Key First");
  for (size_t keyLength : {20u, 63u, 64u, 65u, 80u, 150u}) {
    const Bytes key = Counting(keyLength, 3);
    const std::string whole = Hmac(key, data);
    // Every two-piece split, and three pieces around the block limit.
    std::vector<std::vector<size_t>> splits;
    for (size_t cut = 0; cut <= keyLength; cut++) splits.push_back({cut, keyLength - cut});
    if (keyLength > 66) splits.push_back({30, 35, keyLength - 65});
    if (keyLength > 66) splits.push_back({64, 1, keyLength - 65});
    if (keyLength > 66) splits.push_back({10, 0, 60, keyLength - 70});
    for (const auto &pieces : splits) {
      HmacSha1Context context;
      HmacSha1Reset(&context);
      size_t offset = 0;
      for (size_t n : pieces) {
        ASSERT_EQ(0, HmacSha1AddKey(key.data() + offset, (DWORD)n, &context));
        offset += n;
      }
      EXPECT_EQ(keyLength, context.keyLength);
      HmacSha1AddData(data.data(), (DWORD)data.size(), &context);
      BYTE mac[20];
      HmacSha1Finish(mac, 20, &context);
      ASSERT_EQ(whole, ToHex(mac, 20)) << "key " << keyLength << ", first piece " << pieces[0];
    }
  }
  EXPECT_EQ("aa4ae5e15272d00e95705637ce8a3b55ed402112", Hmac(Bytes(80, 0xaa), data));
}

TEST(HmacSha1, FinishWithoutDataIsTheEmptyMessage) {
  HmacSha1Context context;
  HmacSha1Reset(&context);
  const Bytes key = Text("key");
  HmacSha1AddKey(key.data(), 3, &context);
  BYTE mac[20];
  HmacSha1Finish(mac, 20, &context);
  EXPECT_EQ("f42bb0eeb018ebbd4597ae7213711ec60760843f", ToHex(mac, 20));
  EXPECT_EQ("f42bb0eeb018ebbd4597ae7213711ec60760843f", Hmac(key, Bytes()));
}

TEST(HmacSha1, KeyAfterDataIsRefusedAndChangesNothing) {
  HmacSha1Context context;
  HmacSha1Reset(&context);
  const Bytes key = Text("Jefe");
  const Bytes data = Text("what do ya want for nothing?");
  HmacSha1AddKey(key.data(), 4, &context);
  HmacSha1AddData(data.data(), 10, &context);
  EXPECT_EQ(HMAC_DATA_PHASE, context.keyLength);
  HmacSha1Context before = context;
  EXPECT_EQ(-1, HmacSha1AddKey(key.data(), 4, &context));
  EXPECT_EQ(0, memcmp(&before, &context, sizeof context));
  HmacSha1AddData(data.data() + 10, (DWORD)data.size() - 10, &context);
  BYTE mac[20];
  HmacSha1Finish(mac, 20, &context);
  EXPECT_EQ("effcdf6ae5eb2fa2d27416d5f184df9c259a7c79", ToHex(mac, 20));
}

TEST(HmacSha1, ResetClearsEveryField) {
  HmacSha1Context context;
  memset(&context, 0x5A, sizeof context);
  HmacSha1Reset(&context);
  const HmacSha1Context zero{};
  EXPECT_EQ(0, memcmp(&zero, &context, sizeof context));
}

// ---------------------------------------------------------------- PBKDF2

std::string Pbkdf2(const Bytes &password, const Bytes &salt, DWORD iterations, DWORD length) {
  Bytes out(length + 4, 0xEE);
  Pbkdf2HmacSha1(password.data(), (DWORD)password.size(), salt.data(), (DWORD)salt.size(), iterations,
                 out.data(), length);
  // Nothing is written past the requested length.
  for (size_t i = length; i < out.size(); i++) EXPECT_EQ(0xEE, out[i]);
  return ToHex(out.data(), length);
}

TEST(Pbkdf2HmacSha1, Rfc6070) {
  struct Case {
    Bytes password;
    Bytes salt;
    DWORD iterations;
    DWORD length;
    const char *derived;
  };
  const Case cases[] = {
      {Text("password"), Text("salt"), 1, 20, "0c60c80f961f0e71f3a9b524af6012062fe037a6"},
      {Text("password"), Text("salt"), 2, 20, "ea6c014dc72d6f8ccd1ed92ace1d41f0d8de8957"},
      {Text("password"), Text("salt"), 4096, 20, "4b007901b765489abead49d926f721d065a429c1"},
      {Text("passwordPASSWORDpassword"), Text("saltSALTsaltSALTsaltSALTsaltSALTsalt"), 4096, 25,
       "3d2eec4fe41c849b80c8d83662c0e44a8b291a964cf2f07038"},
      {Bytes{'p', 'a', 's', 's', 0, 'w', 'o', 'r', 'd'}, Bytes{'s', 'a', 0, 'l', 't'}, 4096, 16,
       "56fa6aa75548099dcc37d7f03425e0c3"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.derived);
    EXPECT_EQ(c.derived, Pbkdf2(c.password, c.salt, c.iterations, c.length));
  }
}

TEST(Pbkdf2HmacSha1, OutputLengthsAcrossBlocks) {
  // 34 bytes: two blocks, 14 bytes kept of the second (values from Python's hashlib).
  const std::string derived34 = "6e88be8bad7eae9d9e10aa061224034fed48d03fcbad968b56006784539d5214ce97";
  EXPECT_EQ(derived34, Pbkdf2(Text("password"), Text("salt"), 1000, 34));
  // Shorter outputs are prefixes of longer ones.
  for (DWORD length : {1u, 19u, 20u, 21u, 33u})
    EXPECT_EQ(derived34.substr(0, 2 * length), Pbkdf2(Text("password"), Text("salt"), 1000, length));
  // A password longer than a block (hashed once as the HMAC key) and 66 bytes, as AES-256 entries use.
  EXPECT_EQ("35c7155a4f5a7cab6ac0de75a9ef4ea2a558b87168e5bfe994e7ee4ad349b5fabae1699ae03d50b18aee6f4a653e8ee7"
            "090f3bf10a2eb49ee0ea882c9e77a157f2e7",
            Pbkdf2(Bytes(129, 'x'), Text("0123456789abcdef"), 1000, 66));
}

} // namespace
