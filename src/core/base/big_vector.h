// BigVector: a std::vector for large tables of plain values. Its allocator
// leaves new elements uninitialised (resize(n) writes nothing, so threads can
// give each page its first touch) and places allocations of 4 MiB or more on
// 2 MiB boundaries with transparent huge pages requested, falling back quietly
// where the kernel does not offer them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <new>
#include <type_traits>
#include <vector>

#include "core/base/huge_pages.h"

namespace korvane {

template <class T>
struct BigAllocator {
  static_assert(std::is_trivially_copyable_v<T>);
  using value_type = T;
  static constexpr std::size_t kHuge = std::size_t{1} << 21;
  static constexpr std::size_t kHugeFrom = std::size_t{2} << 21;

  BigAllocator() = default;
  template <class U>
  BigAllocator(const BigAllocator<U>&) noexcept {}

  T* allocate(std::size_t n) {
    if (n > SIZE_MAX / sizeof(T)) throw std::bad_alloc();
    const std::size_t bytes = n * sizeof(T);
    if (bytes < kHugeFrom) return std::allocator<T>().allocate(n);
    const std::size_t rounded = (bytes + kHuge - 1) & ~(kHuge - 1);
    void* p = std::aligned_alloc(kHuge, rounded);
    if (p == nullptr) throw std::bad_alloc();
    advise_huge_pages(p, rounded);
    return static_cast<T*>(p);
  }
  void deallocate(T* p, std::size_t n) noexcept {
    if (n * sizeof(T) < kHugeFrom) {
      std::allocator<T>().deallocate(p, n);
    } else {
      std::free(p);
    }
  }
  // Default construction writes nothing; value construction as usual.
  template <class U>
  void construct(U* p) noexcept {
    ::new (static_cast<void*>(p)) U;
  }
  template <class U, class... Args>
  void construct(U* p, Args&&... args) {
    ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
  }

  template <class U>
  bool operator==(const BigAllocator<U>&) const noexcept {
    return true;
  }
};

template <class T>
using BigVector = std::vector<T, BigAllocator<T>>;

}  // namespace korvane
