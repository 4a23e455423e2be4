// Damaged archives: random byte changes and cuts of a small archive that has every kind of entry the
// walk knows. The reader and the worker must end, stay inside their buffers (the sanitizers watch) and
// keep every file inside the destination.
#include <gtest/gtest.h>

#include <random>
#include <set>

#include "../unit/walk_zip.h"
#include "walk_host.h"

namespace fs = std::filesystem;
using namespace walktest;

namespace {

Bytes Seed() {
  std::vector<ZipEntry> entries(6);
  entries[0].name = "plain.txt";
  entries[0].data = Bytes(3000, 'p');
  entries[1].name = "dir/";
  entries[1].externalAttributes = 0x10;
  entries[2].name = "dir/secret.txt";
  entries[2].data = Bytes(500, 's');
  entries[2].password = "pw";
  entries[3].name = "desc.bin";
  entries[3].data = Bytes(700, 'd');
  entries[3].dataDescriptor = true;
  entries[4].name = "ntfs.txt";
  entries[4].data = {'n'};
  entries[4].localExtra = NtfsTimeExtra(132000000000000000ULL);
  entries[5].name = "aes.bin";
  entries[5].method = 99;
  entries[5].localExtra = AesExtra(1, 0);
  entries[5].data = Bytes(40, 'a');
  return BuildZip(entries, "comment");
}

size_t CountLocalSignatures(const Bytes &b) {
  size_t n = 0;
  for (size_t i = 0; i + 4 <= b.size(); i++)
    if (b[i] == 'P' && b[i + 1] == 'K' && b[i + 2] == 3 && b[i + 3] == 4)
      n++;
  return n;
}

Bytes Mutate(const Bytes &seed, std::mt19937 &rng) {
  Bytes b = seed;
  int edits = 1 + (int)(rng() % 8);
  for (int k = 0; k < edits; k++) {
    size_t at = rng() % b.size();
    switch (rng() % 4) {
    case 0: b[at] = (uint8_t)rng(); break;
    case 1: b[at] ^= (uint8_t)(1u << (rng() % 8)); break;
    case 2: b[at] = (uint8_t)(rng() % 2 ? 0xFF : 0x00); break;
    default:
      if (b.size() > 64)
        b.resize(b.size() - rng() % 64);
      break;
    }
  }
  return b;
}

TEST(WalkMutation, ReaderEndsOnDamagedArchives) {
  std::mt19937 rng(20261211);
  Bytes seed = Seed();
  sfxtest::TempDir temp;
  std::string path = temp.file("m.zip");
  static BYTE window[SCAN_WINDOW_SIZE];
  static EntryHeader entry;
  for (int i = 0; i < 1500; i++) {
    Bytes b = Mutate(seed, rng);
    sfxtest::WriteFile(path, b);
    DesktopReset();
    g_cancelState = 0;
    g_archiveFile = fopen(path.c_str(), "rb");
    ASSERT_TRUE(g_archiveFile);
    size_t delivered = 0;
    if (LocateCentralDirectory()) {
      while (ReadNextEntry(&entry, window)) {
        delivered++;
        long data = ftell(g_archiveFile);
        EXPECT_LT(wcslen(entry.name), (size_t)ENTRY_NAME_UNITS);
        // The walk moves forward past each header it delivers.
        fseek(g_archiveFile, data + (long)(entry.compressedSize & 0x7FFFFFFF), SEEK_SET);
        if (delivered > 64)
          break;
      }
    }
    fclose(g_archiveFile);
    g_archiveFile = nullptr;
    EXPECT_LE(delivered, CountLocalSignatures(b)) << "iteration " << i;
  }
}

TEST(WalkMutation, WorkerEndsAndStaysInsideOnDamagedArchives) {
  std::mt19937 rng(4);
  Bytes seed = Seed();
  sfxtest::TempDir temp;
  fs::path outer = fs::path(temp.path()) / "outer";
  for (int i = 0; i < 400; i++) {
    std::string path = temp.file("w.zip");
    sfxtest::WriteFile(path, Mutate(seed, rng));
    fs::path dest = outer / ("d" + std::to_string(i % 4));
    WalkOptions options;
    options.passwords = {{1, "pw"}};
    options.overwriteWithoutAsking = true;
    options.expectEndRecord = false;
    WalkOutcome out = RunWalk(path, dest.string(), options);
    EXPECT_TRUE(out.result == 0 || out.result == (DWORD)-1);
  }
  std::set<std::string> beside, above;
  for (auto &e : fs::directory_iterator(outer))
    beside.insert(e.path().filename().string());
  for (auto &e : fs::directory_iterator(temp.path()))
    above.insert(e.path().filename().string());
  EXPECT_EQ(beside, (std::set<std::string>{"d0", "d1", "d2", "d3"}));
  EXPECT_EQ(above, (std::set<std::string>{"outer", "w.zip"}));
}

TEST(WalkMutation, WrappingSizeDoesNotSendTheWalkBack) {
  ZipEntry e;
  e.name = "loop.txt";
  e.data = Bytes(600, 'l');
  const size_t at = 1000; // the archive behind 1000 other bytes, as behind the stub
  Bytes b = BuildZip({e}, "", Bytes(at, 0x90));
  // Local compressed size 0xFFFFFF00: the next scan would start 256 bytes before the data.
  b[at + 18] = 0x00;
  b[at + 19] = 0xFF;
  b[at + 20] = 0xFF;
  b[at + 21] = 0xFF;
  sfxtest::TempDir temp;
  sfxtest::WriteFile(temp.file("loop.zip"), b);
  fs::path dest = fs::path(temp.path()) / "dest";
  int asked = 0;
  WalkOptions options;
  options.hook = [&](const DesktopCall &call, LRESULT *) {
    if (call.kind == DesktopKind::SetDlgItemText && ++asked > 5)
      g_cancelState = -1; // stop a runaway walk
    return false;
  };
  WalkOutcome out = RunWalk(temp.file("loop.zip"), dest.string(), options);
  EXPECT_LE(asked, 1);
  EXPECT_EQ(out.cancelState, 0);
}

} // namespace
