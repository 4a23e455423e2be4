// Inflate against streams made by peers: Python's zlib (raw Deflate, levels 0, 1, 6 and 9), Info-ZIP
// zip, and 7-Zip's Deflate and Deflate64 encoders. Every output is compared byte for byte with the
// original and the sink's CRC-32 with the archive's.
#include <set>

#include "../unit/inflate_harness.h"

using namespace inflatetest;

namespace {

// Test files with different characters: text, structured binary, incompressible bytes, a block that
// repeats 40000 bytes later (distances above 32768, reachable only by Deflate64), long runs (long
// Deflate64 matches), and an empty file.
std::vector<std::pair<std::string, Bytes>> TestFiles() {
  std::vector<std::pair<std::string, Bytes>> files;
  static const char *words[] = {"archive", "the",     "window", "of",  "deflate", "stream", "entry", "and",
                                "setup",   "extract", "byte",   "bit", "table",   "code",   "match", "\n"};
  Bytes text;
  uint32_t x = 99;
  while (text.size() < 400000) {
    x = x * 1664525u + 1013904223u;
    const char *w = words[(x >> 20) % 16];
    text.insert(text.end(), w, w + strlen(w));
    text.push_back((x >> 12) % 7 ? ' ' : ',');
  }
  files.push_back({"text.txt", text});

  Bytes binary;
  for (uint32_t i = 0; binary.size() < 300000; i++) {
    uint32_t v = i * 7 + ((i * 2654435761u) >> 28);
    for (int k = 0; k < 4; k++) {
      binary.push_back((uint8_t)(v >> (8 * k)));
    }
  }
  files.push_back({"binary.bin", binary});

  files.push_back({"random.bin", PseudoRandom(150000, 42)});

  Bytes far;
  Bytes block = PseudoRandom(40000, 77);
  for (int i = 0; i < 6; i++) {
    far.insert(far.end(), block.begin(), block.end());
    far.push_back((uint8_t)i);
  }
  files.push_back({"far.bin", far});

  Bytes runs;
  for (int i = 0; i < 8; i++) {
    runs.insert(runs.end(), 70000 + 1000 * i, (uint8_t)('a' + i));
    Bytes noise = PseudoRandom(100, i);
    runs.insert(runs.end(), noise.begin(), noise.end());
  }
  files.push_back({"runs.bin", runs});
  files.push_back({"empty.txt", Bytes()});
  return files;
}

TEST(InflatePeers, PythonZlibRawStreamsAtEveryLevel) {
  if (!sfxtest::HaveTool("python3")) {
    GTEST_SKIP() << "python3 missing";
  }
  sfxtest::TempDir dir;
  auto files = TestFiles();
  // One interpreter makes every stream: FILE.LEVEL.raw beside each FILE.
  std::string names;
  for (const auto &[name, data] : files) {
    sfxtest::WriteFile(dir.file(name), data);
    names += " '" + dir.file(name) + "'";
  }
  std::string cmd = "python3 -c \"import sys, zlib\n"
                    "for f in sys.argv[1:]:\n"
                    "  d = open(f, 'rb').read()\n"
                    "  for level in (0, 1, 6, 9):\n"
                    "    c = zlib.compressobj(level, zlib.DEFLATED, -15)\n"
                    "    open(f + '.%d.raw' % level, 'wb').write(c.compress(d) + c.flush())\n\"" +
                    names;
  ASSERT_EQ(sfxtest::Run(cmd), 0);
  for (const auto &[name, data] : files) {
    for (int level : {0, 1, 6, 9}) {
      SCOPED_TRACE(name + " level " + std::to_string(level));
      Bytes stream = sfxtest::ReadFile(dir.file(name + "." + std::to_string(level) + ".raw"));
      ASSERT_FALSE(stream.empty());
      // Once with bytes behind the stream, once with the stream ending the file.
      for (size_t trail : {size_t(100), size_t(0)}) {
        InflateRun run = RunInflate(stream, 0, 1234, trail);
        EXPECT_EQ(run.result, INFLATE_OK);
        EXPECT_EQ(run.output.size(), data.size());
        EXPECT_TRUE(run.output == data);
        EXPECT_EQ(run.crc, Crc32(data));
      }
    }
  }
  ReleaseFixedTables();
}

struct ArchiverCase {
  const char *name;
  const char *tool;
  std::string command; // %A archive, run in the folder of the files
  int method;
};

TEST(InflatePeers, ArchivesOfInfoZipAnd7Zip) {
  const ArchiverCase cases[] = {
      {"Info-ZIP zip -6", "zip", "zip -q -6 %A *", 8},
      {"Info-ZIP zip -9", "zip", "zip -q -9 %A *", 8},
      {"7zz Deflate", "7zz", "7zz a -bd -bso0 -tzip -mm=Deflate -mx=9 %A *", 8},
      {"7zz Deflate64", "7zz", "7zz a -bd -bso0 -tzip -mm=Deflate64 -mx=9 %A *", 9},
      {"7zz Deflate64 fast", "7zz", "7zz a -bd -bso0 -tzip -mm=Deflate64 -mx=1 %A *", 9},
  };
  auto files = TestFiles();
  sfxtest::TempDir dir;
  std::string src = dir.file("src");
  ASSERT_EQ(sfxtest::Run("mkdir -p '" + src + "'"), 0);
  for (const auto &[name, data] : files) {
    sfxtest::WriteFile(src + "/" + name, data);
  }
  for (const ArchiverCase &c : cases) {
    SCOPED_TRACE(c.name);
    if (!sfxtest::HaveTool(c.tool)) {
      ADD_FAILURE() << c.tool << " missing (scripts/bootstrap installs it)";
      continue;
    }
    std::string archive = dir.file(std::string(c.name).replace(std::string(c.name).find(' '), 1, "_") + ".zip");
    std::string cmd = c.command;
    cmd.replace(cmd.find("%A"), 2, "'" + archive + "'");
    ASSERT_EQ(sfxtest::Run("cd '" + src + "' && " + cmd + " >/dev/null"), 0);
    std::vector<ZipEntry> entries = ListZip(sfxtest::ReadFile(archive));
    ASSERT_EQ(entries.size(), files.size());
    std::set<std::string> inflated;
    for (const ZipEntry &e : entries) {
      SCOPED_TRACE(e.name);
      const Bytes *original = nullptr;
      for (const auto &[name, data] : files) {
        if (name == e.name) {
          original = &data;
        }
      }
      ASSERT_NE(original, nullptr);
      if (e.method == 0) {
        continue; // stored by the archiver (empty or incompressible)
      }
      EXPECT_EQ(e.method, c.method);
      InflateRun run = InflateZipEntry(archive, e);
      EXPECT_EQ(run.result, 0);
      EXPECT_EQ(run.output.size(), original->size());
      EXPECT_TRUE(run.output == *original);
      EXPECT_EQ(run.crc, e.crc);
      inflated.insert(e.name);
      // The far file shrinks only through matches that reach more than 32768 bytes back.
      if (e.name == "far.bin" && c.method == 9) {
        EXPECT_LT(e.compressedSize * 3, original->size());
      }
    }
    for (const char *name : {"text.txt", "binary.bin", "runs.bin"}) {
      EXPECT_TRUE(inflated.count(name)) << name;
    }
    if (c.method == 9) {
      EXPECT_TRUE(inflated.count("far.bin"));
    }
  }
  ReleaseFixedTables();
}

// Corrupted streams (bits flipped, bytes replaced, the stream cut short) end with a defined result, never
// crash (the sanitizers watch every access) and never run on: whatever they decode stays bounded.
TEST(InflatePeers, MutatedStreamsEndWithADefinedResult) {
  if (!sfxtest::HaveTool("python3")) {
    GTEST_SKIP() << "python3 missing";
  }
  sfxtest::TempDir dir;
  Bytes text = TestFiles()[0].second;
  text.resize(20000);
  sfxtest::WriteFile(dir.file("seed"), text);
  std::string cmd = "python3 -c \"import sys, zlib\n"
                    "d = open(sys.argv[1], 'rb').read()\n"
                    "for level, name in ((1, 'fast'), (9, 'best')):\n"
                    "  c = zlib.compressobj(level, zlib.DEFLATED, -15)\n"
                    "  open(sys.argv[1] + '.' + name, 'wb').write(c.compress(d) + c.flush())\n\" '" +
                    dir.file("seed") + "'";
  ASSERT_EQ(sfxtest::Run(cmd), 0);
  uint32_t x = 2024;
  auto next = [&x](uint32_t n) {
    x = x * 1664525u + 1013904223u;
    return (x >> 8) % n;
  };
  for (const char *name : {"fast", "best"}) {
    Bytes seed = sfxtest::ReadFile(dir.file(std::string("seed.") + name));
    for (int i = 0; i < 600; i++) {
      Bytes s = seed;
      int kind = (int)next(3);
      if (kind == 0) {
        for (int j = 0, n = 1 + (int)next(4); j < n; j++) {
          s[next((uint32_t)s.size())] ^= (uint8_t)(1u << next(8));
        }
      } else if (kind == 1) {
        s[next((uint32_t)s.size())] = (uint8_t)next(256);
      } else {
        s.resize(next((uint32_t)s.size()));
      }
      InflateRun run = RunInflate(s, (int)next(2), 11, next(2) ? 0 : 40);
      ASSERT_TRUE(run.result >= INFLATE_OK && run.result <= INFLATE_BAD_CODES) << "iteration " << i;
      if (run.result == INFLATE_OK) {
        EXPECT_EQ(run.crc, Crc32(run.output));
      } else {
        EXPECT_LE(run.output.size(), 65536u * 8); // only whole windows flushed before the error
      }
    }
  }
  ReleaseFixedTables();
}

} // namespace
