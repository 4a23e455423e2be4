// Hand-built ZIP archives for the walk tests: raw name bytes, any flags, extra fields, entries missing
// from the central directory, data descriptors, traditional encryption and comments, so that every
// corner of the reader can be produced without a peer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace walktest {

using Bytes = std::vector<uint8_t>;

struct ZipEntry {
  std::string name; // raw bytes as stored
  Bytes data;       // stored as it is (method 0 unless method says otherwise)
  uint16_t flags = 0;
  uint16_t method = 0;
  uint16_t dosTime = (13 << 11) | (37 << 5) | (58 / 2);    // 13:37:58
  uint16_t dosDate = ((2020 - 1980) << 9) | (2 << 5) | 29; // 2020-02-29
  Bytes localExtra;
  uint8_t hostSystem = 0; // 0 FAT/Windows, 3 Unix
  uint32_t externalAttributes = 0x20;
  bool inCentral = true;       // false: the central directory leaves it out
  bool dataDescriptor = false; // sizes and CRC 0 in the local header, a descriptor after the data
  uint32_t localPlaceholder = 0; // with a descriptor: what the local CRC-32 and sizes hold instead
  std::string password;          // non-empty: traditional encryption
  bool badCrc = false;         // stores a wrong CRC-32
};

inline uint32_t Crc32(const Bytes &data) {
  uint32_t crc = 0xFFFFFFFFu;
  for (uint8_t b : data) {
    crc ^= b;
    for (int k = 0; k < 8; k++)
      crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
  }
  return ~crc;
}

inline void Put16(Bytes &out, uint32_t v) {
  out.push_back((uint8_t)v);
  out.push_back((uint8_t)(v >> 8));
}
inline void Put32(Bytes &out, uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}
inline void PutSignature(Bytes &out, uint8_t kind) {
  out.push_back('P');
  out.push_back('K');
  out.push_back(kind);
  out.push_back((uint8_t)(kind + 1));
}

// The traditional cipher, written from the application note for making fixtures.
struct TraditionalCipher {
  uint32_t k0 = 0x12345678u, k1 = 0x23456789u, k2 = 0x34567890u;
  static uint32_t CrcByte(uint32_t crc, uint8_t b) {
    crc ^= b;
    for (int k = 0; k < 8; k++)
      crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
    return crc;
  }
  void Update(uint8_t p) {
    k0 = CrcByte(k0, p);
    k1 = (k1 + (k0 & 0xFF)) * 134775813u + 1;
    k2 = CrcByte(k2, (uint8_t)(k1 >> 24));
  }
  uint8_t Stream() const {
    uint32_t t = (k2 & 0xFFFF) | 2;
    return (uint8_t)((t * (t ^ 1)) >> 8);
  }
  explicit TraditionalCipher(const std::string &password) {
    for (unsigned char c : password)
      Update(c);
  }
  uint8_t Encrypt(uint8_t p) {
    uint8_t c = p ^ Stream();
    Update(p);
    return c;
  }
};

inline Bytes NtfsTimeExtra(uint64_t fileTime) {
  Bytes e;
  Put16(e, 0x000A);
  Put16(e, 32);
  Put32(e, 0); // reserved
  Put16(e, 1);
  Put16(e, 24);
  for (int i = 0; i < 3; i++) {
    Put32(e, (uint32_t)fileTime);
    Put32(e, (uint32_t)(fileTime >> 32));
  }
  return e;
}

inline Bytes AesExtra(uint8_t strength, uint16_t actualMethod) {
  Bytes e;
  Put16(e, 0x9901);
  Put16(e, 7);
  Put16(e, 2);
  e.push_back('A');
  e.push_back('E');
  e.push_back(strength);
  Put16(e, actualMethod);
  return e;
}

inline Bytes BuildZip(const std::vector<ZipEntry> &entries, const std::string &comment = std::string(),
                      const Bytes &prefix = Bytes()) {
  Bytes out = prefix;
  Bytes central;
  uint16_t centralCount = 0;
  for (const ZipEntry &e : entries) {
    uint32_t offset = (uint32_t)out.size();
    uint32_t crc = Crc32(e.data) ^ (e.badCrc ? 0x5A5A5A5Au : 0);
    uint16_t flags = e.flags | (e.dataDescriptor ? 8 : 0) | (e.password.empty() ? 0 : 1);
    Bytes body = e.data;
    if (!e.password.empty()) {
      TraditionalCipher cipher(e.password);
      Bytes header(12);
      for (int i = 0; i < 11; i++)
        header[i] = (uint8_t)(0x11 * (i + 3));
      header[11] = (flags & 8) ? (uint8_t)(e.dosTime >> 8) : (uint8_t)(crc >> 24);
      Bytes encrypted;
      for (uint8_t b : header)
        encrypted.push_back(cipher.Encrypt(b));
      for (uint8_t b : e.data)
        encrypted.push_back(cipher.Encrypt(b));
      body = encrypted;
    }
    uint32_t size = (uint32_t)body.size();
    PutSignature(out, 3);
    Put16(out, 20);
    Put16(out, flags);
    Put16(out, e.method);
    Put16(out, e.dosTime);
    Put16(out, e.dosDate);
    Put32(out, e.dataDescriptor ? e.localPlaceholder : crc);
    Put32(out, e.dataDescriptor ? e.localPlaceholder : size);
    Put32(out, e.dataDescriptor ? e.localPlaceholder : (uint32_t)e.data.size());
    Put16(out, (uint32_t)e.name.size());
    Put16(out, (uint32_t)e.localExtra.size());
    out.insert(out.end(), e.name.begin(), e.name.end());
    out.insert(out.end(), e.localExtra.begin(), e.localExtra.end());
    out.insert(out.end(), body.begin(), body.end());
    if (e.dataDescriptor) {
      PutSignature(out, 7);
      Put32(out, crc);
      Put32(out, size);
      Put32(out, (uint32_t)e.data.size());
    }
    if (!e.inCentral)
      continue;
    centralCount++;
    PutSignature(central, 1);
    Put16(central, (uint32_t)(e.hostSystem << 8) | 20);
    Put16(central, 20);
    Put16(central, flags);
    Put16(central, e.method);
    Put16(central, e.dosTime);
    Put16(central, e.dosDate);
    Put32(central, crc);
    Put32(central, size);
    Put32(central, (uint32_t)e.data.size());
    Put16(central, (uint32_t)e.name.size());
    Put16(central, 0);
    Put16(central, 0);
    Put16(central, 0);
    Put16(central, 0);
    Put32(central, e.externalAttributes);
    Put32(central, offset);
    central.insert(central.end(), e.name.begin(), e.name.end());
  }
  uint32_t centralOffset = (uint32_t)out.size();
  out.insert(out.end(), central.begin(), central.end());
  PutSignature(out, 5);
  Put16(out, 0);
  Put16(out, 0);
  Put16(out, centralCount);
  Put16(out, centralCount);
  Put32(out, (uint32_t)central.size());
  Put32(out, centralOffset);
  Put16(out, (uint32_t)comment.size());
  out.insert(out.end(), comment.begin(), comment.end());
  return out;
}

} // namespace walktest
