// The checks on an executable image before anything is appended to it: it must be a 32-bit x86 PE image
// whose headers FindOverlayOffset can read within the file, with nothing behind its sections, and it must
// not hold the local header signature, since the stub's entry scan starts at its own first byte.
#include "mksfx.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include "startup/startup.h"

namespace mksfx {

static uint32_t U16(const Bytes &b, size_t at) { return b[at] | (b[at + 1] << 8); }
static uint32_t U32(const Bytes &b, size_t at) {
  return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}

uint32_t CheckPeImage(const Bytes &image, const std::string &what) {
  if (image.size() < 0x40 || image[0] != 'M' || image[1] != 'Z')
    Fail(what + ": not an executable (no MZ header)");
  uint32_t peOffset = U32(image, 0x3C);
  // The stub reads the PE header offset as 16 bits.
  if (peOffset > 0xFFFF || static_cast<uint64_t>(peOffset) + 248 > image.size())
    Fail(what + ": not a PE image (no PE header where the MZ header points)");
  if (image[peOffset] != 'P' || image[peOffset + 1] != 'E' || image[peOffset + 2] != 0 || image[peOffset + 3] != 0)
    Fail(what + ": not a PE image (no PE signature)");
  uint32_t machine = U16(image, peOffset + 4);
  if (machine != 0x014C) Fail(what + ": not a 32-bit x86 image (machine " + Hex32(machine) + ")");
  if (U16(image, peOffset + 20) != 224 || U16(image, peOffset + 24) != 0x010B)
    Fail(what + ": not a PE32 image (its optional header is not the 32-bit one)");
  uint32_t sections = U16(image, peOffset + 6);
  if (sections == 0) Fail(what + ": the image has no sections");
  uint64_t tableEnd = static_cast<uint64_t>(peOffset) + 248 + 40ull * sections;
  if (tableEnd > image.size()) Fail(what + ": the section table runs past the end of the file");
  for (uint32_t i = 0; i < sections; ++i) {
    size_t header = peOffset + 248 + 40 * i;
    if (static_cast<uint64_t>(U32(image, header + 20)) + U32(image, header + 16) > 0xFFFFFFFFull)
      Fail(what + ": section " + std::to_string(i + 1) + " ends beyond 4 GiB");
  }
  return FindOverlayOffset(image.data());
}

int64_t FindLocalHeaderSignature(const uint8_t *data, size_t length) {
  for (size_t i = 0; i + 4 <= length; ++i)
    if (data[i] == 0x50 && data[i + 1] == 0x4B && data[i + 2] == 0x03 && data[i + 3] == 0x04)
      return static_cast<int64_t>(i);
  return -1;
}

void CheckStub(const Bytes &stub, const std::string &what) {
  uint32_t overlay = CheckPeImage(stub, what);
  if (overlay < stub.size())
    Fail(what + ": " + std::to_string(stub.size() - overlay) + " bytes are appended behind the image (at offset " +
         std::to_string(overlay) + "); a stub must be a bare sfx.exe, not a self-extracting or signed file");
  if (overlay > stub.size())
    Fail(what + ": the file is truncated: its sections end at offset " + std::to_string(overlay) + " but it has " +
         std::to_string(stub.size()) + " bytes");
  int64_t at = FindLocalHeaderSignature(stub.data(), stub.size());
  if (at >= 0)
    Fail(what + ": holds the bytes 50 4B 03 04 (a local header signature) at offset " + std::to_string(at) +
         "; the stub's archive scan would take them for an entry");
}

} // namespace mksfx
