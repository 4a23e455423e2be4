// Test-only encoders for the legacy ZIP methods (shrink, reduce, implode) and a harness that runs the
// stub's decoders on a byte string: the stream is put in a file that becomes g_archiveFile, the output
// goes to a file that becomes g_outputFile, and the decoded bytes and g_outputCrc come back.
#pragma once

#include <cstdint>
#include <functional>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace sfxtest {

using Bytes = std::vector<uint8_t>;

// Bits least significant first, as the legacy bit input reads them.
class BitWriter {
public:
  void Put(uint32_t value, int bits);
  Bytes Finish(); // pads the last byte with zeros
  size_t BitCount() const { return bits_; }

private:
  Bytes out_;
  size_t bits_ = 0;
};

uint32_t Crc32(const Bytes &data);

// ---- shrink (method 1) ----
struct ShrinkOptions {
  std::set<size_t> partialClearBefore; // code numbers before which a partial clear is sent (when safe)
  std::set<size_t> extraWidenBefore;   // codes before which the width is raised without need
  std::set<size_t> unknownSubcodeBefore; // codes before which 256 followed by 7 is sent (skipped)
  // Statistics of what the encoder did, for tests that want a corner to be reached.
  struct Stats {
    size_t codes = 0, partialClears = 0, kwkwk = 0, widens = 0;
    bool tableFilled = false;
    int finalWidth = 9;
  } *stats = nullptr;
};
Bytes Shrink(const Bytes &data, const ShrinkOptions &options = {});

// ---- reduce (methods 2 to 5, factor 1 to 4) ----
struct ReduceOptions {
  int factor = 4;
  int maxFollowers = 32;        // per set, 0 to 63
  bool matchBeforeStart = true; // allow matches that reach into the zeros before the first byte
  struct Stats {
    size_t escapedLiterals = 0, matches = 0, longMatches = 0, beforeStart = 0, followerHits = 0;
    size_t maxCopy = 0;
  } *stats = nullptr;
};
Bytes Reduce(const Bytes &data, const ReduceOptions &options);

// ---- implode (method 6) ----
struct ImplodeOptions {
  bool dictionary8k = false; // general-purpose flag bit 1
  bool literalTree = false;  // general-purpose flag bit 2
  bool matchBeforeStart = true;
  struct Stats {
    size_t literals = 0, matches = 0, longMatches = 0, beforeStart = 0, maxDistance = 0, maxLength = 0;
  } *stats = nullptr;
};
Bytes Implode(const Bytes &data, const ImplodeOptions &options);
// The compressed bit-length list of a tree, as Explode reads it.
void WriteBitLengthList(BitWriter &writer, const std::vector<int> &lengths);

// ---- running the stub's decoders ----
struct DecodeResult {
  Bytes output;
  uint32_t crc = 0;
  long inputPosition = -1; // where the decoder left the archive stream
  int progressMessages = -1; // sink calls that wrote (Linux only, from the scripted desktop; -1 elsewhere)
};

// Decoder call on the current g_archiveFile with the given uncompressed size and work buffer.
using DecoderCall = std::function<void(uint32_t size, uint8_t *workBuffer)>;
DecoderCall UnshrinkCall();
DecoderCall UnreduceCall(int factor);
DecoderCall ExplodeCall(bool dictionary8k, bool literalTree);
DecoderCall StoredCall(uint32_t compressedSize);

// Runs a decoder with `stream` as the whole archive file positioned at `offset` (`stream` may hold
// bytes before and after the entry's data). Uses a fresh work buffer filled with garbage.
DecodeResult RunDecoder(const DecoderCall &call, const Bytes &stream, uint32_t size, long offset = 0);

// Corrupt input for a decoder, made from a valid stream of data. Every prefix (truncation at each length)
// must end with at most `slack` bytes beyond the data's size, and a prefix lacking more than its last two
// bytes must fail the data's CRC-32.
void ExpectPrefixesEndCleanly(const DecoderCall &call, const Bytes &stream, const Bytes &data, size_t slack);
// `count` copies of the stream with 1 to 4 bytes changed (every fifth with a random declared size) must
// each end with at most `slack` bytes beyond the declared size.
void ExpectMutationsEndCleanly(const DecoderCall &call, const Bytes &stream, uint32_t dataSize, int count,
                               std::mt19937 &rng, size_t slack);
// How many mutations a decoder's test runs: fewer under Wine, where every run costs more.
#ifdef _WIN32
constexpr int LEGACY_MUTATIONS = 400;
#else
constexpr int LEGACY_MUTATIONS = 3000;
#endif

// Inputs for round trips: empty, one byte, runs, text, 144s, zeros at the start, random bytes (20000, so
// that an LZW table fills up), exactly 16384 bytes, long repeats for the longest matches.
std::vector<std::pair<std::string, Bytes>> LegacySamples();
// Deterministic pseudo-random bytes.
Bytes RandomBytes(size_t size, uint32_t seed, int alphabet = 256);

// The traditional ZIP cipher, encrypting (test-side, written independently of the stub's).
Bytes ZipCryptoEncrypt(const Bytes &plain, const std::string &password);

// One entry of a ZIP file found by walking its local headers (test-only: no data descriptors needed).
struct LocalEntry {
  std::string name;
  uint16_t flags = 0, method = 0;
  uint32_t crc = 0, compressedSize = 0, uncompressedSize = 0;
  long dataOffset = 0;
};
std::vector<LocalEntry> WalkLocalHeaders(const Bytes &zip);

} // namespace sfxtest
