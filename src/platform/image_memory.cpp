#include "platform/image_memory.h"

#include <sys/mman.h>

#include <algorithm>
#include <new>
#include <utility>

namespace kx {

ImageMemory::ImageMemory(size_t size) {
  if (size == 0) return;
  // Private anonymous pages: zero until written, and not charged to the
  // process until then.
  void* p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE,
                 -1, 0);
  if (p == MAP_FAILED) throw std::bad_alloc();
  data_ = static_cast<uint8_t*>(p);
  size_ = size;
}

ImageMemory::~ImageMemory() { Release(); }

ImageMemory::ImageMemory(ImageMemory&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)) {}

ImageMemory& ImageMemory::operator=(ImageMemory&& other) noexcept {
  if (this != &other) {
    Release();
    data_ = std::exchange(other.data_, nullptr);
    size_ = std::exchange(other.size_, 0);
  }
  return *this;
}

std::span<uint8_t> ImageMemory::Writable(size_t offset, size_t count) {
  if (offset >= size_) return {};
  return std::span<uint8_t>(data_ + offset, std::min(count, size_ - offset));
}

void ImageMemory::Release() {
  if (data_ != nullptr) munmap(data_, size_);
  data_ = nullptr;
  size_ = 0;
}

}  // namespace kx
