// The payload archive: its end record and central directory are checked, and the offsets they hold are
// rebased so that they count from the start of the self-extracting file. Everything in front of the
// central directory (the entries) is copied unchanged; only the tail from the central directory to the
// end of the archive is rewritten.
#include "mksfx.h"

#include <algorithm>

namespace mksfx {

enum {
  END_RECORD_SIZE = 22,
  MAX_COMMENT = 65535,
  CENTRAL_HEADER_SIZE = 46,
  ZIP64_LOCATOR_SIZE = 20,
};

static uint32_t U16(const uint8_t *p) { return p[0] | (p[1] << 8); }
static uint32_t U32(const uint8_t *p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
static void PutU32(uint8_t *p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}
// Signatures are compared byte by byte: "PK" then the two bytes that tell the record.
static bool IsSignature(const uint8_t *p, uint8_t third, uint8_t fourth) {
  return p[0] == 0x50 && p[1] == 0x4B && p[2] == third && p[3] == fourth;
}

ArchivePlan PlanArchive(InputFile &archive, uint64_t shift) {
  const std::string what = Display(archive.path());
  ArchivePlan plan;
  plan.size = archive.size();
  if (plan.size < END_RECORD_SIZE) Fail(what + ": not a ZIP archive (no end of central directory record)");

  // The end record is the last one whose comment reaches exactly to the end of the file.
  uint64_t searchStart = plan.size > END_RECORD_SIZE + MAX_COMMENT ? plan.size - END_RECORD_SIZE - MAX_COMMENT : 0;
  Bytes window = archive.ReadAt(searchStart, static_cast<size_t>(plan.size - searchStart));
  int64_t found = -1;
  for (int64_t i = static_cast<int64_t>(window.size()) - END_RECORD_SIZE; i >= 0; --i) {
    const uint8_t *p = window.data() + i;
    if (IsSignature(p, 0x05, 0x06) && static_cast<uint64_t>(i) + END_RECORD_SIZE + U16(p + 20) == window.size()) {
      found = i;
      break;
    }
  }
  if (found < 0)
    Fail(what + ": not a ZIP archive (no end of central directory record, or data follows the archive)");
  plan.endRecord = searchStart + static_cast<uint64_t>(found);
  const uint8_t *end = window.data() + found;

  uint32_t disk = U16(end + 4), centralDisk = U16(end + 6);
  uint32_t entriesHere = U16(end + 8), entries = U16(end + 10);
  uint32_t centralSize = U32(end + 12), centralOffset = U32(end + 16);
  bool zip64Locator = found >= ZIP64_LOCATOR_SIZE && IsSignature(end - ZIP64_LOCATOR_SIZE, 0x06, 0x07);
  if (zip64Locator || entries == 0xFFFF || entriesHere == 0xFFFF || centralSize == 0xFFFFFFFF ||
      centralOffset == 0xFFFFFFFF)
    Fail(what + ": a Zip64 archive; the stub reads only archives without Zip64 records");
  if (disk != 0 || centralDisk != 0 || entriesHere != entries)
    Fail(what + ": spans several disks; the stub reads only single-disk archives");
  if (static_cast<uint64_t>(centralOffset) + centralSize > plan.endRecord)
    Fail(what + ": the central directory lies outside the file (offset " + std::to_string(centralOffset) + ", size " +
         std::to_string(centralSize) + ", end record at " + std::to_string(plan.endRecord) + ")");
  // The stub positions its stdio stream with 32-bit signed offsets.
  if (plan.size + shift > 0x7FFFFFFFull)
    Fail(what + ": too large: the self-extracting file would exceed 2 GiB, the most the stub can read");

  plan.tailStart = centralOffset;
  plan.tail = archive.ReadAt(plan.tailStart, static_cast<size_t>(plan.size - plan.tailStart));
  plan.entries = entries;

  size_t at = 0;
  for (uint32_t n = 0; n < entries; ++n) {
    if (at + CENTRAL_HEADER_SIZE > centralSize || !IsSignature(plan.tail.data() + at, 0x01, 0x02))
      Fail(what + ": central directory header " + std::to_string(n + 1) + " of " + std::to_string(entries) +
           " is not where the end record says (offset " + std::to_string(centralOffset + at) + ")");
    uint8_t *header = plan.tail.data() + at;
    uint32_t compressed = U32(header + 20), uncompressed = U32(header + 24);
    uint32_t startDisk = U16(header + 34), localOffset = U32(header + 42);
    if (compressed == 0xFFFFFFFF || uncompressed == 0xFFFFFFFF || localOffset == 0xFFFFFFFF || startDisk == 0xFFFF)
      Fail(what + ": entry " + std::to_string(n + 1) + " uses Zip64 sizes or offsets; the stub does not read them");
    if (startDisk != 0) Fail(what + ": spans several disks; the stub reads only single-disk archives");
    if (localOffset >= centralOffset) Fail(what + ": entry " + std::to_string(n + 1) + " lies outside the archive data");
    uint8_t local[4];
    archive.ReadAt(localOffset, local, 4);
    if (!IsSignature(local, 0x03, 0x04))
      Fail(what + ": entry " + std::to_string(n + 1) + " has no local header at offset " + std::to_string(localOffset));
    PutU32(header + 42, static_cast<uint32_t>(localOffset + shift));
    at += CENTRAL_HEADER_SIZE + U16(header + 28) + U16(header + 30) + U16(header + 32);
  }
  if (at != centralSize)
    Fail(what + ": the central directory's size (" + std::to_string(centralSize) + ") does not match its " +
         std::to_string(entries) + " headers (" + std::to_string(at) + " bytes)");
  PutU32(plan.tail.data() + (plan.endRecord - plan.tailStart) + 16, static_cast<uint32_t>(centralOffset + shift));
  // After the last entry the stub's entry scan runs on to the end of the file: a local header signature
  // in the central directory or the comment would be taken for one more entry.
  int64_t stray = FindLocalHeaderSignature(plan.tail.data(), plan.tail.size());
  if (stray >= 0)
    Fail(what + ": the bytes 50 4B 03 04 (a local header signature) stand behind the entries, at offset " +
         std::to_string(plan.tailStart + static_cast<uint64_t>(stray)) +
         " (in the central directory or the archive comment); the stub would take them for an entry");
  return plan;
}

// The stub's own search: 256-byte windows from the end of the file backwards, not overlapping, each
// examined from its start; the first end record signature found wins.
int64_t StubEndRecordSearch(OutputFile &file) {
  // The stub's search: 256-byte windows from the end, each three bytes into the one behind it, the last
  // one reaching down to offset 0; the first signature of a window wins.
  enum { WINDOW = 256, OVERLAP = 3 };
  uint64_t size = file.size();
  uint64_t start = size > WINDOW ? size - WINDOW : 0;
  uint8_t window[WINDOW];
  for (;;) {
    size_t count = file.ReadAt(start, window, WINDOW);
    for (size_t i = 0; i + 4 <= count; ++i)
      if (IsSignature(window + i, 0x05, 0x06)) return static_cast<int64_t>(start + i);
    if (count == 0 || start == 0) return -1;
    start = start > WINDOW - OVERLAP ? start - (WINDOW - OVERLAP) : 0;
  }
}

} // namespace mksfx
