// CRC-32 of the ZIP format (reflected polynomial 0xEDB88320, initial value and final XOR 0xFFFFFFFF), as
// the stub computes it over the archive behind the settings block.
#include "mksfx.h"

#include <array>

namespace mksfx {

static const std::array<uint32_t, 256> &CrcTable() {
  static const std::array<uint32_t, 256> table = [] {
    std::array<uint32_t, 256> t{};
    for (uint32_t n = 0; n < 256; ++n) {
      uint32_t c = n;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[n] = c;
    }
    return t;
  }();
  return table;
}

// `crc` is the running value as the format publishes it (start with 0).
uint32_t Crc32Update(uint32_t crc, const uint8_t *data, size_t length) {
  const auto &table = CrcTable();
  uint32_t c = ~crc;
  for (size_t i = 0; i < length; ++i) c = table[(c ^ data[i]) & 0xFF] ^ (c >> 8);
  return ~c;
}

} // namespace mksfx
