// Memory in pages of its own: large ones where the system gives them. On a virtual machine the
// first write to each ordinary page costs about 1.5 s per GiB, even when the page was made in
// bulk; to a large one almost nothing.
#pragma once

#include <sys/mman.h>

#include <cstddef>
#include <cstdint>
#include <new>

namespace xcn {

inline constexpr std::size_t kLargePage = std::size_t{2} << 20;
// madvise's advice to make every page of a range now, as writing would (Linux 5.14).
inline constexpr int kPopulateWrite = 23;

// `bytes` of zeroed memory, in large pages where it spans one; none is made yet. Throws
// bad_alloc. munmap gives it back.
inline char* map_pages(std::size_t bytes) {
  void* p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) throw std::bad_alloc();
  if (bytes >= kLargePage) madvise(p, bytes, MADV_HUGEPAGE);
  return static_cast<char*>(p);
}

// Makes every page of [p, p + bytes) now (where the system can), not one fault at a time as
// the work reaches them.
inline void make_pages(char* p, std::size_t bytes) { madvise(p, bytes, kPopulateWrite); }

// Asks for large pages over the whole large pages of [p, p + bytes): for memory of the
// allocator's about to be written once through.
inline void prefer_large_pages(void* p, std::size_t bytes) {
  const auto at = reinterpret_cast<std::uintptr_t>(p);
  const std::uintptr_t first = (at + kLargePage - 1) & ~(kLargePage - 1);
  const std::uintptr_t end = (at + bytes) & ~(kLargePage - 1);
  if (end > first) madvise(reinterpret_cast<void*>(first), end - first, MADV_HUGEPAGE);
}

}  // namespace xcn
