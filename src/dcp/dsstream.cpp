#include "dcp/dsstream.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstring>

#include "platform/system.h"

namespace kx {

namespace {

std::string Formatted(std::string_view text, std::string_view arg) {
  return std::string(text) + std::string(arg);
}

}  // namespace

int TMemoryMappedFileStream::Access() const {
  // A created stream is read and write; otherwise bits 0-1 of the mode.
  return mode_ == fmCreate ? 2 : static_cast<int>(mode_ & 3);
}

int TMemoryMappedFileStream::OpenFile(bool create) const {
  const auto host = Sys().ToHost(fileName_);
  if (!host) return -1;
  // A FIFO, device or socket is never opened (opening one may block or act
  // on the device); non-blocking in case the name changes after the check.
  struct stat before {};
  const bool exists = stat(host->c_str(), &before) == 0;
  if (exists && !S_ISREG(before.st_mode)) return -1;
  if (create)
    return open(host->c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOCTTY | O_NONBLOCK,
                0666);
  if (!exists) return -1;
  static const int kFlags[] = {O_RDONLY, O_WRONLY, O_RDWR, O_RDWR};
  const int fd = open(host->c_str(), kFlags[Access()] | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return -1;
  // Only a regular file is a file here (a folder opens on Linux).
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    return -1;
  }
  return fd;
}

void* TMemoryMappedFileStream::MapFile(int fd, int32_t capacity, bool writable) const {
  if (capacity <= 0) return nullptr;
  if (writable) {
    // A read-write mapping larger than the file extends the file to its size.
    struct stat st {};
    if (fstat(fd, &st) != 0) return nullptr;
    if (st.st_size < capacity && ftruncate(fd, capacity) != 0) return nullptr;
  }
  void* view = mmap(nullptr, static_cast<size_t>(capacity),
                    writable ? PROT_READ | PROT_WRITE : PROT_READ, MAP_SHARED, fd, 0);
  return view == MAP_FAILED ? nullptr : view;
}

TMemoryMappedFileStream::TMemoryMappedFileStream(std::string_view fileName,
                                                 std::string_view mapName, uint32_t mode)
    : fileName_(fileName), mode_(mode & 0xFFFF), mapName_(mapName) {
  if (mode_ == fmCreate) {
    fd_ = OpenFile(true);
    if (fd_ < 0) throw EFCreateError(Formatted("Error creating ", fileName_));
    size_ = capacity_ = growBy_;
  } else {
    fd_ = OpenFile(false);
    struct stat st {};
    if (fd_ >= 0 && (fstat(fd_, &st) != 0 || st.st_size > INT32_MAX)) {
      Release();
      fd_ = -1;
    }
    if (fd_ < 0) throw EFOpenError(Formatted("Error opening ", fileName_));
    size_ = capacity_ = static_cast<int32_t>(st.st_size);
  }
  memory_ = MapFile(fd_, capacity_, Access() != 0);
  if (!memory_) {
    Release();
    throw EFOpenError(Formatted("Error creating file mapping object ", mapName_));
  }
  mapped_ = static_cast<size_t>(capacity_);
  position_ = 0;
}

TMemoryMappedFileStream::~TMemoryMappedFileStream() { Release(); }

void TMemoryMappedFileStream::Release() {
  if (memory_) {
    Flush();
    munmap(memory_, mapped_);
    memory_ = nullptr;
    mapped_ = 0;
  }
  if (fd_ >= 0) {
    close(fd_);
    fd_ = -1;
  }
}

int32_t TMemoryMappedFileStream::Read(void* buffer, int32_t count) {
  if (position_ < 0 || count < 0) return 0;
  const int32_t available = size_ - position_;
  if (available < 1) return 0;
  const int32_t n = count < available ? count : available;
  std::memcpy(buffer, static_cast<const uint8_t*>(memory_) + position_, static_cast<size_t>(n));
  position_ += n;
  return n;
}

int32_t TMemoryMappedFileStream::Write(const void* buffer, int32_t count) {
  if (position_ < 0 || count < 0) return 0;
  const int64_t end = static_cast<int64_t>(position_) + count;
  if (end <= 0 || end > INT32_MAX - growBy_) return 0;
  // The view of a read-only stream cannot take the bytes.
  if (Access() == 0) return 0;
  const int32_t start = position_;
  if (end > size_) {
    if (end > capacity_) Remap(static_cast<int32_t>(end));
    size_ = static_cast<int32_t>(end);
  }
  std::memcpy(static_cast<uint8_t*>(memory_) + start, buffer, static_cast<size_t>(count));
  position_ = static_cast<int32_t>(end);
  return count;
}

int32_t TMemoryMappedFileStream::Seek(int32_t offset, uint16_t origin) {
  // Wrapping as a 32-bit position does, without undefined overflow.
  const auto add = [](int32_t a, int32_t b) {
    return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
  };
  switch (origin) {
    case soFromBeginning:
      position_ = offset;
      break;
    case soFromCurrent:
      position_ = add(position_, offset);
      break;
    case soFromEnd:
      position_ = add(size_, offset);
      break;
    default:
      break;
  }
  return position_;
}

void TMemoryMappedFileStream::SetSize(int32_t newSize) {
  if (newSize < 0) return;
  if (newSize < size_) {
    Remap(newSize);
    size_ = newSize;
  } else if (newSize > size_) {
    if (newSize > capacity_) Remap(newSize);
    size_ = newSize;
  }
}

void TMemoryMappedFileStream::Remap(int32_t newSize) {
  if (newSize == 0) {
    Flush();
    size_ = 0;
    capacity_ = 0;
    return;
  }
  if (fd_ < 0)
    throw EFOpenError(Formatted("Cannot change size of an open\r\nmapping file object ", mapName_));
  // A read-only handle cannot give the read-write mapping a new size needs.
  if (Access() == 0) throw EFOpenError(Formatted("Error opening ", fileName_));
  if (newSize > INT32_MAX - growBy_) throw EFOpenError(Formatted("Error opening ", fileName_));
  // The file is opened again and mapped anew before the old view goes, so
  // that a failure leaves the stream as it was.
  const int fd = OpenFile(false);
  if (fd < 0) throw EFOpenError(Formatted("Error opening ", fileName_));
  const int32_t capacity = growBy_ + newSize;
  void* view = MapFile(fd, capacity, true);
  if (!view) {
    close(fd);
    throw EFOpenError(Formatted("Error creating file mapping object ", mapName_));
  }
  Release();
  fd_ = fd;
  memory_ = view;
  mapped_ = static_cast<size_t>(capacity);
  capacity_ = capacity;
  position_ = 0;
}

bool TMemoryMappedFileStream::Flush() {
  if (!memory_ || mapped_ == 0) return false;
  return msync(memory_, mapped_, MS_SYNC) == 0;
}

}  // namespace kx
