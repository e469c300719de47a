#pragma once
// CheckedArray: a growable array of trivially copyable values whose every
// allocation goes through the checked allocator, so that a failure names the
// module and site that asked for the memory. Growth uses realloc, which
// grows a block at the heap's end in place.

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <type_traits>

#include "storage/AbnormalExit.h"

template <typename T> class CheckedArray {
  static_assert(std::is_trivially_copyable_v<T>);

public:
  CheckedArray(int site, const char *module) : site_(site), module_(module) {}
  ~CheckedArray() { std::free(data_); }
  CheckedArray(const CheckedArray &) = delete;
  CheckedArray &operator=(const CheckedArray &) = delete;

  T &operator[](std::size_t i) {
    assert(i < size_ && "index within the array");
    return data_[i];
  }
  const T &operator[](std::size_t i) const {
    assert(i < size_ && "index within the array");
    return data_[i];
  }
  T *data() { return data_; }
  const T *data() const { return data_; }
  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }

  void push(const T &value) {
    if (size_ == capacity_) reserve(capacity_ ? 2 * capacity_ : 16);
    data_[size_++] = value;
  }
  // Grows to n entries; new entries are filled with value.
  void growTo(std::size_t n, const T &value) {
    if (n <= size_) return;
    if (n > capacity_) reserve(n > 2 * capacity_ ? n : 2 * capacity_);
    for (std::size_t i = size_; i < n; i++) data_[i] = value;
    size_ = n;
  }
  // Grows to n entries, the new ones all bits zero. The new block comes from
  // calloc, whose large blocks are zero pages that cost nothing until they are
  // written: a table indexed by a few huge numbers stays cheap.
  void growZeroed(std::size_t n) {
    if (n <= size_) return;
    if (n > capacity_) {
      std::size_t capacity = n > 2 * capacity_ ? n : 2 * capacity_;
      auto *grown = static_cast<T *>(std::calloc(capacity, sizeof(T)));
      if (!grown) abnormalExit(ERR_NO_MEMORY, site_, module_);
      if (size_) std::memcpy(static_cast<void *>(grown), data_, size_ * sizeof(T));
      std::free(data_);
      data_ = grown;
      capacity_ = capacity;
    } else {
      std::memset(static_cast<void *>(data_ + size_), 0, (n - size_) * sizeof(T));
    }
    size_ = n;
  }
  // Grows to n entries and leaves the new ones uninitialised.
  void growUninitialized(std::size_t n) {
    if (!tryGrowUninitialized(n)) abnormalExit(ERR_NO_MEMORY, site_, module_);
  }
  // growUninitialized for a caller that can do without: false, and the array
  // as it was, when the memory cannot be had.
  bool tryGrowUninitialized(std::size_t n) {
    if (n <= size_) return true;
    if (n > capacity_ && !tryReserve(n > 2 * capacity_ ? n : 2 * capacity_)) return false;
    size_ = n;
    return true;
  }
  void reserve(std::size_t n) {
    if (!tryReserve(n)) abnormalExit(ERR_NO_MEMORY, site_, module_);
  }
  T &back() {
    assert(size_ > 0);
    return data_[size_ - 1];
  }
  void pop() {
    assert(size_ > 0);
    size_--;
  }
  void clear() { size_ = 0; }
  void release() {
    std::free(data_);
    data_ = nullptr;
    size_ = capacity_ = 0;
  }

private:
  bool tryReserve(std::size_t n) {
    if (n <= capacity_) return true;
    if (n > SIZE_MAX / sizeof(T)) return false;
    void *grown = fallibleRealloc(data_, n * sizeof(T));
    if (!grown) return false;
    data_ = static_cast<T *>(grown);
    capacity_ = n;
    return true;
  }

  T *data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
  int site_;
  const char *module_;
};
