// Mutations of real legacy streams (shrunk, reduced and imploded by other programs than the test's own
// encoders): each damaged entry must end cleanly under the sanitizers, with its output bounded by the
// entry size plus the longest single string or match.
#include <gtest/gtest.h>

#include <random>

#include "legacy_codecs.h"
#include "test_support.h"

namespace {

using namespace sfxtest;

struct Target {
  const char *archive;
  const char *entry;
};

TEST(LegacyFuzz, MutatedRealStreamsEndCleanly) {
  if (FixturesDir().empty())
    GTEST_SKIP() << "legacy fixtures absent";
  const Target targets[] = {{"HWSHRINK.ZIP", "TESTDAT1.TXT"}, {"HWREDUCE.ZIP", "TESTDAT1.TXT"},
                            {"HWIMPODE.ZIP", "TESTDAT1.TXT"}, {"PKZ110EI.ZIP", "TEST.PCX"},
                            {"example-s.zip", "S.BIN"},       {"example-r.zip", "R.BIN"},
                            {"example-i.zip", "I.BIN"}};
  std::mt19937 rng(8);
  size_t runs = 0;
  for (const Target &t : targets) {
    SCOPED_TRACE(std::string(t.archive) + " " + t.entry);
    const std::string path = FixturesDir() + "/legacy/" + t.archive;
    if (!FileExists(path))
      continue;
    Bytes zip = ReadFile(path);
    for (const LocalEntry &e : WalkLocalHeaders(zip)) {
      if (e.name != t.entry)
        continue;
      DecoderCall call = e.method == 1   ? UnshrinkCall()
                         : e.method == 6 ? ExplodeCall(e.flags & 2, e.flags & 4)
                                         : UnreduceCall(e.method - 1);
      Bytes stream(zip.begin() + e.dataOffset, zip.begin() + e.dataOffset + e.compressedSize);
      ASSERT_EQ(RunDecoder(call, stream, e.uncompressedSize).crc, e.crc);
      for (int i = 0; i < 400; i++) {
        Bytes m = stream;
        if (i % 10 == 9) {
          m.resize(rng() % m.size());
        } else {
          int flips = 1 + int(rng() % 6);
          for (int k = 0; k < flips; k++)
            m[rng() % m.size()] ^= uint8_t(1 + rng() % 255);
        }
        DecodeResult r = RunDecoder(call, m, e.uncompressedSize);
        ASSERT_LE(r.output.size(), size_t(e.uncompressedSize) + 8192) << i;
        runs++;
      }
    }
  }
  EXPECT_GT(runs, 0u);
}

} // namespace
