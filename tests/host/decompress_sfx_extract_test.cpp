// The legacy fixtures through the whole extraction engine (sfx-extract): every entry of every archive
// lands in the destination with the size and CRC-32 of its local header, and no CRC error is shown.
#include <gtest/gtest.h>

#include "legacy_codecs.h"
#include "test_support.h"

namespace {

using namespace sfxtest;

TEST(LegacyExtraction, EveryFixtureEntryExtractsWithItsCrc) {
  if (FixturesDir().empty())
    GTEST_SKIP() << "legacy fixtures absent";
  const std::string tool = BinaryDir() + "/tools/sfx-extract";
  if (!FileExists(tool))
    GTEST_SKIP() << "sfx-extract is not built";
  TempDir dir;
  size_t checked = 0;
  for (const char *name : {"HWSHRINK.ZIP", "HWREDUCE.ZIP", "HWIMPODE.ZIP", "example-s.zip", "example-r.zip",
                           "example-i.zip", "PKZ110EI.ZIP"}) {
    SCOPED_TRACE(name);
    const std::string archive = FixturesDir() + "/legacy/" + name;
    if (!FileExists(archive))
      continue;
    const std::string dest = dir.file(name);
    const std::string log = dest + ".log";
    ASSERT_EQ(sfxtest::Run("'" + tool + "' '" + archive + "' '" + dest + "/' > '" + log + "' 2>&1"), 0);
    Bytes printed = ReadFile(log);
    EXPECT_EQ(std::string(printed.begin(), printed.end()).find("CRC Error!"), std::string::npos);
    for (const LocalEntry &e : WalkLocalHeaders(ReadFile(archive))) {
      SCOPED_TRACE(e.name);
      ASSERT_TRUE(FileExists(dest + "/" + e.name));
      Bytes data = ReadFile(dest + "/" + e.name);
      EXPECT_EQ(data.size(), e.uncompressedSize);
      EXPECT_EQ(Crc32(data), e.crc);
      checked++;
    }
  }
  EXPECT_GE(checked, 27u);
}

} // namespace
