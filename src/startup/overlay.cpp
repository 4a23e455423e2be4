// Where a self-extracting file's settings block begins: the end of the raw data of the executable image's
// sections. The stub asks this of its own loaded image; the builder asks it of the stub file's bytes (after
// checking that the file holds every header read here), so that both agree on the offset.
#include "startup/startup.h"

enum {
  PE_OFFSET_FIELD = 0x3C,
  // Behind the PE header offset: the 4-byte signature, then the 20-byte file header.
  PE_SECTION_COUNT_FIELD = 6,
  // Signature, file header and the fixed 224-byte optional header of a 32-bit image.
  PE_SECTION_TABLE = 248,
  SECTION_HEADER_SIZE = 40,
  SECTION_RAW_SIZE_FIELD = 16,
  SECTION_RAW_POINTER_FIELD = 20,
};

// The headers may sit at any alignment in a file buffer: assemble numbers byte by byte.
static DWORD ReadU16At(const BYTE *p) { return (DWORD)p[0] | ((DWORD)p[1] << 8); }

static DWORD ReadU32At(const BYTE *p) {
  return (DWORD)p[0] | ((DWORD)p[1] << 8) | ((DWORD)p[2] << 16) | ((DWORD)p[3] << 24);
}

// Every section header counts, whatever its name and place: a trailing .bss header carries no raw data and
// a linker may order or name sections as it likes, so the last header alone is not the end of the image.
DWORD FindOverlayOffset(const BYTE *image) {
  DWORD peOffset = ReadU16At(image + PE_OFFSET_FIELD);
  DWORD sections = ReadU16At(image + peOffset + PE_SECTION_COUNT_FIELD);
  const BYTE *header = image + peOffset + PE_SECTION_TABLE;
  DWORD end = 0;
  for (DWORD i = 0; i < sections; ++i, header += SECTION_HEADER_SIZE) {
    DWORD rawSize = ReadU32At(header + SECTION_RAW_SIZE_FIELD);
    // A section without raw data occupies nothing in the file, whatever its pointer says.
    if (rawSize == 0) continue;
    DWORD sectionEnd = ReadU32At(header + SECTION_RAW_POINTER_FIELD) + rawSize;
    if (sectionEnd > end) end = sectionEnd;
  }
  return end;
}
