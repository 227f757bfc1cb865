#include "dcu/ByteReader.h"

#include <cstdio>

namespace kx {

namespace {
std::string DamagedText(std::string_view fileName, uint64_t offset, std::string_view what) {
  char hex[16];
  std::snprintf(hex, sizeof hex, "%08llX", static_cast<unsigned long long>(offset & 0xFFFFFFFFu));
  return std::string(fileName) + " is damaged at offset $" + hex + ": " + std::string(what) + ".";
}
}  // namespace

EDcuDamaged::EDcuDamaged(std::string_view fileName, uint64_t offset, std::string_view what)
    : Exception(DamagedText(fileName, offset, what)), offset_(offset) {}

EDcuNotUnit::EDcuNotUnit(std::string_view fileName)
    : Exception(std::string(fileName) + " is not a Delphi 3 compiled unit.") {}

void ByteReader::Fail(size_t at, std::string_view what) const {
  throw EDcuDamaged(fileName_, base_ + at, what);
}

void ByteReader::Need(size_t n, std::string_view what) const {
  if (n > Remaining()) Fail(std::string(what) + " runs past the end of the unit");
}

uint8_t ByteReader::Peek(std::string_view what) const {
  Need(1, what);
  return bytes_[pos_];
}

uint8_t ByteReader::U8(std::string_view what) {
  Need(1, what);
  return bytes_[pos_++];
}

uint16_t ByteReader::U16(std::string_view what) {
  Need(2, what);
  uint16_t v = uint16_t(bytes_[pos_] | bytes_[pos_ + 1] << 8);
  pos_ += 2;
  return v;
}

uint32_t ByteReader::U32(std::string_view what) {
  Need(4, what);
  uint32_t v = uint32_t(bytes_[pos_]) | uint32_t(bytes_[pos_ + 1]) << 8 |
               uint32_t(bytes_[pos_ + 2]) << 16 | uint32_t(bytes_[pos_ + 3]) << 24;
  pos_ += 4;
  return v;
}

namespace {
// Length of a packed integer from its first byte.
size_t PackedLength(uint8_t b0) {
  if ((b0 & 1) == 0) return 1;
  if ((b0 & 3) == 1) return 2;
  if ((b0 & 7) == 3) return 3;
  if ((b0 & 15) == 7) return 4;
  return 5;
}
}  // namespace

uint32_t ByteReader::PackedU(std::string_view what) {
  const uint8_t b0 = Peek(what);
  const size_t n = PackedLength(b0);
  Need(n, what);
  if (n == 5 && b0 != 0x0F) Fail(std::string(what) + " has an invalid integer prefix");
  const uint8_t* p = bytes_.data() + pos_;
  pos_ += n;
  switch (n) {
    case 1:
      return uint32_t(p[0]) >> 1;
    case 2:
      return uint32_t(p[0] | p[1] << 8) >> 2;
    case 3:
      return uint32_t(p[0] | p[1] << 8 | p[2] << 16) >> 3;
    case 4:
      return (uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24) >>
             4;
    default:
      return uint32_t(p[1]) | uint32_t(p[2]) << 8 | uint32_t(p[3]) << 16 | uint32_t(p[4]) << 24;
  }
}

int32_t ByteReader::PackedS(std::string_view what) {
  const uint8_t b0 = Peek(what);
  const size_t n = PackedLength(b0);
  Need(n, what);
  if (n == 5 && b0 != 0x0F) Fail(std::string(what) + " has an invalid integer prefix");
  const uint8_t* p = bytes_.data() + pos_;
  pos_ += n;
  // Sign-extend the whole word, then shift the tag bits out (arithmetic).
  switch (n) {
    case 1:
      return int32_t(int8_t(p[0])) >> 1;
    case 2:
      return int32_t(int16_t(uint16_t(p[0] | p[1] << 8))) >> 2;
    case 3: {
      int32_t w = int32_t(uint32_t(p[0] | p[1] << 8 | p[2] << 16) << 8) >> 8;
      return w >> 3;
    }
    case 4:
      return int32_t(uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 |
                     uint32_t(p[3]) << 24) >>
             4;
    default:
      return int32_t(uint32_t(p[1]) | uint32_t(p[2]) << 8 | uint32_t(p[3]) << 16 |
                     uint32_t(p[4]) << 24);
  }
}

std::string_view ByteReader::ShortString(std::string_view what) {
  const size_t n = U8(what);
  auto b = Bytes(n, what);
  return {reinterpret_cast<const char*>(b.data()), b.size()};
}

std::span<const uint8_t> ByteReader::Bytes(size_t n, std::string_view what) {
  Need(n, what);
  auto b = bytes_.subspan(pos_, n);
  pos_ += n;
  return b;
}

uint32_t ByteReader::Count(uint32_t n, size_t minBytes, std::string_view what) const {
  if (minBytes && uint64_t(n) * minBytes > Remaining())
    Fail(std::string(what) + " count " + std::to_string(n) + " exceeds the bytes left");
  return n;
}

ByteReader ByteReader::Split(size_t n, std::string_view what) {
  Need(n, what);
  ByteReader r(bytes_.subspan(pos_, n), fileName_, base_ + pos_);
  pos_ += n;
  return r;
}

}  // namespace kx
