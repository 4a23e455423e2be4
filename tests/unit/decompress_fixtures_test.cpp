// The legacy decoders on real archives: files shrunk, reduced (factor 4) and imploded by old zip
// programs, PKZIP 1.10's imploded archive (8 KiB dictionary with the literal tree, 4 KiB without).
// Every entry must come out with its CRC-32 right.
#include <gtest/gtest.h>

#include "legacy_codecs.h"
#include "test_support.h"

namespace {

using namespace sfxtest;

struct FixtureCase {
  const char *archive;
  size_t entries;
};

class LegacyFixture : public ::testing::TestWithParam<FixtureCase> {};

TEST_P(LegacyFixture, EveryEntryMatchesItsCrc) {
  if (FixturesDir().empty())
    GTEST_SKIP() << "legacy fixtures absent";
  std::string path = FixturesDir() + "/legacy/" + GetParam().archive;
  if (!FileExists(path))
    GTEST_SKIP() << path << " absent";
  Bytes zip = ReadFile(path);
  std::vector<LocalEntry> entries = WalkLocalHeaders(zip);
  ASSERT_EQ(entries.size(), GetParam().entries);
  for (const LocalEntry &e : entries) {
    SCOPED_TRACE(e.name);
    DecoderCall call;
    switch (e.method) {
    case 0: call = StoredCall(e.compressedSize); break;
    case 1: call = UnshrinkCall(); break;
    case 2: case 3: case 4: case 5: call = UnreduceCall(e.method - 1); break;
    case 6: call = ExplodeCall(e.flags & 2, e.flags & 4); break;
    default: FAIL() << "method " << e.method;
    }
    DecodeResult r = RunDecoder(call, zip, e.uncompressedSize, e.dataOffset);
    EXPECT_EQ(r.crc, e.crc);
    EXPECT_EQ(r.output.size(), e.uncompressedSize);
    EXPECT_EQ(Crc32(r.output), e.crc);
  }
}

INSTANTIATE_TEST_SUITE_P(Archives, LegacyFixture,
                         ::testing::Values(FixtureCase{"HWSHRINK.ZIP", 3}, FixtureCase{"HWREDUCE.ZIP", 3},
                                           FixtureCase{"HWIMPODE.ZIP", 3}, FixtureCase{"example-s.zip", 1},
                                           FixtureCase{"example-r.zip", 1}, FixtureCase{"example-i.zip", 1},
                                           FixtureCase{"PKZ110EI.ZIP", 15}),
                         [](const auto &info) {
                           std::string name = info.param.archive;
                           for (char &c : name)
                             if (!isalnum((unsigned char)c))
                               c = '_';
                           return name;
                         });

} // namespace
