// Inflate over hand-made Deflate and Deflate64 streams: block kinds, the corner cases of both variants,
// dynamic headers that must be refused or accepted, matches that wrap the window, streams cut off by the
// end of the file, cancel, decryption on the fly and the fixed tables kept across entries.
#include "inflate_harness.h"

#include "crypto/zipcrypto.h"

#ifndef _WIN32
#include "platform/host/desktop.h"
#endif

using namespace inflatetest;

namespace {

Bytes Text(const std::string &s) { return Bytes(s.begin(), s.end()); }

void FixedHeader(BitWriter &w, bool final) {
  w.Bits(final ? 1 : 0, 1);
  w.Bits(1, 2);
}

// Length symbol and extra bits for a length of 3..258 (Deflate).
void FixedLength(BitWriter &w, int length) {
  static const int base[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                               31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
  static const int extra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
  int s = 28;
  while (base[s] > length) {
    s--;
  }
  FixedSymbol(w, 257 + s);
  w.Bits(length - base[s], extra[s]);
}

void FixedDist(BitWriter &w, int distance) {
  static const int base[32] = {1,    2,    3,    4,    5,    7,     9,     13,    17,    25,   33,
                               49,   65,   97,   129,  193,  257,   385,   513,   769,   1025, 1537,
                               2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577, 32769, 49153};
  int s = 31;
  while (base[s] > distance) {
    s--;
  }
  FixedDistance(w, s);
  int e = s < 4 ? 0 : s / 2 - 1;
  w.Bits(distance - base[s], e);
}

// Stored blocks holding `data`, the last one final when `final`.
void StoredAll(BitWriter &w, const Bytes &data, bool final) {
  size_t at = 0;
  do {
    size_t n = std::min<size_t>(65535, data.size() - at);
    StoredBlock(w, final && at + n == data.size(), data, at, n);
    at += n;
  } while (at < data.size());
}

TEST(InflateBlocks, EmptyFinalFixedBlockWritesNothingInOneCall) {
  BitWriter w;
  FixedHeader(w, true);
  FixedSymbol(w, 256);
#ifndef _WIN32
  DesktopReset();
#endif
  InflateRun run = RunInflate(w.Finish(), 0);
  EXPECT_EQ(run.result, INFLATE_OK);
  EXPECT_TRUE(run.output.empty());
  EXPECT_EQ(run.crc, 0u);
#ifndef _WIN32
  EXPECT_EQ(DesktopProgressCount(), 1); // the final flush, of 0 bytes
#endif
}

TEST(InflateBlocks, ExactlyOneWindowIsOneFullFlushAndAnEmptyOne) {
  Bytes data = PseudoRandom(65536, 3);
  BitWriter w;
  StoredBlock(w, false, data, 0, 65535);
  FixedHeader(w, true);
  FixedSymbol(w, data[65535]);
  FixedSymbol(w, 256);
#ifndef _WIN32
  DesktopReset();
#endif
  InflateRun run = RunInflate(w.Finish(), 0);
  EXPECT_EQ(run.result, INFLATE_OK);
  EXPECT_EQ(run.output, data);
  EXPECT_EQ(run.crc, Crc32(data));
#ifndef _WIN32
  EXPECT_EQ(DesktopProgressCount(), 2);
#endif
}

TEST(InflateBlocks, BadHeadersAreRefused) {
  struct Case {
    const char *name;
    std::function<void(BitWriter &)> write;
    int deflate64;
    int expected;
  };
  const Case cases[] = {
      {"stored length and complement disagree",
       [](BitWriter &w) {
         w.Bits(1, 1);
         w.Bits(0, 2);
         w.Align();
         w.Bits(5, 16);
         w.Bits((~5u & 0xFFFF) ^ 0x100, 16);
         w.Bits(0x41414141, 32);
       },
       0, INFLATE_BAD_DATA},
      {"block type 3", [](BitWriter &w) { w.Bits(1, 1), w.Bits(3, 2), w.Bits(0, 16); }, 0, INFLATE_BAD_CODES},
      {"distance symbol 30 under Deflate",
       [](BitWriter &w) {
         FixedHeader(w, true);
         FixedSymbol(w, 'a');
         FixedSymbol(w, 257);
         FixedDistance(w, 30);
         FixedSymbol(w, 256);
       },
       0, INFLATE_BAD_DATA},
      {"distance symbol 31 under Deflate",
       [](BitWriter &w) {
         FixedHeader(w, true);
         FixedSymbol(w, 'a');
         FixedSymbol(w, 257);
         FixedDistance(w, 31);
         FixedSymbol(w, 256);
       },
       0, INFLATE_BAD_DATA},
      {"length symbol 286",
       [](BitWriter &w) {
         FixedHeader(w, true);
         FixedSymbol(w, 'a');
         FixedSymbol(w, 286);
         FixedDistance(w, 0);
         FixedSymbol(w, 256);
       },
       0, INFLATE_BAD_DATA},
      {"length symbol 287 under Deflate64",
       [](BitWriter &w) {
         FixedHeader(w, true);
         FixedSymbol(w, 'a');
         FixedSymbol(w, 287);
         FixedDistance(w, 0);
         FixedSymbol(w, 256);
       },
       1, INFLATE_BAD_DATA},
      {"distance before the first byte of the entry",
       [](BitWriter &w) {
         FixedHeader(w, true);
         FixedSymbol(w, 'a');
         FixedSymbol(w, 257);
         FixedDistance(w, 1); // distance 2, one byte written
         FixedSymbol(w, 256);
       },
       0, INFLATE_BAD_DATA},
      {"match as the first symbol",
       [](BitWriter &w) {
         FixedHeader(w, true);
         FixedSymbol(w, 257);
         FixedDistance(w, 0);
         FixedSymbol(w, 256);
       },
       1, INFLATE_BAD_DATA},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    BitWriter w;
    c.write(w);
    InflateRun run = RunInflate(w.Finish(), c.deflate64);
    EXPECT_EQ(run.result, c.expected);
    EXPECT_TRUE(run.output.empty()); // nothing since the last flush reaches the file
  }
}

TEST(InflateMatches, DistanceOneLengthHundredRepeatsTheLastByte) {
  BitWriter w;
  FixedHeader(w, true);
  FixedSymbol(w, 'q');
  FixedLength(w, 100);
  FixedDist(w, 1);
  FixedSymbol(w, 256);
  InflateRun run = RunInflate(w.Finish(), 0);
  EXPECT_EQ(run.result, INFLATE_OK);
  EXPECT_EQ(run.output, Bytes(101, 'q'));
}

TEST(InflateMatches, Symbol285IsLength258UnderDeflate) {
  BitWriter w;
  FixedHeader(w, true);
  FixedSymbol(w, 'x');
  FixedSymbol(w, 'y');
  FixedSymbol(w, 285);
  FixedDist(w, 2);
  FixedSymbol(w, 256);
  Bytes expected = Text("xy");
  AppendMatch(expected, 258, 2);
  InflateRun run = RunInflate(w.Finish(), 0);
  EXPECT_EQ(run.result, INFLATE_OK);
  EXPECT_EQ(run.output, expected);
}

TEST(InflateMatches, Deflate64Symbol285WithAllOnesCopies65538BytesAcrossTheWindow) {
  BitWriter w;
  FixedHeader(w, true);
  for (char c : std::string("xyz")) {
    FixedSymbol(w, c);
  }
  FixedSymbol(w, 285);
  w.Bits(0xFFFF, 16);
  FixedDist(w, 3);
  FixedSymbol(w, 'e');
  FixedSymbol(w, 256);
  Bytes expected = Text("xyz");
  AppendMatch(expected, 65538, 3);
  expected.push_back('e');
  InflateRun run = RunInflate(w.Finish(), 1);
  EXPECT_EQ(run.result, INFLATE_OK);
  ASSERT_EQ(run.output.size(), expected.size());
  EXPECT_EQ(run.output, expected);
  EXPECT_EQ(run.crc, Crc32(expected));
}

// Deflate64's distance symbols 30 and 31 reach 32769 to 65536 bytes back, including a source that lies
// ahead of the destination in the window and overlaps it.
TEST(InflateMatches, Deflate64FarDistancesAndLongMatches) {
  Bytes history = PseudoRandom(2 * 65536 - 5, 21);
  BitWriter w;
  StoredAll(w, history, false);
  FixedHeader(w, true);
  Bytes expected = history;
  for (char c : std::string("abcde")) {
    FixedSymbol(w, c);
    expected.push_back(c);
  }
  struct Match {
    int length; // Deflate64 length: 3..65538 through symbol 285
    int distanceSymbol;
    int extra;
  };
  const Match matches[] = {{65538, 30, 7231}, {200, 31, 0x3FFF}, {3, 30, 0}, {65538, 31, 100}, {5000, 31, 0}};
  for (const Match &m : matches) {
    FixedSymbol(w, 285);
    w.Bits(m.length - 3, 16);
    FixedDistance(w, m.distanceSymbol);
    w.Bits(m.extra, 14);
    AppendMatch(expected, m.length, (m.distanceSymbol == 30 ? 32769 : 49153) + m.extra);
  }
  FixedSymbol(w, 256);
  InflateRun run = RunInflate(w.Finish(), 1);
  EXPECT_EQ(run.result, INFLATE_OK);
  ASSERT_EQ(run.output.size(), expected.size());
  EXPECT_TRUE(run.output == expected);
  EXPECT_EQ(run.crc, Crc32(expected));
}

TEST(InflateMatches, Deflate64DistanceWithinTheEntryBeforeTheWindowWraps) {
  Bytes history = PseudoRandom(40000, 5);
  BitWriter w;
  StoredAll(w, history, false);
  FixedHeader(w, true);
  FixedSymbol(w, 285);
  w.Bits(1000 - 3, 16);
  FixedDistance(w, 30);
  w.Bits(35000 - 32769, 14);
  FixedSymbol(w, 256);
  Bytes expected = history;
  AppendMatch(expected, 1000, 35000);
  InflateRun run = RunInflate(w.Finish(), 1);
  EXPECT_EQ(run.result, INFLATE_OK);
  EXPECT_TRUE(run.output == expected);

  // The same match 40001 bytes back reaches before the entry's first byte.
  BitWriter bad;
  StoredAll(bad, history, false);
  FixedHeader(bad, true);
  FixedSymbol(bad, 285);
  bad.Bits(0, 16);
  FixedDistance(bad, 30);
  bad.Bits(40001 - 32769, 14);
  FixedSymbol(bad, 256);
  EXPECT_EQ(RunInflate(bad.Finish(), 1).result, INFLATE_BAD_DATA);
}

// ---- dynamic blocks ----

std::vector<int> LiteralLengths(int nl, std::initializer_list<std::pair<int, int>> set) {
  std::vector<int> l(nl, 0);
  for (auto [symbol, length] : set) {
    l[symbol] = length;
  }
  return l;
}

struct DynamicCase {
  const char *name;
  DynamicHeader header;
  int expected;
};

TEST(InflateDynamic, HeadersThatMustBeRefused) {
  std::vector<DynamicCase> cases;
  {
    DynamicHeader h; // 258 lengths; two runs of 138 zeros run past them
    h.lengthSymbols = {{18, 127}, {18, 127}};
    cases.push_back({"repeat past nl + nd", h, INFLATE_BAD_DATA});
  }
  {
    DynamicHeader h;
    h.lengthSymbols = {{18, 127}, {18, 108}, {1, 0}};
    cases.push_back({"all literal/length lengths zero", h, INFLATE_BAD_DATA});
  }
  {
    DynamicHeader h;
    h.lengthSymbols = PlainLengths(LiteralLengths(257, {{'A', 2}, {256, 2}}));
    h.lengthSymbols.push_back({0, 0});
    cases.push_back({"incomplete literal/length code", h, INFLATE_BAD_DATA});
  }
  {
    DynamicHeader h;
    h.lengthSymbols = PlainLengths(LiteralLengths(257, {{'A', 1}, {'B', 1}, {256, 1}}));
    h.lengthSymbols.push_back({0, 0});
    cases.push_back({"over-subscribed literal/length code", h, INFLATE_BAD_CODES});
  }
  {
    DynamicHeader h;
    h.nl = 258;
    h.lengthSymbols = PlainLengths(LiteralLengths(258, {{'A', 1}, {256, 2}, {257, 2}}));
    h.lengthSymbols.push_back({0, 0});
    cases.push_back({"lengths without any distance code", h, INFLATE_BAD_DATA});
  }
  for (const DynamicCase &c : cases) {
    SCOPED_TRACE(c.name);
    BitWriter w;
    w.Bits(1, 1);
    w.Bits(2, 2);
    WriteDynamicHeader(w, c.header);
    w.Bits(0, 32);
    InflateRun run = RunInflate(w.Finish(), 0);
    EXPECT_EQ(run.result, c.expected);
    EXPECT_TRUE(run.output.empty());
  }
}

// Writes a symbol of a dynamic code.
void Symbol(BitWriter &w, const std::vector<int> &lengths, const std::vector<uint32_t> &codes, int s) {
  ASSERT_NE(lengths[s], 0);
  w.Code(codes[s], lengths[s]);
}

TEST(InflateDynamic, OnlyLiteralsWithAnEmptyDistanceCode) {
  std::vector<int> lit = LiteralLengths(257, {{'A', 1}, {256, 1}});
  DynamicHeader h;
  h.lengthSymbols = PlainLengths(lit);
  h.lengthSymbols.push_back({0, 0});
  BitWriter w;
  w.Bits(1, 1);
  w.Bits(2, 2);
  WriteDynamicHeader(w, h);
  auto codes = CanonicalCodes(lit);
  for (int i = 0; i < 3; i++) {
    Symbol(w, lit, codes, 'A');
  }
  Symbol(w, lit, codes, 256);
  InflateRun run = RunInflate(w.Finish(), 0);
  EXPECT_EQ(run.result, INFLATE_OK);
  EXPECT_EQ(run.output, Text("AAA"));
}

// A distance code with a missing code is accepted; only that code, when it occurs, is an error.
TEST(InflateDynamic, IncompleteDistanceCodeIsAcceptedUntilItsMissingCodeOccurs) {
  std::vector<int> lit = LiteralLengths(258, {{'A', 1}, {256, 2}, {257, 2}});
  std::vector<int> dist = {2, 2, 0};
  for (int useMissing = 0; useMissing < 2; useMissing++) {
    SCOPED_TRACE(useMissing);
    DynamicHeader h;
    h.nl = 258;
    h.nd = 3;
    std::vector<int> all = lit;
    all.insert(all.end(), dist.begin(), dist.end());
    h.lengthSymbols = PlainLengths(all);
    BitWriter w;
    w.Bits(1, 1);
    w.Bits(2, 2);
    WriteDynamicHeader(w, h);
    auto codes = CanonicalCodes(lit);
    auto dcodes = CanonicalCodes(dist);
    Symbol(w, lit, codes, 'A');
    Symbol(w, lit, codes, 257); // length 3
    if (useMissing) {
      w.Code(3, 2); // the code 11 has no symbol
    } else {
      w.Code(dcodes[0], 2); // distance 1
    }
    Symbol(w, lit, codes, 256);
    InflateRun run = RunInflate(w.Finish(), 0);
    if (useMissing) {
      EXPECT_EQ(run.result, INFLATE_BAD_DATA);
      EXPECT_TRUE(run.output.empty());
    } else {
      EXPECT_EQ(run.result, INFLATE_OK);
      EXPECT_EQ(run.output, Text("AAAA"));
    }
  }
}

// nl = 259, nd = 4: 'A' 1, 256 2, 257 2; distance lengths 0 0 1 1. Runs of zeros lead up to 'A' and past
// it, and one run of three crosses from symbol 258 into the distance lengths.
TEST(InflateDynamic, RepeatCodesSpanTheLiteralAndDistanceLengths) {
  std::vector<int> lit = LiteralLengths(259, {{'A', 1}, {256, 2}, {257, 2}});
  std::vector<int> dist = {0, 0, 1, 1};
  DynamicHeader h;
  h.nl = 259;
  h.nd = 4;
  h.lengthSymbols = {{18, 65 - 11}, {1, 0}, {18, 127}, {18, 52 - 11}, {2, 0}, {2, 0}, {17, 0}, {1, 0}, {1, 0}};
  BitWriter w;
  w.Bits(1, 1);
  w.Bits(2, 2);
  WriteDynamicHeader(w, h);
  auto codes = CanonicalCodes(lit);
  auto dcodes = CanonicalCodes(dist);
  for (int i = 0; i < 3; i++) {
    Symbol(w, lit, codes, 'A');
  }
  Symbol(w, lit, codes, 257);
  w.Code(dcodes[2], 1); // distance 3
  Symbol(w, lit, codes, 256);
  InflateRun run = RunInflate(w.Finish(), 0);
  EXPECT_EQ(run.result, INFLATE_OK);
  EXPECT_EQ(run.output, Text("AAAAAA"));

  // The last 1 repeated three times runs past nl + nd.
  DynamicHeader over = h;
  over.lengthSymbols.back() = {16, 0};
  BitWriter bad;
  bad.Bits(1, 1);
  bad.Bits(2, 2);
  WriteDynamicHeader(bad, over);
  bad.Bits(0, 32);
  EXPECT_EQ(RunInflate(bad.Finish(), 0).result, INFLATE_BAD_DATA);
}

// ---- the end of the input ----

TEST(InflateInput, StreamCutOffByTheEndOfTheFileEndsTheEntry) {
  struct Case {
    const char *name;
    Bytes stream;
  };
  std::vector<Case> cases;
  {
    BitWriter w; // literals, then the file ends: zero bits would decode as end of block and more
    FixedHeader(w, true);
    for (int i = 0; i < 10; i++) {
      FixedSymbol(w, 'a');
    }
    cases.push_back({"fixed block without its end", w.Finish()});
  }
  {
    Bytes data = PseudoRandom(1000, 9);
    BitWriter w;
    StoredBlock(w, true, data, 0, 1000);
    Bytes s = w.Finish();
    s.erase(s.end() - 500, s.end());
    cases.push_back({"stored block cut in half", s});
  }
  {
    BitWriter w;
    w.Bits(1, 1);
    w.Bits(2, 2);
    w.Bits(0x1F, 5);
    cases.push_back({"dynamic header cut off", w.Finish()});
  }
  {
    BitWriter w;
    FixedHeader(w, false);
    FixedSymbol(w, 'a');
    FixedSymbol(w, 256);
    cases.push_back({"no final block", w.Finish()});
  }
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    InflateRun run = RunInflate(c.stream, 0, 37, 0);
    EXPECT_EQ(run.result, INFLATE_BAD_DATA);
    EXPECT_TRUE(run.output.empty());
    EXPECT_EQ(run.pastEnd, 1);
  }
}

TEST(InflateInput, StreamEndingAtTheEndOfTheFileDecodes) {
  Bytes data = Text("the last byte of the file ends the stream");
  BitWriter w;
  FixedHeader(w, true);
  for (uint8_t c : data) {
    FixedSymbol(w, c);
  }
  FixedSymbol(w, 256);
  InflateRun run = RunInflate(w.Finish(), 0, 37, 0);
  EXPECT_EQ(run.result, INFLATE_OK);
  EXPECT_EQ(run.output, data);

  BitWriter stored;
  StoredBlock(stored, true, data, 0, data.size());
  run = RunInflate(stored.Finish(), 0, 0, 0);
  EXPECT_EQ(run.result, INFLATE_OK);
  EXPECT_EQ(run.output, data);
}

TEST(InflateInput, TraditionalCipherDecryptsEveryByteOnce) {
  Bytes data = PseudoRandom(3000, 4);
  data.insert(data.end(), data.begin(), data.begin() + 2000); // something to match
  BitWriter w;
  FixedHeader(w, true);
  for (size_t i = 0; i < 3000; i++) {
    FixedSymbol(w, data[i]);
  }
  for (int left = 2000; left > 0; left -= 200) {
    FixedLength(w, 200);
    FixedDist(w, 3000);
  }
  FixedSymbol(w, 256);
  Bytes plain = w.Finish();
  Bytes cipher = plain;
  InitKeys("secret");
  for (auto &c : cipher) {
    BYTE p = c;
    c = p ^ DecryptByte();
    UpdateKeys(p);
  }
  InitKeys("secret");
  g_decrypting = 1;
  g_aesActive = 0;
  InflateRun run = RunInflate(cipher, 0);
  g_decrypting = 0;
  EXPECT_EQ(run.result, INFLATE_OK);
  EXPECT_TRUE(run.output == data);
}

#ifndef _WIN32
TEST(InflateInput, CancelStopsAtTheNextSymbol) {
  Bytes data = PseudoRandom(200000, 8);
  BitWriter w;
  FixedHeader(w, true);
  for (uint8_t c : data) {
    FixedSymbol(w, c);
  }
  FixedSymbol(w, 256);
  DesktopReset();
  DesktopSetHook([](const DesktopCall &call, LRESULT *) {
    if (call.kind == DesktopKind::SendMessage && call.message == PROGRESS_MESSAGE) {
      g_cancelState = 100;
    }
    return false;
  });
  InflateRun run = RunInflate(w.Finish(), 0);
  DesktopReset();
  g_cancelState = 0;
  EXPECT_EQ(run.result, INFLATE_STOPPED);
  EXPECT_EQ(run.output.size(), 65536u);
}
#endif

// ---- the fixed tables ----

TEST(InflateFixedTables, BuiltOncePerVariantAndKeptAcrossEntries) {
  ReleaseFixedTables();
  EXPECT_EQ(g_fixedTablesDeflate.literalTable, nullptr);
  BitWriter w;
  FixedHeader(w, true);
  FixedSymbol(w, 'z');
  FixedSymbol(w, 256);
  Bytes stream = w.Finish();

  ASSERT_EQ(RunInflate(stream, 0).output, Text("z"));
  CodeEntry *first = g_fixedTablesDeflate.literalTable;
  CodeEntry *firstDistance = g_fixedTablesDeflate.distanceTable;
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(g_fixedTablesDeflate64.literalTable, nullptr);

  ASSERT_EQ(RunInflate(stream, 0).output, Text("z"));
  EXPECT_EQ(g_fixedTablesDeflate.literalTable, first);
  EXPECT_EQ(g_fixedTablesDeflate.distanceTable, firstDistance);

  ASSERT_EQ(RunInflate(stream, 1).output, Text("z"));
  EXPECT_NE(g_fixedTablesDeflate64.literalTable, nullptr);
  EXPECT_NE(g_fixedTablesDeflate64.literalTable, first);
  EXPECT_EQ(g_fixedTablesDeflate.literalTable, first);

  ReleaseFixedTables();
  EXPECT_EQ(g_fixedTablesDeflate.literalTable, nullptr);
  EXPECT_EQ(g_fixedTablesDeflate64.literalTable, nullptr);
  EXPECT_EQ(g_fixedTables.literalTable, nullptr);
}

// ---- the code tables themselves ----

TEST(InflateCodeTables, WidthsAndResults) {
  struct Case {
    const char *name;
    std::vector<BYTE> lengths;
    DWORD width;
    int expected;
    DWORD expectedWidth;
  };
  const Case cases[] = {
      {"empty", std::vector<BYTE>(19, 0), 7, 0, 0},
      {"one code of length 1", {1, 0, 0}, 7, 0, 1},
      {"incomplete", {2, 2, 2, 0}, 7, 1, 2},
      {"over-subscribed", {1, 1, 1}, 7, 2, 7},
      {"complete, width clamped to the longest", {1, 2, 3, 3}, 7, 0, 3},
      {"width raised to the shortest", {4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4}, 2, 0, 4},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    CodeEntry *table = nullptr;
    DWORD width = c.width;
    int r = BuildCodeTable(c.lengths.data(), (DWORD)c.lengths.size(), (DWORD)c.lengths.size(), nullptr, nullptr,
                           &table, &width);
    EXPECT_EQ(r, c.expected);
    EXPECT_EQ(width, c.expectedWidth);
    if (r <= 1) {
      FreeCodeTables(table);
    }
  }
}

// Decodes every symbol of random complete and incomplete codes through the tables, codes up to 15 bits
// long and several levels deep.
TEST(InflateCodeTables, EveryCodeDecodesToItsSymbol) {
  uint32_t seed = 12345;
  auto next = [&seed](uint32_t n) {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 8) % n;
  };
  for (int round = 0; round < 300; round++) {
    DWORD n = 20 + next(269);
    std::vector<BYTE> lengths(n, 0);
    // Kraft sum in units of 2^-15; fill with random lengths while they fit.
    uint32_t room = 1u << 15;
    for (DWORD i = 0; i < n; i++) {
      int l = 1 + (int)next(15);
      if ((1u << (15 - l)) <= room && next(4) != 0) {
        lengths[i] = (BYTE)l;
        room -= 1u << (15 - l);
      }
    }
    if (room == (1u << 15)) {
      continue;
    }
    std::vector<int> asInts(lengths.begin(), lengths.end());
    auto codes = CanonicalCodes(asInts);
    CodeEntry *table = nullptr;
    DWORD width = 1 + next(10);
    int r = BuildCodeTable(lengths.data(), n, n, nullptr, nullptr, &table, &width);
    ASSERT_LE(r, 1);
    for (DWORD s = 0; s < n; s++) {
      if (!lengths[s]) {
        continue;
      }
      BitWriter w;
      w.Code(codes[s], lengths[s]);
      w.Bits(next(1u << 16), 16);
      uint32_t bits = 0;
      for (size_t i = 0; i < 4 && i < w.bytes.size(); i++) {
        bits |= (uint32_t)w.bytes[i] << (8 * i);
      }
      const CodeEntry *t = table + (bits & BIT_MASK[width]);
      DWORD used = 0;
      while (t->op > OP_LITERAL && t->op != OP_INVALID) {
        used += t->bits;
        bits >>= t->bits;
        DWORD e = t->op - OP_LINK;
        t = t->next + (bits & BIT_MASK[e]);
      }
      used += t->bits;
      ASSERT_TRUE(t->op == OP_LITERAL || t->op == OP_END_OF_BLOCK) << "symbol " << s;
      EXPECT_EQ(t->value, s);
      EXPECT_EQ(used, lengths[s]);
    }
    FreeCodeTables(table);
  }
}

} // namespace
