#pragma once
// Reads inside the mapping of one loaded module. Every read must lie inside
// that module's image (not merely inside some mapped image), so a damaged
// table can never wander into a neighbouring module; otherwise EReadError.
#include <cstdint>
#include <string>

#include "platform/errors.h"
#include "platform/process.h"

namespace kx {

class ImageReader {
 public:
  ImageReader(const Process& proc, const ModuleRecord* rec)
      : proc_(proc),
        begin_(rec ? rec->loadBase : 0),
        end_(rec ? uint64_t(rec->loadBase) + rec->sizeOfImage : 0),
        fileSize_(rec ? rec->fileSize : 0) {}

  uint32_t U32(uint32_t address) const {
    Check(address, 4);
    return proc_.ReadU32(address);
  }
  uint16_t U16(uint32_t address) const {
    Check(address, 2);
    return proc_.ReadU16(address);
  }
  // Zero-terminated text starting inside the image; it ends at the image's end.
  std::string CString(uint32_t address, size_t maxLength = 65536) const {
    Check(address, 1);
    size_t room = static_cast<size_t>(end_ - address);
    return proc_.ReadCString(address, room < maxLength ? room : maxLength);
  }
  bool Contains(uint64_t address, uint64_t size) const {
    return address >= begin_ && size <= end_ - begin_ && address - begin_ <= end_ - begin_ - size;
  }
  uint64_t Size() const { return end_ - begin_; }
  // What the file behind the image holds: a bound for the entries of any
  // table, which must have bytes in the file (the rest of a claimed image
  // is zero fill).
  uint64_t RealBytes() const { return fileSize_ < Size() ? fileSize_ : Size(); }

 private:
  void Check(uint64_t address, uint64_t size) const {
    if (!Contains(address, size)) throw EReadError("Read outside the module image");
  }
  const Process& proc_;
  uint64_t begin_;
  uint64_t end_;
  uint64_t fileSize_;
};

}  // namespace kx
