// Archives made by peers at test time (Info-ZIP zip, Python's zipfile), extracted by the walk and
// compared with what Info-ZIP unzip extracts and with the source files' times; names in UTF-8 and in
// code page 932; and sfx-extract's messages and exit status.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <time.h>

#include <cstdlib>

#include "../unit/walk_zip.h"
#include "walk_host.h"

namespace fs = std::filesystem;
using namespace walktest;

namespace {

// A fixed offset without daylight saving, so that local DOS times convert one way only.
class FixedZone : public ::testing::Environment {
public:
  void SetUp() override {
    setenv("TZ", "XST-3", 1);
    tzset();
  }
};
const auto *const kZone = ::testing::AddGlobalTestEnvironment(new FixedZone);

std::string Quote(const std::string &s) { return "'" + s + "'"; }

bool HavePeers() { return sfxtest::HaveTool("zip") && sfxtest::HaveTool("unzip"); }

// A source tree with even-second times (DOS times keep two-second steps).
void MakeSourceTree(const fs::path &src) {
  fs::create_directories(src / "sub" / "deeper");
  fs::create_directories(src / "emptydir");
  sfxtest::WriteFile((src / "empty.txt").string(), std::string());
  sfxtest::WriteFile((src / "one.txt").string(), std::string("1"));
  sfxtest::WriteFile((src / "with space.txt").string(), std::string("spaced out\n"));
  sfxtest::Bytes mid(70000), big(300000);
  uint32_t x = 12345;
  for (auto &b : mid)
    b = (uint8_t)((x = x * 1103515245 + 12345) >> 24);
  for (size_t i = 0; i < big.size(); i++)
    big[i] = (uint8_t)((i % 251) ^ (i >> 13));
  sfxtest::WriteFile((src / "sub" / "mid.bin").string(), mid);
  sfxtest::WriteFile((src / "sub" / "deeper" / "big.bin").string(), big);
  int64_t t = 1600000000;
  for (const char *f : {"empty.txt", "one.txt", "with space.txt", "sub/mid.bin", "sub/deeper/big.bin"}) {
    ASSERT_EQ(sfxtest::Run("touch -d @" + std::to_string(t) + " " + Quote((src / f).string())), 0);
    t += 86400 * 40 + 3602;
  }
}

int64_t MTime(const fs::path &p) {
  struct stat st;
  return stat(p.c_str(), &st) == 0 ? (int64_t)st.st_mtime : -1;
}

// Whether any entry of the archive has the general-purpose flag, as Python's zipfile reads it.
bool AnyEntryFlag(const std::string &archive, int flag) {
  return sfxtest::Run("python3 -c \"import sys, zipfile\n"
                      "sys.exit(0 if any(i.flag_bits & " +
                      std::to_string(flag) + " for i in zipfile.ZipFile(sys.argv[1]).infolist()) else 1)\" " +
                      Quote(archive)) == 0;
}

struct PeerArchive {
  const char *label;
  const char *command; // run in the source folder; $OUT is the archive
  bool encrypted;
  bool descriptors; // some entry carries a data descriptor
};

TEST(WalkPeers, InfoZipArchivesExtractLikeUnzip) {
  if (!HavePeers())
    GTEST_SKIP() << "zip or unzip missing";
  const PeerArchive archives[] = {
      {"stored", "zip -q -r -X -0 \"$OUT\" .", false, false},
      // Info-ZIP gives every encrypted entry a data descriptor, so that its check byte can be the time's.
      {"stored, encrypted", "zip -q -r -X -0 -P secret \"$OUT\" .", true, true},
      {"deflated, encrypted", "zip -q -r -X -P secret \"$OUT\" .", true, true},
      {"stored through a pipe", "zip -q -r -X -0 - . | cat > \"$OUT\"", false, true},
      {"encrypted through a pipe", "zip -q -r -X -0 -P secret - . | cat > \"$OUT\"", true, true},
      {"comment of 234 bytes",
       "zip -q -r -X -0 \"$OUT\" . && head -c 234 /dev/zero | tr '\\0' c | zip -q -z \"$OUT\"", false, false},
  };
  sfxtest::TempDir temp;
  fs::path src = fs::path(temp.path()) / "src";
  MakeSourceTree(src);
  std::map<std::string, std::string> source = Tree(src.string());
  int n = 0;
  for (const PeerArchive &a : archives) {
    SCOPED_TRACE(a.label);
    std::string archive = temp.file("a" + std::to_string(n) + ".zip");
    fs::path ours = fs::path(temp.path()) / ("ours" + std::to_string(n));
    fs::path theirs = fs::path(temp.path()) / ("unzip" + std::to_string(n));
    n++;
    ASSERT_EQ(sfxtest::Run("cd " + Quote(src.string()) + " && OUT=" + Quote(archive) + " && " + a.command),
              0);
    sfxtest::Bytes bytes = sfxtest::ReadFile(archive);
    ASSERT_GT(bytes.size(), 300u);
    EXPECT_EQ(AnyEntryFlag(archive, 8), a.descriptors);
    EXPECT_EQ(AnyEntryFlag(archive, 1), a.encrypted);
    if (std::string(a.label).find("comment") != std::string::npos) {
      // The end record starts the last 256-byte window exactly.
      const uint8_t *end = bytes.data() + bytes.size() - 256;
      EXPECT_TRUE(end[0] == 'P' && end[1] == 'K' && end[2] == 5 && end[3] == 6);
    }
    ASSERT_EQ(sfxtest::Run("unzip -q -P secret " + Quote(archive) + " -d " + Quote(theirs.string())), 0);

    WalkOptions options;
    options.passwords = {{1, "secret"}};
    WalkOutcome out = RunWalk(archive, ours.string(), options);
    EXPECT_EQ(out.result, 0u);
    EXPECT_EQ(out.cancelState, 0);
    EXPECT_TRUE(out.Boxes().empty()) << HostNarrow(out.Boxes().empty() ? L"" : out.Boxes()[0]->text);
    EXPECT_EQ(out.Asked(L"AskPassword").size(), a.encrypted ? 1u : 0u); // the kept password serves them all
    std::map<std::string, std::string> extracted = Tree(ours.string());
    EXPECT_EQ(extracted, Tree(theirs.string()));
    EXPECT_EQ(extracted, source);
    for (const auto &[rel, content] : source) {
      if (content == "/")
        continue;
      EXPECT_EQ(MTime(ours / rel), MTime(src / rel)) << rel;
      EXPECT_EQ(MTime(ours / rel), MTime(theirs / rel)) << rel;
    }
  }
}

TEST(WalkPeers, StreamFedEntryWithDescriptorIsFollowedByTheNextEntry) {
  if (!HavePeers())
    GTEST_SKIP() << "zip or unzip missing";
  sfxtest::TempDir temp;
  std::string archive = temp.file("s.zip");
  // "-" is read from a pipe into a zip written to a pipe: the local header holds placeholders (Zip64's
  // 0xFFFFFFFF sizes), the real values follow in a descriptor and stand in the central header.
  ASSERT_EQ(sfxtest::Run("cd " + Quote(temp.path()) + " && head -c 150000 /dev/urandom > stream.bin && " +
                         "echo tail > tail.txt && cat stream.bin | zip -q -X - - tail.txt | cat > s.zip"),
            0);
  EXPECT_TRUE(AnyEntryFlag(archive, 8));
  fs::path ours = fs::path(temp.path()) / "ours";
  WalkOutcome out = RunWalk(archive, ours.string());
  EXPECT_EQ(out.result, 0u);
  EXPECT_TRUE(out.Boxes().empty());
  EXPECT_EQ(sfxtest::ReadFile((ours / "-").string()), sfxtest::ReadFile(temp.file("stream.bin")));
  EXPECT_EQ(sfxtest::ReadFile((ours / "tail.txt").string()), sfxtest::ReadFile(temp.file("tail.txt")));
}

TEST(WalkPeers, PythonUtf8NamesWithTheirFlag) {
  if (!sfxtest::HaveTool("python3"))
    GTEST_SKIP() << "python3 missing";
  sfxtest::TempDir temp;
  std::string archive = temp.file("u.zip");
  ASSERT_EQ(sfxtest::Run("python3 -c \"import sys, zipfile\n"
                         "z = zipfile.ZipFile(sys.argv[1], 'w')\n"
                         "z.writestr('Grüße/日本語 ファイル.txt', 'utf')\n"
                         "z.writestr('naïve.txt', 'nv')\n"
                         "z.writestr('ascii.txt', 'a')\n"
                         "z.close()\" " +
                         Quote(archive)),
            0);
  sfxtest::Bytes bytes = sfxtest::ReadFile(archive);
  ASSERT_TRUE(bytes[7] & 0x08); // general-purpose bit 11
  for (UINT codePage : {1252u, 932u}) {
    fs::path ours = fs::path(temp.path()) / ("ours" + std::to_string(codePage));
    WalkOptions options;
    options.codePage = codePage;
    WalkOutcome out = RunWalk(archive, ours.string(), options);
    EXPECT_EQ(out.result, 0u);
    std::map<std::string, std::string> expected = {
        {"Grüße", "/"}, {"Grüße/日本語 ファイル.txt", "utf"}, {"naïve.txt", "nv"}, {"ascii.txt", "a"}};
    EXPECT_EQ(Tree(ours.string()), expected) << codePage;
  }
}

TEST(WalkPeers, JapaneseWindowsNamesInTheAnsiCodePage) {
  if (!sfxtest::HaveTool("python3"))
    GTEST_SKIP() << "python3 missing";
  sfxtest::TempDir temp;
  std::string archive = temp.file("j.zip");
  std::string script = temp.file("mk.py");
  // As a Japanese Windows zipper writes them: code page 932 bytes, no UTF-8 flag, made on FAT.
  sfxtest::WriteFile(script,
                     std::string("import sys, zipfile\n"
                                 "class RawInfo(zipfile.ZipInfo):\n"
                                 "    __slots__ = ('raw',)\n"
                                 "    def _encodeFilenameFlags(self):\n"
                                 "        return self.raw, self.flag_bits\n"
                                 "with zipfile.ZipFile(sys.argv[1], 'w') as z:\n"
                                 "    for name, data in [('日本語/テスト.txt', b't'), ('表.txt', b'h')]:\n"
                                 "        zi = RawInfo(name, date_time=(2020, 2, 29, 13, 37, 58))\n"
                                 "        zi.create_system = 0\n"
                                 "        zi.raw = name.encode('cp932')\n"
                                 "        z.writestr(zi, data)\n"));
  ASSERT_EQ(sfxtest::Run("python3 " + Quote(script) + " " + Quote(archive)), 0);
  fs::path ja = fs::path(temp.path()) / "ja";
  WalkOptions options;
  options.codePage = 932;
  EXPECT_EQ(RunWalk(archive, ja.string(), options).result, 0u);
  std::map<std::string, std::string> japanese = {
      {"日本語", "/"}, {"日本語/テスト.txt", "t"}, {"表.txt", "h"}};
  EXPECT_EQ(Tree(ja.string()), japanese);
  // In code page 1252 the same bytes read as Western text; the trail byte 0x5C of 表 is a backslash there.
  fs::path west = fs::path(temp.path()) / "west";
  EXPECT_EQ(RunWalk(archive, west.string()).result, 0u);
  std::map<std::string, std::string> western = {
      {"“ú–{Œê", "/"}, {"“ú–{Œê/ƒeƒXƒg.txt", "t"}, {"•", "/"}, {"•/.txt", "h"}};
  EXPECT_EQ(Tree(west.string()), western);
}

// ---- hand-built corners through the reader ----

TEST(WalkReader, LongNamesAesFieldAndMoreLocalThanCentralHeaders) {
  std::string name260 = std::string(200, 'a') + "/" + std::string(59, 'b');
  std::string name261 = std::string(200, 'c') + "/" + std::string(60, 'd');
  ASSERT_EQ(name260.size(), 260u);
  ASSERT_EQ(name261.size(), 261u);
  std::vector<ZipEntry> entries(5);
  entries[0].name = name260;
  entries[0].data = {'6', '0'};
  entries[1].name = name261;
  entries[1].data = {'6', '1'};
  entries[1].inCentral = false; // pairing is positional: a refused header must not have one
  entries[2].name = "aes.bin";
  entries[2].method = 99;
  entries[2].localExtra = AesExtra(3, 8);
  entries[2].data = {1, 2, 3};
  entries[3].name = "listed.txt";
  entries[3].data = {'l'};
  entries[4].name = "unlisted.txt";
  entries[4].data = {'u'};
  entries[4].inCentral = false;
  entries[4].externalAttributes = 0x21;
  sfxtest::TempDir temp;
  // Bytes in front of the archive, as the stub image and settings block would be.
  sfxtest::Bytes prefix(5000, 0x90);
  sfxtest::WriteFile(temp.file("r.zip"), BuildZip(entries, "", prefix));

  g_archiveFile = fopen(temp.file("r.zip").c_str(), "rb");
  ASSERT_TRUE(g_archiveFile);
  ASSERT_NE(LocateCentralDirectory(), 0u);
  EXPECT_EQ(ftell(g_archiveFile), 0);
  static BYTE window[SCAN_WINDOW_SIZE];
  static EntryHeader entry;
  std::vector<std::wstring> names;
  std::vector<DWORD> attributes;
  while (ReadNextEntry(&entry, window)) {
    names.push_back(entry.name);
    attributes.push_back(entry.attributes);
    if (names.back() == L"aes.bin") {
      EXPECT_EQ(entry.method, 8);
      EXPECT_EQ(entry.aesStrength, 3u);
    }
    fseek(g_archiveFile, ftell(g_archiveFile) + (long)entry.compressedSize, SEEK_SET);
  }
  fclose(g_archiveFile);
  g_archiveFile = nullptr;
  std::vector<std::wstring> expected = {sfxtest::Widen(name260.substr(0, 259)), L"aes.bin", L"listed.txt",
                                        L"unlisted.txt"};
  EXPECT_EQ(names, expected);
  // The entry past the end of the central directory keeps its local values and gets no attributes.
  std::vector<DWORD> expectedAttributes = {0x20, 0x20, 0x20, 0};
  EXPECT_EQ(attributes, expectedAttributes);
}

TEST(WalkReader, EndRecordSearchWindows) {
  sfxtest::TempDir temp;
  std::vector<ZipEntry> one(1);
  one[0].name = "x.txt";
  one[0].data = {'x'};
  // The end record at the start of the last window, in the window before it, two windows back, in a tiny
  // archive, across a window boundary, cut off by its window's end, and in front of the last full window.
  const sfxtest::Bytes prefix(2000, 0x90);
  struct Case {
    size_t comment;
    size_t prefix;
    DWORD found;
  } cases[] = {{234, 2000, 2036},
               {300, 2000, 2036},
               {600, 2000, 2036},
               {0, 0, 36},
               {236, 2000, 2036},
               {237, 2000, 2036},
               {250, 2000, 2036},
               {300, 0, 36}};
  for (const Case &c : cases) {
    std::string path = temp.file("e" + std::to_string(c.comment) + "-" + std::to_string(c.prefix) + ".zip");
    sfxtest::WriteFile(path, BuildZip(one, std::string(c.comment, 'k'),
                                      sfxtest::Bytes(prefix.begin(), prefix.begin() + c.prefix)));
    g_archiveFile = fopen(path.c_str(), "rb");
    ASSERT_TRUE(g_archiveFile);
    EXPECT_EQ(LocateCentralDirectory(), c.found) << c.comment << " " << c.prefix;
    if (c.found) {
      EXPECT_EQ(ftell(g_archiveFile), 0);
    }
    fclose(g_archiveFile);
  }
  // No end record at all.
  std::string junk = temp.file("junk.bin");
  sfxtest::WriteFile(junk, sfxtest::Bytes(3000, 'j'));
  g_archiveFile = fopen(junk.c_str(), "rb");
  EXPECT_EQ(LocateCentralDirectory(), 0u);
  fclose(g_archiveFile);
  g_archiveFile = nullptr;
}

// ---- sfx-extract ----

std::string Tool() { return sfxtest::BinaryDir() + "/tools/sfx-extract"; }

int RunTool(const std::string &args, std::string *output) {
  sfxtest::TempDir temp;
  int status = sfxtest::Run(Tool() + " " + args + " > " + Quote(temp.file("out.txt")) + " 2>&1");
  sfxtest::Bytes b = sfxtest::ReadFile(temp.file("out.txt"));
  *output = std::string(b.begin(), b.end());
  return status;
}

TEST(WalkTool, MessagesAndExitStatus) {
  if (!fs::exists(Tool()))
    GTEST_SKIP() << "sfx-extract not built";
  ZipEntry secret;
  secret.name = "secret.txt";
  secret.data = {'s'};
  secret.password = "right";
  ZipEntry strong;
  strong.name = "strong.bin";
  strong.flags = 0x41;
  strong.localExtra = {0x17, 0x00, 0x04, 0x00, 0x02, 0x00, 0x0E, 0x66};
  ZipEntry plain;
  plain.name = "plain.txt";
  plain.data = {'p'};
  sfxtest::TempDir temp;
  sfxtest::WriteFile(temp.file("p.zip"), BuildZip({secret, plain}));
  sfxtest::WriteFile(temp.file("s.zip"), BuildZip({plain, strong}));
  std::string out;

  EXPECT_EQ(RunTool(Quote(temp.file("p.zip")) + " " + Quote(temp.file("d1")) + " --password right", &out), 0);
  EXPECT_EQ(out, "");
  EXPECT_TRUE(fs::exists(temp.file("d1/secret.txt")));

  EXPECT_EQ(RunTool(Quote(temp.file("p.zip")) + " " + Quote(temp.file("d2")) + " --password wrong", &out), 0);
  EXPECT_EQ(out, "MessageBox [Warning] warning: Invalid Decryption Password.\n");
  EXPECT_FALSE(fs::exists(temp.file("d2/secret.txt")));
  EXPECT_TRUE(fs::exists(temp.file("d2/plain.txt")));

  EXPECT_EQ(RunTool(Quote(temp.file("s.zip")) + " " + Quote(temp.file("d3")), &out), 1);
  EXPECT_EQ(out, "MessageBox [VAZ-IDA] error: not supported archive format.\n");

  // An existing file and the replace question answered with Cancel, No, or not at all.
  EXPECT_EQ(
      RunTool(Quote(temp.file("p.zip")) + " " + Quote(temp.file("d1")) + " --answer-overwrite cancel", &out),
      1);
  EXPECT_EQ(
      RunTool(Quote(temp.file("p.zip")) + " " + Quote(temp.file("d1")) + " --answer-overwrite no", &out), 0);
  sfxtest::WriteFile(temp.file("d1/plain.txt"), std::string("changed"));
  EXPECT_EQ(
      RunTool(Quote(temp.file("p.zip")) + " " + Quote(temp.file("d1")) + " --overwrite --password right",
              &out),
      0);
  EXPECT_EQ(sfxtest::ReadFile(temp.file("d1/plain.txt")), plain.data);

  sfxtest::WriteFile(temp.file("junk.zip"), std::string(1000, 'j'));
  EXPECT_EQ(RunTool(Quote(temp.file("junk.zip")) + " " + Quote(temp.file("d4")), &out), 1);
  EXPECT_EQ(out, "MessageBox [VAZ-IDA] error: not supported archive format.\n");
}

} // namespace
