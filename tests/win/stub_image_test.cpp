// The built stub as a file: a stripped 32-bit GUI PE image for x86, small, importing only the platform's own
// DLLs, free of the local header signature, and ending exactly where its overlay offset says, so that the
// builder appends the settings block where the stub looks for it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <set>

#include "startup/startup.h"
#include "test_support.h"

namespace {

using sfxtest::Bytes;

uint32_t U16(const Bytes &b, size_t at) { return b.at(at) | (b.at(at + 1) << 8); }
uint32_t U32(const Bytes &b, size_t at) {
  return b.at(at) | (b.at(at + 1) << 8) | (b.at(at + 2) << 16) | (static_cast<uint32_t>(b.at(at + 3)) << 24);
}

class StubImageTest : public ::testing::Test {
protected:
  void SetUp() override {
    path = sfxtest::BinaryDir() + "\\sfx.exe";
    ASSERT_TRUE(sfxtest::FileExists(path)) << path << " is not built";
    image = sfxtest::ReadFile(path);
    ASSERT_GE(image.size(), 0x40u);
    ASSERT_EQ(image[0], 'M');
    ASSERT_EQ(image[1], 'Z');
    pe = U32(image, 0x3C);
    ASSERT_LT(pe + 248, image.size());
    ASSERT_EQ(U32(image, pe), 0x00004550u) << "PE signature";
    optional = pe + 24;
    sections = U16(image, pe + 6);
    sectionTable = pe + 24 + U16(image, pe + 20);
  }

  // File offset of a relative virtual address, through the section table.
  size_t FileOffset(uint32_t rva) const {
    for (uint32_t i = 0; i < sections; ++i) {
      size_t h = sectionTable + 40 * i;
      uint32_t va = U32(image, h + 12), virtualSize = U32(image, h + 8), rawSize = U32(image, h + 16);
      uint32_t span = std::max(virtualSize, rawSize);
      if (rva >= va && rva < va + span) return U32(image, h + 20) + (rva - va);
    }
    ADD_FAILURE() << "RVA " << rva << " lies in no section";
    return 0;
  }

  std::string path;
  Bytes image;
  size_t pe = 0, optional = 0, sectionTable = 0;
  uint32_t sections = 0;
};

TEST_F(StubImageTest, IsAStrippedPe32GuiImageForX86) {
  EXPECT_EQ(U16(image, pe + 4), 0x014Cu) << "machine i386";
  EXPECT_EQ(U16(image, pe + 20), 224u) << "the 32-bit optional header";
  EXPECT_EQ(U16(image, optional), 0x010Bu) << "PE32 magic";
  EXPECT_EQ(U16(image, optional + 68), 2u) << "GUI subsystem";
  EXPECT_EQ(U32(image, pe + 12), 0u) << "PointerToSymbolTable: the stub is stripped";
  EXPECT_EQ(U32(image, pe + 16), 0u) << "NumberOfSymbols";
}

TEST_F(StubImageTest, IsAtMost96KiB) { EXPECT_LE(image.size(), 98304u); }

TEST_F(StubImageTest, HoldsNoLocalHeaderSignature) {
  // The stub's entry scan starts at its own first byte.
  for (size_t i = 0; i + 4 <= image.size(); ++i)
    if (image[i] == 0x50 && image[i + 1] == 0x4B && image[i + 2] == 0x03 && image[i + 3] == 0x04)
      ADD_FAILURE() << "50 4B 03 04 at offset " << i;
}

TEST_F(StubImageTest, OverlayOffsetIsTheFileSize) {
  EXPECT_EQ(static_cast<size_t>(FindOverlayOffset(image.data())), image.size());
}

TEST_F(StubImageTest, ImportsOnlyPlatformDlls) {
  const std::set<std::string> allowed = {"msvcrt.dll",   "kernel32.dll", "user32.dll", "gdi32.dll",
                                         "comctl32.dll", "shell32.dll",  "ole32.dll",  "mpr.dll",
                                         "advapi32.dll", "comdlg32.dll"};
  uint32_t importRva = U32(image, optional + 96 + 8 * 1);
  ASSERT_NE(importRva, 0u) << "no import directory";
  size_t descriptor = FileOffset(importRva);
  std::set<std::string> seen;
  for (;; descriptor += 20) {
    uint32_t nameRva = U32(image, descriptor + 12);
    if (nameRva == 0 && U32(image, descriptor) == 0 && U32(image, descriptor + 16) == 0) break;
    std::string name;
    for (size_t at = FileOffset(nameRva); image.at(at) != 0; ++at)
      name += static_cast<char>(std::tolower(image[at]));
    seen.insert(name);
    EXPECT_TRUE(allowed.count(name)) << "imports from " << name;
  }
  EXPECT_TRUE(seen.count("kernel32.dll"));
  EXPECT_TRUE(seen.count("msvcrt.dll")) << "the C runtime is the platform's msvcrt.dll";
}

} // namespace
