#pragma once
// A bounded, checked little-endian reader over bytes held elsewhere. Every
// read is checked against the end of its window and raises EDcuDamaged with
// the absolute file offset and what was being read; sub-readers cut from it
// share the bytes and report offsets in the same file.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "platform/errors.h"

namespace kx {

// A compiled unit that is cut short or inconsistent:
// "FILE is damaged at offset $XXXXXXXX: WHAT."
class EDcuDamaged : public Exception {
 public:
  EDcuDamaged(std::string_view fileName, uint64_t offset, std::string_view what);
  uint64_t Offset() const { return offset_; }

 private:
  uint64_t offset_;
};

// A file whose first four bytes are not those of a Delphi 3 compiled unit:
// "FILE is not a Delphi 3 compiled unit."
class EDcuNotUnit : public Exception {
 public:
  explicit EDcuNotUnit(std::string_view fileName);
};

class ByteReader {
 public:
  // bytes: the window; base: the file offset of its first byte.
  ByteReader(std::span<const uint8_t> bytes, std::string_view fileName, uint64_t base = 0)
      : bytes_(bytes), fileName_(fileName), base_(base) {}

  size_t Position() const { return pos_; }
  size_t Size() const { return bytes_.size(); }
  size_t Remaining() const { return bytes_.size() - pos_; }
  bool AtEnd() const { return pos_ == bytes_.size(); }
  uint64_t FileOffset() const { return base_ + pos_; }
  std::string_view FileName() const { return fileName_; }

  // The next byte without consuming it.
  uint8_t Peek(std::string_view what) const;
  uint8_t U8(std::string_view what);
  uint16_t U16(std::string_view what);
  uint32_t U32(std::string_view what);
  // Variable-length integers: the low bits of the first byte give the length
  // (1 to 5 bytes); U shifts the tag bits out, S sign-extends the word first.
  uint32_t PackedU(std::string_view what);
  int32_t PackedS(std::string_view what);
  // A length byte and that many bytes.
  std::string_view ShortString(std::string_view what);
  std::span<const uint8_t> Bytes(size_t n, std::string_view what);
  void Skip(size_t n, std::string_view what) { Bytes(n, what); }
  // A count of entries each taking at least minBytes; larger than the bytes
  // left can hold is damage.
  uint32_t Count(uint32_t n, size_t minBytes, std::string_view what) const;
  // A reader over the next n bytes (consumed here).
  ByteReader Split(size_t n, std::string_view what);

  [[noreturn]] void Fail(std::string_view what) const { Fail(pos_, what); }
  [[noreturn]] void Fail(size_t at, std::string_view what) const;

 private:
  void Need(size_t n, std::string_view what) const;
  std::span<const uint8_t> bytes_;
  std::string fileName_;
  uint64_t base_ = 0;
  size_t pos_ = 0;
};

}  // namespace kx
