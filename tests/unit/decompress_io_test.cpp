// The decompressors' plumbing: CRC-32, the output sink (CRC before write, progress, cancel, short
// writes), the legacy bit input at the end of its input, and the stored copy (large, cut off,
// cancelled, encrypted).
#include <gtest/gtest.h>

#include <cstdio>

#include "crypto/decryption.h"
#include "crypto/zipcrypto.h"
#include "decompress/decompress.h"
#include "extract/extract.h"
#include "legacy_codecs.h"
#include "test_support.h"
#ifndef _WIN32
#include "platform/host/desktop.h"
#endif

namespace {

using namespace sfxtest;

TEST(Crc32, TableAndCheckValue) {
  BuildCrcTable();
  EXPECT_EQ(g_crcTable[0], 0u);
  EXPECT_EQ(g_crcTable[1], 0x77073096u);
  EXPECT_EQ(g_crcTable[128], 0xEDB88320u);
  EXPECT_EQ(g_crcTable[255], 0x2D02EF8Du);
  const BYTE check[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
  EXPECT_EQ(UpdateCrc32(0, check, 9), 0xCBF43926u);
  EXPECT_EQ(UpdateCrc32(0x12345678u, check, 0), 0x12345678u);
}

TEST(Crc32, ChainsAtEverySplit) {
  BuildCrcTable();
  Bytes data = RandomBytes(300, 1);
  uint32_t whole = Crc32(data);
  ASSERT_EQ(UpdateCrc32(0, data.data(), DWORD(data.size())), whole);
  for (size_t split = 0; split <= data.size(); split++) {
    DWORD first = UpdateCrc32(0, data.data(), DWORD(split));
    ASSERT_EQ(UpdateCrc32(first, data.data() + split, DWORD(data.size() - split)), whole) << split;
  }
}

// The sink's world: an archive stream positioned at 3000 and an output file in a scratch folder.
class Sink : public ::testing::Test {
protected:
  void SetUp() override {
    BuildCrcTable();
    WriteFile(dir_.file("archive.bin"), RandomBytes(5000, 2));
    g_archiveFile = fopen(dir_.file("archive.bin").c_str(), "rb");
    ASSERT_NE(g_archiveFile, nullptr);
    fseek(g_archiveFile, 3000, SEEK_SET);
    g_outputFile = fopen(dir_.file("out.bin").c_str(), "wb");
    ASSERT_NE(g_outputFile, nullptr);
    g_outputCrc = 0;
    g_outputFailed = 0;
    g_cancelState = 0;
#ifndef _WIN32
    DesktopReset();
#endif
  }
  void TearDown() override {
    if (g_outputFile)
      fclose(g_outputFile);
    fclose(g_archiveFile);
    g_outputFile = nullptr;
    g_archiveFile = nullptr;
    g_cancelState = 0;
  }
  Bytes Written() {
    fclose(g_outputFile);
    g_outputFile = nullptr;
    return ReadFile(dir_.file("out.bin"));
  }
  // -1 on Windows, where the messages go to the real (absent) window.
  static int Progress() {
#ifndef _WIN32
    return DesktopProgressCount();
#else
    return -1;
#endif
  }
  TempDir dir_;
};

TEST_F(Sink, BlockUpdatesCrcWritesAndReportsTheArchivePosition) {
  Bytes a = RandomBytes(1000, 3), b = RandomBytes(77, 4);
  EXPECT_EQ(WriteOutput(a.data(), DWORD(a.size())), 1000);
  EXPECT_EQ(WriteOutput(b.data(), DWORD(b.size())), 77);
  Bytes both = a;
  both.insert(both.end(), b.begin(), b.end());
  EXPECT_EQ(g_outputCrc, Crc32(both));
  EXPECT_EQ(Written(), both);
  EXPECT_EQ(g_outputFailed, 0);
#ifndef _WIN32
  EXPECT_EQ(DesktopProgressCount(), 2);
  EXPECT_EQ(DesktopLastProgress(), 2); // 3000 / 1024
#endif
}

TEST_F(Sink, LengthZeroWritesNothingButReports) {
  g_outputCrc = 0xDEADBEEF;
  BYTE byte = 7;
  EXPECT_EQ(WriteOutput(&byte, 0), 0);
  EXPECT_EQ(g_outputCrc, 0xDEADBEEFu);
  EXPECT_TRUE(Written().empty());
  if (Progress() >= 0) {
    EXPECT_EQ(Progress(), 1);
  }
}

TEST_F(Sink, AfterCancelNothingIsWrittenCountedOrReported) {
  Bytes a = RandomBytes(100, 5);
  ASSERT_EQ(WriteOutput(a.data(), 50), 50);
  DWORD crc = g_outputCrc;
  g_cancelState = 100;
  EXPECT_EQ(WriteOutput(a.data() + 50, 50), -1);
  EXPECT_EQ(WriteOutput(a.data(), 0), -1);
  EXPECT_EQ(g_outputCrc, crc);
  EXPECT_EQ(Written(), Bytes(a.begin(), a.begin() + 50));
  if (Progress() >= 0) {
    EXPECT_EQ(Progress(), 1);
  }
}

TEST_F(Sink, ShortWriteFailsAndIsFlagged) {
  fclose(g_outputFile);
  g_outputFile = fopen(dir_.file("archive.bin").c_str(), "rb"); // a stream that refuses writes
  ASSERT_NE(g_outputFile, nullptr);
  Bytes a = RandomBytes(64, 6);
  EXPECT_EQ(WriteOutput(a.data(), 64), -1);
  EXPECT_EQ(g_outputFailed, 1);
  EXPECT_EQ(g_outputCrc, Crc32(a)); // taken before the write
  if (Progress() >= 0) {
    EXPECT_EQ(Progress(), 0);
  }
}

// ---- the legacy bit input ----

struct BitState {
  DWORD value;
  LONG count;
  LONG exhausted;
  long position;
};

BitState Take(int n) {
  DWORD value = ReadBits(n);
  return {value, g_bitCount, g_inputExhausted, ftell(g_archiveFile)};
}

TEST(BitInput, ThirteenBitsWithFiveBufferedReadTwoBytesAndLeaveEight) {
  std::vector<BitState> states;
  RunDecoder([&](uint32_t, uint8_t *) {
    ResetBitInput();
    states.push_back(Take(3));
    states.push_back(Take(8));
    states.push_back(Take(13));
  }, {0xB5, 0x6C, 0x3E, 0xF1, 0x99}, 0);
  ASSERT_EQ(states.size(), 3u);
  // Bits first to last: 0xB5 0x6C 0x3E 0xF1 least significant first.
  uint64_t all = 0xF13E6CB5ull;
  EXPECT_EQ(states[0].value, all & 7);
  EXPECT_EQ(states[0].position, 2);
  EXPECT_EQ(states[1].value, (all >> 3) & 0xFF);
  EXPECT_EQ(states[1].count, 5);
  EXPECT_EQ(states[2].value, (all >> 11) & 0x1FFF);
  EXPECT_EQ(states[2].position, 4);
  EXPECT_EQ(states[2].count, 8);
  EXPECT_EQ(states[2].exhausted, 0);
}

TEST(BitInput, LastByteIsTakenThenTheNextRefillSetsExhausted) {
  std::vector<BitState> states;
  RunDecoder([&](uint32_t, uint8_t *) {
    ResetBitInput();
    states.push_back(Take(16)); // two bytes
    states.push_back(Take(9));  // one byte left: taken, one bit short, not yet exhausted
    states.push_back(Take(1));  // nothing left
    states.push_back(Take(16));
  }, {0x34, 0x12, 0xFF}, 0);
  ASSERT_EQ(states.size(), 4u);
  EXPECT_EQ(states[0].value, 0x1234u);
  EXPECT_EQ(states[1].value, 0xFFu); // the missing high bit reads as 0
  EXPECT_EQ(states[1].exhausted, 0);
  EXPECT_EQ(states[1].count, -1);
  EXPECT_EQ(states[1].position, 3);
  EXPECT_EQ(states[2].value, 0u);
  EXPECT_EQ(states[2].exhausted, 1);
  EXPECT_EQ(states[3].value, 0u);
  EXPECT_LT(states[3].count, 0);
  ResetBitInput();
  EXPECT_EQ(g_bitBuffer, 0u);
  EXPECT_EQ(g_bitCount, 0);
  EXPECT_EQ(g_inputExhausted, 0);
}

// ---- stored entries ----

Bytes WithPrefix(const Bytes &data, size_t prefix) {
  Bytes out = RandomBytes(prefix, 99);
  out.insert(out.end(), data.begin(), data.end());
  return out;
}

TEST(Stored, SizeZeroReadsAndWritesNothing) {
  DecodeResult r = RunDecoder(StoredCall(0), WithPrefix(RandomBytes(100, 1), 10), 0, 10);
  EXPECT_TRUE(r.output.empty());
  EXPECT_EQ(r.crc, 0u);
  EXPECT_EQ(r.inputPosition, 10);
  if (r.progressMessages >= 0) {
    EXPECT_EQ(r.progressMessages, 0);
  }
}

TEST(Stored, LargeEntryInBlocks) {
  Bytes data = RandomBytes(150000, 8);
  Bytes archive = WithPrefix(data, 3000);
  archive.insert(archive.end(), 500, 0xEE); // whatever follows the entry is not read
  DecodeResult r = RunDecoder(StoredCall(150000), archive, 150000, 3000);
  EXPECT_EQ(r.output, data);
  EXPECT_EQ(r.crc, Crc32(data));
  EXPECT_EQ(r.inputPosition, 153000);
  if (r.progressMessages >= 0) {
    EXPECT_EQ(r.progressMessages, 3); // 65536, 65536, 18928
  }
}

TEST(Stored, CutOffByTheEndOfTheFile) {
  Bytes data = RandomBytes(150000, 8);
  Bytes archive = WithPrefix(Bytes(data.begin(), data.begin() + 100000), 10);
  DecodeResult r = RunDecoder(StoredCall(150000), archive, 150000, 10);
  EXPECT_EQ(r.output, Bytes(data.begin(), data.begin() + 100000));
  EXPECT_NE(r.crc, Crc32(data));
}

TEST(Stored, CancelledEntryIsStillReadToItsEnd) {
  Bytes data = RandomBytes(100000, 9);
  DecodeResult r = RunDecoder([](uint32_t size, uint8_t *buffer) {
    g_cancelState = 100;
    CopyStored(size, size, buffer);
    g_cancelState = 0;
  }, data, 100000);
  EXPECT_TRUE(r.output.empty());
  EXPECT_EQ(r.crc, 0u);
  EXPECT_EQ(r.inputPosition, 100000);
}

TEST(Stored, EncryptedDataDecryptsBlockwiseAsBytewise) {
  Bytes plain = RandomBytes(140000, 12);
  Bytes cipher = ZipCryptoEncrypt(plain, "pass word");
  DecodeResult blockwise = RunDecoder([](uint32_t size, uint8_t *buffer) {
    InitKeys("pass word");
    g_decrypting = 1;
    CopyStored(size, size, buffer);
    g_decrypting = 0;
  }, cipher, uint32_t(plain.size()));
  EXPECT_EQ(blockwise.output, plain);
  // The same data through reads of 1, 2, 3, ... bytes.
  Bytes bytewise;
  RunDecoder([&](uint32_t size, uint8_t *buffer) {
    InitKeys("pass word");
    g_decrypting = 1;
    DWORD step = 1;
    for (uint32_t done = 0; done < size; step = step % 97 + 1) {
      LONG n = ReadEntryBytes(buffer, step);
      if (n <= 0)
        break;
      bytewise.insert(bytewise.end(), buffer, buffer + n);
      done += DWORD(n);
    }
    g_decrypting = 0;
  }, cipher, uint32_t(plain.size()));
  EXPECT_EQ(bytewise, plain);
}

} // namespace
