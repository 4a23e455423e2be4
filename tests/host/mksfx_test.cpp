// The builder mksfx as a black box: self-extracting files made from peers' archives pass Info-ZIP's
// test without warnings, the settings block is written byte-exactly and read back by --info, and every
// bad stub, bad archive, over-long text and usage error is refused with a message, a status and no output.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <set>

#include "archive/reader.h"
#include "extract/extract.h"
#include "pe_image.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using sfxtest::Bytes;
using sfxtest::ReadFile;
using sfxtest::TempDir;
using sfxtest::WriteFile;

const size_t BLOCK_SIZE = 996;

std::string Mksfx() { return sfxtest::BinaryDir() + "/tools/mksfx"; }

std::string ShellQuote(const std::string &s) {
  std::string out = "'";
  for (char c : s) {
    if (c == '\'') out += "'\\''";
    else out += c;
  }
  return out + "'";
}

std::string ReadText(const std::string &path) {
  Bytes b = ReadFile(path);
  return std::string(b.begin(), b.end());
}

struct Result {
  int status;
  std::string out, err;
};

// Runs a program with the arguments as given (no shell interpretation), capturing both streams.
Result RunProgram(const std::string &program, const std::vector<std::string> &args, const std::string &cwd = "") {
  TempDir capture;
  std::string command;
  if (!cwd.empty()) command = "cd " + ShellQuote(cwd) + " && ";
  command += ShellQuote(program);
  for (const auto &a : args) command += " " + ShellQuote(a);
  command += " >" + ShellQuote(capture.file("out")) + " 2>" + ShellQuote(capture.file("err"));
  Result r;
  r.status = sfxtest::Run(command);
  r.out = ReadText(capture.file("out"));
  r.err = ReadText(capture.file("err"));
  return r;
}

Result RunMksfx(const std::vector<std::string> &args) { return RunProgram(Mksfx(), args); }

uint32_t U16(const Bytes &b, size_t at) { return b[at] | (b[at + 1] << 8); }
uint32_t U32(const Bytes &b, size_t at) {
  return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}
void PutU16(Bytes &b, size_t at, uint32_t v) {
  b[at] = static_cast<uint8_t>(v);
  b[at + 1] = static_cast<uint8_t>(v >> 8);
}
void PutU32(Bytes &b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
bool SignatureAt(const Bytes &b, size_t at, uint8_t third, uint8_t fourth) {
  return at + 4 <= b.size() && b[at] == 0x50 && b[at + 1] == 0x4B && b[at + 2] == third && b[at + 3] == fourth;
}
size_t EndRecordOf(const Bytes &zip) {
  for (size_t i = zip.size() - 22 + 1; i-- > 0;)
    if (SignatureAt(zip, i, 5, 6)) return i;
  return std::string::npos;
}

uint32_t Crc32(const uint8_t *data, size_t n) {
  uint32_t c = 0xFFFFFFFFu;
  for (size_t i = 0; i < n; ++i) {
    c ^= data[i];
    for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1)));
  }
  return ~c;
}

// UTF-8 text to UTF-16 units, as the block stores them.
std::u16string Utf16(const std::string &utf8) {
  std::wstring w = sfxtest::Widen(utf8);
  std::u16string out;
  for (wchar_t c : w) {
    uint32_t cp = static_cast<uint32_t>(c);
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
  }
  return out;
}

std::string Repeat(const std::string &s, size_t n) {
  std::string out;
  for (size_t i = 0; i < n; ++i) out += s;
  return out;
}

std::set<std::string> FolderEntries(const std::string &dir) {
  std::set<std::string> names;
  for (const auto &e : fs::directory_iterator(dir)) names.insert(e.path().filename().string());
  return names;
}

// The files a peer archive is made from: text, binary, a nested folder and an empty folder.
void MakeTree(const std::string &root) {
  fs::create_directories(root + "/sub/deeper");
  fs::create_directories(root + "/empty");
  std::string text;
  for (int i = 0; i < 3000; ++i) text += "line " + std::to_string(i) + "\n";
  WriteFile(root + "/a.txt", text);
  Bytes bin(7000);
  uint32_t x = 12345;
  for (auto &b : bin) {
    x = x * 1103515245u + 12345u;
    b = static_cast<uint8_t>(x >> 24);
  }
  WriteFile(root + "/sub/b.bin", bin);
  WriteFile(root + "/sub/deeper/c.txt", std::string("deep\n"));
}

struct PeerCase {
  const char *name;
  const char *tool;
  // Shell command run in the tree's folder; it writes ../archive.zip.
  const char *command;
};

const char PYTHON_ZIP[] =
    "python3 - <<'EOF'\n"
    "import io, zipfile\n"
    "class Unseekable(io.RawIOBase):\n"
    "    def __init__(self, f): self.f = f\n"
    "    def writable(self): return True\n"
    "    def seekable(self): return False\n"
    "    def write(self, b): return self.f.write(b)\n"
    "with open('../archive.zip', 'wb') as f:\n"
    "    # An unseekable output makes zipfile write data descriptors.\n"
    "    with zipfile.ZipFile(Unseekable(f), 'w', zipfile.ZIP_DEFLATED) as z:\n"
    "        z.writestr('empty/', '')\n"
    "        z.write('a.txt')\n"
    "        z.write('sub/b.bin', compress_type=zipfile.ZIP_STORED)\n"
    "        z.write('sub/deeper/c.txt')\n"
    "        z.comment = b'made by zipfile for the builder test'\n"
    "EOF";

const PeerCase PEERS[] = {
    {"zip with an archive comment and folder entries", "zip",
     "echo 'a comment of the archive' | zip -q -r -z ../archive.zip a.txt sub empty"},
    {"zip to a pipe (data descriptors)", "zip", "zip -q -r - a.txt sub empty | cat > ../archive.zip"},
    {"zip with a comment of 234 bytes (end record at the start of the last 256 bytes)", "zip",
     "printf '%0234d' 0 | zip -q -r -z ../archive.zip a.txt sub"},
    {"7zz with folder entries", "7zz", "7zz a -tzip -bso0 -bsp0 ../archive.zip a.txt sub empty"},
    {"7zz stored", "7zz", "7zz a -tzip -mx=0 -bso0 -bsp0 ../archive.zip a.txt sub"},
    {"python zipfile with a comment, data descriptors and a folder entry", "python3", PYTHON_ZIP},
};

// Every offset in the written file points at the header it names.
void ExpectOffsetsPointAtHeaders(const Bytes &sfx, const std::string &what) {
  size_t end = EndRecordOf(sfx);
  ASSERT_NE(end, std::string::npos) << what;
  uint32_t entries = U16(sfx, end + 10), central = U32(sfx, end + 16);
  ASSERT_TRUE(SignatureAt(sfx, central, 1, 2)) << what << ": central directory offset " << central;
  size_t at = central;
  for (uint32_t n = 0; n < entries; ++n) {
    ASSERT_TRUE(SignatureAt(sfx, at, 1, 2)) << what << ": central header " << n;
    EXPECT_TRUE(SignatureAt(sfx, U32(sfx, at + 42), 3, 4)) << what << ": local header of entry " << n;
    at += 46 + U16(sfx, at + 28) + U16(sfx, at + 30) + U16(sfx, at + 32);
  }
}

class MksfxTest : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(fs::exists(Mksfx())) << "build the mksfx target first";
    stub = sfxtest::MakeTypicalStub();
    stubPath = dir.file("stub.exe");
    WriteFile(stubPath, stub);
  }

  // An archive made by zip (or, without zip, by python) from a small tree.
  std::string SimpleArchive(const std::string &name = "simple.zip") {
    std::string tree = dir.file("tree-" + name);
    MakeTree(tree);
    std::string path = dir.file(name);
    EXPECT_EQ(sfxtest::Run("cd " + ShellQuote(tree) + " && zip -q -r " + ShellQuote(path) + " a.txt sub"), 0);
    return path;
  }

  std::map<std::string, std::string> Info(const std::string &sfx) {
    Result r = RunMksfx({"--info", sfx});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    std::map<std::string, std::string> fields;
    size_t start = 0;
    while (start < r.out.size()) {
      size_t nl = r.out.find('\n', start);
      if (nl == std::string::npos) nl = r.out.size();
      std::string line = r.out.substr(start, nl - start);
      size_t colon = line.find(": ");
      if (colon != std::string::npos) fields[line.substr(0, colon)] = line.substr(colon + 2);
      start = nl + 1;
    }
    return fields;
  }

  TempDir dir;
  Bytes stub;
  std::string stubPath;
};

TEST_F(MksfxTest, PeerArchivesPassUnzipTestWithoutWarnings) {
  if (!sfxtest::HaveTool("unzip")) GTEST_SKIP() << "unzip is not installed";
  for (const PeerCase &peer : PEERS) {
    SCOPED_TRACE(peer.name);
    if (!sfxtest::HaveTool(peer.tool)) {
      ADD_FAILURE() << peer.tool << " is not installed (scripts/bootstrap installs it)";
      continue;
    }
    TempDir work;
    std::string tree = work.file("tree");
    MakeTree(tree);
    ASSERT_EQ(sfxtest::Run("cd " + ShellQuote(tree) + " && " + peer.command), 0);
    std::string archive = work.file("archive.zip");
    std::string out = work.file("out.exe");
    Result made = RunMksfx({"--stub", stubPath, "--crc", "--dest", "%temp%\\pkg", "-o", out, archive});
    ASSERT_EQ(made.status, 0) << made.err;
    EXPECT_EQ(made.err, "");

    Result test = RunProgram("unzip", {"-t", out});
    std::string all = test.out + test.err;
    EXPECT_EQ(test.status, 0) << all;
    EXPECT_EQ(all.find("extra bytes"), std::string::npos) << all;
    EXPECT_EQ(all.find("warning"), std::string::npos) << all;
    EXPECT_NE(all.find("No errors detected"), std::string::npos) << all;

    // Stub, block, archive: the stub unchanged, the archive's bytes equal except the rebased offsets,
    // the CRC-32 over the archive as written.
    Bytes sfx = ReadFile(out), zip = ReadFile(archive);
    ASSERT_EQ(sfx.size(), stub.size() + BLOCK_SIZE + zip.size());
    EXPECT_TRUE(std::equal(stub.begin(), stub.end(), sfx.begin()));
    size_t base = stub.size() + BLOCK_SIZE;
    EXPECT_EQ(U32(sfx, stub.size() + 0x320), Crc32(sfx.data() + base, sfx.size() - base));
    size_t zipEnd = EndRecordOf(zip);
    EXPECT_EQ(U32(sfx, base + zipEnd + 16), U32(zip, zipEnd + 16) + base);
    EXPECT_TRUE(std::equal(zip.begin(), zip.begin() + U32(zip, zipEnd + 16), sfx.begin() + base))
        << "the entries are copied unchanged";
    ExpectOffsetsPointAtHeaders(sfx, peer.name);
    EXPECT_EQ(Info(out)["archive CRC-32"].find("matches the archive") != std::string::npos, true);
  }
}

// The stub's own reader walks the built file from its first byte: it finds the end record the builder
// rebased and every entry, and nothing in the stub or the block passes for an entry.
TEST_F(MksfxTest, StubReaderFindsEveryEntryOfTheBuiltFile) {
  for (const PeerCase &peer : PEERS) {
    SCOPED_TRACE(peer.name);
    if (!sfxtest::HaveTool(peer.tool)) continue;
    TempDir work;
    std::string tree = work.file("tree");
    MakeTree(tree);
    ASSERT_EQ(sfxtest::Run("cd " + ShellQuote(tree) + " && " + peer.command), 0);
    std::string out = work.file("out.exe");
    Result made = RunMksfx({"--stub", stubPath, "--crc", "--dest", "%temp%\\製品", "--run", "setup.exe", "--question",
                            "インストールしますか？", "-o", out, work.file("archive.zip")});
    ASSERT_EQ(made.status, 0) << made.err;
    Bytes sfx = ReadFile(out);
    size_t end = EndRecordOf(sfx);
    uint32_t entries = U16(sfx, end + 10);

    g_archiveFile = std::fopen(out.c_str(), "rb");
    ASSERT_NE(g_archiveFile, nullptr);
    EXPECT_EQ(LocateCentralDirectory(), U32(sfx, end + 16));
    std::vector<BYTE> window(SCAN_WINDOW_SIZE);
    static EntryHeader entry;
    uint32_t found = 0;
    while (ReadNextEntry(&entry, window.data())) {
      long dataStart = std::ftell(g_archiveFile);
      // The first entry lies right behind the block: nothing before it was taken for one.
      if (found == 0) {
        EXPECT_EQ(g_centralHeader.localHeaderOffset, stub.size() + BLOCK_SIZE);
      }
      ++found;
      std::fseek(g_archiveFile, dataStart + static_cast<long>(entry.compressedSize), SEEK_SET);
    }
    std::fclose(g_archiveFile);
    g_archiveFile = nullptr;
    EXPECT_EQ(found, entries);
  }
}

TEST_F(MksfxTest, BlockIsWrittenByteExactly) {
  std::string archive = SimpleArchive();
  std::string out = dir.file("out.exe");
  // Left-over text must not show behind a shorter text: every field is zero-filled behind its terminator.
  Result r = RunMksfx({"--stub", stubPath, "--dest", "%ProgramFiles%\\製品", "--run", "setup.exe /q",
                       "--overwrite", "--no-open", "--no-dialog", "--delete-after", "--x64", "--question",
                       "Install?", "--question-caption", "Setup 😀", "-o", out, archive});
  ASSERT_EQ(r.status, 0) << r.err;
  Bytes sfx = ReadFile(out);
  Bytes expected(BLOCK_SIZE, 0);
  const char magic[] = "TAVREN6U";
  std::copy(magic, magic + 8, expected.begin());
  auto putText = [&](size_t offset, const std::string &utf8) {
    std::u16string units = Utf16(utf8);
    for (size_t i = 0; i < units.size(); ++i) PutU16(expected, offset + 2 * i, units[i]);
  };
  putText(0x008, "%ProgramFiles%\\製品");
  putText(0x210, "setup.exe /q");
  PutU32(expected, 0x310, 1);
  PutU32(expected, 0x314, 0);
  PutU32(expected, 0x318, 1);
  PutU32(expected, 0x31C, 1);
  PutU32(expected, 0x320, 0);
  putText(0x324, "Setup 😀");
  putText(0x364, "Install?");
  Bytes block(sfx.begin() + static_cast<long>(stub.size()), sfx.begin() + static_cast<long>(stub.size() + BLOCK_SIZE));
  EXPECT_EQ(block, expected);
  // The surrogate pair is two units, low unit last: D83D DE00.
  EXPECT_EQ(U16(block, 0x324 + 2 * 6), 0xD83Du);
  EXPECT_EQ(U16(block, 0x324 + 2 * 7), 0xDE00u);
}

struct InfoCase {
  const char *name;
  std::vector<std::string> options;
  std::map<std::string, std::string> expected;
};

TEST_F(MksfxTest, InfoPrintsBackWhatWasPutIn) {
  std::string archive = SimpleArchive();
  const std::string longDest = "C:\\" + Repeat("d", 256);                 // 259 units
  const std::string longRun = Repeat("r", 120) + " /q /x";                // 126 units
  const std::string longRun127 = longRun + "y";                            // 127 units
  const std::string longCaption = Repeat("キ", 29) + "😀";                 // 29 + 2 = 31 units
  const std::string longQuestion = Repeat("質問", 31) + "?";               // 63 units
  const InfoCase cases[] = {
      {"defaults",
       {},
       {{"kind", "3 (no requirement)"}, {"destination", "\"\""}, {"setup command", "\"\""},
        {"overwrite without asking", "no"}, {"open folder after", "yes"}, {"delete after setup", "no"},
        {"skip destination dialog", "no"}, {"archive CRC-32", "none"}, {"question caption", "\"\""},
        {"question text", "\"\""}}},
      {"every flag and text",
       {"--dest", "%temp%", "--run", "setup.exe", "--delete-after", "--overwrite", "--no-open", "--no-dialog",
        "--x64", "--question", "Go on?", "--question-caption", "Setup"},
       {{"kind", "6 (setup needs 64-bit Windows)"}, {"destination", "\"%temp%\""},
        {"setup command", "\"setup.exe\""}, {"overwrite without asking", "yes"}, {"open folder after", "no"},
        {"delete after setup", "yes"}, {"skip destination dialog", "yes"}, {"question caption", "\"Setup\""},
        {"question text", "\"Go on?\""}}},
      {"Japanese texts",
       {"--dest", "%ProgramFiles%\\ソフト\\日本語版", "--run", "セットアップ.exe /s", "--question",
        "インストールしますか？", "--question-caption", "確認"},
       {{"destination", "\"%ProgramFiles%\\ソフト\\日本語版\""}, {"setup command", "\"セットアップ.exe /s\""},
        {"question text", "\"インストールしますか？\""}, {"question caption", "\"確認\""}}},
      {"texts of the greatest length",
       {"--dest", longDest, "--run", longRun127, "--question-caption", longCaption, "--question", longQuestion},
       {{"destination", "\"" + longDest + "\""}, {"setup command", "\"" + longRun127 + "\""},
        {"question caption", "\"" + longCaption + "\""}, {"question text", "\"" + longQuestion + "\""}}},
      {"spaces are kept", {"--dest", "  C:\\a b  ", "--question", " ? "},
       {{"destination", "\"  C:\\a b  \""}, {"question text", "\" ? \""}}},
      {"--crc", {"--crc"}, {}},
  };
  for (const InfoCase &c : cases) {
    SCOPED_TRACE(c.name);
    std::string out = dir.file("info.exe");
    std::vector<std::string> args = {"--stub", stubPath, "-o", out};
    args.insert(args.end(), c.options.begin(), c.options.end());
    args.push_back(archive);
    Result r = RunMksfx(args);
    ASSERT_EQ(r.status, 0) << r.err;
    auto fields = Info(out);
    EXPECT_EQ(fields["settings block at"], std::to_string(stub.size()));
    for (const auto &[key, value] : c.expected) EXPECT_EQ(fields[key], value) << key;
    if (std::string(c.name) == "--crc") {
      Bytes sfx = ReadFile(out);
      size_t base = stub.size() + BLOCK_SIZE;
      char hex[16];
      std::snprintf(hex, sizeof hex, "0x%08X", Crc32(sfx.data() + base, sfx.size() - base));
      EXPECT_EQ(fields["archive CRC-32"], std::string(hex) + " (matches the archive)");
    }
  }
}

TEST_F(MksfxTest, InfoOnFilesWithoutBlock) {
  // A bare stub carries no block; a PE with something else behind it neither.
  Result bare = RunMksfx({"--info", stubPath});
  EXPECT_EQ(bare.status, 1);
  EXPECT_NE(bare.out.find("no settings block"), std::string::npos) << bare.out;
  Bytes other = stub;
  other.resize(other.size() + 2000, 0x11);
  WriteFile(dir.file("other.exe"), other);
  Result junk = RunMksfx({"--info", dir.file("other.exe")});
  EXPECT_EQ(junk.status, 1);
  EXPECT_NE(junk.out.find("no settings block"), std::string::npos) << junk.out;
  WriteFile(dir.file("text.exe"), std::string("just text, not an executable at all, long enough to be read"));
  Result text = RunMksfx({"--info", dir.file("text.exe")});
  EXPECT_EQ(text.status, 1);
  EXPECT_NE(text.err.find("not an executable"), std::string::npos) << text.err;
}

// ---- refusals ----

struct Refusal {
  const char *name;
  int status;
  const char *message;  // a part of the message on stderr
  // Prepares the inputs in the folder and returns mksfx's arguments; "OUT" stands for the output path.
  std::function<std::vector<std::string>(const std::string &dir, const std::string &stub, const std::string &zip)>
      prepare;
};

Bytes PatchedZip(const std::string &zip, const std::function<void(Bytes &, size_t end)> &patch) {
  Bytes b = ReadFile(zip);
  patch(b, EndRecordOf(b));
  return b;
}

std::vector<std::string> WithStub(const std::string &dir, const Bytes &stub, const std::string &zip) {
  WriteFile(dir + "/bad-stub.exe", stub);
  return {"--stub", dir + "/bad-stub.exe", "-o", "OUT", zip};
}

std::vector<std::string> WithZip(const std::string &dir, const std::string &stub, const Bytes &zip) {
  WriteFile(dir + "/bad.zip", zip);
  return {"--stub", stub, "-o", "OUT", dir + "/bad.zip"};
}

std::vector<std::string> WithText(const std::string &stub, const std::string &zip, const std::string &option,
                                  const std::string &text) {
  return {"--stub", stub, option, text, "-o", "OUT", zip};
}

const std::vector<Refusal> &Refusals() {
  static const std::vector<Refusal> refusals = {
      {"stub is not an executable", 1, "not an executable",
       [](auto &d, auto &, auto &z) { return WithStub(d, Bytes(5000, 'x'), z); }},
      {"stub is a 64-bit image", 1, "not a 32-bit x86 image",
       [](auto &d, auto &, auto &z) {
         sfxtest::PeImageSpec layout;
         layout.sections = sfxtest::TypicalSections();
         layout.machine = 0x8664;
         return WithStub(d, sfxtest::MakePeImage(layout), z);
       }},
      {"stub has a PE32+ optional header", 1, "not a PE32 image",
       [](auto &d, auto &, auto &z) {
         sfxtest::PeImageSpec layout;
         layout.sections = sfxtest::TypicalSections();
         layout.optionalMagic = 0x020B;
         return WithStub(d, sfxtest::MakePeImage(layout), z);
       }},
      {"stub with data appended", 1, "appended behind the image",
       [](auto &d, auto &, auto &z) {
         Bytes s = sfxtest::MakeTypicalStub();
         s.resize(s.size() + 100, 0x22);
         return WithStub(d, s, z);
       }},
      {"stub shorter than its sections", 1, "truncated",
       [](auto &d, auto &, auto &z) {
         Bytes s = sfxtest::MakeTypicalStub();
         s.pop_back();
         return WithStub(d, s, z);
       }},
      {"stub holding the local header signature", 1, "50 4B 03 04",
       [](auto &d, auto &, auto &z) {
         Bytes s = sfxtest::MakeTypicalStub();
         s[0x300] = 0x50, s[0x301] = 0x4B, s[0x302] = 0x03, s[0x303] = 0x04;
         return WithStub(d, s, z);
       }},
      {"stub missing", 1, "cannot open",
       [](auto &d, auto &, auto &z) { return std::vector<std::string>{"--stub", d + "/none.exe", "-o", "OUT", z}; }},
      {"archive without an end record", 1, "no end of central directory record",
       [](auto &d, auto &s, auto &) { return WithZip(d, s, Bytes(3000, 0x41)); }},
      {"archive with data behind its end record", 1, "no end of central directory record",
       [](auto &d, auto &s, auto &z) {
         Bytes b = ReadFile(z);
         b.push_back(0);
         return WithZip(d, s, b);
       }},
      {"archive whose central directory lies outside the file", 1, "outside the file",
       [](auto &d, auto &s, auto &z) {
         return WithZip(d, s, PatchedZip(z, [](Bytes &b, size_t end) { PutU32(b, end + 16, U32(b, end + 16) + 5000); }));
       }},
      {"archive whose central directory is not where the end record says", 1, "not where the end record says",
       [](auto &d, auto &s, auto &z) {
         return WithZip(d, s, PatchedZip(z, [](Bytes &b, size_t end) { PutU32(b, end + 16, U32(b, end + 16) - 1); }));
       }},
      {"Zip64 archive made by zip -fz", 1, "Zip64",
       [](auto &d, auto &s, auto &) {
         std::string folder = d + "/z64";
         fs::create_directories(folder);
         WriteFile(folder + "/f.txt", std::string("zip64 content\n"));
         EXPECT_EQ(sfxtest::Run("cd " + ShellQuote(folder) + " && zip -q -fz ../z64.zip f.txt"), 0);
         return std::vector<std::string>{"--stub", s, "-o", "OUT", d + "/z64.zip"};
       }},
      {"last part of an archive split by zip -s", 1, "several disks",
       [](auto &d, auto &s, auto &) {
         std::string folder = d + "/split";
         fs::create_directories(folder);
         Bytes big(200000);
         uint32_t x = 7;
         for (auto &b : big) b = static_cast<uint8_t>((x = x * 1664525u + 1013904223u) >> 24);
         WriteFile(folder + "/big.bin", big);
         EXPECT_EQ(sfxtest::Run("cd " + ShellQuote(folder) + " && zip -q -s 64k ../split.zip big.bin"), 0);
         return std::vector<std::string>{"--stub", s, "-o", "OUT", d + "/split.zip"};
       }},
      {"archive comment the stub's end-record search would take for the record", 1, "would not find",
       [](auto &d, auto &s, auto &z) {
         // An end-record signature inside a long comment comes first in the stub's last search window.
         std::string copy = d + "/comment.zip";
         fs::copy_file(z, copy);
         EXPECT_EQ(sfxtest::Run("printf '%0280dPK\\005\\006%016d' 0 0 | zip -q -z " + ShellQuote(copy)), 0);
         return std::vector<std::string>{"--stub", s, "-o", "OUT", copy};
       }},
      {"archive comment holding a local header signature", 1, "stand behind the entries",
       [](auto &d, auto &s, auto &z) {
         std::string copy = d + "/pk-comment.zip";
         fs::copy_file(z, copy);
         EXPECT_EQ(sfxtest::Run("printf 'see PK\\003\\004 here' | zip -q -z " + ShellQuote(copy)), 0);
         return std::vector<std::string>{"--stub", s, "-o", "OUT", copy};
       }},
      {"archive that makes the file larger than 2 GiB", 1, "exceed 2 GiB",
       [](auto &d, auto &s, auto &) {
         // A sparse empty archive: 2 GiB of nothing, then an end record whose central directory is empty.
         std::string big = d + "/big.zip";
         WriteFile(big, Bytes());
         fs::resize_file(big, 0x80000000ull);
         Bytes end = {0x50, 0x4B, 0x05, 0x06, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x80, 0, 0};
         FILE *f = std::fopen(big.c_str(), "ab");
         std::fwrite(end.data(), 1, end.size(), f);
         std::fclose(f);
         return std::vector<std::string>{"--stub", s, "-o", "OUT", big};
       }},
      {"archive missing", 1, "cannot open",
       [](auto &d, auto &s, auto &) { return std::vector<std::string>{"--stub", s, "-o", "OUT", d + "/none.zip"}; }},
      {"destination of 260 units", 1, "destination (--dest) is too long: 260 UTF-16 units; its field holds at most 259",
       [](auto &, auto &s, auto &z) { return WithText(s, z, "--dest", Repeat("d", 260)); }},
      {"Japanese destination of 260 units", 1, "destination (--dest) is too long: 260",
       [](auto &, auto &s, auto &z) { return WithText(s, z, "--dest", Repeat("日", 260)); }},
      {"setup command of 128 units", 1, "setup command (--run) is too long: 128 UTF-16 units; its field holds at most 127",
       [](auto &, auto &s, auto &z) { return WithText(s, z, "--run", Repeat("r", 128)); }},
      {"question caption of 32 units through a surrogate pair", 1,
       "question caption (--question-caption) is too long: 32 UTF-16 units; its field holds at most 31",
       [](auto &, auto &s, auto &z) { return WithText(s, z, "--question-caption", Repeat("c", 30) + "😀"); }},
      {"question text of 64 units", 1, "question text (--question) is too long: 64 UTF-16 units; its field holds at most 63",
       [](auto &, auto &s, auto &z) { return WithText(s, z, "--question", Repeat("質", 64)); }},
      {"text that is not UTF-8", 1, "not valid UTF-8",
       [](auto &, auto &s, auto &z) { return WithText(s, z, "--question", std::string("ab\xC3(", 4)); }},
      {"text whose UTF-16 units form the local header signature", 1, "50 4B 03 04",
       // U+4B50 U+0403 are the bytes 50 4B 03 04 in UTF-16LE.
       [](auto &, auto &s, auto &z) { return WithText(s, z, "--question", "\xE4\xAD\x90\xD0\x83"); }},
      {"no output given", 2, "no output file",
       [](auto &, auto &s, auto &z) { return std::vector<std::string>{"--stub", s, z}; }},
      {"no archive given", 2, "no archive",
       [](auto &, auto &s, auto &) { return std::vector<std::string>{"--stub", s, "-o", "OUT"}; }},
      {"unknown option", 2, "unknown option --frobnicate",
       [](auto &, auto &s, auto &z) { return std::vector<std::string>{"--stub", s, "--frobnicate", "-o", "OUT", z}; }},
      {"option without its value", 2, "--dest needs a value",
       [](auto &, auto &s, auto &z) { return std::vector<std::string>{"--stub", s, "-o", "OUT", z, "--dest"}; }},
      {"flag with a value", 2, "--crc takes no value",
       [](auto &, auto &s, auto &z) { return std::vector<std::string>{"--stub", s, "--crc=1", "-o", "OUT", z}; }},
      {"two archives", 2, "more than one archive",
       [](auto &, auto &s, auto &z) { return std::vector<std::string>{"--stub", s, "-o", "OUT", z, z}; }},
      {"--info with building options", 2, "--info takes a file",
       [](auto &, auto &s, auto &z) { return std::vector<std::string>{"--info", s, "-o", "OUT", z}; }},
  };
  return refusals;
}

TEST_F(MksfxTest, RefusesBadInputWithoutLeavingOutput) {
  if (!sfxtest::HaveTool("zip")) GTEST_SKIP() << "zip is not installed";
  std::string archive = SimpleArchive();
  for (const Refusal &c : Refusals()) {
    SCOPED_TRACE(c.name);
    TempDir work;
    std::vector<std::string> args = c.prepare(work.path(), stubPath, archive);
    std::string out = work.file("out.exe");
    for (auto &a : args)
      if (a == "OUT") a = out;
    std::set<std::string> before = FolderEntries(work.path());
    Result r = RunMksfx(args);
    EXPECT_EQ(r.status, c.status) << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << "stderr: " << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(FolderEntries(work.path()), before) << "no output and no temporary file may be left";
  }
}

TEST_F(MksfxTest, RefusalKeepsAnExistingOutput) {
  std::string archive = SimpleArchive();
  std::string out = dir.file("keep.exe");
  WriteFile(out, std::string("the previous build"));
  Result r = RunMksfx({"--stub", stubPath, "--run", Repeat("x", 200), "-o", out, archive});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(ReadText(out), "the previous build");
  // A good run replaces it whole.
  Result ok = RunMksfx({"--stub", stubPath, "-o", out, archive});
  ASSERT_EQ(ok.status, 0) << ok.err;
  EXPECT_EQ(ReadFile(out).size(), stub.size() + BLOCK_SIZE + ReadFile(archive).size());
}

TEST_F(MksfxTest, StubBesideMksfxIsTheDefault) {
  std::string archive = SimpleArchive();
  TempDir tools;
  fs::copy_file(Mksfx(), tools.file("mksfx"));
  fs::permissions(tools.file("mksfx"), fs::perms::owner_exec, fs::perm_options::add);
  Bytes other = sfxtest::MakePeImage({{{".text", 0x200, 0x600}}, 0x40});
  WriteFile(tools.file("sfx.exe"), other);
  std::string out = dir.file("default.exe");
  Result r = RunProgram(tools.file("mksfx"), {"-o", out, archive});
  ASSERT_EQ(r.status, 0) << r.err;
  Bytes sfx = ReadFile(out);
  EXPECT_TRUE(std::equal(other.begin(), other.end(), sfx.begin()));
}

TEST_F(MksfxTest, HelpAndVersion) {
  Result help = RunMksfx({"--help"});
  EXPECT_EQ(help.status, 0);
  for (const char *option : {"--stub", "--dest", "--run", "--delete-after", "--overwrite", "--no-open", "--no-dialog",
                             "--crc", "--question", "--question-caption", "--x64", "--info", "--version"})
    EXPECT_NE(help.out.find(option), std::string::npos) << option;
  Result version = RunMksfx({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out.rfind("mksfx ", 0), 0u) << version.out;
}

} // namespace
