#include "memory.hpp"

#include <cstdio>
#include <cstring>
#include <limits>

#include <sys/resource.h>

#if defined(__linux__)
#include <sys/mman.h>
#endif

#if defined(__SANITIZE_ADDRESS__)
#define LUBENCH_LEAK_CHECKED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define LUBENCH_LEAK_CHECKED 1
#endif
#endif
#if LUBENCH_LEAK_CHECKED
#include <sanitizer/lsan_interface.h>
#endif

void* allocateAlignedZeroed(std::size_t count, std::size_t size) {
  constexpr std::size_t kLineAlignment = 64;
  // Buffers of a huge page or more start on a huge-page boundary, so that the kernel can map
  // them with huge pages: the factorisation walks columns and tiles whose rows are n doubles
  // apart, one small page per row, which would otherwise miss the TLB at nearly every row.
  constexpr std::size_t kHugePage = std::size_t{2} << 20;
  // Refuse a size whose byte count or rounding up to the alignment would overflow.
  if (size != 0 && count > (std::numeric_limits<std::size_t>::max() - kHugePage) / size) {
    return nullptr;
  }
  const std::size_t bytes = count * size;
  const std::size_t alignment = bytes >= kHugePage ? kHugePage : kLineAlignment;
  // Rounded up to whole alignment units, and never zero.
  const std::size_t allocated = (bytes / alignment + 1) * alignment;
  void* p = std::aligned_alloc(alignment, allocated);
  if (p == nullptr) return nullptr;
#if defined(MADV_HUGEPAGE)
  // Only a request: where the kernel has no huge pages to give, the buffer keeps small ones.
  if (alignment == kHugePage) madvise(p, allocated, MADV_HUGEPAGE);
#endif
  // Writing the zeros here also maps every page now, so no page fault falls into later timing.
  std::memset(p, 0, bytes);
  return p;
}

void* allocateZeroed(std::size_t count, std::size_t size, const char* what, const char* program) {
  void* p = allocateAlignedZeroed(count, size);
  if (p == nullptr) {
    if (size == 0 || count <= std::numeric_limits<std::size_t>::max() / size) {
      std::fprintf(stderr, "%s: cannot allocate the %s (%zu bytes)\n", program, what,
                   count * size);
    } else {
      std::fprintf(stderr, "%s: cannot allocate the %s (%zu x %zu bytes)\n", program, what,
                   count, size);
    }
  }
  return p;
}

bool stackLimitAllows(std::size_t bytes, const char* program) {
  rlimit limit{};
  if (getrlimit(RLIMIT_STACK, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return true;
  if (limit.rlim_cur >= bytes) return true;
  std::fprintf(stderr,
               "%s: the stack limit is %llu KiB, below the %zu KiB the factorisation needs "
               "(raise it with ulimit -s)\n",
               program, static_cast<unsigned long long>(limit.rlim_cur >> 10), (bytes + 1023) >> 10);
  return false;
}

void keepUntilExit([[maybe_unused]] const void* p) {
#if LUBENCH_LEAK_CHECKED
  __lsan_ignore_object(p);
#endif
}
