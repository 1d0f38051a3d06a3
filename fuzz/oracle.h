// A model of the container format written apart from the library, for the fuzz targets to
// judge the library by: a CRC-32 one bit at a time, the block cipher from its round function,
// the header's checks, and the verdict they give for a container. It shares no code with
// lib/, so that a fault of the library cannot hide in its own judge; SelfCheck holds it to the
// known answers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace tarn::oracle {

inline std::uint32_t Word(const std::uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (std::uint32_t{p[3]} << 24);
}

inline void PutWord(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// CRC-32 of IEEE 802.3, a bit at a time.
inline std::uint32_t Crc(const std::uint8_t* data, std::size_t n) {
  std::uint32_t reg = 0xFFFFFFFFu;
  for (std::size_t i = 0; i < n; ++i) {
    reg ^= data[i];
    for (int bit = 0; bit < 8; ++bit) reg = (reg >> 1) ^ ((reg & 1) ? 0xEDB88320u : 0);
  }
  return ~reg;
}

// The image of a payload under the key words k: whole blocks deciphered, the tail as it is.
inline std::vector<std::uint8_t> Decipher(const std::uint32_t k[4], const std::uint8_t* payload,
                                          std::size_t n) {
  std::vector<std::uint8_t> image(payload, payload + n);
  for (std::size_t at = 0; at + 8 <= n; at += 8) {
    std::uint32_t y = Word(&image[at]), z = Word(&image[at + 4]);
    std::uint32_t sum = 0x9E3779B9u * 32;
    for (int round = 0; round < 32; ++round) {
      z -= (y << 4) + (k[2] ^ y) + ((y >> 5) ^ sum) + k[3];
      y -= (z << 4) + (k[0] ^ z) + ((z >> 5) ^ sum) + k[1];
      sum -= 0x9E3779B9u;
    }
    PutWord(&image[at], y);
    PutWord(&image[at + 4], z);
  }
  return image;
}

// The container of an image under the key words k: the header, whole blocks enciphered, the
// tail as it is.
inline std::vector<std::uint8_t> Encode(const std::uint32_t k[4], const std::uint8_t* image,
                                        std::size_t n) {
  std::vector<std::uint8_t> c(52 + n, 0);
  if (n != 0) std::memcpy(&c[52], image, n);
  for (std::size_t at = 52; at + 8 <= c.size(); at += 8) {
    std::uint32_t y = Word(&c[at]), z = Word(&c[at + 4]), sum = 0;
    for (int round = 0; round < 32; ++round) {
      sum += 0x9E3779B9u;
      y += (z << 4) + (k[0] ^ z) + ((z >> 5) ^ sum) + k[1];
      z += (y << 4) + (k[2] ^ y) + ((y >> 5) ^ sum) + k[3];
    }
    PutWord(&c[at], y);
    PutWord(&c[at + 4], z);
  }
  const std::uint32_t header[13] = {0,
                                    0x72617571u,
                                    0x74736F62u,
                                    0x0055454Eu,
                                    0,
                                    1,
                                    0,
                                    Crc(&c[52], n),
                                    Crc(image, n),
                                    11,
                                    0,
                                    328,
                                    static_cast<std::uint32_t>(n)};
  for (int w = 0; w < 13; ++w) PutWord(&c[4 * w], header[w]);
  return c;
}

// 32 hexadecimal digits in either case, nothing else.
inline bool KeyFromHex(const char* text, std::size_t n, std::uint32_t k[4]) {
  if (text == nullptr || n != 32) return false;
  for (std::size_t i = 0; i < 32; ++i) {
    const char c = text[i];
    const int v = c >= '0' && c <= '9'   ? c - '0'
                  : c >= 'a' && c <= 'f' ? c - 'a' + 10
                  : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                         : -1;
    if (v < 0) return false;
    if (i % 8 == 0) k[i / 8] = 0;
    k[i / 8] = k[i / 8] << 4 | static_cast<std::uint32_t>(v);
  }
  return true;
}

// The statuses, by the numbers of tarn.h.
enum Verdict {
  kOk = 0,
  kNotAContainer = 1,
  kUnknownVersion = 2,
  kWrongSize = 3,
  kPayloadDamaged = 4,
  kImageMismatch = 5
};

struct Judgement {
  Verdict verdict;
  bool payload_checked, payload_ok, image_checked, image_ok;
  std::vector<std::uint8_t> image;  // when the verdict is ok and a key was given
};

// What a container of these bytes is, under the key words k (nullptr: the payload alone).
inline Judgement Judge(const std::uint8_t* c, std::size_t n, const std::uint32_t* k) {
  std::uint8_t h[52] = {};
  std::memcpy(h, c, n < 52 ? n : 52);
  Judgement j{kOk, false, false, false, false, {}};
  if (Word(h) != 0 || Word(h + 4) != 0x72617571u || Word(h + 8) != 0x74736F62u) {
    j.verdict = kNotAContainer;
  } else if (Word(h + 36) != 11 || Word(h + 44) != 328) {
    j.verdict = kUnknownVersion;
  } else if (n != std::uint64_t{Word(h + 48)} + 52) {
    j.verdict = kWrongSize;
  }
  if (j.verdict != kOk) return j;
  j.payload_checked = true;
  j.payload_ok = Crc(c + 52, n - 52) == Word(h + 28);
  if (!j.payload_ok) {
    j.verdict = kPayloadDamaged;
    return j;
  }
  if (k == nullptr) return j;
  j.image_checked = true;
  std::vector<std::uint8_t> image = Decipher(k, c + 52, n - 52);
  j.image_ok = Crc(image.data(), image.size()) == Word(h + 32);
  if (!j.image_ok) {
    j.verdict = kImageMismatch;
  } else {
    j.image = std::move(image);
  }
  return j;
}

// The model against the known answers; aborts when it disagrees.
inline void SelfCheck() {
  const auto hex = [](const char* text) {
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; text[i] != '\0' && text[i + 1] != '\0'; i += 2) {
      const char pair[3] = {text[i], text[i + 1], '\0'};
      bytes.push_back(static_cast<std::uint8_t>(std::strtoul(pair, nullptr, 16)));
    }
    return bytes;
  };
  std::uint32_t k[4];
  bool ok = Crc(reinterpret_cast<const std::uint8_t*>("123456789"), 9) == 0xCBF43926u &&
            KeyFromHex("0123456789abcdefFEDCBA9876543210", 32, k) && k[0] == 0x01234567u &&
            k[3] == 0x76543210u;
  // A known block: 0xFFFFFFFF 0xFFFFFFFF under that key enciphers to e815b4cde94654ed.
  const std::vector<std::uint8_t> block = hex("e815b4cde94654ed");
  ok = ok && Decipher(k, block.data(), 8) == std::vector<std::uint8_t>(8, 0xFF);
  // The known container of the image "123456789".
  const std::vector<std::uint8_t> container =
      hex("0000000071756172626f73744e455500000000000100000000000000c9cc710d2639f4cb0b00000000000000"
          "480100000900000056fe4bd24cc614ff39");
  const Judgement j = Judge(container.data(), container.size(), k);
  ok = ok && j.verdict == kOk &&
       j.image == std::vector<std::uint8_t>({'1', '2', '3', '4', '5', '6', '7', '8', '9'}) &&
       Encode(k, j.image.data(), j.image.size()) == container;
  if (!ok) std::abort();
}

}  // namespace tarn::oracle
