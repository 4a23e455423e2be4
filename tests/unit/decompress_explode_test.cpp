// Explode (method 6): round trips through the test's imploder with both dictionary sizes and both tree
// settings, the tree construction on the Shannon-Fano examples, hand-made streams for the corners
// (minimum matches, the longest length, the largest distances, lists describing too few or too many
// entries, a code that matches nothing, an output of exactly one window), and every truncation and a
// few thousand mutations of valid streams.
#include <gtest/gtest.h>

#include <random>

#include "decompress/decompress.h"
#include "decompress/legacy.h"
#include "legacy_codecs.h"
#include "test_support.h"

namespace {

using namespace sfxtest;

struct Flags {
  bool dictionary8k, literalTree;
};
const Flags kAllFlags[] = {{false, false}, {false, true}, {true, false}, {true, true}};

std::string Describe(Flags f) {
  return std::string(f.dictionary8k ? "8K" : "4K") + (f.literalTree ? " literal tree" : " plain literals");
}

Bytes FarRepeats() {
  // Repeats 7000 bytes back: only the 8 KiB dictionary reaches them.
  Bytes data = RandomBytes(7000, 31);
  data.insert(data.end(), data.begin(), data.begin() + 600);
  return data;
}

TEST(Explode, RoundTripsEverySampleWithEveryFlagSetting) {
  auto samples = LegacySamples();
  samples.push_back({"far repeats", FarRepeats()});
  for (const auto &[name, data] : samples) {
    for (Flags f : kAllFlags) {
      SCOPED_TRACE(name + " / " + Describe(f));
      ImplodeOptions options;
      options.dictionary8k = f.dictionary8k;
      options.literalTree = f.literalTree;
      Bytes stream = Implode(data, options);
      DecodeResult r = RunDecoder(ExplodeCall(f.dictionary8k, f.literalTree), stream, uint32_t(data.size()));
      EXPECT_EQ(r.output, data);
      EXPECT_EQ(r.crc, Crc32(data));
    }
  }
}

TEST(Explode, EncoderReachesTheCorners) {
  auto samples = LegacySamples();
  for (Flags f : kAllFlags) {
    SCOPED_TRACE(Describe(f));
    ImplodeOptions::Stats stats;
    ImplodeOptions options;
    options.dictionary8k = f.dictionary8k;
    options.literalTree = f.literalTree;
    options.stats = &stats;
    Implode(samples[10].second, options); // long repeats
    EXPECT_GT(stats.longMatches, 0u);
    EXPECT_EQ(stats.maxLength, (f.literalTree ? 3u : 2u) + 63 + 255);
    Implode(samples[6].second, options); // zeros first
    EXPECT_GT(stats.beforeStart, 0u);
    Implode(FarRepeats(), options);
    if (f.dictionary8k) {
      EXPECT_GT(stats.maxDistance, 4096u);
    } else {
      EXPECT_LE(stats.maxDistance, 4096u);
    }
  }
}

// Runs `body` with the bit input reading `stream`.
void WithBits(const Bytes &stream, const std::function<void()> &body) {
  RunDecoder([&](uint32_t, uint8_t *) {
    ResetBitInput();
    body();
  }, stream, 0);
}

const ShannonFanoEntry *EntryOf(const ShannonFanoTree &tree, int value) {
  for (LONG i = 0; i < tree.count; i++)
    if (tree.entries[i].value == value)
      return &tree.entries[i];
  return nullptr;
}

TEST(Explode, TreeOfSixtyFourSixBitCodes) {
  ShannonFanoTree tree;
  WithBits({3, 0xF5, 0xF5, 0xF5, 0xF5}, [&] {
    tree.count = 64;
    ASSERT_TRUE(ReadBitLengths(&tree));
    SortTreeEntries(&tree);
    AssignCodes(&tree);
  });
  for (int v = 0; v < 64; v++) {
    ASSERT_NE(EntryOf(tree, v), nullptr);
    EXPECT_EQ(EntryOf(tree, v)->bitLength, 6);
  }
  EXPECT_EQ(EntryOf(tree, 63)->code, 0);
  EXPECT_EQ(EntryOf(tree, 0)->code, 0xFC00);
  EXPECT_EQ(EntryOf(tree, 62)->code, 0x0400);
  ReverseCodes(&tree);
  EXPECT_EQ(EntryOf(tree, 0)->code, 0x003F);
  EXPECT_EQ(EntryOf(tree, 62)->code, 0x0020);
}

TEST(Explode, TreeSortsByLengthThenIndexAndGivesLongestCodesTheSmallest) {
  // Entries 0 and 2 of length 2, entry 1 of length 1 (list: 1 + 1 lengths; bytes 0x01, 0x00, 0x01).
  ShannonFanoTree tree;
  WithBits({2, 0x01, 0x00, 0x01}, [&] {
    tree.count = 3;
    ASSERT_TRUE(ReadBitLengths(&tree));
    SortTreeEntries(&tree);
    AssignCodes(&tree);
  });
  EXPECT_EQ(tree.entries[0].value, 1);
  EXPECT_EQ(tree.entries[1].value, 0);
  EXPECT_EQ(tree.entries[2].value, 2);
  EXPECT_EQ(EntryOf(tree, 2)->code, 0x0000);
  EXPECT_EQ(EntryOf(tree, 0)->code, 0x4000);
  EXPECT_EQ(EntryOf(tree, 1)->code, 0x8000);
}

// Hand-made streams with uniform trees: 64 codes of 6 bits (symbol s is 63 - s, first bit first) and,
// with the literal tree, 256 codes of 8 bits (byte v is 255 - v).
class HandStream {
public:
  explicit HandStream(Flags f) : flags_(f) {
    if (f.literalTree) {
      w_.Put(15, 8);
      for (int i = 0; i < 16; i++)
        w_.Put(0xF7, 8);
    }
    for (int tree = 0; tree < 2; tree++) {
      w_.Put(3, 8);
      for (int i = 0; i < 4; i++)
        w_.Put(0xF5, 8);
    }
  }
  HandStream &Literal(uint8_t b) {
    w_.Put(1, 1);
    if (flags_.literalTree)
      Code(255 - b, 8);
    else
      w_.Put(b, 8);
    return *this;
  }
  // distance is the stored value (the copy reaches distance + 1 back); symbol is the length symbol.
  HandStream &Match(uint32_t distance, uint32_t symbol, int extra = -1) {
    int low = flags_.dictionary8k ? 7 : 6;
    w_.Put(0, 1);
    w_.Put(distance & ((1u << low) - 1), low);
    Code(63 - (distance >> low), 6);
    Code(63 - symbol, 6);
    if (extra >= 0)
      w_.Put(uint32_t(extra), 8);
    return *this;
  }
  void Code(uint32_t code, int bits) {
    for (int j = bits - 1; j >= 0; j--)
      w_.Put((code >> j) & 1, 1);
  }
  Bytes Finish() { return w_.Finish(); }

private:
  Flags flags_;
  BitWriter w_;
};

DecodeResult RunHand(Flags f, HandStream &s, uint32_t size) {
  return RunDecoder(ExplodeCall(f.dictionary8k, f.literalTree), s.Finish(), size);
}

TEST(Explode, MinimumMatchDependsOnTheTreesFlag) {
  for (Flags f : kAllFlags) {
    SCOPED_TRACE(Describe(f));
    HandStream s(f);
    s.Literal('A').Match(0, 0).Literal('B');
    size_t minimum = f.literalTree ? 3 : 2;
    Bytes expected(1 + minimum, 'A');
    expected.push_back('B');
    EXPECT_EQ(RunHand(f, s, uint32_t(expected.size())).output, expected);
  }
}

TEST(Explode, LongestLengthIsSixtyThreePlus255PlusMinimum) {
  for (Flags f : kAllFlags) {
    SCOPED_TRACE(Describe(f));
    HandStream s(f);
    s.Literal('x').Match(0, 63, 255);
    Bytes expected(1 + 63 + 255 + (f.literalTree ? 3 : 2), 'x');
    EXPECT_EQ(RunHand(f, s, uint32_t(expected.size())).output, expected);
  }
}

TEST(Explode, LargestDistanceReachesBeforeTheFirstByte) {
  for (Flags f : kAllFlags) {
    SCOPED_TRACE(Describe(f));
    HandStream s(f);
    uint32_t largest = f.dictionary8k ? 8191 : 4095;
    s.Literal('A').Match(largest, 1).Literal('B');
    Bytes expected = {'A'};
    expected.insert(expected.end(), 1 + (f.literalTree ? 3 : 2), 0);
    expected.push_back('B');
    EXPECT_EQ(RunHand(f, s, uint32_t(expected.size())).output, expected);
  }
}

TEST(Explode, ListsDescribingTooManyEntriesEndTheEntry) {
  // Length tree: 5 bytes of 16 entries each, 80 for a tree of 64.
  BitWriter w;
  w.Put(4, 8);
  for (int i = 0; i < 5; i++)
    w.Put(0xF5, 8);
  Bytes rest = HandStream({false, false}).Literal('A').Finish();
  Bytes stream = w.Finish();
  stream.insert(stream.end(), rest.begin(), rest.end());
  DecodeResult r = RunDecoder(ExplodeCall(false, false), stream, 10);
  EXPECT_TRUE(r.output.empty());
  // Literal tree: 17 bytes of 16 entries of 8 bits, 272 for a tree of 256.
  BitWriter l;
  l.Put(16, 8);
  for (int i = 0; i < 17; i++)
    l.Put(0xF7, 8);
  Bytes literal = l.Finish();
  literal.insert(literal.end(), 200, 0x55);
  EXPECT_TRUE(RunDecoder(ExplodeCall(true, true), literal, 10).output.empty());
}

TEST(Explode, EntriesLeftOutOfAListNeverMatch) {
  // Length and distance trees describe only entries 0 and 1, of 1 bit each: symbol 1 is the bit 0,
  // symbol 0 the bit 1; the 62 entries left out must not take part.
  BitWriter w;
  for (int tree = 0; tree < 2; tree++) {
    w.Put(0, 8);
    w.Put(0x10, 8); // length 1, repeat 2
  }
  w.Put(1, 1);
  w.Put('A', 8);
  w.Put(0, 1);  // match
  w.Put(0, 6);  // low distance bits
  w.Put(1, 1);  // distance symbol 0
  w.Put(0, 1);  // length symbol 1: 3 bytes
  w.Put(1, 1);
  w.Put('B', 8);
  DecodeResult r = RunDecoder(ExplodeCall(false, false), w.Finish(), 5);
  EXPECT_EQ(r.output, (Bytes{'A', 'A', 'A', 'A', 'B'}));
}

TEST(Explode, CodeMatchingNothingEndsTheEntry) {
  // Length tree: entries 0 and 1 of 2 bits (codes 01 and 00 first bit first); 1x matches nothing.
  BitWriter w;
  w.Put(0, 8);
  w.Put(0x11, 8);
  w.Put(3, 8);
  for (int i = 0; i < 4; i++)
    w.Put(0xF5, 8);
  w.Put(1, 1);
  w.Put('A', 8);
  w.Put(0, 1);
  w.Put(0, 6);
  w.Put(1, 1); // distance symbol 0: code 111111
  w.Put(0x1F, 5);
  w.Put(1, 1); // length code 1x: no entry
  w.Put(1, 1);
  w.Put(1, 1);
  w.Put('B', 8);
  DecodeResult r = RunDecoder(ExplodeCall(false, false), w.Finish(), 10);
  EXPECT_EQ(r.output, (Bytes{'A'}));
}

TEST(Explode, ExactlyOneWindowWritesTheWindowThenNothing) {
  Bytes data = RandomBytes(16384, 11, 16);
  for (Flags f : kAllFlags) {
    ImplodeOptions options;
    options.dictionary8k = f.dictionary8k;
    options.literalTree = f.literalTree;
    DecodeResult r = RunDecoder(ExplodeCall(f.dictionary8k, f.literalTree), Implode(data, options), 16384);
    EXPECT_EQ(r.output, data);
    if (r.progressMessages >= 0) {
      EXPECT_EQ(r.progressMessages, 2); // 16384 bytes, then 0
    }
  }
}

TEST(Explode, TruncatedStreamsEndCleanly) {
  Bytes prose = LegacySamples()[4].second;
  Bytes data(prose.begin(), prose.begin() + 900); // short enough to cut at every length
  for (Flags f : {kAllFlags[0], kAllFlags[3]}) {
    ImplodeOptions options;
    options.dictionary8k = f.dictionary8k;
    options.literalTree = f.literalTree;
    ExpectPrefixesEndCleanly(ExplodeCall(f.dictionary8k, f.literalTree), Implode(data, options), data, 321);
  }
}

TEST(Explode, MutatedStreamsEndCleanly) {
  Bytes data = RandomBytes(3000, 4, 6);
  std::mt19937 rng(3);
  for (Flags f : kAllFlags) {
    ImplodeOptions options;
    options.dictionary8k = f.dictionary8k;
    options.literalTree = f.literalTree;
    ExpectMutationsEndCleanly(ExplodeCall(f.dictionary8k, f.literalTree), Implode(data, options),
                              uint32_t(data.size()), LEGACY_MUTATIONS / 4, rng, 321);
  }
}

} // namespace
