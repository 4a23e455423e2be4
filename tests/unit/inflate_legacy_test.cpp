// Deflated and Deflate64 entries of the shared real-world archives, inflated in place and judged by
// their CRC-32 (skipped when the archives, or deflated entries in them, are absent).
#include <filesystem>

#include "inflate_harness.h"

using namespace inflatetest;

TEST(InflateLegacy, DeflatedEntriesOfRealArchives) {
  std::string fixtures = sfxtest::FixturesDir();
  if (fixtures.empty()) {
    GTEST_SKIP() << "no legacy fixtures";
  }
  int inflated = 0;
  for (const auto &item : std::filesystem::directory_iterator(std::filesystem::path(fixtures) / "legacy")) {
    std::string ext = item.path().extension().string();
    if (ext != ".zip" && ext != ".ZIP") {
      continue;
    }
    std::string path = item.path().string();
    for (const ZipEntry &e : ListZip(sfxtest::ReadFile(path))) {
      if ((e.method != 8 && e.method != 9) || (e.flags & 1)) {
        continue;
      }
      SCOPED_TRACE(path + ": " + e.name);
      InflateRun run = InflateZipEntry(path, e);
      EXPECT_EQ(run.output.size(), e.size);
      EXPECT_EQ(run.crc, e.crc);
      inflated++;
    }
  }
  ReleaseFixedTables();
  if (!inflated) {
    GTEST_SKIP() << "no deflated entries among the legacy archives";
  }
}
