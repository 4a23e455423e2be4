// Shared by the Inflate tests: a bit writer for hand-made Deflate streams, a reference expander that
// says what a list of literals and matches must produce, and a runner that puts a stream into a file
// (behind some leading bytes), opens the mapped window on it, and inflates it into a temporary file.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "archive/window.h"
#include "decompress/decompress.h"
#include "decompress/inflate.h"
#include "extract/extract.h"
#include "test_support.h"

namespace inflatetest {

using sfxtest::Bytes;

// Writes bits least significant first, and Huffman codes most significant bit first, as Deflate does.
struct BitWriter {
  Bytes bytes;
  uint64_t buffer = 0;
  int count = 0;

  void Bits(uint32_t value, int n) {
    buffer |= (uint64_t)(value & ((n == 32) ? 0xFFFFFFFFu : ((1u << n) - 1))) << count;
    count += n;
    while (count >= 8) {
      bytes.push_back((uint8_t)buffer);
      buffer >>= 8;
      count -= 8;
    }
  }
  void Code(uint32_t code, int length) {
    uint32_t reversed = 0;
    for (int i = 0; i < length; i++) {
      reversed |= ((code >> i) & 1) << (length - 1 - i);
    }
    Bits(reversed, length);
  }
  void Align() {
    if (count) {
      Bits(0, 8 - count);
    }
  }
  Bytes Finish() {
    Align();
    return bytes;
  }
};

// The fixed literal/length code and the fixed distance code.
inline void FixedSymbol(BitWriter &w, int symbol) {
  if (symbol < 144) {
    w.Code(0x30 + symbol, 8);
  } else if (symbol < 256) {
    w.Code(0x190 + symbol - 144, 9);
  } else if (symbol < 280) {
    w.Code(symbol - 256, 7);
  } else {
    w.Code(0xC0 + symbol - 280, 8);
  }
}
inline void FixedDistance(BitWriter &w, int symbol) { w.Code(symbol, 5); }

// Canonical codes of a list of lengths.
inline std::vector<uint32_t> CanonicalCodes(const std::vector<int> &lengths) {
  int counts[17] = {0};
  for (int l : lengths) {
    counts[l]++;
  }
  counts[0] = 0;
  uint32_t next[17] = {0};
  uint32_t code = 0;
  for (int bits = 1; bits <= 16; bits++) {
    code = (code + counts[bits - 1]) << 1;
    next[bits] = code;
  }
  std::vector<uint32_t> codes(lengths.size());
  for (size_t i = 0; i < lengths.size(); i++) {
    if (lengths[i]) {
      codes[i] = next[lengths[i]]++;
    }
  }
  return codes;
}

// A dynamic block header. The code-length code gives 13 symbols 4 bits and 6 symbols 5 bits (complete);
// the lengths are sent as the given code-length symbols (value, then its extra bits for 16 to 18).
struct DynamicHeader {
  int nl = 257;
  int nd = 1;
  std::vector<std::pair<int, int>> lengthSymbols; // (symbol 0..18, extra value)
};

inline std::vector<int> CodeLengthCodeLengths() {
  std::vector<int> l(19, 4);
  for (int s : {13, 14, 15, 16, 17, 18}) {
    l[s] = 5;
  }
  return l;
}

inline void WriteDynamicHeader(BitWriter &w, const DynamicHeader &h) {
  static const int order[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
  std::vector<int> clLengths = CodeLengthCodeLengths();
  std::vector<uint32_t> clCodes = CanonicalCodes(clLengths);
  w.Bits(h.nl - 257, 5);
  w.Bits(h.nd - 1, 5);
  w.Bits(19 - 4, 4);
  for (int i = 0; i < 19; i++) {
    w.Bits(clLengths[order[i]], 3);
  }
  for (auto [symbol, extra] : h.lengthSymbols) {
    w.Code(clCodes[symbol], clLengths[symbol]);
    if (symbol == 16) {
      w.Bits(extra, 2);
    } else if (symbol == 17) {
      w.Bits(extra, 3);
    } else if (symbol == 18) {
      w.Bits(extra, 7);
    }
  }
}

// Code-length symbols that send the given lengths one by one.
inline std::vector<std::pair<int, int>> PlainLengths(const std::vector<int> &lengths) {
  std::vector<std::pair<int, int>> out;
  for (int l : lengths) {
    out.push_back({l, 0});
  }
  return out;
}

// Writes a stored block (len <= 65535).
inline void StoredBlock(BitWriter &w, bool final, const Bytes &data, size_t from, size_t n) {
  w.Bits(final ? 1 : 0, 1);
  w.Bits(0, 2);
  w.Align();
  w.Bits((uint32_t)n, 16);
  w.Bits((uint32_t)~n & 0xFFFF, 16);
  for (size_t i = 0; i < n; i++) {
    w.Bits(data[from + i], 8);
  }
}

inline void AppendMatch(Bytes &out, size_t length, size_t distance) {
  for (size_t i = 0; i < length; i++) {
    out.push_back(out[out.size() - distance]);
  }
}

inline Bytes PseudoRandom(size_t n, uint32_t seed) {
  Bytes b(n);
  uint32_t x = seed;
  for (auto &c : b) {
    x = x * 1664525u + 1013904223u;
    c = (uint8_t)(x >> 24);
  }
  return b;
}

inline uint32_t Crc32(const Bytes &data) {
  uint32_t crc = 0xFFFFFFFFu;
  for (uint8_t c : data) {
    crc ^= c;
    for (int i = 0; i < 8; i++) {
      crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
    }
  }
  return ~crc;
}

struct InflateRun {
  int result = 0;
  Bytes output;
  uint32_t crc = 0;
  int pastEnd = 0;
};

// Puts `lead` bytes of filler, the stream and `trail` more bytes of filler into a file, inflates the
// stream from the mapped window and returns the result, the output and the sink's CRC.
inline InflateRun RunInflate(const Bytes &stream, int deflate64, size_t lead = 37, size_t trail = 64) {
  sfxtest::TempDir dir;
  Bytes file = PseudoRandom(lead, 7);
  file.insert(file.end(), stream.begin(), stream.end());
  Bytes tail = PseudoRandom(trail, 11);
  file.insert(file.end(), tail.begin(), tail.end());
  std::string archive = dir.file("stream.bin");
  std::string out = dir.file("out.bin");
  sfxtest::WriteFile(archive, file);

  InflateRun run;
  BuildCrcTable();
  g_cancelState = 0;
  g_archiveFile = fopen(archive.c_str(), "rb");
  g_outputFile = fopen(out.c_str(), "wb");
  g_outputCrc = 0;
  EXPECT_EQ(OpenArchiveWindow(sfxtest::PlatformPath(archive).c_str()), 1);
  EXPECT_EQ(SeekArchiveWindow((DWORD)lead), 1);
  g_inflateWindow = (BYTE *)malloc(INFLATE_WINDOW_SIZE);
  run.result = InflateStream(deflate64);
  free(g_inflateWindow);
  g_inflateWindow = nullptr;
  run.pastEnd = g_windowPastEnd;
  CloseArchiveWindow();
  fclose(g_outputFile);
  g_outputFile = nullptr;
  fclose(g_archiveFile);
  g_archiveFile = nullptr;
  run.output = sfxtest::ReadFile(out);
  run.crc = g_outputCrc;
  return run;
}

// One entry of a ZIP archive as its central directory and local header describe it.
struct ZipEntry {
  std::string name;
  int method = 0;
  uint32_t flags = 0;
  uint32_t crc = 0;
  uint32_t compressedSize = 0;
  uint32_t size = 0;
  uint32_t dataOffset = 0;
};

inline uint32_t Le16(const Bytes &b, size_t at) { return b[at] | (b[at + 1] << 8); }
inline uint32_t Le32(const Bytes &b, size_t at) { return Le16(b, at) | (Le16(b, at + 2) << 16); }

// The entries of an archive, from its central directory (no ZIP64, no archive comment parsing beyond
// the search for the end record).
inline std::vector<ZipEntry> ListZip(const Bytes &zip) {
  std::vector<ZipEntry> entries;
  if (zip.size() < 22) {
    return entries;
  }
  size_t end = zip.size() - 22;
  while (!(zip[end] == 'P' && zip[end + 1] == 'K' && zip[end + 2] == 5 && zip[end + 3] == 6)) {
    if (end == 0) {
      return entries;
    }
    end--;
  }
  size_t count = Le16(zip, end + 10);
  size_t at = Le32(zip, end + 16);
  for (size_t i = 0; i < count; i++) {
    ZipEntry e;
    e.flags = Le16(zip, at + 8);
    e.method = (int)Le16(zip, at + 10);
    e.crc = Le32(zip, at + 16);
    e.compressedSize = Le32(zip, at + 20);
    e.size = Le32(zip, at + 24);
    size_t nameLength = Le16(zip, at + 28);
    size_t extraLength = Le16(zip, at + 30);
    size_t commentLength = Le16(zip, at + 32);
    uint32_t local = Le32(zip, at + 42);
    e.name.assign(zip.begin() + at + 46, zip.begin() + at + 46 + nameLength);
    e.dataOffset = local + 30 + Le16(zip, local + 26) + Le16(zip, local + 28);
    entries.push_back(e);
    at += 46 + nameLength + extraLength + commentLength;
  }
  return entries;
}

// Inflates one entry of an archive file the way the worker does: window opened on the archive, cursor
// at the entry's data, InflateEntry, window closed.
inline InflateRun InflateZipEntry(const std::string &archive, const ZipEntry &entry) {
  sfxtest::TempDir dir;
  std::string out = dir.file("entry.out");
  InflateRun run;
  BuildCrcTable();
  g_cancelState = 0;
  g_archiveFile = fopen(archive.c_str(), "rb");
  g_outputFile = fopen(out.c_str(), "wb");
  g_outputCrc = 0;
  EXPECT_EQ(OpenArchiveWindow(sfxtest::PlatformPath(archive).c_str()), 1);
  EXPECT_EQ(SeekArchiveWindow(entry.dataOffset), 1);
  InflateEntry(entry.method == 9);
  run.pastEnd = g_windowPastEnd;
  CloseArchiveWindow();
  fclose(g_outputFile);
  g_outputFile = nullptr;
  fclose(g_archiveFile);
  g_archiveFile = nullptr;
  run.output = sfxtest::ReadFile(out);
  run.crc = g_outputCrc;
  run.result = g_cancelState;
  return run;
}

} // namespace inflatetest
