#pragma once
// A byte stream over a file mapped into memory as a whole. Besides reading,
// writing and seeking it gives the address of the mapped view, so that a
// caller can walk the file's structures in place.
//
// The file is the host file that the Windows name resolves to; the view is
// a shared mmap of it. Open mode: $FFFF creates the file (replacing one
// that exists) for reading and writing and starts the stream 65535 bytes
// long; any other value opens an existing file with the access in bits 0-1
// (0 read, 1 write, 2 read and write) and the sharing in bits 4-7. Linux
// has no share modes: the sharing bits are recorded in Mode() and nothing
// more (another process may change the file while it is mapped).
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/errors.h"

namespace kx {

// "Error creating %s": a file that cannot be created.
class EFCreateError : public Exception {
 public:
  using Exception::Exception;
};

constexpr uint16_t fmCreate = 0xFFFF;
constexpr uint16_t fmOpenRead = 0x0000;
constexpr uint16_t fmOpenWrite = 0x0001;
constexpr uint16_t fmOpenReadWrite = 0x0002;
constexpr uint16_t fmShareExclusive = 0x0010;
constexpr uint16_t fmShareDenyWrite = 0x0020;
constexpr uint16_t fmShareDenyRead = 0x0030;
constexpr uint16_t fmShareDenyNone = 0x0040;

constexpr uint16_t soFromBeginning = 0;
constexpr uint16_t soFromCurrent = 1;
constexpr uint16_t soFromEnd = 2;

class TMemoryMappedFileStream {
 public:
  static constexpr int32_t kGrowBy = 65535;

  // Failures: EFCreateError "Error creating %s" (file name) when mode $FFFF
  // cannot create the file; EFOpenError "Error opening %s" (file name) when
  // an existing file cannot be opened or sized (a folder, a file of 2 GB or
  // more); EFOpenError "Error creating file mapping object %s" (mapping
  // name) when the file cannot be mapped (an empty file, a write-only
  // handle). Whatever was opened is closed again before the error leaves.
  TMemoryMappedFileStream(std::string_view fileName, std::string_view mapName, uint32_t mode);
  // Flushes and unmaps the view, closes the file.
  ~TMemoryMappedFileStream();
  TMemoryMappedFileStream(const TMemoryMappedFileStream&) = delete;
  TMemoryMappedFileStream& operator=(const TMemoryMappedFileStream&) = delete;

  // Copies up to count bytes from Position; returns the number copied (0
  // for a negative position or count, or at the end).
  int32_t Read(void* buffer, int32_t count);
  // Writes count bytes at Position, growing the stream (and its mapping, by
  // the needed size + GrowBy) when they run past Size; returns count, or 0
  // and changes nothing for a negative position or count, an empty write or
  // a stream opened read-only (whose view cannot be written). A growth
  // that fails raises as SetSize does.
  int32_t Write(const void* buffer, int32_t count);
  // Origin 0 from the start, 1 from Position, 2 from Size; other origins
  // leave Position as it is. Position is not clamped.
  int32_t Seek(int32_t offset, uint16_t origin);
  // Shrinking or growing past Capacity remaps (Position becomes 0); 0 only
  // flushes and empties the stream, leaving the file's length as it is.
  // Growing a read-only stream raises EFOpenError "Error opening %s" and
  // leaves the stream as it was.
  void SetSize(int32_t newSize);
  // Writes the whole view back to the file; the system's success flag.
  bool Flush();

  const void* Memory() const { return memory_; }
  void* Memory() { return memory_; }
  int32_t Size() const { return size_; }
  int32_t Position() const { return position_; }
  void SetPosition(int32_t position) { position_ = position; }
  int32_t Capacity() const { return capacity_; }
  uint32_t Mode() const { return mode_; }
  const std::string& FileName() const { return fileName_; }
  const std::string& MapName() const { return mapName_; }

 private:
  int Access() const;  // 0 read, 1 write, 2 read and write
  int OpenFile(bool create) const;
  void* MapFile(int fd, int32_t capacity, bool writable) const;
  void Remap(int32_t newSize);
  void Release();

  int fd_ = -1;             // the open file (FileHandle)
  std::string fileName_;    // the file name given to the constructor
  void* memory_ = nullptr;  // the mapped view
  size_t mapped_ = 0;       // length of the mapped view in bytes
  int32_t capacity_ = 0;
  int32_t size_ = 0;
  int32_t position_ = 0;
  uint32_t mode_ = 0;
  std::string mapName_;
  int32_t growBy_ = kGrowBy;
};

}  // namespace kx
