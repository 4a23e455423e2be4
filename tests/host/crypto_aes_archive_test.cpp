// Whole AES archives through the extraction engine (sfx-extract): 7zz's AES-128/192/256 archives,
// stored and deflated, extracted exactly as 7zz extracts them; a wrong password refused and the right
// one taken on the next try; a tampered authentication code deleting its file with "CRC Error!"; and
// the same entries relabelled AE-1 (with their real CRC-32) extracting alike.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using sfxtest::Bytes;

uint32_t Le(const Bytes &b, size_t at, int n) {
  uint32_t v = 0;
  for (int i = n - 1; i >= 0; i--) v = (v << 8) | b.at(at + i);
  return v;
}

void PutLe(Bytes &b, size_t at, uint32_t v, int n) {
  for (int i = 0; i < n; i++) b.at(at + i) = (uint8_t)(v >> (8 * i));
}

uint32_t Crc32(const Bytes &data) {
  uint32_t crc = 0xFFFFFFFF;
  for (uint8_t byte : data) {
    crc ^= byte;
    for (int k = 0; k < 8; k++) crc = (crc >> 1) ^ (0xEDB88320 & (0 - (crc & 1)));
  }
  return ~crc;
}

struct Header {
  std::string name;
  size_t offset;      // of the header
  size_t extraStart;  // of its extra field
  size_t extraLength;
  size_t dataStart;   // local headers only
  uint32_t storedSize;
};

// Local headers in order from offset 0, and central headers from the end record.
void ParseArchive(const Bytes &zip, std::vector<Header> &local, std::vector<Header> &central) {
  size_t at = 0;
  while (at + 30 <= zip.size() && zip[at] == 'P' && zip[at + 1] == 'K' && zip[at + 2] == 3 && zip[at + 3] == 4) {
    Header h;
    h.offset = at;
    const size_t n = Le(zip, at + 26, 2), e = Le(zip, at + 28, 2);
    h.name.assign(zip.begin() + at + 30, zip.begin() + at + 30 + n);
    h.extraStart = at + 30 + n;
    h.extraLength = e;
    h.dataStart = h.extraStart + e;
    h.storedSize = Le(zip, at + 18, 4);
    local.push_back(h);
    at = h.dataStart + h.storedSize;
  }
  size_t end = zip.size() - 22;
  while (end > 0 && !(zip[end] == 'P' && zip[end + 1] == 'K' && zip[end + 2] == 5 && zip[end + 3] == 6)) end--;
  at = Le(zip, end + 16, 4);
  for (uint32_t i = 0, count = Le(zip, end + 10, 2); i < count; i++) {
    Header h;
    h.offset = at;
    const size_t n = Le(zip, at + 28, 2), e = Le(zip, at + 30, 2), c = Le(zip, at + 32, 2);
    h.name.assign(zip.begin() + at + 46, zip.begin() + at + 46 + n);
    h.extraStart = at + 46 + n;
    h.extraLength = e;
    h.dataStart = 0;
    h.storedSize = Le(zip, at + 20, 4);
    central.push_back(h);
    at = h.extraStart + e + c;
  }
}

// Offset of the AES extra field's vendor version in a header, or 0.
size_t AesVendorVersionAt(const Bytes &zip, const Header &h) {
  for (size_t x = h.extraStart; x + 4 <= h.extraStart + h.extraLength; x += 4 + Le(zip, x + 2, 2))
    if (Le(zip, x, 2) == 0x9901) return x + 4;
  return 0;
}

std::string Quote(const std::string &s) { return "'" + s + "'"; }

class AesArchiveTest : public ::testing::Test {
protected:
  void SetUp() override {
    tool_ = sfxtest::BinaryDir() + "/tools/sfx-extract";
    if (!sfxtest::FileExists(tool_)) GTEST_SKIP() << "sfx-extract is not built";
    if (!sfxtest::HaveTool("7zz")) GTEST_SKIP() << "7zz is not installed";
    src_ = dir_.file("src");
    fs::create_directories(src_ + "/folder");
    Bytes random(300001);
    uint32_t seed = 99;
    for (auto &b : random) {
      seed = seed * 1103515245u + 12345u;
      b = (uint8_t)(seed >> 16);
    }
    std::string text;
    for (int i = 0; i < 20000; i++) text += "line " + std::to_string(i % 97) + " of the text\n";
    files_ = {{"random.bin", random}, {"text.txt", Bytes(text.begin(), text.end())}, {"empty.bin", Bytes()},
              {"folder/small.txt", Bytes{'a', 'b', 'c'}}};
    for (const auto &[name, data] : files_) sfxtest::WriteFile(src_ + "/" + name, data);
  }

  std::string Make(int bits, const std::string &method) {
    const std::string zip = dir_.file("aes" + std::to_string(bits) + method + ".zip");
    const std::string command = "cd " + Quote(src_) + " && 7zz a -tzip -mem=AES" + std::to_string(bits) +
                                " -pSECRET -mm=" + method + " " + Quote(zip) +
                                " random.bin text.txt empty.bin folder/small.txt > /dev/null";
    EXPECT_EQ(0, sfxtest::Run(command)) << command;
    return zip;
  }

  // Runs sfx-extract; returns what it printed (the message boxes the stub would have shown).
  std::string Extract(const std::string &zip, const std::string &dest, const std::vector<std::string> &passwords) {
    std::string command = Quote(tool_) + " " + Quote(zip) + " " + Quote(dest);
    for (const auto &p : passwords) command += " --password " + Quote(p);
    const std::string log = dest + ".log";
    EXPECT_EQ(0, sfxtest::Run(command + " > " + Quote(log) + " 2>&1")) << command;
    const Bytes out = sfxtest::ReadFile(log);
    return std::string(out.begin(), out.end());
  }

  void ExpectSameTree(const std::string &expected, const std::string &actual) {
    size_t files = 0;
    for (const auto &entry : fs::recursive_directory_iterator(expected)) {
      const std::string rel = fs::relative(entry.path(), expected).string();
      ASSERT_TRUE(fs::exists(actual + "/" + rel)) << rel;
      if (entry.is_regular_file()) {
        files++;
        EXPECT_TRUE(sfxtest::ReadFile(entry.path().string()) == sfxtest::ReadFile(actual + "/" + rel)) << rel;
      }
    }
    EXPECT_EQ(files_.size(), files);
  }

  sfxtest::TempDir dir_;
  std::string tool_, src_;
  std::vector<std::pair<std::string, Bytes>> files_;
};

TEST_F(AesArchiveTest, ExtractsEveryStrengthAndMethodAs7zzDoes) {
  for (int bits : {128, 192, 256}) {
    for (const char *method : {"Copy", "Deflate"}) {
      SCOPED_TRACE(std::to_string(bits) + " " + method);
      const std::string zip = Make(bits, method);
      const std::string ours = dir_.file("ours" + std::to_string(bits) + method);
      const std::string theirs = dir_.file("theirs" + std::to_string(bits) + method);
      EXPECT_EQ("", Extract(zip, ours, {"SECRET"}));
      ASSERT_EQ(0, sfxtest::Run("7zz x -pSECRET -o" + Quote(theirs) + " " + Quote(zip) + " > /dev/null"));
      ExpectSameTree(theirs, ours);
      for (const auto &[name, data] : files_) EXPECT_TRUE(sfxtest::ReadFile(ours + "/" + name) == data) << name;
    }
  }
}

TEST_F(AesArchiveTest, WrongPasswordIsRefusedAndTheNextTryStartsAfresh) {
  const std::string zip = Make(256, "Deflate");
  const std::string refused = dir_.file("refused");
  const std::string log = Extract(zip, refused, {"secret"});
  EXPECT_NE(std::string::npos, log.find("MessageBox [Warning] warning: Invalid Decryption Password.")) << log;
  EXPECT_FALSE(fs::exists(refused + "/random.bin"));

  const std::string retried = dir_.file("retried");
  const std::string log2 = Extract(zip, retried, {"secret", "SECRET"});
  EXPECT_NE(std::string::npos, log2.find("Invalid Decryption Password.")) << log2;
  EXPECT_EQ(std::string::npos, log2.find("CRC Error!")) << log2;
  for (const auto &[name, data] : files_) EXPECT_TRUE(sfxtest::ReadFile(retried + "/" + name) == data) << name;
}

TEST_F(AesArchiveTest, TamperedCodeOrDataDeletesTheFileWithCrcError) {
  for (const char *method : {"Copy", "Deflate"}) {
    const Bytes original = sfxtest::ReadFile(Make(128, method));
    std::vector<Header> local, central;
    ParseArchive(original, local, central);
    for (const Header &h : local) {
      if (h.name != "text.txt") continue;
      struct Change {
        const char *what;
        size_t offset;
      };
      // The last code byte; a byte in the middle of the encrypted data.
      for (const Change &c : {Change{"code", h.dataStart + h.storedSize - 1},
                              Change{"data", h.dataStart + h.storedSize / 2}}) {
        SCOPED_TRACE(std::string(method) + " " + c.what);
        Bytes zip = original;
        zip[c.offset] ^= 0x01;
        const std::string path = dir_.file(std::string("tampered") + method + c.what + ".zip");
        sfxtest::WriteFile(path, zip);
        const std::string dest = dir_.file(std::string("tampered") + method + c.what);
        const std::string log = Extract(path, dest, {"SECRET"});
        EXPECT_NE(std::string::npos, log.find("MessageBox [VAZ-IDA] error: CRC Error!")) << log;
        EXPECT_FALSE(fs::exists(dest + "/text.txt"));
        // The walk goes on: the other entries are there.
        EXPECT_TRUE(sfxtest::ReadFile(dest + "/random.bin") == files_[0].second);
        EXPECT_TRUE(fs::exists(dest + "/empty.bin"));
      }
    }
  }
}

TEST_F(AesArchiveTest, Ae1EntriesWithTheirCrcExtractAlike) {
  Bytes zip = sfxtest::ReadFile(Make(192, "Deflate"));
  std::vector<Header> local, central;
  ParseArchive(zip, local, central);
  ASSERT_EQ(files_.size(), local.size());
  ASSERT_EQ(files_.size(), central.size());
  size_t relabelled = 0;
  for (const auto *list : {&local, &central}) {
    for (const Header &h : *list) {
      const size_t version = AesVendorVersionAt(zip, h);
      ASSERT_NE(0u, version) << h.name;
      EXPECT_EQ(2u, Le(zip, version, 2)) << "7zz writes AE-2";
      PutLe(zip, version, 1, 2);
      for (const auto &[name, data] : files_)
        if (name == h.name) PutLe(zip, h.offset + (list == &local ? 14 : 16), Crc32(data), 4);
      relabelled++;
    }
  }
  EXPECT_EQ(2 * files_.size(), relabelled);
  const std::string path = dir_.file("ae1.zip");
  sfxtest::WriteFile(path, zip);
  const std::string dest = dir_.file("ae1");
  EXPECT_EQ("", Extract(path, dest, {"SECRET"}));
  for (const auto &[name, data] : files_) EXPECT_TRUE(sfxtest::ReadFile(dest + "/" + name) == data) << name;
}

TEST_F(AesArchiveTest, EntryWithCompressedSizeZeroIsAnEmptyFileWithoutCheck) {
  // An AES entry whose headers give a compressed size of 0: nothing is decrypted or authenticated, the
  // file is created empty, and the walk finds the next entry behind the unread framing bytes.
  Bytes zip = sfxtest::ReadFile(Make(256, "Copy"));
  std::vector<Header> local, central;
  ParseArchive(zip, local, central);
  size_t patched = 0;
  for (const auto *list : {&local, &central}) {
    for (const Header &h : *list) {
      if (h.name != "empty.bin") continue;
      PutLe(zip, h.offset + (list == &local ? 18 : 20), 0, 4);
      patched++;
    }
  }
  ASSERT_EQ(2u, patched);
  const std::string path = dir_.file("size0.zip");
  sfxtest::WriteFile(path, zip);
  const std::string dest = dir_.file("size0");
  EXPECT_EQ("", Extract(path, dest, {"SECRET"}));
  for (const auto &[name, data] : files_) EXPECT_TRUE(sfxtest::ReadFile(dest + "/" + name) == data) << name;
}

} // namespace
