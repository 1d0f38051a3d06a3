// A secret (key words, the text of a key) in memory of its own: whole pages, kept out of swap
// and core dumps where the system allows it, overwritten and given back when the secret goes.
// It is never copied; a move hands the pages over and leaves the source empty.
#pragma once

#include <cstddef>
#include <cstring>
#include <new>
#include <string_view>
#include <type_traits>
#include <utility>

#include "platform/platform.h"

namespace tarn::platform {

class Secret {
 public:
  // Room for `capacity` bytes, none in use yet. Throws std::bad_alloc when the system has no
  // memory to give.
  explicit Secret(std::size_t capacity)
      : bytes_(static_cast<unsigned char*>(AllocateSecretPages(capacity))), capacity_(capacity) {
    if (bytes_ == nullptr) throw std::bad_alloc();
  }
  // A secret that holds a copy of `value`, a trivially copyable type, readable through As<T>.
  template <typename T>
  static Secret Holding(const T& value) {
    static_assert(std::is_trivially_copyable_v<T>);
    Secret secret(sizeof(T));
    ::new (secret.bytes_) T(value);
    secret.size_ = sizeof(T);
    return secret;
  }
  ~Secret() { FreeSecretPages(bytes_, capacity_); }
  Secret(Secret&& other) noexcept
      : bytes_(std::exchange(other.bytes_, nullptr)),
        size_(std::exchange(other.size_, 0)),
        capacity_(std::exchange(other.capacity_, 0)) {}
  Secret& operator=(Secret&& other) noexcept {
    std::swap(bytes_, other.bytes_);
    std::swap(size_, other.size_);
    std::swap(capacity_, other.capacity_);
    return *this;
  }
  Secret(const Secret&) = delete;
  Secret& operator=(const Secret&) = delete;

  unsigned char* data() noexcept { return bytes_; }
  std::size_t size() const noexcept { return size_; }
  std::size_t capacity() const noexcept { return capacity_; }
  bool full() const noexcept { return size_ == capacity_; }
  std::string_view text() const noexcept { return {reinterpret_cast<const char*>(bytes_), size_}; }

  // Takes n more bytes; false, with nothing taken, when they do not fit.
  bool Append(const void* bytes, std::size_t n) noexcept {
    if (n > capacity_ - size_) return false;
    if (n != 0) std::memcpy(bytes_ + size_, bytes, n);
    size_ += n;
    return true;
  }
  // Counts n more bytes as in use, after they were written at data() + size().
  void Grow(std::size_t n) noexcept { size_ += n < capacity_ - size_ ? n : capacity_ - size_; }

  // The value a Holding<T> secret holds.
  template <typename T>
  T& As() noexcept {
    return *std::launder(reinterpret_cast<T*>(bytes_));
  }
  template <typename T>
  const T& As() const noexcept {
    return *std::launder(reinterpret_cast<const T*>(bytes_));
  }

 private:
  unsigned char* bytes_;
  std::size_t size_ = 0, capacity_;
};

}  // namespace tarn::platform
