// Minimal 32-bit PE images for tests of the overlay offset and of the builder: an MZ header, the PE
// header with the fixed 224-byte optional header, and the section table; the sections' raw data filled
// with a byte that can never form a ZIP signature.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sfxtest {

struct PeSection {
  std::string name;  // up to 8 bytes
  uint32_t rawPointer;
  uint32_t rawSize;
};

struct PeImageSpec {
  std::vector<PeSection> sections;
  uint32_t peOffset = 0x80;
  uint16_t machine = 0x014C;
  uint16_t optionalMagic = 0x010B;
  // false: only the headers (for sections far beyond them); true: headers and every section's raw data.
  bool withData = true;
};

inline void PutLe(std::vector<uint8_t> &b, size_t at, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) b[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

// The sections of a typical small stub: code, a section whose name lacks the dot, and a trailing .bss
// header without raw data.
inline std::vector<PeSection> TypicalSections() {
  return {{".text", 0x200, 0x400}, {"CODE", 0x600, 0x200}, {".bss", 0, 0}};
}

inline std::vector<uint8_t> MakePeImage(const PeImageSpec &layout) {
  size_t tableEnd = layout.peOffset + 248 + 40 * layout.sections.size();
  size_t size = tableEnd;
  if (layout.withData)
    for (const PeSection &s : layout.sections)
      if (s.rawSize != 0 && s.rawPointer + s.rawSize > size) size = s.rawPointer + s.rawSize;
  std::vector<uint8_t> b(size, 0);
  for (size_t i = tableEnd; i < size; ++i) b[i] = 0xCC;
  b[0] = 'M';
  b[1] = 'Z';
  PutLe(b, 0x3C, layout.peOffset, 4);
  size_t pe = layout.peOffset;
  b[pe] = 'P';
  b[pe + 1] = 'E';
  PutLe(b, pe + 4, layout.machine, 2);
  PutLe(b, pe + 6, static_cast<uint32_t>(layout.sections.size()), 2);
  PutLe(b, pe + 20, 224, 2);       // SizeOfOptionalHeader
  PutLe(b, pe + 22, 0x0102, 2);    // executable, 32-bit machine
  PutLe(b, pe + 24, layout.optionalMagic, 2);
  PutLe(b, pe + 24 + 68, 2, 2);    // GUI subsystem
  for (size_t i = 0; i < layout.sections.size(); ++i) {
    size_t h = pe + 248 + 40 * i;
    const PeSection &s = layout.sections[i];
    for (size_t k = 0; k < s.name.size() && k < 8; ++k) b[h + k] = static_cast<uint8_t>(s.name[k]);
    PutLe(b, h + 8, s.rawSize ? s.rawSize : 0x1000, 4);  // VirtualSize
    PutLe(b, h + 16, s.rawSize, 4);
    PutLe(b, h + 20, s.rawPointer, 4);
  }
  return b;
}

inline std::vector<uint8_t> MakeTypicalStub() {
  PeImageSpec layout;
  layout.sections = TypicalSections();
  return MakePeImage(layout);
}

} // namespace sfxtest
