// Test-only encoders for shrink, reduce and implode, written from the stream formats the decoders read,
// and the harness that runs the decoders on files. See legacy_codecs.h.
#include "legacy_codecs.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <queue>
#include <unordered_map>

#include <gtest/gtest.h>

#include "decompress/decompress.h"
#include "extract/extract.h"
#include "crypto/decryption.h"
#include "test_support.h"
#ifndef _WIN32
#include "platform/host/desktop.h"
#endif

namespace sfxtest {

void BitWriter::Put(uint32_t value, int bits) {
  for (int i = 0; i < bits; i++, bits_++) {
    if (bits_ % 8 == 0)
      out_.push_back(0);
    if ((value >> i) & 1)
      out_.back() |= uint8_t(1u << (bits_ % 8));
  }
}

Bytes BitWriter::Finish() { return out_; }

uint32_t Crc32(const Bytes &data) {
  uint32_t crc = 0xFFFFFFFFu;
  for (uint8_t b : data) {
    crc ^= b;
    for (int k = 0; k < 8; k++)
      crc = (crc >> 1) ^ ((crc & 1) ? 0xEDB88320u : 0);
  }
  return ~crc;
}

// ---------------------------------------------------------------------------------------------------
// Shrink: LZW whose table mirrors the decoder's step by step (new codes take the lowest free number,
// partial clears free the codes that are nobody's parent).

namespace {

constexpr int kCodes = 8192;

int LowestFree(const std::vector<int> &parent, int from) {
  for (int c = from; c < kCodes; c++)
    if (parent[c] == -1)
      return c;
  return kCodes;
}

void MirrorPartialClear(std::vector<int> &parent, int free) {
  for (int c = 257; c < free; c++)
    if (parent[c] != -1)
      parent[c] |= 0x8000;
  for (int c = 257; c < free; c++) {
    if (parent[c] == -1)
      continue;
    int p = parent[c] & 0x7FFF;
    if (p >= 257 && p < free && parent[p] != -1)
      parent[p] &= 0x7FFF;
  }
  for (int c = 257; c < free; c++)
    if (parent[c] != -1 && (parent[c] & 0x8000))
      parent[c] = -1;
}

uint32_t Key(int parent, uint8_t byte) { return uint32_t(parent) << 8 | byte; }

} // namespace

Bytes Shrink(const Bytes &data, const ShrinkOptions &options) {
  ShrinkOptions::Stats local;
  ShrinkOptions::Stats &stats = options.stats ? *options.stats : local;
  stats = {};
  BitWriter w;
  if (data.empty())
    return w.Finish();
  std::vector<int> parent(kCodes + 1, -1), suffix(kCodes, 0);
  for (int c = 0; c < 256; c++) {
    parent[c] = 0;
    suffix[c] = c;
  }
  std::unordered_map<uint32_t, int> dict;
  int width = 9, free = 257, prev = -1;
  bool clearPending = false;
  size_t pos = 0, index = 0;
  while (pos < data.size()) {
    int added = -1;
    if (prev >= 0) {
      if (options.unknownSubcodeBefore.count(index)) {
        w.Put(256, width);
        w.Put(7, width);
      }
      if (options.partialClearBefore.count(index) || clearPending) {
        // The entry added at the next code hangs on the previous code: clear only when that survives.
        std::vector<int> trial = parent;
        MirrorPartialClear(trial, free);
        if (prev < 257 || trial[prev] != -1) {
          w.Put(256, width);
          w.Put(2, width);
          parent = trial;
          free = LowestFree(parent, 257);
          dict.clear();
          for (int c = 257; c < kCodes; c++)
            if (parent[c] != -1)
              dict.emplace(Key(parent[c], uint8_t(suffix[c])), c);
          clearPending = false;
          stats.partialClears++;
        } else {
          clearPending = true;
        }
      }
      if (free < kCodes) {
        parent[free] = prev;
        suffix[free] = data[pos];
        dict.emplace(Key(prev, data[pos]), free);
        added = free;
        free = LowestFree(parent, free + 1);
      } else {
        stats.tableFilled = true;
      }
    }
    int code = data[pos];
    size_t length = 1;
    while (pos + length < data.size()) {
      auto it = dict.find(Key(code, data[pos + length]));
      if (it == dict.end())
        break;
      code = it->second;
      length++;
    }
    if (code == added)
      stats.kwkwk++;
    bool extra = options.extraWidenBefore.count(index) && width < 13;
    while (code >= (1 << width) || extra) {
      w.Put(256, width);
      w.Put(1, width);
      width++;
      stats.widens++;
      extra = false;
    }
    w.Put(uint32_t(code), width);
    stats.codes++;
    prev = code;
    pos += length;
    index++;
  }
  stats.finalWidth = width;
  return w.Finish();
}

// ---------------------------------------------------------------------------------------------------
// Greedy LZ77 over a history that starts with zeros (the decoders' cleared windows), hash chains on
// the first `keyLength` bytes.

namespace {

struct Match {
  size_t length = 0;
  size_t distance = 0;
};

class Matcher {
public:
  Matcher(const Bytes &data, size_t maxDistance, size_t keyLength, bool beforeStart)
      : maxDistance_(maxDistance), keyLength_(keyLength) {
    history_.assign(maxDistance, 0);
    history_.insert(history_.end(), data.begin(), data.end());
    base_ = maxDistance;
    if (beforeStart)
      for (size_t p = base_ > 64 ? base_ - 64 : 0; p < base_; p++)
        Insert(p);
  }
  // Longest match at data position `pos` with minLength <= length <= maxLength.
  Match Find(size_t pos, size_t minLength, size_t maxLength, size_t dataSize) const {
    Match best;
    size_t p = base_ + pos;
    size_t limit = std::min(maxLength, dataSize - pos);
    if (limit < minLength || pos + keyLength_ > dataSize)
      return best;
    auto it = chains_.find(KeyAt(p));
    if (it == chains_.end())
      return best;
    int tries = 0;
    for (auto c = it->second.rbegin(); c != it->second.rend() && tries < 48; ++c, ++tries) {
      size_t candidate = *c;
      size_t distance = p - candidate;
      if (distance > maxDistance_)
        break;
      size_t n = 0;
      while (n < limit && history_[candidate + n] == history_[p + n])
        n++;
      if (n >= minLength && n > best.length) {
        best.length = n;
        best.distance = distance;
      }
    }
    return best;
  }
  void InsertData(size_t pos, size_t dataSize) {
    if (pos + keyLength_ <= dataSize)
      Insert(base_ + pos);
  }

private:
  uint64_t KeyAt(size_t p) const {
    uint64_t key = 0;
    for (size_t i = 0; i < keyLength_; i++)
      key = key << 8 | history_[p + i];
    return key;
  }
  void Insert(size_t p) {
    auto &chain = chains_[KeyAt(p)];
    chain.push_back(p);
    if (chain.size() > 256)
      chain.erase(chain.begin(), chain.begin() + 128);
  }
  Bytes history_;
  size_t base_ = 0, maxDistance_, keyLength_;
  std::unordered_map<uint64_t, std::vector<size_t>> chains_;
};

} // namespace

// ---------------------------------------------------------------------------------------------------
// Reduce: second stage (literals, 144 escapes, matches), then follower sets over its bytes.

Bytes Reduce(const Bytes &data, const ReduceOptions &options) {
  ReduceOptions::Stats local;
  ReduceOptions::Stats &stats = options.stats ? *options.stats : local;
  stats = {};
  const int f = options.factor;
  const size_t mask = size_t(127) >> (f - 1);
  const int shift = 8 - f;
  const size_t highMask = (size_t(1) << f) - 1;
  const size_t maxDistance = highMask * 256 + 256;
  const size_t maxCount = mask + 255 + 3;

  Bytes y;
  Matcher matcher(data, maxDistance, 3, options.matchBeforeStart);
  for (size_t pos = 0; pos < data.size();) {
    Match m = matcher.Find(pos, 3, maxCount, data.size());
    size_t lengthField = m.length >= 3 ? m.length - 3 : 0;
    size_t low = std::min(lengthField, mask);
    size_t v = low | (((m.distance - 1) >> 8) << shift);
    if (m.length >= 3 && v != 0) { // 144 0 is the escaped literal, so a match never has V = 0
      y.push_back(144);
      y.push_back(uint8_t(v));
      if (low == mask) {
        y.push_back(uint8_t(lengthField - mask));
        stats.longMatches++;
      }
      y.push_back(uint8_t((m.distance - 1) & 255));
      stats.matches++;
      stats.maxCopy = std::max(stats.maxCopy, m.length);
      if (m.distance > pos)
        stats.beforeStart++;
      for (size_t k = 0; k < m.length; k++)
        matcher.InsertData(pos + k, data.size());
      pos += m.length;
    } else {
      y.push_back(data[pos]);
      if (data[pos] == 144) {
        y.push_back(0);
        stats.escapedLiterals++;
      }
      matcher.InsertData(pos, data.size());
      pos++;
    }
  }

  // Follower sets: the most frequent successors of each byte in the second-stage stream.
  std::vector<std::vector<uint8_t>> sets(256);
  {
    std::vector<std::map<uint8_t, size_t>> counts(256);
    uint8_t prev = 0;
    for (uint8_t b : y) {
      counts[prev][b]++;
      prev = b;
    }
    for (int v = 0; v < 256; v++) {
      std::vector<std::pair<size_t, uint8_t>> order;
      for (auto [b, n] : counts[v])
        order.push_back({n, b});
      std::sort(order.begin(), order.end(),
                [](auto a, auto b) { return a.first != b.first ? a.first > b.first : a.second < b.second; });
      for (size_t i = 0; i < order.size() && int(i) < options.maxFollowers; i++)
        sets[v].push_back(order[i].second);
    }
  }
  auto indexBits = [](size_t count) {
    int bits = 1;
    while ((size_t(1) << bits) < count)
      bits++;
    return bits;
  };
  BitWriter w;
  for (int v = 255; v >= 0; v--) {
    w.Put(uint32_t(sets[v].size()), 6);
    for (uint8_t b : sets[v])
      w.Put(b, 8);
  }
  uint8_t prev = 0;
  for (uint8_t b : y) {
    const auto &set = sets[prev];
    if (set.empty()) {
      w.Put(b, 8);
    } else {
      auto it = std::find(set.begin(), set.end(), b);
      if (it != set.end()) {
        w.Put(0, 1);
        w.Put(uint32_t(it - set.begin()), indexBits(set.size()));
        stats.followerHits++;
      } else {
        w.Put(1, 1);
        w.Put(b, 8);
      }
    }
    prev = b;
  }
  return w.Finish();
}

// ---------------------------------------------------------------------------------------------------
// Implode: Shannon-Fano trees from Huffman code lengths (at most 16 bits, every symbol described),
// codes assigned as the decoder assigns them.

namespace {

std::vector<int> CodeLengths(std::vector<size_t> freq) {
  for (;;) {
    size_t n = freq.size();
    std::vector<size_t> weight(freq), parentOf(2 * n, 0);
    using Node = std::pair<size_t, size_t>; // weight, node
    std::priority_queue<Node, std::vector<Node>, std::greater<Node>> queue;
    for (size_t i = 0; i < n; i++)
      queue.push({std::max<size_t>(freq[i], 1), i});
    size_t next = n;
    while (queue.size() > 1) {
      Node a = queue.top();
      queue.pop();
      Node b = queue.top();
      queue.pop();
      parentOf[a.second] = next;
      parentOf[b.second] = next;
      queue.push({a.first + b.first, next++});
    }
    size_t root = next - 1;
    std::vector<int> lengths(n);
    int longest = 0;
    for (size_t i = 0; i < n; i++) {
      int depth = 0;
      for (size_t node = i; node != root; node = parentOf[node])
        depth++;
      lengths[i] = std::max(depth, 1);
      longest = std::max(longest, lengths[i]);
    }
    if (longest <= 16)
      return lengths;
    for (auto &x : freq)
      x = x / 2 + 1;
  }
}

// Codes as the decoder assigns them: sorted by (length, symbol); the last entry gets 0 and each entry
// above it the code below plus the interval of that code's length. Returned left-aligned in 16 bits.
std::vector<uint16_t> AssignTestCodes(const std::vector<int> &lengths) {
  std::vector<size_t> order(lengths.size());
  for (size_t i = 0; i < order.size(); i++)
    order[i] = i;
  std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return lengths[a] < lengths[b]; });
  std::vector<uint16_t> codes(lengths.size());
  uint32_t code = 0;
  for (size_t k = order.size(); k-- > 0;) {
    if (k + 1 < order.size())
      code += 1u << (16 - lengths[order[k + 1]]);
    codes[order[k]] = uint16_t(code);
  }
  return codes;
}

struct SfCode {
  std::vector<int> lengths;
  std::vector<uint16_t> codes;
  void Put(BitWriter &w, size_t symbol) const {
    for (int j = 0; j < lengths[symbol]; j++)
      w.Put((codes[symbol] >> (15 - j)) & 1, 1);
  }
};

SfCode MakeCode(const std::vector<size_t> &freq) {
  SfCode code;
  code.lengths = CodeLengths(freq);
  code.codes = AssignTestCodes(code.lengths);
  return code;
}

} // namespace

void WriteBitLengthList(BitWriter &w, const std::vector<int> &lengths) {
  std::vector<std::pair<int, int>> runs;
  for (int length : lengths) {
    if (!runs.empty() && runs.back().first == length && runs.back().second < 16)
      runs.back().second++;
    else
      runs.push_back({length, 1});
  }
  w.Put(uint32_t(runs.size() - 1), 8);
  for (auto [length, repeat] : runs) {
    w.Put(uint32_t(length - 1), 4);
    w.Put(uint32_t(repeat - 1), 4);
  }
}

Bytes Implode(const Bytes &data, const ImplodeOptions &options) {
  ImplodeOptions::Stats local;
  ImplodeOptions::Stats &stats = options.stats ? *options.stats : local;
  stats = {};
  const int lowBits = options.dictionary8k ? 7 : 6;
  const size_t minimum = options.literalTree ? 3 : 2;
  const size_t maxDistance = options.dictionary8k ? 8192 : 4096;
  const size_t maxLength = minimum + 63 + 255;

  struct Token {
    bool literal;
    size_t value, distance;
  };
  std::vector<Token> tokens;
  Matcher matcher(data, maxDistance, minimum, options.matchBeforeStart);
  std::vector<size_t> literalFreq(256, 0), lengthFreq(64, 0), distanceFreq(64, 0);
  for (size_t pos = 0; pos < data.size();) {
    Match m = matcher.Find(pos, minimum, maxLength, data.size());
    if (m.length >= minimum) {
      tokens.push_back({false, m.length, m.distance});
      lengthFreq[std::min<size_t>(m.length - minimum, 63)]++;
      distanceFreq[(m.distance - 1) >> lowBits]++;
      stats.matches++;
      if (m.length - minimum >= 63)
        stats.longMatches++;
      if (m.distance > pos)
        stats.beforeStart++;
      stats.maxDistance = std::max(stats.maxDistance, m.distance);
      stats.maxLength = std::max(stats.maxLength, m.length);
      for (size_t k = 0; k < m.length; k++)
        matcher.InsertData(pos + k, data.size());
      pos += m.length;
    } else {
      tokens.push_back({true, data[pos], 0});
      literalFreq[data[pos]]++;
      stats.literals++;
      matcher.InsertData(pos, data.size());
      pos++;
    }
  }
  SfCode literalCode = MakeCode(literalFreq), lengthCode = MakeCode(lengthFreq),
         distanceCode = MakeCode(distanceFreq);
  BitWriter w;
  if (options.literalTree)
    WriteBitLengthList(w, literalCode.lengths);
  WriteBitLengthList(w, lengthCode.lengths);
  WriteBitLengthList(w, distanceCode.lengths);
  for (const Token &t : tokens) {
    if (t.literal) {
      w.Put(1, 1);
      if (options.literalTree)
        literalCode.Put(w, t.value);
      else
        w.Put(uint32_t(t.value), 8);
      continue;
    }
    size_t d = t.distance - 1;
    w.Put(0, 1);
    w.Put(uint32_t(d & ((1u << lowBits) - 1)), lowBits);
    distanceCode.Put(w, d >> lowBits);
    size_t symbol = t.value - minimum;
    if (symbol >= 63) {
      lengthCode.Put(w, 63);
      w.Put(uint32_t(symbol - 63), 8);
    } else {
      lengthCode.Put(w, symbol);
    }
  }
  return w.Finish();
}

// ---------------------------------------------------------------------------------------------------
// Harness

DecoderCall UnshrinkCall() {
  return [](uint32_t size, uint8_t *buffer) { Unshrink(size, 0, buffer); };
}
DecoderCall UnreduceCall(int factor) {
  return [factor](uint32_t size, uint8_t *buffer) { Unreduce(size, 0, factor, buffer); };
}
DecoderCall ExplodeCall(bool dictionary8k, bool literalTree) {
  return [=](uint32_t size, uint8_t *buffer) { Explode(size, 0, dictionary8k, literalTree, buffer); };
}
DecoderCall StoredCall(uint32_t compressedSize) {
  return [compressedSize](uint32_t size, uint8_t *buffer) { CopyStored(size, compressedSize, buffer); };
}

namespace {
const TempDir &HarnessDir() {
  static TempDir dir;
  return dir;
}
} // namespace

DecodeResult RunDecoder(const DecoderCall &call, const Bytes &stream, uint32_t size, long offset) {
  // Fresh names every run: rewriting a truncated file makes some file systems flush it at close, which
  // costs milliseconds per run in the mutation loops.
  static unsigned serial;
  serial++;
  std::string inputPath = HarnessDir().file("input" + std::to_string(serial) + ".bin");
  std::string outputPath = HarnessDir().file("output" + std::to_string(serial) + ".bin");
  WriteFile(inputPath, stream);
  DecodeResult result;
  FILE *input = fopen(inputPath.c_str(), "rb");
  FILE *output = fopen(outputPath.c_str(), "w+b");
  if (!input || !output) {
    if (input)
      fclose(input);
    if (output)
      fclose(output);
    remove(inputPath.c_str());
    remove(outputPath.c_str());
    ADD_FAILURE() << "cannot open the harness files";
    return result;
  }
  fseek(input, offset, SEEK_SET);
  std::unique_ptr<uint8_t, decltype(&free)> buffer(static_cast<uint8_t *>(malloc(WORK_BUFFER_SIZE)), &free);
  memset(buffer.get(), 0xA5, WORK_BUFFER_SIZE);
  BuildCrcTable();
  g_archiveFile = input;
  g_outputFile = output;
  g_outputCrc = 0;
  g_outputFailed = 0;
  g_cancelState = 0;
  g_decrypting = 0;
  g_aesActive = 0;
#ifndef _WIN32
  DesktopReset();
#endif
  call(size, buffer.get());
#ifndef _WIN32
  result.progressMessages = DesktopProgressCount();
#endif
  result.crc = g_outputCrc;
  result.inputPosition = ftell(input);
  fflush(output);
  long length = ftell(output);
  result.output.resize(size_t(length > 0 ? length : 0));
  rewind(output);
  if (fread(result.output.data(), 1, result.output.size(), output) != result.output.size())
    result.output.clear();
  fclose(input);
  fclose(output);
  remove(inputPath.c_str());
  remove(outputPath.c_str());
  g_archiveFile = nullptr;
  g_outputFile = nullptr;
  return result;
}

Bytes RandomBytes(size_t size, uint32_t seed, int alphabet) {
  Bytes out(size);
  uint32_t x = seed * 2654435761u + 12345;
  for (auto &b : out) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    b = uint8_t((x >> 8) % uint32_t(alphabet));
  }
  return out;
}

std::vector<std::pair<std::string, Bytes>> LegacySamples() {
  std::vector<std::pair<std::string, Bytes>> samples;
  auto text = [](const std::string &s) { return Bytes(s.begin(), s.end()); };
  samples.push_back({"one byte", {0x41}});
  samples.push_back({"two bytes", {0x90, 0x90}});
  samples.push_back({"run of a", Bytes(1000, 'a')});
  samples.push_back({"abab", text("abababababababababababababababababababababab")});
  std::string prose;
  for (int i = 0; i < 60; i++)
    prose += "The quick brown fox " + std::to_string(i * 7919 % 1000) + " jumps over the lazy dog; ";
  samples.push_back({"prose", text(prose)});
  Bytes escapes;
  for (int i = 0; i < 600; i++)
    escapes.push_back(i % 3 == 0 ? 144 : uint8_t(i % 7 == 0 ? 0 : 140 + i % 9));
  samples.push_back({"144s", escapes});
  Bytes zeros(300, 0);
  Bytes tail = text("after zeros");
  zeros.insert(zeros.end(), tail.begin(), tail.end());
  samples.push_back({"zeros first", zeros});
  samples.push_back({"random", RandomBytes(20000, 7)});
  samples.push_back({"small alphabet", RandomBytes(30000, 3, 4)});
  Bytes exact = RandomBytes(16384, 11, 16);
  samples.push_back({"exactly 16384", exact});
  Bytes longRepeats = RandomBytes(500, 5);
  for (int i = 0; i < 5; i++) {
    longRepeats.insert(longRepeats.end(), 700, uint8_t('x' + i));
    Bytes block = RandomBytes(300, 20 + i);
    longRepeats.insert(longRepeats.end(), block.begin(), block.end());
    longRepeats.insert(longRepeats.end(), block.begin(), block.end());
  }
  samples.push_back({"long repeats", longRepeats});
  return samples;
}

Bytes ZipCryptoEncrypt(const Bytes &plain, const std::string &password) {
  uint32_t k0 = 0x12345678u, k1 = 0x23456789u, k2 = 0x34567890u;
  auto crcByte = [](uint32_t crc, uint8_t b) {
    crc ^= b;
    for (int k = 0; k < 8; k++)
      crc = (crc >> 1) ^ ((crc & 1) ? 0xEDB88320u : 0);
    return crc;
  };
  auto update = [&](uint8_t p) {
    k0 = crcByte(k0, p);
    k1 = (k1 + (k0 & 0xFF)) * 134775813u + 1;
    k2 = crcByte(k2, uint8_t(k1 >> 24));
  };
  for (char c : password)
    update(uint8_t(c));
  Bytes out;
  for (uint8_t p : plain) {
    uint32_t t = (k2 & 0xFFFF) | 2;
    out.push_back(uint8_t(p ^ ((t * (t ^ 1)) >> 8)));
    update(p);
  }
  return out;
}

std::vector<LocalEntry> WalkLocalHeaders(const Bytes &zip) {
  std::vector<LocalEntry> entries;
  auto u16 = [&](size_t p) { return uint16_t(zip[p] | zip[p + 1] << 8); };
  auto u32 = [&](size_t p) { return uint32_t(u16(p)) | uint32_t(u16(p + 2)) << 16; };
  size_t p = 0;
  while (p + 30 <= zip.size() && zip[p] == 'P' && zip[p + 1] == 'K' && zip[p + 2] == 3 && zip[p + 3] == 4) {
    LocalEntry e;
    e.flags = u16(p + 6);
    e.method = u16(p + 8);
    e.crc = u32(p + 14);
    e.compressedSize = u32(p + 18);
    e.uncompressedSize = u32(p + 22);
    size_t nameLength = u16(p + 26), extraLength = u16(p + 28);
    if (p + 30 + nameLength + extraLength > zip.size())
      break;
    e.name.assign(zip.begin() + long(p + 30), zip.begin() + long(p + 30 + nameLength));
    e.dataOffset = long(p + 30 + nameLength + extraLength);
    entries.push_back(e);
    p = size_t(e.dataOffset) + e.compressedSize;
  }
  return entries;
}


void ExpectPrefixesEndCleanly(const DecoderCall &call, const Bytes &stream, const Bytes &data, size_t slack) {
  for (size_t length = 0; length < stream.size(); length++) {
    Bytes prefix(stream.begin(), stream.begin() + long(length));
    DecodeResult r = RunDecoder(call, prefix, uint32_t(data.size()));
    ASSERT_LE(r.output.size(), data.size() + slack) << length;
    if (length + 3 <= stream.size()) {
      ASSERT_NE(r.crc, Crc32(data)) << length;
    }
  }
}

void ExpectMutationsEndCleanly(const DecoderCall &call, const Bytes &stream, uint32_t dataSize, int count,
                               std::mt19937 &rng, size_t slack) {
  for (int i = 0; i < count; i++) {
    Bytes m = stream;
    int flips = 1 + int(rng() % 4);
    for (int k = 0; k < flips; k++)
      m[rng() % m.size()] ^= uint8_t(1 + rng() % 255);
    uint32_t size = i % 5 == 0 ? uint32_t(rng() % 100000) : dataSize;
    DecodeResult r = RunDecoder(call, m, size);
    ASSERT_LE(r.output.size(), size_t(size) + slack) << i;
  }
}

} // namespace sfxtest
