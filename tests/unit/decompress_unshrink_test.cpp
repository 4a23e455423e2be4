// Unshrink (method 1): round trips through the test's LZW encoder (partial clears, widening, skipped
// sub-codes, a full table, the code defined by itself), hand-made corrupt streams, and every truncation
// and a few thousand mutations of valid streams.
#include <gtest/gtest.h>

#include <random>

#include "crypto/decryption.h"
#include "crypto/zipcrypto.h"
#include "decompress/decompress.h"
#include "legacy_codecs.h"
#include "test_support.h"

namespace {

using namespace sfxtest;

struct ShrinkCase {
  const char *name;
  ShrinkOptions options;
};

std::vector<ShrinkCase> ShrinkCases() {
  std::vector<ShrinkCase> cases;
  cases.push_back({"plain", {}});
  ShrinkOptions clears;
  for (size_t i = 3; i < 20000; i += 97)
    clears.partialClearBefore.insert(i);
  cases.push_back({"partial clears", clears});
  ShrinkOptions control;
  control.extraWidenBefore = {2, 40};
  control.unknownSubcodeBefore = {1, 5, 300};
  control.partialClearBefore = {7, 500};
  cases.push_back({"control codes", control});
  return cases;
}

TEST(Unshrink, RoundTripsEverySampleWithEveryControlMix) {
  for (const auto &[name, data] : LegacySamples()) {
    for (ShrinkCase c : ShrinkCases()) {
      SCOPED_TRACE(name + std::string(" / ") + c.name);
      Bytes stream = Shrink(data, c.options);
      DecodeResult r = RunDecoder(UnshrinkCall(), stream, uint32_t(data.size()));
      EXPECT_EQ(r.output, data);
      EXPECT_EQ(r.crc, Crc32(data));
    }
  }
}

TEST(Unshrink, EncoderReachesTheCorners) {
  // The round trips above only prove something if these corners were really in the streams.
  ShrinkOptions::Stats stats;
  ShrinkOptions options;
  options.stats = &stats;
  Shrink(Bytes(1000, 'a'), options);
  EXPECT_GT(stats.kwkwk, 10u) << "codes equal to free";
  Shrink(RandomBytes(20000, 7), options);
  EXPECT_TRUE(stats.tableFilled);
  EXPECT_EQ(stats.finalWidth, 13);
  ShrinkCase clears = ShrinkCases()[1];
  clears.options.stats = &stats;
  Bytes data = RandomBytes(30000, 3, 4);
  Shrink(data, clears.options);
  EXPECT_GT(stats.partialClears, 50u);
  ShrinkCase control = ShrinkCases()[2];
  control.options.stats = &stats;
  Shrink(data, control.options);
  EXPECT_GE(stats.widens, 2u);
  EXPECT_EQ(stats.partialClears, 2u);
}

TEST(Unshrink, ClearThenFillThenClearAgain) {
  // A full table, then a partial clear that frees leaves, then codes reusing the freed numbers.
  Bytes data = RandomBytes(20000, 9);
  Bytes more = RandomBytes(4000, 10, 3);
  data.insert(data.end(), more.begin(), more.end());
  ShrinkOptions options;
  options.partialClearBefore = {12000, 12500};
  ShrinkOptions::Stats stats;
  options.stats = &stats;
  Bytes stream = Shrink(data, options);
  EXPECT_TRUE(stats.tableFilled);
  EXPECT_EQ(stats.partialClears, 2u);
  DecodeResult r = RunDecoder(UnshrinkCall(), stream, uint32_t(data.size()));
  EXPECT_EQ(r.output, data);
}

TEST(Unshrink, SizeZeroReadsAndWritesNothing) {
  Bytes stream = Shrink({'a', 'b', 'c'});
  DecodeResult r = RunDecoder(UnshrinkCall(), stream, 0);
  EXPECT_TRUE(r.output.empty());
  EXPECT_EQ(r.crc, 0u);
  EXPECT_EQ(r.inputPosition, 0);
  if (r.progressMessages >= 0) {
    EXPECT_EQ(r.progressMessages, 0);
  }
}

TEST(Unshrink, OneSinkCallPerCodeAndStopAtTheSize) {
  Bytes data = {'a', 'b', 'a', 'b', 'a', 'b', 'a'};
  Bytes stream = Shrink(data);
  // The first code is written before the loop; the loop stops once the size is reached even though
  // more codes follow.
  DecodeResult r = RunDecoder(UnshrinkCall(), stream, 2);
  EXPECT_EQ(r.output, (Bytes{'a', 'b'}));
  DecodeResult all = RunDecoder(UnshrinkCall(), stream, uint32_t(data.size()));
  EXPECT_EQ(all.output, data);
  if (all.progressMessages >= 0) {
    EXPECT_EQ(all.progressMessages, 4); // a, b, ab, aba
  }
}

Bytes Codes(std::initializer_list<std::pair<uint32_t, int>> codes) {
  BitWriter w;
  for (auto [code, width] : codes)
    w.Put(code, width);
  return w.Finish();
}

TEST(Unshrink, WidthBeyondThirteenEndsTheEntry) {
  Bytes stream = Codes({{'A', 9}, {256, 9}, {1, 9}, {'B', 10}, {256, 10}, {1, 10}, {256, 11}, {1, 11},
                        {256, 12}, {1, 12}, {'C', 13}, {256, 13}, {1, 13}, {'D', 14}, {'E', 14}});
  DecodeResult r = RunDecoder(UnshrinkCall(), stream, 5);
  EXPECT_EQ(r.output, (Bytes{'A', 'B', 'C'}));
  EXPECT_NE(r.crc, Crc32({'A', 'B', 'C', 'D', 'E'}));
}

TEST(Unshrink, ChainThroughAnUndefinedCodeEndsTheEntry) {
  // 300 is undefined when it arrives, so it decodes as the previous string plus its first byte and
  // becomes the parent of code 258. Decoding 258 then walks into 300, still free: the entry ends.
  Bytes stream = Codes({{'A', 9}, {300, 9}, {257, 9}, {258, 9}, {'A', 9}});
  DecodeResult r = RunDecoder(UnshrinkCall(), stream, 100);
  EXPECT_EQ(r.output, (Bytes{'A', 'A', 'A', 'A', 'A'}));
}

TEST(Unshrink, SkippedSubcodeAndPartialClearByHand) {
  // Codes: 257 = ab, 258 = ba; the control 256 5 is skipped; 259 arrives while it is being defined
  // and decodes as ab + a.
  Bytes stream = Codes({{'a', 9}, {'b', 9}, {257, 9}, {256, 9}, {5, 9}, {259, 9}});
  DecodeResult r = RunDecoder(UnshrinkCall(), stream, 7);
  EXPECT_EQ(r.output, (Bytes{'a', 'b', 'a', 'b', 'a', 'b', 'a'}));
  // Before the clear: 257 = ab, 258 = ba, 259 = abc. 257 is the parent of 259 and survives; 258 and 259
  // are freed and free drops to 258. 'd' defines 258 = c + d; 259, free again, decodes as d + d; 257 is
  // still ab.
  Bytes cleared = Codes({{'a', 9}, {'b', 9}, {257, 9}, {'c', 9}, {256, 9}, {2, 9}, {'d', 9}, {259, 9},
                         {257, 9}, {258, 9}});
  DecodeResult c = RunDecoder(UnshrinkCall(), cleared, 12);
  EXPECT_EQ(c.output, (Bytes{'a', 'b', 'a', 'b', 'c', 'd', 'd', 'd', 'a', 'b', 'c', 'd'}));
}

TEST(Unshrink, DecryptsUnderneath) {
  Bytes data = LegacySamples()[4].second;
  Bytes stream = ZipCryptoEncrypt(Shrink(data), "secret");
  DecoderCall call = [](uint32_t size, uint8_t *buffer) {
    InitKeys("secret");
    g_decrypting = 1;
    Unshrink(size, 0, buffer);
    g_decrypting = 0;
  };
  DecodeResult r = RunDecoder(call, stream, uint32_t(data.size()));
  EXPECT_EQ(r.output, data);
}

TEST(Unshrink, TruncatedStreamsEndCleanly) {
  Bytes prose = LegacySamples()[4].second;
  Bytes data(prose.begin(), prose.begin() + 900); // short enough to cut at every length
  ShrinkCase c = ShrinkCases()[2];
  ExpectPrefixesEndCleanly(UnshrinkCall(), Shrink(data, c.options), data, 8192);
}

TEST(Unshrink, MutatedStreamsEndCleanly) {
  Bytes data = RandomBytes(3000, 4, 6);
  ShrinkOptions options;
  options.partialClearBefore = {100, 400, 700};
  std::mt19937 rng(1);
  ExpectMutationsEndCleanly(UnshrinkCall(), Shrink(data, options), uint32_t(data.size()), LEGACY_MUTATIONS, rng,
                            8192);
}

} // namespace
