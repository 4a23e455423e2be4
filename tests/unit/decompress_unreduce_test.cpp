// Unreduce (methods 2 to 5): round trips through the test's reducer for every factor and several
// follower-set sizes, hand-made streams for the corners (144 0, the longest lengths, the largest
// distance reaching before the first byte, a bad follower index, an output of exactly one window), and
// every truncation and a few thousand mutations of valid streams.
#include <gtest/gtest.h>

#include <random>

#include "decompress/decompress.h"
#include "decompress/legacy.h"
#include "legacy_codecs.h"
#include "test_support.h"

namespace {

using namespace sfxtest;

TEST(Unreduce, RoundTripsEverySampleForEveryFactor) {
  for (const auto &[name, data] : LegacySamples()) {
    for (int factor = 1; factor <= 4; factor++) {
      for (int followers : {0, 1, 5, 63}) {
        SCOPED_TRACE(name + " factor " + std::to_string(factor) + " followers " + std::to_string(followers));
        ReduceOptions options;
        options.factor = factor;
        options.maxFollowers = followers;
        Bytes stream = Reduce(data, options);
        DecodeResult r = RunDecoder(UnreduceCall(factor), stream, uint32_t(data.size()));
        EXPECT_EQ(r.output, data);
        EXPECT_EQ(r.crc, Crc32(data));
      }
    }
  }
}

TEST(Unreduce, EncoderReachesTheCorners) {
  std::vector<std::pair<std::string, Bytes>> samples = LegacySamples();
  for (int factor = 1; factor <= 4; factor++) {
    SCOPED_TRACE(factor);
    ReduceOptions::Stats stats;
    ReduceOptions options;
    options.factor = factor;
    options.stats = &stats;
    Reduce(samples[10].second, options); // long repeats
    EXPECT_GT(stats.longMatches, 0u);
    EXPECT_EQ(stats.maxCopy, size_t(127 >> (factor - 1)) + 255 + 3);
    EXPECT_GT(stats.followerHits, 0u);
    Reduce(samples[5].second, options); // 144s
    EXPECT_GT(stats.escapedLiterals, 0u);
    Reduce(samples[6].second, options); // zeros first
    EXPECT_GT(stats.beforeStart, 0u);
  }
}

// A stream with every follower set empty: the second-stage bytes follow as 8 plain bits each.
Bytes PlainStream(const Bytes &secondStage) {
  BitWriter w;
  for (int v = 0; v < 256; v++)
    w.Put(0, 6);
  for (uint8_t b : secondStage)
    w.Put(b, 8);
  return w.Finish();
}

struct HandCase {
  const char *name;
  int factor;
  Bytes secondStage;
  Bytes expected;
};

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes &p : parts)
    out.insert(out.end(), p.begin(), p.end());
  return out;
}

TEST(Unreduce, HandMadeCorners) {
  Bytes abc = {'a', 'b', 'c'};
  std::vector<HandCase> cases = {
      {"144 0 is the byte 144", 2, {'x', 144, 0, 'y'}, {'x', 144, 'y'}},
      // V = 0xF3: length 3, high distance 15; next byte 0x10: distance 15 * 256 + 16 + 1 = 3857, far
      // before the first byte: 6 zeros from the cleared window.
      {"factor 4 largest distance before the start", 4, {'x', 144, 0xF3, 0x10}, Concat({{'x'}, Bytes(6, 0)})},
      // V = 0x7F (length 127: one more length byte, 255) with distance 1: 127 + 255 + 3 = 385 copies.
      {"factor 1 longest match", 1, {'q', 144, 0x7F, 255, 0}, Bytes(386, 'q')},
      // Factor 2: V = 0x3F + 0x40 (length 63, high distance 1), then 10 more, distance 256 + 2 + 1.
      {"factor 2 long match", 2, Concat({Bytes(259, 'z'), abc, {144, 0x7F, 10, 2}}),
       Concat({Bytes(259, 'z'), abc, Bytes(76, 'z')})},
      // Factor 3: V = 0x21 (length 1 + 3, high 1), distance 256 + 3 + 1 from position 260: back to 'a'.
      {"factor 3 short match", 3, Concat({abc, Bytes(257, '.'), {144, 0x21, 3}}),
       Concat({abc, Bytes(257, '.'), {'a', 'b', 'c', '.'}})},
  };
  for (const HandCase &c : cases) {
    SCOPED_TRACE(c.name);
    uint32_t size = uint32_t(c.expected.size());
    DecodeResult r = RunDecoder(UnreduceCall(c.factor), PlainStream(c.secondStage), size);
    EXPECT_EQ(r.output, c.expected);
  }
}

TEST(Unreduce, FollowerSetsAreReadFrom255DownAndTheFirstByteUsesSetZero) {
  BitWriter w;
  for (int v = 255; v >= 0; v--) {
    if (v == 0) { // set of byte 0: 3 followers, index of 2 bits
      w.Put(3, 6);
      w.Put(10, 8);
      w.Put(20, 8);
      w.Put(30, 8);
    } else if (v == 20) { // set of byte 20: one follower, still one index bit
      w.Put(1, 6);
      w.Put('k', 8);
    } else {
      w.Put(0, 6);
    }
  }
  w.Put(0, 1); // first byte from the set of 0: index 1 -> 20
  w.Put(1, 2);
  w.Put(0, 1); // from the set of 20: index 0 -> 'k'
  w.Put(0, 1);
  w.Put('m', 8); // the set of 'k' is empty: 8 plain bits
  w.Put(1, 1);   // set of 'm' empty too, so this bit and the next 7 make one plain byte
  w.Put(0x7F >> 1, 7);
  DecodeResult r = RunDecoder(UnreduceCall(4), w.Finish(), 4);
  EXPECT_EQ(r.output, (Bytes{20, 'k', 'm', 0x7F}));
}

TEST(Unreduce, FollowerIndexBeyondTheCountYieldsZero) {
  BitWriter w;
  for (int v = 255; v >= 0; v--) {
    if (v == 0) {
      w.Put(3, 6);
      w.Put(10, 8);
      w.Put(20, 8);
      w.Put(30, 8);
    } else {
      w.Put(0, 6);
    }
  }
  w.Put(0, 1);
  w.Put(3, 2); // index 3 of a set of 3: not defined, yields 0 (and the next byte again uses set 0)
  w.Put(0, 1);
  w.Put(2, 2);
  DecodeResult r = RunDecoder(UnreduceCall(3), w.Finish(), 2);
  EXPECT_EQ(r.output, (Bytes{0, 30}));
}

TEST(Unreduce, ExactlyOneWindowWritesTheWindowThenNothing) {
  Bytes data = RandomBytes(16384, 11, 16);
  ReduceOptions options;
  Bytes stream = Reduce(data, options);
  DecodeResult r = RunDecoder(UnreduceCall(4), stream, 16384);
  EXPECT_EQ(r.output, data);
  if (r.progressMessages >= 0) {
    EXPECT_EQ(r.progressMessages, 2); // 16384 bytes, then 0
  }
}

TEST(Unreduce, TruncatedStreamsEndCleanly) {
  Bytes prose = LegacySamples()[4].second;
  Bytes data(prose.begin(), prose.begin() + 900); // short enough to cut at every length
  ReduceOptions options;
  options.factor = 2;
  options.maxFollowers = 5;
  ExpectPrefixesEndCleanly(UnreduceCall(2), Reduce(data, options), data, 385);
}

TEST(Unreduce, MutatedStreamsEndCleanly) {
  Bytes data = RandomBytes(3000, 4, 6);
  std::mt19937 rng(2);
  for (int factor = 1; factor <= 4; factor++) {
    ReduceOptions options;
    options.factor = factor;
    options.maxFollowers = 3 + factor * 7;
    ExpectMutationsEndCleanly(UnreduceCall(factor), Reduce(data, options), uint32_t(data.size()),
                              LEGACY_MUTATIONS / 4, rng, 385);
  }
}

} // namespace
