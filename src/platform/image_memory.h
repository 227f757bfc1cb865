#pragma once
// The address space of one mapped module: SizeOfImage bytes reserved at
// once but filled only where the loader writes. A page nobody writes costs no
// memory and reads as zeros, as the pages of a system image section do, so a
// small file that claims a huge image costs what it holds, not what it claims.
#include <cstddef>
#include <cstdint>
#include <span>

namespace kx {

class ImageMemory {
 public:
  ImageMemory() = default;
  // size bytes of zeros; throws std::bad_alloc when they cannot be reserved.
  explicit ImageMemory(size_t size);
  ~ImageMemory();
  ImageMemory(ImageMemory&& other) noexcept;
  ImageMemory& operator=(ImageMemory&& other) noexcept;
  ImageMemory(const ImageMemory&) = delete;
  ImageMemory& operator=(const ImageMemory&) = delete;

  uint8_t* data() { return data_; }
  const uint8_t* data() const { return data_; }
  size_t size() const { return size_; }
  uint8_t* begin() { return data_; }
  uint8_t* end() { return data_ + size_; }
  const uint8_t* begin() const { return data_; }
  const uint8_t* end() const { return data_ + size_; }
  // The bytes [offset, offset + count) for writing; count is cut at the end.
  std::span<uint8_t> Writable(size_t offset, size_t count);

 private:
  void Release();
  uint8_t* data_ = nullptr;
  size_t size_ = 0;
};

}  // namespace kx
