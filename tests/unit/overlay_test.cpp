// The overlay offset of 32-bit PE images: the end of the furthest section's raw data, whatever the
// order and names of the sections, with headers at any alignment in memory.
#include <gtest/gtest.h>

#include <cstring>

#include "pe_image.h"
#include "startup/startup.h"

namespace {

using sfxtest::MakePeImage;
using sfxtest::PeImageSpec;
using sfxtest::PeSection;

struct OverlayCase {
  const char *what;
  std::vector<PeSection> sections;
  uint32_t peOffset;
  bool withData;
  DWORD expected;
};

const OverlayCase CASES[] = {
    {"typical stub: code, a section named without a dot, trailing .bss without raw data",
     sfxtest::TypicalSections(), 0x80, true, 0x800},
    {"four dotted sections, the last with raw data at 0x10000 of size 0x7000",
     {{".text", 0x400, 0x8000}, {".rdata", 0x8400, 0x3000}, {".data", 0xB400, 0x200}, {".rsrc", 0x10000, 0x7000}},
     0x80, false, 0x17000},
    {"the furthest section is not the last header",
     {{".rsrc", 0x1000, 0x3000}, {".text", 0x400, 0xC00}}, 0x80, true, 0x4000},
    {"a section without raw data counts for nothing, whatever its pointer",
     {{".text", 0x200, 0x200}, {".bss", 0x5000, 0}}, 0x80, true, 0x400},
    {"the last and furthest section's name does not begin with a dot",
     {{".text", 0x200, 0x200}, {"UPX1", 0x400, 0x1234}}, 0x80, true, 0x1634},
    {"a single section", {{".text", 0x200, 0x600}}, 0x40, true, 0x800},
    {"every byte of the numbers counts (little-endian, PE header beyond 255)",
     {{".text", 0x00012300, 0x00340000}, {".data", 0x00000400, 0x00000200}}, 0x0104, false, 0x00352300},
    {"no sections", {}, 0x80, false, 0},
};

TEST(FindOverlayOffset, EndOfTheFurthestSectionRawData) {
  for (const OverlayCase &c : CASES) {
    PeImageSpec layout;
    layout.sections = c.sections;
    layout.peOffset = c.peOffset;
    layout.withData = c.withData;
    std::vector<uint8_t> image = MakePeImage(layout);
    EXPECT_EQ(FindOverlayOffset(image.data()), c.expected) << c.what;
    // Headers read from a file buffer need not be aligned.
    std::vector<uint8_t> shifted(image.size() + 3);
    std::memcpy(shifted.data() + 3, image.data(), image.size());
    EXPECT_EQ(FindOverlayOffset(shifted.data() + 3), c.expected) << c.what << " (at an odd address)";
  }
}

} // namespace
