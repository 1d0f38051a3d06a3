#include "container/header.h"

#include "util/little_endian.h"

namespace tarn::container {
namespace {

// The words in file order.
constexpr std::uint32_t Header::*kWords[kHeaderWords] = {
    &Header::zeroWord,  &Header::magic1,   &Header::magic2,    &Header::tag,
    &Header::reserved1, &Header::constOne, &Header::reserved2, &Header::payloadCrc,
    &Header::plainCrc,  &Header::versionA, &Header::reserved3, &Header::versionB,
    &Header::plainSize,
};

}  // namespace

Header HeaderForEncode(std::uint32_t plain_size) {
  Header h;
  h.magic1 = kMagic1;
  h.magic2 = kMagic2;
  h.tag = kTag;
  h.constOne = 1;
  h.versionA = kVersionA;
  h.versionB = kVersionB;
  h.plainSize = plain_size;
  return h;
}

HeaderBytes Serialize(const Header& header) {
  HeaderBytes bytes{};
  for (std::size_t w = 0; w < kHeaderWords; ++w) util::StoreLe32(&bytes[4 * w], header.*kWords[w]);
  return bytes;
}

Header Parse(const unsigned char* bytes, std::size_t n) {
  HeaderBytes padded{};
  for (std::size_t i = 0; i < n && i < kHeaderSize; ++i) padded[i] = bytes[i];
  Header header;
  for (std::size_t w = 0; w < kHeaderWords; ++w) header.*kWords[w] = util::LoadLe32(&padded[4 * w]);
  return header;
}

tarn_status CheckFields(const Header& header, std::uint64_t container_size) {
  if (header.zeroWord != 0 || header.magic1 != kMagic1 || header.magic2 != kMagic2) {
    return TARN_NOT_A_CONTAINER;
  }
  if (header.versionA != kVersionA || header.versionB != kVersionB) {
    return TARN_UNKNOWN_VERSION;
  }
  if (container_size != static_cast<std::uint64_t>(header.plainSize) + kHeaderSize) {
    return TARN_WRONG_SIZE;
  }
  return TARN_OK;
}

void DescribeHeader(const Header& header, std::uint64_t container_size, tarn_info* info) {
  for (std::size_t w = 0; w < kHeaderWords; ++w) info->words[w] = header.*kWords[w];
  info->image_size = header.plainSize;
  info->container_size = container_size;
  info->image_crc = header.plainCrc;
  info->payload_crc = header.payloadCrc;
}

}  // namespace tarn::container
